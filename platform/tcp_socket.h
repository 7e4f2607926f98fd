#pragma once
// A thin layer over POSIX TCP sockets (IPv4 only, no name lookup). It decides nothing:
// every call reports the raw errno value, so that callers keep their own error texts
// and retry rules. One socket object is used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantrel::platform {

// Parses a dotted IPv4 address ("127.0.0.1"); no name lookup. Network byte order.
std::optional<std::uint32_t> parseIpv4(std::string_view text);

// errno classes that callers branch on.
bool isWouldBlock(int err);      // EAGAIN / EWOULDBLOCK / EINTR
bool isConnectPending(int err);  // EINPROGRESS / EALREADY
bool isConnectionLost(int err);  // ECONNRESET / ECONNABORTED / EPIPE

// Readiness sets for wait().
enum SocketReady : int { kReadable = 1, kWritable = 2, kFailed = 4 };

class TcpSocket {
  public:
    TcpSocket() = default;
    explicit TcpSocket(int fd) : fd_(fd) {}
    ~TcpSocket();
    TcpSocket(TcpSocket&& other) noexcept : fd_(other.release()) {}
    TcpSocket& operator=(TcpSocket&& other) noexcept;
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

    // 0 or errno. Closes a previous socket first.
    int open();
    // 0 or errno; nothing to do when not open.
    int close();
    // 0 or errno.
    int setNonBlocking(bool on);
    // 0 connected at once, else errno (EINPROGRESS for a non-blocking connect under way).
    int startConnect(std::uint32_t addressNetworkOrder, std::uint16_t port);
    // Waits up to `timeoutMs` (0 = poll, negative = forever) for the conditions in `want`
    // (kReadable | kWritable). Returns the ready set (kFailed when the socket reports an
    // error or hang-up), 0 on time-out, or -errno.
    int wait(int want, int timeoutMs) const;
    // The socket's pending error (SO_ERROR) into `socketError`; 0 or errno.
    int pendingError(int& socketError) const;
    // Bytes moved (> 0), 0 for an orderly close (receive only), or -errno. Sending never
    // raises SIGPIPE.
    long sendSome(const void* data, std::size_t length);
    long receiveSome(void* buffer, std::size_t length);

    // Server side: bind to address:port (port 0 picks a free one) and listen. 0 or errno.
    int listenOn(std::uint32_t addressNetworkOrder, std::uint16_t port, int backlog);
    // The local port (after listenOn or connect); 0 when unknown.
    std::uint16_t localPort() const;
    // Accepts one connection; an open socket or the errno in `err`.
    TcpSocket accept(int& err) const;
    // Stops both directions without closing the descriptor (wakes a blocked accept/recv).
    void shutdownBoth();

  private:
    int fd_ = -1;
};

}  // namespace vantrel::platform
