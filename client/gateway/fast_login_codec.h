#pragma once
// The update server's fast-transfer login on the wire: the request it is asked with and the
// name/value answer it gives. CFastFtp (client/transfer) holds the login itself.

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// One name/value record of the update server's fast-transfer login answer.
struct FastLoginValue {
    std::string name;   // 16 characters as sent, trimmed
    std::string value;  // trimmed
};

// The update server's login request ("80", 145 + 16 x names bytes, sent unencrypted):
// product id "%8s" at 75, version "%7s" at 83, "4" at 90, 16 x n "%09i" at 91, each name
// "%-16s" from 145.
std::string fastLoginRequestPacket(const std::vector<std::string>& names,
                                   const std::string& productId, const std::string& version);
// Reads a whole fast-login answer (header and body, at least 145 bytes) → its record count
// (at most 8) with `values` and `loginCode` filled, or -1 with "登录失败 原因:%s" in `error`.
int parseFastLoginAnswer(std::string_view answer, std::vector<FastLoginValue>& values,
                         std::string& loginCode, std::string& error);
// The value of the record named `name` (case-insensitive); empty when absent.
std::string fastLoginValue(const std::vector<FastLoginValue>& values, std::string_view name);

}  // namespace vantrel
