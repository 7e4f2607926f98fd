#pragma once
// The socket mechanics both gateway socket classes share: the connect with a time-out
// counted in idle one-second waits, and the loops that move a whole buffer. Each class
// keeps its own texts and return codes: these functions report what stopped them and the
// errno, and the caller words it.

#include <string>

#include "client/gateway/stop_query.h"
#include "platform/tcp_socket.h"

namespace vantrel {

// The texts that differ between the socket classes; the rest of a connect's failures
// read the same for both.
struct ConnectWording {
    std::string (*openFailed)(int err);
    std::string (*connectRefused)(const std::string& address, int port, int err);
};

// Opens `socket` (closing a previous one), connects it to a dotted IPv4 address and puts
// it back in blocking mode. With `timeoutSeconds` > 0 it waits for the connect in
// one-second waits, asking `stop` after each idle one; with 0 it returns once the connect
// has been started. Returns 0 connected, -1 failed (socket closed, `lastError` set) or
// kShuttingDown (socket closed, kShutdownText). `lastError` is untouched on success.
int connectWithin(platform::TcpSocket& socket, const std::string& address, int port,
                  int timeoutSeconds, const StopQuery& stop, const ConnectWording& wording,
                  std::string& lastError);

// How a move-all loop ended: every byte moved, the peer closed (receive only, err 0),
// or a call failed with errno `err` (EPIPE for a send that moved nothing).
struct MoveResult {
    enum Kind { kDone, kClosed, kFailed };
    Kind kind;
    int err;
};

// Moves bytes from position `moved` on until `length` have moved or one call moves none,
// advancing `moved`; a caller that retries after a would-block calls again with it.
MoveResult sendRest(platform::TcpSocket& socket, const char* data, int length, int& moved);
MoveResult receiveRest(platform::TcpSocket& socket, char* buffer, int length, int& moved);

}  // namespace vantrel
