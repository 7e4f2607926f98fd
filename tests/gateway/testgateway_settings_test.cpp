// The test gateway's settings file.

#include <gtest/gtest.h>

#include "tools/testgateway/settings.h"

namespace vantrel::testgateway {
namespace {

TEST(TestGatewaySettings, exampleFileReadsAsDocumented) {
    auto settings = loadSettings(VANTREL_SOURCE_DIR "/tools/testgateway/example.conf");
    ASSERT_TRUE(settings.isOk()) << settings.status().text();
    EXPECT_EQ(settings->businessDate, "20261208");
    EXPECT_EQ(settings->gatewayTime, "093000");
    EXPECT_EQ(settings->serialStart, 2026120800000001ull);
    EXPECT_EQ(settings->mailboxRoot, "/tmp/vantrel-mailboxes");
    const OperatorSettings* op = settings->findOperator("OPER0001");
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->password, "pass1234");
    ASSERT_EQ(op->permissions.size(), 2u);
    EXPECT_EQ(op->permissions[0].function, "**");
    EXPECT_EQ(settings->findOperator("LOCKED01")->refuse, "操作员已被锁定");
    EXPECT_EQ(settings->updateProduct, "HMRQ0001");
    ASSERT_EQ(settings->updateValues.size(), 2u);
    EXPECT_EQ(settings->updateValues[1],
              (std::pair<std::string, std::string>{"packagename", "v1.30.01.zip"}));
}

TEST(TestGatewaySettings, mistakesNameTheirLine) {
    const char* cases[][2] = {
        {"[gateway]\nSerialStart = 12x\n", "line 2"},
        {"[operator A]\nPermission = VRELKA,FTP_A_QS\n", "line 2"},
        {"Password = x\n", "line 1"},
        {"[gateway\n", "line 1"},
    };
    for (auto& c : cases) {
        auto settings = parseSettings(c[0]);
        ASSERT_FALSE(settings.isOk()) << c[0];
        EXPECT_NE(settings.status().text().find(c[1]), std::string::npos)
            << settings.status().text();
    }
}

}  // namespace
}  // namespace vantrel::testgateway
