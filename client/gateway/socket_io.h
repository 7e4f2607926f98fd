#pragma once
// The link's connect with a time-out counted in idle one-second waits. The texts that
// depend on who connects come with the call; the rest read the same for every link.

#include <string>

#include "client/gateway/gateway_outcome.h"
#include "client/gateway/stop_query.h"
#include "platform/tcp_socket.h"

namespace vantrel {

// The texts of a connect's failures that depend on who connects.
struct ConnectWording {
    std::string (*openFailed)(int err);
    std::string (*connectRefused)(const std::string& address, int port, int err);
};

// Opens `socket` (closing a previous one), connects it to a dotted IPv4 address and puts
// it back in blocking mode. With `timeoutSeconds` > 0 it waits for the connect in
// one-second waits, asking `stop` after each idle one; with 0 it returns once the connect
// has been started. Returns Ok connected, Failed (socket closed, `lastError` set) or
// ShuttingDown (socket closed, kShutdownText). `lastError` is untouched on success.
GatewayOutcome connectWithin(platform::TcpSocket& socket, const std::string& address, int port,
                             int timeoutSeconds, const StopQuery& stop,
                             const ConnectWording& wording, std::string& lastError);

}  // namespace vantrel
