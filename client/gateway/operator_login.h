#pragma once
// OperatorLogin: the operator's login exchange on a freshly connected channel. The gateway
// sends a challenge; the client answers with the password digest and its product codes;
// the gateway's answer gives the login facts. The digest also yields the session key,
// which the channel uses from the answer on.
//
// The exchange moves bytes only: connecting, dropping and reporting the state are the
// handle's. Failure texts are left in the link.

#include <string>

#include "client/gateway/frame_channel.h"
#include "client/gateway/gateway_process.h"

namespace vantrel {

// The 145-byte operator login request ("E0", not encrypted; the header's plain length is
// written little-endian). Codes are cut or blank-padded to their widths.
std::string loginRequestPacket(const std::string& operatorCode, const std::string& passwordDigest,
                               const std::string& productId, const std::string& clientVersion);

struct OperatorCredentials {
    std::string operatorCode;  // "%-8.8s"
    std::string password;      // "%-8.8s"
    std::string productId;
    std::string clientVersion;
};

// What an accepted login gives the session.
struct OperatorSession {
    LoginFacts facts;
    std::string loginCode;
};

enum class LoginVerdict {
    Accepted,
    Refused,  // the gateway answered no; the connection may stay
    Failed,   // the exchange broke; the connection is unusable
};

class OperatorLogin {
  public:
    OperatorLogin(FrameChannel& channel, CSocketConnect& link) : channel_(channel), link_(link) {}
    // Runs the exchange; `session` is filled when Accepted. Sets the channel's session key.
    LoginVerdict run(const OperatorCredentials& credentials, OperatorSession& session);

  private:
    FrameChannel& channel_;
    CSocketConnect& link_;
};

}  // namespace vantrel
