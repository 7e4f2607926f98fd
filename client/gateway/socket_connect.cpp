#include "client/gateway/socket_connect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "client/gateway/socket_io.h"
#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kOneSecondMs = 1000;
constexpr auto kWouldBlockPause = std::chrono::milliseconds(10);
}  // namespace

const LinkWording kGatewayLinkWording{
    [](int err) { return formatText("创建socket失败，错误代码：%d!", err); },
    [](const std::string& ip, int port, int err) {
        return formatText("连接网关[ip:%s,port:%d]失败,ErrNo:%d!", ip.c_str(), port, err);
    },
    [](int err) { return formatText("SendData : 发送报文到服务端失败，错误代码：%d", err); },
    [](int err) { return formatText("RecvData : 从服务端接收报文失败，错误代码：%d", err); },
    [](int) { return std::string("网关主动关闭连接!"); },
};

const LinkWording kFastLinkWording{
    [](int err) { return formatText("socket()-%d", err); },
    [](const std::string& ip, int port, int err) {
        return formatText("connect[ip:%s,port:%d]failed,ErrNo:%d!", ip.c_str(), port, err);
    },
    [](int err) { return formatText("send()-%d", err); },
    [](int err) { return formatText("recv()-%d", err); },
    [](int err) { return formatText("recv()-%d", err); },
};

CSocketConnect::~CSocketConnect() {
    Close();
}

void CSocketConnect::Close() {
    socket_.close();
}

GatewayOutcome CSocketConnect::Connect(const std::string& address, int port, int timeoutSeconds) {
    const ConnectWording wording{wording_.openFailed, wording_.connectRefused};
    return connectWithin(socket_, address, port, timeoutSeconds, stop_, wording, lastError_);
}

GatewayOutcome CSocketConnect::SendData(const char* data, int length) {
    if (data == nullptr || length <= 0 || !socket_.isOpen()) return GatewayOutcome::BadArguments;
    for (int sent = 0; sent < length;) {
        const long n = socket_.sendSome(data + sent, static_cast<std::size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        const int err = n < 0 ? static_cast<int>(-n) : EPIPE;
        if (!platform::isWouldBlock(err)) {
            lastError_ = wording_.sendFailed(err);
            return GatewayOutcome::Failed;
        }
        // Until the socket can take more, at most a pause: a wake-up on readiness instead
        // of a fixed sleep, which cost every small exchange its full length.
        (void)socket_.wait(platform::kWritable, static_cast<int>(kWouldBlockPause.count()));
    }
    return GatewayOutcome::Ok;
}

GatewayOutcome CSocketConnect::AwaitReadable(int waitMs) {
    const int ready = socket_.isOpen() ? socket_.wait(platform::kReadable, waitMs) : -EBADF;
    if (ready < 0) {
        waitErrno_ = -ready;
        return GatewayOutcome::Failed;
    }
    if (ready != 0) return GatewayOutcome::Ok;
    if (ShouldStop()) {
        lastError_ = kShutdownText;
        return GatewayOutcome::ShuttingDown;
    }
    return GatewayOutcome::NothingYet;
}

GatewayOutcome CSocketConnect::RecvDataUntil(char* buffer, int length, platform::Tick deadline,
                                             const platform::Clock& clock) {
    if (buffer == nullptr || length <= 0 || !socket_.isOpen()) return GatewayOutcome::BadArguments;
    int received = 0;
    while (received < length) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.tick());
        if (left.count() <= 0) {
            lastError_ = "接收超时";
            return GatewayOutcome::TimedOut;
        }
        const GatewayOutcome ready =
            AwaitReadable(static_cast<int>(std::min<long long>(left.count(), kOneSecondMs)));
        if (ready == GatewayOutcome::ShuttingDown) return ready;
        if (ready == GatewayOutcome::Failed) {
            lastError_ = wording_.receiveFailed(waitErrno_);
            return ready;
        }
        if (ready == GatewayOutcome::NothingYet) continue;
        // One call per readiness: a second one could block past the deadline.
        const long n =
            socket_.receiveSome(buffer + received, static_cast<std::size_t>(length - received));
        if (n > 0) {
            received += static_cast<int>(n);
            continue;
        }
        const int err = n == 0 ? 0 : static_cast<int>(-n);
        if (n == 0 || platform::isConnectionLost(err)) {
            lastError_ = wording_.peerClosed(err);
            return GatewayOutcome::PeerClosed;
        }
        if (!platform::isWouldBlock(err)) {
            lastError_ = wording_.receiveFailed(err);
            return GatewayOutcome::Failed;
        }
    }
    return GatewayOutcome::Ok;
}

GatewayOutcome CSocketConnect::SetTimeOut(int seconds) {
    int ready = socket_.wait(platform::kReadable, seconds * kOneSecondMs);
    if (ready < 0) {
        lastError_ = formatText("SetTimeOut-Select Fail, ErrNo:%d", -ready);
        return GatewayOutcome::Failed;
    }
    return ready == 0 ? GatewayOutcome::TimedOut : GatewayOutcome::Ok;
}

GatewayOutcome CSocketConnect::WaitForData(int waits, bool strict) {
    if (!socket_.isOpen()) {
        waitErrno_ = EBADF;
        lastError_ = "接收数据失败!";
        return GatewayOutcome::Failed;
    }
    for (int i = 0; i < waits; ++i) {
        const GatewayOutcome ready = AwaitReadable(strict ? kOneSecondMs : 0);
        if (ready == GatewayOutcome::Ok || ready == GatewayOutcome::ShuttingDown) return ready;
        if (ready == GatewayOutcome::Failed) {
            lastError_ = "接收数据失败!";
            return ready;
        }
    }
    if (!strict) return GatewayOutcome::NothingYet;
    lastError_ = "接收数据超时!";
    return GatewayOutcome::TimedOut;
}

}  // namespace vantrel
