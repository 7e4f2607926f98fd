#pragma once
// A temporary installation, logs, a recording notifier and a test gateway on 127.0.0.1,
// for the tests that log in for real.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <memory>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/base/logs.h"
#include "client/gateway/vorn_ftp.h"
#include "platform/files.h"
#include "platform/tcp_socket.h"
#include "platform/text_codec.h"
#include "tests/support/temp_dir.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel {

inline testgateway::TestGatewaySettings fixtureSettings() {
    auto settings = testgateway::parseSettings(R"(
[gateway]
BusinessDate = 20261208
GatewayTime = 093015
SerialStart = 2026120800000001
[operator OPER01]
Password = pass1234
UserCode = U0000042
LoginCode = LC000042
Permission = VRELKA,FTP_A_QS,**,C
Permission = VRELKA,FTP_SG,00,c
Permission = VRELKA,FTP_B_QS,**,X
[operator LOCKED]
Password = pass1234
Refuse = 操作员已被锁定
[operator NOPERM]
Password = pass1234
[update]
Product = HMRQ0001
moduleversion = 1.30.01
packagename = v1.30.01.zip
)");
    EXPECT_TRUE(settings.isOk()) << settings.status().text();
    return settings.value();
}

// A port on 127.0.0.1 where nothing listens (connections are refused).
inline std::string refusingPort() {
    platform::TcpSocket s;
    EXPECT_EQ(s.listenOn(htonl(INADDR_LOOPBACK), 0, 1), 0);
    std::string port = std::to_string(s.localPort());
    s.close();
    return port;
}

class GatewayFixture : public ::testing::Test {
  protected:
    GatewayFixture()
        : installation(root.path(), root.path()),
          logs(installation, platform::RealClock::instance(), notifier),
          gateway(fixtureSettings()) {}

    void SetUp() override { ASSERT_TRUE(gateway.start()); }
    // Every test runs against the gateway's serial-number checks.
    void TearDown() override {
        gateway.stop();
        EXPECT_EQ(gateway.serialViolations(), expectedViolations);
    }

    Context context() {
        Context c;
        c.installation = installation;
        c.clock = &platform::RealClock::instance();
        c.notifier = &notifier;
        c.logs = &logs;
        return c;
    }

    GatewayEntry entry(std::uint16_t port, const std::string& timeOut = "30") {
        return GatewayEntry{"127.0.0.1", std::to_string(port), std::to_string(gateway.updatePort()),
                            timeOut};
    }

    // A handle for OPER01 with the fixture gateway as its only entry.
    std::unique_ptr<CVornFtp> makeHandle(const std::string& op = "OPER01",
                                         const std::string& password = "pass1234") {
        auto handle = std::make_unique<CVornFtp>(context(), process);
        handle->SetGatewayList({entry(gateway.gatewayPort())}, 0, "", op, password);
        return handle;
    }

    std::string sysLog() {
        auto text = platform::readFile(logs.sysLogPath(platform::RealClock::instance().localNow()));
        return text ? platform::gbkToUtf8Lossy(text.value()) : std::string();
    }

    testing::TempDir root;
    Installation installation;
    RecordingNotifier notifier;
    Logs logs;
    GatewayProcessState process;
    testgateway::TestGateway gateway;
    // The misuses of serial numbers a test commits on purpose.
    std::vector<std::string> expectedViolations;
};

}  // namespace vantrel
