#pragma once
// The login exchange's password digest and session key (MD5 through the crypto library):
//   H1 = hex(MD5(first 8 bytes of the password blank-padded to 8))
//   C  = the 16-byte challenge up to its first zero byte
//   H2 = hex(MD5(H1 || C))                      -- sent in the login request
//   K  = MD5(H2 || O || C || H1), O = operator code blank-padded to 8 -- the session key
// Inputs are wire bytes (GBK). The client and the test gateway both compute it here.

#include <string>
#include <string_view>

#include "client/gateway/packet_frame.h"

namespace vantrel {

struct LoginDigest {
    std::string h1;  // 32 lower-case hex digits
    std::string h2;  // 32 lower-case hex digits
    frame::SessionKey sessionKey{};
};

LoginDigest computeLoginDigest(std::string_view password, std::string_view operatorCode,
                               std::string_view challenge);

// "%-N.Ns" on the wire form: `utf8` converted to GBK, cut to `width` bytes (never inside a
// two-byte character) and padded with blanks; returned as UTF-8.
std::string fixedWidth(std::string_view utf8, std::size_t width);

}  // namespace vantrel
