#pragma once
// The connection handlers of the test gateway, each run on its connection's own thread.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/tcp_socket.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::testgateway {

struct TestGateway::Shared {
    Shared(const TestGatewaySettings& s, FaultSwitches& f, GatewayCounters& c)
        : settings(s), faults(f), counters(c), nextSerial(s.serialStart) {}

    const TestGatewaySettings& settings;
    FaultSwitches& faults;
    GatewayCounters& counters;
    std::atomic<bool> stopping{false};
    platform::TcpSocket listeners[2];
    std::vector<std::shared_ptr<TransactionService>> services;
    std::vector<std::shared_ptr<FastService>> fastServices;

    // Hands out `count` consecutive serial numbers for `route` ("ORG/SERVICE/FUNCTION");
    // returns the first.
    std::uint64_t takeSerials(int count, const std::string& route) {
        std::lock_guard lock(serialMutex);
        std::uint64_t first = nextSerial;
        nextSerial += static_cast<std::uint64_t>(count);
        for (std::uint64_t n = first; n < nextSerial; ++n) issued[n] = Issued{route, false};
        return first;
    }
    // Checks one use of `serial` (16 digits) on `route` and marks it used → empty when the
    // gateway handed it out for that route and it was not used before; else the violation,
    // which is also recorded.
    std::string useSerial(const std::string& serial, const std::string& route);
    std::vector<std::string> violations() const {
        std::lock_guard lock(serialMutex);
        return violations_;
    }
    // A restart: the numbers handed out so far are void and counting starts again.
    void forgetSerials() {
        std::lock_guard lock(serialMutex);
        issued.clear();
        nextSerial = settings.serialStart;
    }

    // The gateway connections open now, so that they can be cut as a gateway cuts idle ones.
    void addLive(platform::TcpSocket* socket) {
        std::lock_guard lock(liveMutex);
        live.insert(socket);
    }
    void removeLive(platform::TcpSocket* socket) {
        std::lock_guard lock(liveMutex);
        live.erase(socket);
    }
    void cutLive() {
        std::lock_guard lock(liveMutex);
        for (platform::TcpSocket* socket : live) socket->shutdownBoth();
    }

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex workersMutex;
    std::vector<Worker> workers;

  private:
    struct Issued {
        std::string route;
        bool used = false;
    };
    mutable std::mutex serialMutex;
    std::uint64_t nextSerial;
    std::map<std::uint64_t, Issued> issued;
    std::vector<std::string> violations_;
    std::mutex liveMutex;
    std::set<platform::TcpSocket*> live;
};

void runGatewaySession(TestGateway::Shared& shared, platform::TcpSocket socket);
void runUpdateSession(TestGateway::Shared& shared, platform::TcpSocket socket);

}  // namespace vantrel::testgateway
