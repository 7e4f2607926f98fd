#pragma once
// A loopback gateway and update server for tests and the demo. It speaks the gateway side
// of the client's protocol with the client's own frame, record and crypto code:
//  - gateway port: the login challenge and answer, then encrypted transactions: serial
//    number blocks ("22" answered by "23"), the permission query ("E6"), and whatever the
//    registered transaction services answer (the file services add themselves there);
//    Serial numbers are checked strictly (see serialViolations);
//  - update-server port: the fast-transfer login with its name/value answer, then
//    whatever the registered fast services answer.
// Every connection runs on its own thread. Fault switches make it misbehave on purpose.
//
// Thread-safety: start/stop from one thread; the fault switches and counters from any.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "client/gateway/gateway_records.h"
#include "client/gateway/packet_frame.h"
#include "platform/status.h"
#include "tools/testgateway/settings.h"

namespace vantrel::testgateway {

// One decrypted transaction request as a service sees it.
struct TransactionRequest {
    std::string code;                 // message code ("40", ...)
    TransactionRequestRecord record;  // the 126-byte request record
    std::string payload;              // the bytes from packet offset 145
    const OperatorSettings* op = nullptr;
};

// How an answer leaves the gateway. Anything but kWhole is a fault for tests: after a
// partial answer the connection stays open, silent, until the client or the server ends it.
enum class Delivery {
    kWhole,
    kHalfThenStall,   // the first half of the packet, then nothing
    kLongerThanSent,  // the header declares 1 MiB more than the packet that follows
    kUndecryptable,   // whole, but the body cannot be decrypted
    kDrop,            // no answer; the connection is closed
};

// A service's answer; sent encrypted with the request's serial, sequence and route echoed.
struct TransactionAnswer {
    std::string returnCode = "0000";
    std::string message;
    std::string payload;
    std::string code;  // answer message code; empty = the request's
    Delivery delivery = Delivery::kWhole;
};

// Answers transactions. Called on the connection's thread; several connections may call
// one service at once, so a service guards its own state.
class TransactionService {
  public:
    virtual ~TransactionService() = default;
    // An answer, or nothing when the request is not this service's.
    virtual std::optional<TransactionAnswer> handle(const TransactionRequest& request) = 0;
};

// What a fast service answers: bytes to write (possibly several packets, possibly none),
// and whether the connection closes after them.
struct FastAnswer {
    std::string bytes;
    bool close = false;
};

// Writes answer bytes to the connection as they are made; false when the peer is gone.
using FastSend = std::function<bool(const std::string&)>;

// Answers packets that follow a fast-transfer login on the update-server port (plain,
// unencrypted packets: header and body). Nothing = not this service's. A long answer goes
// out through `send` packet by packet, so its first bytes leave before the last are read;
// what the returned answer holds follows them.
class FastService {
  public:
    virtual ~FastService() = default;
    virtual std::optional<FastAnswer> handle(const std::string& packet, const FastSend& send) = 0;
};

// The message text the gateway sends with a failure return code ("E999", "E998", ...).
std::string failureMessage(const std::string& returnCode);

// Misbehaviour on purpose. Counts and codes take effect for the next packets of any
// connection.
struct FaultSwitches {
    // Close a gateway connection once this many packets have come in after the login
    // (0 = never).
    std::atomic<int> dropAfterPackets{0};
    // Wait this long before every answer (login answer included).
    std::atomic<int> answerDelayMs{0};
    // Answer the next transaction (serial request included) with this return code once
    // ("E999", "E998", "0014", ...).
    void failNextTransaction(const std::string& returnCode) {
        std::lock_guard lock(mutex);
        nextFailure = returnCode;
    }
    // Takes the pending failure code, if any.
    std::string takeFailure() {
        std::lock_guard lock(mutex);
        std::string code;
        code.swap(nextFailure);
        return code;
    }
    std::mutex mutex;
    std::string nextFailure;

    // Fast downloads (each taken by the next download that reaches it, then cleared):
    // close the connection after this many data packets (0 = never);
    std::atomic<int> fastDropAfterPackets{0};
    // send this many data packets, then fall silent with the connection open (0 = never);
    std::atomic<int> fastStallAfterPackets{0};
    // send this many data packets, then "6008" (start again from 0), the connection open
    // (0 = never);
    std::atomic<int> fastRestartAfterPackets{0};
    // flip a byte of the first data packet's data;
    std::atomic<bool> fastCorruptPacket{false};
    // and, until cleared, send a first digest half that does not decrypt.
    std::atomic<bool> fastBrokenFirstHalf{false};
};

// What the gateway has seen, for tests.
struct GatewayCounters {
    std::atomic<int> connections{0};
    std::atomic<int> logins{0};          // successful logins
    std::atomic<int> refusedLogins{0};   // wrong password or unknown operator
    std::atomic<int> serialRequests{0};  // "22" packets
    std::atomic<int> permissionQueries{0};
    std::atomic<int> transactions{0};  // every encrypted request after login
    std::atomic<int> fastLogins{0};
    std::atomic<int> fastDownloads{0};             // fast download requests
    std::atomic<std::int64_t> lastFastOffset{-1};  // the offset the last one asked for
    // The remote path the last fast download asked for, as it came.
    std::string lastFastPath() {
        std::lock_guard lock(pathMutex);
        return lastFastPath_;
    }
    void setLastFastPath(std::string path) {
        std::lock_guard lock(pathMutex);
        lastFastPath_ = std::move(path);
    }

  private:
    std::mutex pathMutex;
    std::string lastFastPath_;
};

class TestGateway {
  public:
    explicit TestGateway(TestGatewaySettings settings);
    ~TestGateway();
    TestGateway(const TestGateway&) = delete;
    TestGateway& operator=(const TestGateway&) = delete;

    // Listens on 127.0.0.1; port 0 picks a free one. Both ports are known afterwards.
    Status start(std::uint16_t gatewayPort = 0, std::uint16_t updatePort = 0);
    // Closes the listeners and every connection and joins every thread. A later start()
    // is a restart: the serial numbers handed out before are void, and counting starts
    // again at SerialStart, as a restarted gateway does.
    void stop();
    // Cuts every gateway connection open now, as a gateway drops idle sessions.
    void dropConnections();

    // Serial numbers are checked as a real gateway checks them: each is handed out for one
    // route and may be used once, on that route, before the next restart. Every
    // transaction but the permission query must carry one. A misuse is answered "0014"
    // and recorded here ("[serial] on ORG/SERVICE/FUNCTION: why"), in the order seen.
    std::vector<std::string> serialViolations() const;

    std::uint16_t gatewayPort() const { return gatewayPort_; }
    std::uint16_t updatePort() const { return updatePort_; }

    // Services are asked in the order added; add them before start().
    void addService(std::shared_ptr<TransactionService> service);
    void addFastService(std::shared_ptr<FastService> service);

    FaultSwitches& faults() { return faults_; }
    GatewayCounters& counters() { return counters_; }
    const TestGatewaySettings& settings() const { return settings_; }

    // Internal to the connection handlers.
    struct Shared;

  private:
    void acceptLoop(int which);

    TestGatewaySettings settings_;
    FaultSwitches faults_;
    GatewayCounters counters_;
    std::unique_ptr<Shared> shared_;
    std::uint16_t gatewayPort_ = 0;
    std::uint16_t updatePort_ = 0;
    std::vector<std::thread> acceptors_;
};

}  // namespace vantrel::testgateway
