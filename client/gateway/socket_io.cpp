#include "client/gateway/socket_io.h"

#include <cerrno>

#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kOneSecondMs = 1000;

GatewayOutcome failConnect(platform::TcpSocket& socket, std::string text, std::string& lastError) {
    socket.close();
    lastError = std::move(text);
    return GatewayOutcome::Failed;
}

// Waits for a started connect to finish → as connectWithin.
GatewayOutcome awaitConnect(platform::TcpSocket& socket, int timeoutSeconds, const StopQuery& stop,
                            std::string& lastError) {
    int idleSeconds = 0;
    for (;;) {
        int ready = socket.wait(platform::kReadable | platform::kWritable, kOneSecondMs);
        if (ready < 0) {
            return failConnect(socket, formatText("select() failed with error %d!", -ready),
                               lastError);
        }
        if (ready == 0) {
            ++idleSeconds;
            if (stop && stop()) {
                socket.close();
                lastError = kShutdownText;
                return GatewayOutcome::ShuttingDown;
            }
            if (idleSeconds >= timeoutSeconds) break;
            continue;
        }
        if (idleSeconds >= timeoutSeconds) break;
        int socketError = 0;
        if ((ready & (platform::kReadable | platform::kWritable)) == 0) {
            socket.pendingError(socketError);
            return failConnect(socket,
                               formatText("socket is not in set, socket error %d!", socketError),
                               lastError);
        }
        if (int getErr = socket.pendingError(socketError)) {
            return failConnect(socket, formatText("getsockopt() failed with error %d!", getErr),
                               lastError);
        }
        if (socketError != 0) {
            return failConnect(socket, formatText("socket status is error with %d!", socketError),
                               lastError);
        }
        return GatewayOutcome::Ok;
    }
    return failConnect(socket, formatText("select() timeout in %d seconds!", timeoutSeconds),
                       lastError);
}

}  // namespace

GatewayOutcome connectWithin(platform::TcpSocket& socket, const std::string& address, int port,
                             int timeoutSeconds, const StopQuery& stop,
                             const ConnectWording& wording, std::string& lastError) {
    socket.close();
    if (int err = socket.open()) {
        lastError = wording.openFailed(err);
        return GatewayOutcome::Failed;
    }
    auto ip = platform::parseIpv4(address);
    if (int err = socket.setNonBlocking(true)) {
        return failConnect(socket, formatText("ioctlsocket() failed with error %d!", err),
                           lastError);
    }
    // No name lookup: an address that is not dotted IPv4 fails as the connect itself.
    int err = ip && port > 0 && port <= 65535
                  ? socket.startConnect(*ip, static_cast<std::uint16_t>(port))
                  : EADDRNOTAVAIL;
    if (err != 0 && !platform::isConnectPending(err) && !platform::isWouldBlock(err)) {
        return failConnect(socket, wording.connectRefused(address, port, err), lastError);
    }
    if (err != 0 && timeoutSeconds > 0) {
        if (const GatewayOutcome result = awaitConnect(socket, timeoutSeconds, stop, lastError);
            result != GatewayOutcome::Ok) {
            return result;
        }
    }
    if (int blockErr = socket.setNonBlocking(false)) {
        return failConnect(socket, formatText("ioctlsocket() failed with error %d!", blockErr),
                           lastError);
    }
    return GatewayOutcome::Ok;
}

}  // namespace vantrel
