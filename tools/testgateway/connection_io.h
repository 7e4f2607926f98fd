#pragma once
// Blocking reads and writes on one accepted connection, giving up when the server stops.

#include <atomic>
#include <cstddef>
#include <string>

#include "platform/tcp_socket.h"

namespace vantrel::testgateway {

class ConnectionIo {
  public:
    ConnectionIo(platform::TcpSocket& socket, const std::atomic<bool>& stopping)
        : socket_(socket), stopping_(stopping) {}

    // Exactly `length` bytes appended to `out`; false on close, error or stop.
    bool readExactly(std::size_t length, std::string& out);
    // One packet (header and body, as sent); false on close, error, stop, or a body longer
    // than `maxBody`.
    bool readPacket(std::string& packet, std::size_t maxBody);
    bool writeAll(const std::string& bytes);

  private:
    platform::TcpSocket& socket_;
    const std::atomic<bool>& stopping_;
};

}  // namespace vantrel::testgateway
