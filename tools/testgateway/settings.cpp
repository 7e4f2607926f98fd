#include "tools/testgateway/settings.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "platform/files.h"

namespace vantrel::testgateway {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> splitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) parts.push_back(trimmed(part));
    return parts;
}

Status bad(int line, const std::string& why) {
    return Status::error(ErrorKind::InvalidArgument, "line " + std::to_string(line) + ": " + why);
}

}  // namespace

const OperatorSettings* TestGatewaySettings::findOperator(const std::string& code) const {
    for (const auto& op : operators) {
        if (op.code == code) return &op;
    }
    return nullptr;
}

Result<TestGatewaySettings> parseSettings(const std::string& text) {
    TestGatewaySettings settings;
    std::stringstream in(text);
    std::string raw;
    std::string section;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        std::string line = trimmed(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        // A ';' after a blank starts a comment to the end of the line.
        for (std::size_t i = 1; i < line.size(); ++i) {
            if (line[i] == ';' && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
                line = trimmed(line.substr(0, i));
                break;
            }
        }
        if (line.front() == '[') {
            if (line.back() != ']') return bad(lineNumber, "unclosed section");
            section = trimmed(line.substr(1, line.size() - 2));
            if (lower(section).rfind("operator ", 0) == 0) {
                OperatorSettings op;
                op.code = trimmed(section.substr(9));
                settings.operators.push_back(op);
                section = "operator";
            } else {
                section = lower(section);
            }
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos) return bad(lineNumber, "expected key = value");
        const std::string key = lower(trimmed(line.substr(0, eq)));
        const std::string value = trimmed(line.substr(eq + 1));
        if (section == "gateway") {
            if (key == "businessdate") {
                settings.businessDate = value;
            } else if (key == "gatewaytime") {
                settings.gatewayTime = value;
            } else if (key == "serialstart") {
                if (value.empty() || value.size() > 16 ||
                    value.find_first_not_of("0123456789") != std::string::npos) {
                    return bad(lineNumber, "SerialStart needs 1 to 16 digits");
                }
                settings.serialStart = std::stoull(value);
            } else if (key == "serialflag") {
                settings.serialFlag = value.empty() ? '0' : value[0];
            } else if (key == "mailboxroot") {
                settings.mailboxRoot = value;
            } else {
                return bad(lineNumber, "unknown gateway key " + key);
            }
        } else if (section == "operator") {
            OperatorSettings& op = settings.operators.back();
            if (key == "password") {
                op.password = value;
            } else if (key == "usercode") {
                op.userCode = value;
            } else if (key == "logincode") {
                op.loginCode = value;
            } else if (key == "refuse") {
                op.refuse = value;
            } else if (key == "permission") {
                auto parts = splitCommas(value);
                if (parts.size() != 4)
                    return bad(lineNumber, "permission needs ORG,SERVICE,FUNCTION,KIND");
                op.permissions.push_back({parts[0], parts[1], parts[2], parts[3]});
            } else {
                return bad(lineNumber, "unknown operator key " + key);
            }
        } else if (section == "update") {
            if (key == "product") {
                settings.updateProduct = value;
            } else if (key == "fail") {
                settings.updateFail = value;
            } else if (key == "root") {
                settings.updateRoot = value;
            } else if (key == "restart6008") {
                settings.updateRestart6008 = value == "1";
            } else {
                settings.updateValues.emplace_back(trimmed(line.substr(0, eq)), value);
            }
        } else {
            return bad(lineNumber, "key outside a known section");
        }
    }
    return settings;
}

Result<TestGatewaySettings> loadSettings(const std::filesystem::path& file) {
    auto text = platform::readFile(file);
    if (!text) return text.status();
    return parseSettings(text.value());
}

}  // namespace vantrel::testgateway
