#pragma once

#include <string>

namespace vantrel {

// One gateway: address, gateway port, fast-transfer port, answer time-out (seconds), as the
// strings stored in Client.ini.
struct GatewayEntry {
    std::string address;
    std::string port;
    std::string ftpPort;
    std::string timeOut;
    bool operator==(const GatewayEntry&) const = default;
    // Usable by a gateway handle: an address and a port in 1..65535.
    bool usable() const;
};

}  // namespace vantrel
