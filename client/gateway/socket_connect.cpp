#include "client/gateway/socket_connect.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kOneSecondMs = 1000;
constexpr auto kWouldBlockPause = std::chrono::milliseconds(10);
}  // namespace

CSocketConnect::~CSocketConnect() { Close(); }

void CSocketConnect::Close() { socket_.close(); }

int CSocketConnect::FailConnect(std::string text) {
    lastError_ = std::move(text);
    Close();
    return -1;
}

int CSocketConnect::Connect(const std::string& address, int port, int timeoutSeconds) {
    Close();
    if (int err = socket_.open()) {
        lastError_ = formatText("创建socket失败，错误代码：%d!", err);
        return -1;
    }
    auto ip = platform::parseIpv4(address);
    if (int err = socket_.setNonBlocking(true)) {
        return FailConnect(formatText("ioctlsocket() failed with error %d!", err));
    }
    // No name lookup: an address that is not dotted IPv4 fails as the connect itself.
    int err = ip && port > 0 && port <= 65535
                  ? socket_.startConnect(*ip, static_cast<std::uint16_t>(port))
                  : EADDRNOTAVAIL;
    if (err != 0 && !platform::isConnectPending(err) && !platform::isWouldBlock(err)) {
        return FailConnect(
            formatText("连接网关[ip:%s,port:%d]失败,ErrNo:%d!", address.c_str(), port, err));
    }
    if (err != 0 && timeoutSeconds > 0) {
        int idleSeconds = 0;
        for (;;) {
            int ready = socket_.wait(platform::kReadable | platform::kWritable, kOneSecondMs);
            if (ready < 0) {
                return FailConnect(formatText("select() failed with error %d!", -ready));
            }
            if (ready == 0) {
                ++idleSeconds;
                if (ShouldStop()) {
                    Close();
                    lastError_ = kShutdownText;
                    return kShuttingDown;
                }
                if (idleSeconds >= timeoutSeconds) {
                    return FailConnect(
                        formatText("select() timeout in %d seconds!", timeoutSeconds));
                }
                continue;
            }
            if (idleSeconds >= timeoutSeconds) {
                return FailConnect(formatText("select() timeout in %d seconds!", timeoutSeconds));
            }
            int socketError = 0;
            if ((ready & (platform::kReadable | platform::kWritable)) == 0) {
                socket_.pendingError(socketError);
                return FailConnect(formatText("socket is not in set, socket error %d!", socketError));
            }
            if (int getErr = socket_.pendingError(socketError)) {
                return FailConnect(formatText("getsockopt() failed with error %d!", getErr));
            }
            if (socketError != 0) {
                return FailConnect(formatText("socket status is error with %d!", socketError));
            }
            break;
        }
    }
    if (int blockErr = socket_.setNonBlocking(false)) {
        return FailConnect(formatText("ioctlsocket() failed with error %d!", blockErr));
    }
    return 0;
}

int CSocketConnect::SendData(const char* data, int length) {
    if (data == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int sent = 0;
    while (sent < length) {
        long n = socket_.sendSome(data + sent, static_cast<std::size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        int err = n < 0 ? static_cast<int>(-n) : EPIPE;
        if (platform::isWouldBlock(err)) {
            std::this_thread::sleep_for(kWouldBlockPause);
            continue;
        }
        lastError_ = formatText("SendData : 发送报文到服务端失败，错误代码：%d", err);
        return -1;
    }
    return length;
}

int CSocketConnect::RecvData(char* buffer, int length) {
    if (buffer == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int received = 0;
    while (received < length) {
        long n = socket_.receiveSome(buffer + received, static_cast<std::size_t>(length - received));
        if (n > 0) {
            received += static_cast<int>(n);
            continue;
        }
        if (n == 0) {
            lastError_ = "网关主动关闭连接!";
            return -3;
        }
        int err = static_cast<int>(-n);
        if (platform::isWouldBlock(err)) {
            std::this_thread::sleep_for(kWouldBlockPause);
            continue;
        }
        if (platform::isConnectionLost(err)) {
            lastError_ = "网关主动关闭连接!";
            return -3;
        }
        lastError_ = formatText("RecvData : 从服务端接收报文失败，错误代码：%d", err);
        return -1;
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
