#include "tools/testgateway/test_gateway.h"

#include <arpa/inet.h>

#include "tools/testgateway/fast_downloads.h"
#include "tools/testgateway/sessions.h"

namespace vantrel::testgateway {

namespace {
constexpr int kAcceptCheckMs = 100;
constexpr int kBacklog = 64;
}  // namespace

TestGateway::TestGateway(TestGatewaySettings settings)
    : settings_(std::move(settings)),
      shared_(std::make_unique<Shared>(settings_, faults_, counters_)) {
    if (!settings_.updateRoot.empty()) {
        addFastService(std::make_shared<FastDownloadService>(settings_, faults_, counters_));
    }
}

TestGateway::~TestGateway() {
    stop();
}

void TestGateway::addService(std::shared_ptr<TransactionService> service) {
    shared_->services.push_back(std::move(service));
}

void TestGateway::addFastService(std::shared_ptr<FastService> service) {
    shared_->fastServices.push_back(std::move(service));
}

Status TestGateway::start(std::uint16_t gatewayPort, std::uint16_t updatePort) {
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    const std::uint16_t ports[2] = {gatewayPort, updatePort};
    for (int i = 0; i < 2; ++i) {
        if (int err = shared_->listeners[i].listenOn(loopback, ports[i], kBacklog)) {
            stop();
            return statusFromErrno(err, "listen on 127.0.0.1:" + std::to_string(ports[i]));
        }
    }
    shared_->forgetSerials();
    gatewayPort_ = shared_->listeners[0].localPort();
    updatePort_ = shared_->listeners[1].localPort();
    shared_->stopping = false;
    for (int i = 0; i < 2; ++i) acceptors_.emplace_back([this, i] { acceptLoop(i); });
    return Status::ok();
}

void TestGateway::acceptLoop(int which) {
    Shared& shared = *shared_;
    platform::TcpSocket& listener = shared.listeners[which];
    while (!shared.stopping) {
        int ready = listener.wait(platform::kReadable, kAcceptCheckMs);
        if (ready <= 0) continue;
        int err = 0;
        platform::TcpSocket connection = listener.accept(err);
        if (!connection.isOpen()) continue;
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard lock(shared.workersMutex);
        // Finished connections are joined here, so a long run does not pile up threads.
        for (auto it = shared.workers.begin(); it != shared.workers.end();) {
            if (*it->done) {
                it->thread.join();
                it = shared.workers.erase(it);
            } else {
                ++it;
            }
        }
        shared.workers.push_back(
            {std::thread([&shared, which, done, socket = std::move(connection)]() mutable {
                 if (which == 0) {
                     runGatewaySession(shared, std::move(socket));
                 } else {
                     runUpdateSession(shared, std::move(socket));
                 }
                 *done = true;
             }),
             done});
    }
}

void TestGateway::dropConnections() {
    shared_->cutLive();
}

std::vector<std::string> TestGateway::serialViolations() const {
    return shared_->violations();
}

void TestGateway::stop() {
    shared_->stopping = true;
    for (auto& t : acceptors_) t.join();
    acceptors_.clear();
    std::vector<Shared::Worker> workers;
    {
        std::lock_guard lock(shared_->workersMutex);
        workers.swap(shared_->workers);
    }
    for (auto& w : workers) w.thread.join();
    for (auto& l : shared_->listeners) l.close();
}

}  // namespace vantrel::testgateway
