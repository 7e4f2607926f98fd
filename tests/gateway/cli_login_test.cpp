// vantrel-cli login and permissions, run as the operator would, against the test gateway.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/files.h"
#include "tests/gateway/gateway_fixture.h"

namespace vantrel {
namespace {

struct CliRun {
    int exitCode = -1;
    std::string output;  // stdout and stderr
};

class CliLogin : public GatewayFixture {
  protected:
    void SetUp() override {
        GatewayFixture::SetUp();
        ASSERT_TRUE(platform::createDirectories(installation.localconfig()));
        const std::string dead = refusingPort();
        ASSERT_TRUE(platform::writeFileAtomically(
            installation.clientIni(), "[GateMultiple]\nGateIP1=127.0.0.1\nGatePort1=" + dead +
                                          "\nGateIP2=0.0.0.0\nGatePort2=1\n"
                                          "GateIP3=127.0.0.1\nGatePort3=" +
                                          std::to_string(gateway.gatewayPort()) +
                                          "\nFtpPort3=" + std::to_string(gateway.updatePort()) +
                                          "\nGateType=0\n[userinfo]\nOpertID=OPER01\n"));
    }

    // `environment` is a prefix of shell assignments; stdin is never a terminal here.
    CliRun cli(const std::string& environment, const std::string& arguments) {
        const std::string command = "env -u VANTREL_PASSWORD " + environment + " '" + VANTREL_CLI +
                                    "' --root '" + root.path().string() + "' " + arguments +
                                    " 2>&1 </dev/null";
        CliRun run;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) return run;
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
        const int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
};

TEST_F(CliLogin, logsInOverTheConfiguredGatewaysAndPrintsWhatTheGatewaySaid) {
    const CliRun run = cli("VANTREL_PASSWORD=pass1234", "login");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("用户代码: U0000042"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("业务日期: 20261208"), std::string::npos);
    EXPECT_NE(run.output.find("网关时间: 093015"), std::string::npos);
    const std::string log = sysLog();
    EXPECT_NE(log.find("失败，失败原因：socket status is error with 111!"), std::string::npos)
        << log;
    EXPECT_NE(
        log.find("用户登录网关(顺序)[127.0.0.1/" + std::to_string(gateway.gatewayPort()) + "]成功"),
        std::string::npos);
}

TEST_F(CliLogin, takesThePasswordFromAFileAndReportsARefusal) {
    const auto file = root.path() / "password";
    ASSERT_TRUE(platform::writeFileAtomically(file, "wrong\n"));
    const CliRun run = cli("", "login --operator OPER01 --password-file '" + file.string() + "'");
    EXPECT_EQ(run.exitCode, 1);
    // The last gateway tried gives the reason.
    EXPECT_NE(run.output.find("登录失败,失败原因[网关主动关闭连接（用户名或密码不正确）!]"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(gateway.counters().refusedLogins.load(), 1);
}

TEST_F(CliLogin, withoutAPasswordNothingIsSent) {
    const CliRun run = cli("", "login");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("请输入密码！"), std::string::npos) << run.output;
    EXPECT_EQ(gateway.counters().connections.load(), 0);
}

TEST_F(CliLogin, permissionsListsEntriesAndTheMailboxesTheyOpen) {
    const CliRun run = cli("VANTREL_PASSWORD=pass1234", "permissions");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("A股信箱(FTP_A_QS): 可用"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("上市公司信箱(FTP_SG): 可用"), std::string::npos);
    EXPECT_NE(run.output.find("B股信箱(FTP_B_QS): 无权限"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
