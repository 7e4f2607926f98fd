// vantrel-cli login [--operator CODE] [--password-file FILE]
// vantrel-cli permissions [--operator CODE] [--password-file FILE]
// Log in to the gateways of Client.ini with fail-over (in order or at random, as
// configured), as the login dialog does, and report what the gateway said. Both write the
// system log's login lines.

#include <cstdio>

#include "client/cli/cli.h"
#include "client/execution/session/mailbox_session.h"
#include "client/gateway/interactive_gateway.h"
#include "client/gateway/record_codec.h"

namespace vantrel::cli {
namespace {

// Parses the options and logs `session` in; false (with the reason printed) when it cannot.
bool parseAndLogIn(const char* command, Environment& environment,
                   const std::vector<std::string>& arguments, MailboxSession& session) {
    LoginOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!takeLoginOption(arguments, i, options)) {
            std::fprintf(stderr, "vantrel-cli %s: unknown argument '%s'\n", command,
                         arguments[i].c_str());
            return false;
        }
    }
    return logIn(command, environment, options, session);
}

int login(Environment& environment, const std::vector<std::string>& arguments) {
    InteractiveGateway gateway(environment.context());
    MailboxSession session(gateway);
    if (!parseAndLogIn("login", environment, arguments, session)) return 1;
    const LoginFacts facts = gateway.process().lastLogin();
    std::printf("网关: %s/%s\n用户代码: %s\n业务日期: %s\n网关时间: %s\n",
                gateway.handle().CurrentGateway().address.c_str(),
                gateway.handle().CurrentGateway().port.c_str(), trimmed(facts.userCode).c_str(),
                facts.businessDate.c_str(), facts.gatewayTime.c_str());
    gateway.disconnect();
    return 0;
}

struct MailboxCategory {
    const char* name;
    const char* code;
};

constexpr MailboxCategory kCategories[] = {
    {"A股信箱", "FTP_A_QS"},         {"B股信箱", "FTP_B_QS"},     {"上市公司信箱", "FTP_SG"},
    {"A股公告", "FTP_A_BULLET"},     {"B股公告", "FTP_B_BULLET"}, {"上市公司公告", "FTP_SG_BULLET"},
    {"投资人公告", "FTP_TZ_BULLET"},
};

int permissions(Environment& environment, const std::vector<std::string>& arguments) {
    InteractiveGateway gateway(environment.context());
    MailboxSession session(gateway);
    if (!parseAndLogIn("permissions", environment, arguments, session)) return 1;
    CVornFtp& handle = gateway.handle();
    if (!handle.LoadPermissions()) {
        std::fprintf(stderr, "获取用户权限失败,失败原因:%s\n", handle.LastError().c_str());
        gateway.disconnect();
        return 1;
    }
    for (const PermissionRecord& p : gateway.handle().Permissions().entries()) {
        std::printf("%-16s %-16s %-2s %s\n", trimmed(p.organisation).c_str(),
                    trimmed(p.service).c_str(), trimmed(p.function).c_str(), p.kind.c_str());
    }
    for (const MailboxCategory& c : kCategories) {
        std::printf("%s(%s): %s\n", c.name, c.code,
                    session.permits(c.code, MailboxFunction::List) ? "可用" : "无权限");
    }
    gateway.disconnect();
    return 0;
}

}  // namespace

std::vector<Command> gatewayCommands() {
    return {
        {"login", "[--operator CODE] [--password-file FILE]",
         "log in to the gateways of Client.ini (password from the file, VANTREL_PASSWORD or a "
         "prompt)",
         login},
        {"permissions", "[--operator CODE] [--password-file FILE]",
         "log in and list the operator's permissions and the mailboxes they open", permissions},
    };
}

}  // namespace vantrel::cli
