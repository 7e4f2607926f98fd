#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vantrel::platform {

std::optional<std::uint32_t> parseIpv4(std::string_view text) {
    std::string copy(text);
    in_addr address{};
    if (copy.empty() || inet_pton(AF_INET, copy.c_str(), &address) != 1) return std::nullopt;
    return address.s_addr;
}

bool isWouldBlock(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}
bool isConnectPending(int err) {
    return err == EINPROGRESS || err == EALREADY;
}
bool isConnectionLost(int err) {
    return err == ECONNRESET || err == ECONNABORTED || err == EPIPE;
}

TcpSocket::~TcpSocket() {
    close();
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

int TcpSocket::open() {
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return fd_ < 0 ? errno : 0;
}

int TcpSocket::close() {
    if (fd_ < 0) return 0;
    int fd = release();
    return ::close(fd) == 0 ? 0 : errno;
}

int TcpSocket::setNonBlocking(bool on) {
    int flags = ::fcntl(fd_, F_GETFL, 0);
    if (flags < 0) return errno;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd_, F_SETFL, flags) == 0 ? 0 : errno;
}

int TcpSocket::startConnect(std::uint32_t addressNetworkOrder, std::uint16_t port) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = addressNetworkOrder;
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return 0;
    return errno;
}

int TcpSocket::wait(int want, int timeoutMs) const {
    pollfd p{};
    p.fd = fd_;
    if (want & kReadable) p.events |= POLLIN;
    if (want & kWritable) p.events |= POLLOUT;
    int n = ::poll(&p, 1, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -errno;
    if (n == 0) return 0;
    int ready = 0;
    if (p.revents & (POLLIN | POLLHUP)) ready |= (want & kReadable);
    if (p.revents & POLLOUT) ready |= kWritable;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) ready |= kFailed;
    return ready;
}

int TcpSocket::pendingError(int& socketError) const {
    socklen_t size = sizeof socketError;
    socketError = 0;
    return ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &size) == 0 ? 0 : errno;
}

long TcpSocket::sendSome(const void* data, std::size_t length) {
    ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL);
    return n < 0 ? -errno : static_cast<long>(n);
}

long TcpSocket::receiveSome(void* buffer, std::size_t length) {
    ssize_t n = ::recv(fd_, buffer, length, 0);
    return n < 0 ? -errno : static_cast<long>(n);
}

int TcpSocket::listenOn(std::uint32_t addressNetworkOrder, std::uint16_t port, int backlog) {
    if (int err = open()) return err;
    int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = addressNetworkOrder;
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(fd_, backlog) != 0) {
        int err = errno;
        close();
        return err;
    }
    return 0;
}

std::uint16_t TcpSocket::localPort() const {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
    return ntohs(local.sin_port);
}

TcpSocket TcpSocket::accept(int& err) const {
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    err = fd < 0 ? errno : 0;
    return TcpSocket(fd);
}

void TcpSocket::shutdownBoth() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace vantrel::platform
