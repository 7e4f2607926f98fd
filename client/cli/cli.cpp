#include "client/cli/cli.h"

#include <cstdio>

#include "client/app/client_version.h"
#include "client/cli/password_source.h"
#include "client/config/config.h"
#include "client/execution/housekeeping/clock_hook.h"
#include "client/execution/session/mailbox_session.h"

namespace vantrel::cli {

bool ConsolePrompt::askYesNo(const std::string& caption, const std::string& text, Icon) {
    std::fprintf(stderr, "%s: %s [answered: no]\n", caption.c_str(), text.c_str());
    return false;
}

void ConsolePrompt::show(const std::string& caption, const std::string& text, Icon) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

Environment::Environment(Installation installation)
    : installation_(std::move(installation)),
      logs_(installation_, execution::processClock(), notifier_) {}

Context Environment::context() {
    Context c;
    c.installation = installation_;
    c.clock = &execution::processClock();
    c.notifier = &notifier_;
    c.prompt = &prompt_;
    c.logs = &logs_;
    return c;
}

bool takeLoginOption(const std::vector<std::string>& arguments, std::size_t& i,
                     LoginOptions& options) {
    const std::string& a = arguments[i];
    if ((a != "--operator" && a != "--password-file") || i + 1 >= arguments.size()) return false;
    (a == "--operator" ? options.operatorCode : options.passwordFile) = arguments[++i];
    return true;
}

bool logIn(const char* command, Environment& environment, const LoginOptions& options,
           MailboxSession& session) {
    CConfig config(environment.installation());
    config.load();
    const std::string operatorCode =
        options.operatorCode.empty() ? config.operatorCode : options.operatorCode;
    if (operatorCode.empty()) {
        std::fprintf(stderr,
                     "vantrel-cli %s: 请输入操作员！ (--operator or OpertID in Client.ini)\n",
                     command);
        return false;
    }
    std::string why;
    const auto password = readPassword(options.passwordFile, why);
    if (!password || password->empty()) {
        std::fprintf(stderr, "vantrel-cli %s: 请输入密码！ %s\n", command, why.c_str());
        return false;
    }
    LoginRequest request;
    request.gateways = config.gateways;
    request.gateType = config.gateType;
    request.operatorCode = operatorCode;
    request.productId = config.productId;
    request.clientVersion = clientVersionString(config.version);
    if (!session.login(request, operatorCode, *password)) {
        std::fprintf(stderr, "登录失败,失败原因[%s]\n", session.lastError().c_str());
        return false;
    }
    return true;
}

}  // namespace vantrel::cli
