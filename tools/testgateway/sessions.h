#pragma once
// The connection handlers of the test gateway, each run on its connection's own thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
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

    // Hands out `count` consecutive serial numbers; returns the first.
    std::uint64_t takeSerials(int count) {
        std::lock_guard lock(serialMutex);
        std::uint64_t first = nextSerial;
        nextSerial += static_cast<std::uint64_t>(count);
        return first;
    }

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex workersMutex;
    std::vector<Worker> workers;

  private:
    std::mutex serialMutex;
    std::uint64_t nextSerial;
};

void runGatewaySession(TestGateway::Shared& shared, platform::TcpSocket socket);
void runUpdateSession(TestGateway::Shared& shared, platform::TcpSocket socket);

}  // namespace vantrel::testgateway
