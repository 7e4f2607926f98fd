#include "client/gateway/socket_connect.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "client/gateway/socket_io.h"
#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kOneSecondMs = 1000;
constexpr auto kWouldBlockPause = std::chrono::milliseconds(10);
}  // namespace

CSocketConnect::~CSocketConnect() {
    Close();
}

void CSocketConnect::Close() {
    socket_.close();
}

int CSocketConnect::Connect(const std::string& address, int port, int timeoutSeconds) {
    static constexpr ConnectWording kWording{
        [](int err) { return formatText("创建socket失败，错误代码：%d!", err); },
        [](const std::string& ip, int ipPort, int err) {
            return formatText("连接网关[ip:%s,port:%d]失败,ErrNo:%d!", ip.c_str(), ipPort, err);
        }};
    return connectWithin(socket_, address, port, timeoutSeconds, stop_, kWording, lastError_);
}

int CSocketConnect::SendData(const char* data, int length) {
    if (data == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int sent = 0;
    for (;;) {
        MoveResult moved = sendRest(socket_, data, length, sent);
        if (moved.kind == MoveResult::kDone) return length;
        if (!platform::isWouldBlock(moved.err)) {
            lastError_ = formatText("SendData : 发送报文到服务端失败，错误代码：%d", moved.err);
            return -1;
        }
        // Until the socket can take more, at most a pause: a wake-up on readiness instead
        // of a fixed sleep, which cost every small exchange its full length.
        (void)socket_.wait(platform::kWritable, static_cast<int>(kWouldBlockPause.count()));
    }
}

int CSocketConnect::RecvDataUntil(char* buffer, int length, platform::Tick deadline,
                                  const platform::Clock& clock) {
    if (buffer == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int received = 0;
    while (received < length) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.tick());
        if (left.count() <= 0) {
            lastError_ = "接收超时";
            return -9;
        }
        const int waitMs = static_cast<int>(std::min<long long>(left.count(), kOneSecondMs));
        const int ready = socket_.wait(platform::kReadable, waitMs);
        if (ready < 0) {
            lastError_ = formatText("RecvData : 从服务端接收报文失败，错误代码：%d", -ready);
            return -1;
        }
        if (ready == 0) {
            if (ShouldStop()) {
                lastError_ = kShutdownText;
                return kShuttingDown;
            }
            continue;
        }
        // One call per readiness: a second one could block past the deadline.
        const long n =
            socket_.receiveSome(buffer + received, static_cast<std::size_t>(length - received));
        if (n > 0) {
            received += static_cast<int>(n);
            continue;
        }
        const int err = n == 0 ? 0 : static_cast<int>(-n);
        if (n == 0 || platform::isConnectionLost(err)) {
            lastError_ = "网关主动关闭连接!";
            return -3;
        }
        if (!platform::isWouldBlock(err)) {
            lastError_ = formatText("RecvData : 从服务端接收报文失败，错误代码：%d", err);
            return -1;
        }
    }
    return length;
}

int CSocketConnect::SetTimeOut(int seconds) {
    int ready = socket_.wait(platform::kReadable, seconds * kOneSecondMs);
    if (ready < 0) {
        lastError_ = formatText("SetTimeOut-Select Fail, ErrNo:%d", -ready);
        return -1;
    }
    return ready == 0 ? -9 : 1;
}

int CSocketConnect::WaitForData(int waits, bool strict) {
    if (!socket_.isOpen()) {
        lastError_ = "接收数据失败!";
        return -1;
    }
    const int waitMs = strict ? kOneSecondMs : 0;
    for (int i = 0; i < waits; ++i) {
        int ready = socket_.wait(platform::kReadable, waitMs);
        if (ready < 0) {
            lastError_ = "接收数据失败!";
            return -1;
        }
        if (ready != 0) return 1;
        if (ShouldStop()) {
            lastError_ = kShutdownText;
            return kShuttingDown;
        }
    }
    if (!strict) return -999;
    lastError_ = "接收数据超时!";
    return -9;
}

}  // namespace vantrel
