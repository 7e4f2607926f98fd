#include "client/gateway/c_socket.h"

#include <cerrno>

#include "client/gateway/socket_io.h"
#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kOneSecondMs = 1000;
}

CCSocket::~CCSocket() {
    socket_.close();
}

void CCSocket::close() {
    if (int err = socket_.close()) lastError_ = formatText("closesocket()-%d", err);
}

int CCSocket::connect(const std::string& address, int port, int timeoutSeconds) {
    static constexpr ConnectWording kWording{
        [](int err) { return formatText("socket()-%d", err); },
        [](const std::string& ip, int ipPort, int err) {
            return formatText("connect[ip:%s,port:%d]failed,ErrNo:%d!", ip.c_str(), ipPort, err);
        }};
    // Shows what is under way until the outcome replaces it.
    lastError_ = formatText("connect IP:%s,Port:%d...", address.c_str(), port);
    int result = connectWithin(socket_, address, port, timeoutSeconds, stop_, kWording, lastError_);
    if (result == 0) {
        lastError_ = formatText(" connect IP:%s,Port:%d...successful", address.c_str(), port);
    }
    return result;
}

int CCSocket::send(const char* data, int length) {
    if (data == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int sent = 0;
    MoveResult moved = sendRest(socket_, data, length, sent);
    if (moved.kind == MoveResult::kDone) return length;
    if (platform::isWouldBlock(moved.err)) return 0;
    lastError_ = formatText("send()-%d", moved.err);
    return -1;
}

int CCSocket::receive(char* buffer, int length) {
    if (buffer == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int received = 0;
    MoveResult moved = receiveRest(socket_, buffer, length, received);
    if (moved.kind == MoveResult::kDone) return length;
    if (platform::isWouldBlock(moved.err)) return 0;
    // An orderly close has no error number: "recv()-0".
    lastError_ = formatText("recv()-%d", moved.err);
    return -1;
}

int CCSocket::receiveWithin(char* buffer, int length, int timeoutSeconds) {
    if (buffer == nullptr || length <= 0 || !socket_.isOpen()) return -2;
    int received = 0;
    int idle = 0;
    while (received < length) {
        const int ready = socket_.wait(platform::kReadable, kOneSecondMs);
        if (ready < 0) {
            lastError_ = formatText("select()-%d", -ready);
            return -1;
        }
        if (ready == 0) {
            if (stop_ && stop_()) {
                lastError_ = kShutdownText;
                return kShuttingDown;
            }
            if (++idle >= timeoutSeconds) return -9;
            continue;
        }
        idle = 0;
        // One read of what has arrived: a blocking read of the rest could outwait the limit.
        const long n =
            socket_.receiveSome(buffer + received, static_cast<std::size_t>(length - received));
        if (n > 0) {
            received += static_cast<int>(n);
            continue;
        }
        const int err = n == 0 ? 0 : static_cast<int>(-n);
        if (n < 0 && (platform::isWouldBlock(err) || err == EINTR)) continue;
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
