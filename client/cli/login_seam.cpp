#include "client/cli/login_seam.h"

#include <cstdio>
#include <cstdlib>

#include "client/cli/password_source.h"
#include "client/gateway/interactive_gateway.h"
#include "client/gateway/record_codec.h"

namespace vantrel::cli {

namespace {

// The headless login: the operator code of Client.ini (or VANTREL_OPERATOR), the password
// from VANTREL_PASSWORD_FILE, systemd's credential, VANTREL_PASSWORD or the terminal; then the fail-over login.
class HeadlessLogin final : public LoginStep {
  public:
    explicit HeadlessLogin(InteractiveGateway& gateway) : gateway_(gateway) {}

    LoginOutcome run(const LoginRequest& request) override {
        std::string operatorCode = request.operatorCode;
        if (const char* code = std::getenv("VANTREL_OPERATOR"); code != nullptr && *code != '\0') {
            operatorCode = code;
        }
        if (operatorCode.empty()) {
            std::fprintf(
                stderr,
                "vantrel-cli: 请输入操作员！ (OpertID in Client.ini or VANTREL_OPERATOR)\n");
            return LoginOutcome::NotLoggedIn;
        }
        std::string why;
        const auto password = readPassword(headlessPasswordFile(), why);
        if (!password || password->empty()) {
            std::fprintf(stderr, "vantrel-cli: 请输入密码！ %s\n", why.c_str());
            return LoginOutcome::NotLoggedIn;
        }
        if (!gateway_.login(request, operatorCode, *password)) {
            std::fprintf(stderr, "登录失败,失败原因[%s]\n", gateway_.handle().LastError().c_str());
            return LoginOutcome::NotLoggedIn;
        }
        const LoginFacts facts = gateway_.process().lastLogin();
        std::fprintf(
            stderr, "vantrel-cli: 登录网关[%s/%s]成功 用户代码:%s 业务日期:%s 网关时间:%s\n",
            gateway_.handle().CurrentGateway().address.c_str(),
            gateway_.handle().CurrentGateway().port.c_str(), trimmed(facts.userCode).c_str(),
            facts.businessDate.c_str(), facts.gatewayTime.c_str());
        return LoginOutcome::LoggedIn;
    }

  private:
    InteractiveGateway& gateway_;
};

}  // namespace

InteractiveLogin makeInteractiveLogin(Environment& environment) {
    auto gateway = std::make_unique<InteractiveGateway>(environment.context());
    auto login = std::make_unique<HeadlessLogin>(*gateway);
    return {std::move(login), std::move(gateway)};
}

}  // namespace vantrel::cli
