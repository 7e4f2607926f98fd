#include "client/gateway/c_socket.h"

#include <cerrno>

#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kOneSecondMs = 1000;
}

CCSocket::~CCSocket() { socket_.close(); }

void CCSocket::close() {
    if (int err = socket_.close()) lastError_ = formatText("closesocket()-%d", err);
}

int CCSocket::failConnect(std::string text) {
    socket_.close();
    lastError_ = std::move(text);
    return -1;
}

int CCSocket::connect(const std::string& address, int port, int timeoutSeconds) {
    socket_.close();
    if (int err = socket_.open()) {
        lastError_ = formatText("socket()-%d", err);
        return -1;
    }
    lastError_ = formatText("connect IP:%s,Port:%d...", address.c_str(), port);
    auto ip = platform::parseIpv4(address);
    if (int err = socket_.setNonBlocking(true)) {
        return failConnect(formatText("ioctlsocket() failed with error %d!", err));
    }
    int err = ip && port > 0 && port <= 65535
                  ? socket_.startConnect(*ip, static_cast<std::uint16_t>(port))
                  : EADDRNOTAVAIL;
    if (err != 0 && !platform::isConnectPending(err) && !platform::isWouldBlock(err)) {
        return failConnect(
            formatText("connect[ip:%s,port:%d]failed,ErrNo:%d!", address.c_str(), port, err));
    }
    if (err != 0 && timeoutSeconds > 0) {
        int idleSeconds = 0;
        for (;;) {
            int ready = socket_.wait(platform::kReadable | platform::kWritable, kOneSecondMs);
            if (ready < 0) return failConnect(formatText("select() failed with error %d!", -ready));
            if (ready == 0) {
                ++idleSeconds;
                if (stop_ && stop_()) {
                    socket_.close();
                    lastError_ = kShutdownText;
                    return kShuttingDown;
                }
                if (idleSeconds >= timeoutSeconds) {
                    return failConnect(formatText("select() timeout in %d seconds!", timeoutSeconds));
                }
                continue;
            }
            if (idleSeconds >= timeoutSeconds) {
                return failConnect(formatText("select() timeout in %d seconds!", timeoutSeconds));
            }
            int socketError = 0;
            if ((ready & (platform::kReadable | platform::kWritable)) == 0) {
                socket_.pendingError(socketError);
                return failConnect(formatText("socket is not in set, socket error %d!", socketError));
            }
            if (int getErr = socket_.pendingError(socketError)) {
                return failConnect(formatText("getsockopt() failed with error %d!", getErr));
            }
            if (socketError != 0) {
                return failConnect(formatText("socket status is error with %d!", socketError));
            }
            break;
        }
    }
    if (int blockErr = socket_.setNonBlocking(false)) {
        return failConnect(formatText("ioctlsocket() failed with error %d!", blockErr));
    }
    lastError_ = formatText(" connect IP:%s,Port:%d...successful", address.c_str(), port);
    return 0;
}

int CCSocket::send(const char* data, int length) {
    if (data == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int sent = 0;
    while (sent < length) {
        long n = socket_.sendSome(data + sent, static_cast<std::size_t>(length - sent));
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        int err = n < 0 ? static_cast<int>(-n) : EPIPE;
        if (platform::isWouldBlock(err)) return 0;
        lastError_ = formatText("send()-%d", err);
        return -1;
    }
    return length;
}

int CCSocket::receive(char* buffer, int length) {
    if (buffer == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int received = 0;
    while (received < length) {
        long n = socket_.receiveSome(buffer + received, static_cast<std::size_t>(length - received));
        if (n > 0) {
            received += static_cast<int>(n);
            continue;
        }
        // An orderly close has no error number: "recv()-0".
        int err = n < 0 ? static_cast<int>(-n) : 0;
        if (platform::isWouldBlock(err)) return 0;
        lastError_ = formatText("recv()-%d", err);
        return -1;
    }
    return length;
}

int CCSocket::waitReadable(int seconds) {
    int ready = socket_.wait(platform::kReadable, seconds * kOneSecondMs);
    if (ready < 0) {
        lastError_ = formatText("select()-%d", -ready);
        return -1;
    }
    return ready == 0 ? 0 : 1;
}

}  // namespace vantrel
