#pragma once
// The test gateway's settings: operators with their passwords, codes and permissions, the
// business date and time it reports, where its serial numbers start, and the values its
// update server answers with. Read from a small text file (see example.conf):
//
//   [gateway]                      BusinessDate, GatewayTime, SerialStart, SerialFlag,
//                                  MailboxRoot (a folder per mailbox; empty = no file services)
//   [operator CODE]                Password, UserCode, LoginCode, Refuse (a refusal text),
//                                  Permission = ORG,SERVICE,FUNCTION,KIND  (repeatable)
//   [update]                       Product (expected product id, empty = any), Fail (a
//                                  refusal text), Root (the folder fast downloads are
//                                  served from; empty = none), Restart6008 (1: a download
//                                  asked from a non-zero offset is answered "6008");
//                                  every other key is a value by name
//
// Lines starting with ';' or '#' are comments, as is the rest of a line from a ';' after
// a blank; keys compare case-insensitively.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "client/gateway/gateway_records.h"
#include "platform/status.h"

namespace vantrel::testgateway {

struct OperatorSettings {
    std::string code;
    std::string password;
    std::string userCode = "U0000001";
    std::string loginCode = "LC000001";
    // A non-empty text makes the login answer a refusal with that message.
    std::string refuse;
    std::vector<PermissionRecord> permissions;
};

struct TestGatewaySettings {
    std::string businessDate = "20261208";
    std::string gatewayTime = "093000";
    std::uint64_t serialStart = 2026120800000001ull;
    char serialFlag = '0';
    std::filesystem::path mailboxRoot;
    std::vector<OperatorSettings> operators;

    std::string updateProduct;  // empty: any product id is accepted
    std::string updateFail;     // non-empty: the fast login is refused with this text
    std::vector<std::pair<std::string, std::string>> updateValues;
    std::filesystem::path updateRoot;  // empty: no fast downloads
    bool updateRestart6008 = false;

    const OperatorSettings* findOperator(const std::string& code) const;
};

Result<TestGatewaySettings> parseSettings(const std::string& text);
Result<TestGatewaySettings> loadSettings(const std::filesystem::path& file);

}  // namespace vantrel::testgateway
