// Client.ini as CConfig reads and writes it: defaults, validation, the gateway list, the
// no-unpack list, the path readers and the real-time report record.

#include "client/config/config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "platform/clock.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

class ConfigTest : public ::testing::Test {
  protected:
    ConfigTest() : installation_(dir_.path() / "root", dir_.path() / "run") {
        std::filesystem::create_directories(installation_.localconfig());
    }
    void writeIni(const std::string& text) {
        std::ofstream(installation_.clientIni(), std::ios::binary) << text;
    }
    CConfig loaded() {
        CConfig config(installation_);
        config.load();
        return config;
    }
    std::string rawValue(const std::string& section, const std::string& key) {
        return platform::IniFile(installation_.clientIni()).getString(section, key, "<missing>");
    }

    testing::TempDir dir_;
    Installation installation_;
};

const GatewayEntry kEmptyGateway{"", "", "8021", "30"};

TEST_F(ConfigTest, aMissingFileGivesEveryDefault) {
    const CConfig c = loaded();
    EXPECT_EQ(c.clientIniPath, installation_.root() / "localconfig" / "Client.ini");
    EXPECT_EQ(c.transCounts, 5);
    EXPECT_EQ(c.operatorCode, "");
    EXPECT_EQ(c.password, "");
    EXPECT_EQ(c.productId, "HMRQ0001");
    EXPECT_EQ(c.version, "01.30.00_20200828");
    EXPECT_EQ(c.flagId, "FLAG0001");
    EXPECT_EQ(c.historyDays, 30);
    EXPECT_EQ(c.flagFileExtend, ".rdy");
    EXPECT_EQ(c.closeFlag, 0);
    EXPECT_EQ(c.diskSpace, 1000);
    EXPECT_EQ(c.sendThreadCount, 2);
    EXPECT_EQ(c.recvThreadCount, 2);
    EXPECT_EQ(c.installState, 0);
    EXPECT_EQ(c.gateType, 0);
    EXPECT_EQ(c.selectTimeOut, 5);
    EXPECT_TRUE(c.noUnzipFileTypes.empty());
    EXPECT_EQ(c.readAutoSyncDay(), 15);
    EXPECT_EQ(c.readForceTimeMulti(), 3);
    EXPECT_EQ(c.readModuleVersion(), "");
    EXPECT_EQ(c.readFlagModuleVersion(), "");
    EXPECT_EQ(c.readFlagServPath(), "");
    EXPECT_EQ(c.readCleanHisDate(), "");
}

TEST_F(ConfigTest, withoutNumberedGatewaysTheNetworkSectionFillsEntryOne) {
    writeIni("[network]\nTransCounts=3\n");
    const CConfig c = loaded();
    ASSERT_EQ(c.gateways.size(), 5u);
    EXPECT_EQ(c.gateways[0], (GatewayEntry{"127.0.0.1", "8888", "8021", "30"}));
    for (int i = 1; i < 5; ++i) EXPECT_EQ(c.gateways[i], kEmptyGateway) << i;
}

TEST_F(ConfigTest, networkFastPortAndTimeOutAreCopiedIntoTheOtherEntries) {
    writeIni("[network]\nGateIP=10.0.0.1\nGatePort=9000\nFtpPort=7000\nTimeOut=12\n");
    const CConfig c = loaded();
    EXPECT_EQ(c.gateways[0], (GatewayEntry{"10.0.0.1", "9000", "7000", "12"}));
    for (int i = 1; i < 5; ++i) EXPECT_EQ(c.gateways[i], (GatewayEntry{"", "", "7000", "12"})) << i;
}

TEST_F(ConfigTest, numberedGatewaysAreReadAndNormalised) {
    writeIni(
        "[GateMultiple]\n"
        "GateIP1=0.0.0.0\nGatePort1=08888\n"
        "GateIP2=  192.168.1.5  \nGatePort2= 0021 \nFtpPort2=9021\nTimeOut2=45\n"
        "GateIP4=10.1.1.1\nGatePort4=12ab\n");
    const CConfig c = loaded();
    ASSERT_EQ(c.gateways.size(), 5u);
    // "0.0.0.0" means no address; the leading zero goes from the port.
    EXPECT_EQ(c.gateways[0], (GatewayEntry{"", "8888", "8021", "30"}));
    EXPECT_FALSE(c.gateways[0].usable());
    EXPECT_EQ(c.gateways[1], (GatewayEntry{"192.168.1.5", "21", "9021", "45"}));
    EXPECT_TRUE(c.gateways[1].usable());
    EXPECT_EQ(c.gateways[2], kEmptyGateway);
    // The integer read stops at the first non-digit.
    EXPECT_EQ(c.gateways[3], (GatewayEntry{"10.1.1.1", "12", "8021", "30"}));
    EXPECT_EQ(c.gateways[4], kEmptyGateway);
}

TEST_F(ConfigTest, anAddressWithoutAPortIsNotCompleteSoTheNetworkSectionIsUsed) {
    writeIni("[GateMultiple]\nGateIP1=10.0.0.9\n[network]\nGateIP=10.0.0.1\nGatePort=08080\n");
    const CConfig c = loaded();
    EXPECT_EQ(c.gateways[0], (GatewayEntry{"10.0.0.1", "8080", "8021", "30"}));
}

TEST_F(ConfigTest, theNetworkAnyAddressIsReadAsEmpty) {
    writeIni("[network]\nGateIP=0.0.0.0\n");
    const CConfig c = loaded();
    EXPECT_EQ(c.gateways[0].address, "");
    EXPECT_FALSE(c.gateways[0].usable());
}

TEST_F(ConfigTest, gatewayUsabilityNeedsAnAddressAndAPortInRange) {
    EXPECT_TRUE((GatewayEntry{"h", "1", "", ""}).usable());
    EXPECT_TRUE((GatewayEntry{"h", "65535", "", ""}).usable());
    EXPECT_FALSE((GatewayEntry{"h", "0", "", ""}).usable());
    EXPECT_FALSE((GatewayEntry{"h", "65536", "", ""}).usable());
    EXPECT_FALSE((GatewayEntry{"h", "", "", ""}).usable());
    EXPECT_FALSE((GatewayEntry{"", "80", "", ""}).usable());
}

TEST_F(ConfigTest, workerCountAndSelectTimeOutAreKeptInRange) {
    const std::pair<const char*, int> workers[] = {{"0", 1}, {"-4", 1},  {"1", 1},
                                                   {"9", 9}, {"10", 10}, {"25", 10}};
    for (const auto& [value, expected] : workers) {
        writeIni(std::string("[network]\nTransCounts=") + value + "\n");
        EXPECT_EQ(loaded().transCounts, expected) << value;
        EXPECT_EQ(CConfig(installation_).readTransCounts(), expected) << value;
    }
    const std::pair<const char*, int> timeOuts[] = {
        {"2", 5}, {"3", 3}, {"60", 60}, {"61", 5}, {"x", 5}};
    for (const auto& [value, expected] : timeOuts) {
        writeIni(std::string("[GateMultiple]\nSelectTimeOut=") + value + "\n");
        EXPECT_EQ(loaded().selectTimeOut, expected) << value;
        EXPECT_EQ(CConfig(installation_).readSelectTimeOut(), expected) << value;
    }
}

TEST_F(ConfigTest, anyNonZeroGateTypeMeansRandomOrder) {
    for (const auto& [value, expected] : {std::pair{"0", 0}, {"1", 1}, {"7", 1}, {"-1", 1}}) {
        writeIni(std::string("[GateMultiple]\nGateType=") + value + "\n");
        EXPECT_EQ(loaded().gateType, expected) << value;
    }
}

TEST_F(ConfigTest, dayCountsBelowOneReadAsTheirDefaults) {
    writeIni("[system]\nHistoryDays=0\nAutoSyncDay=-3\n");
    EXPECT_EQ(loaded().historyDays, 30);
    EXPECT_EQ(CConfig(installation_).readHistoryDays(), 30);
    EXPECT_EQ(CConfig(installation_).readAutoSyncDay(), 15);
    writeIni("[system]\nHistoryDays=1\nAutoSyncDay=1\n");
    EXPECT_EQ(CConfig(installation_).readHistoryDays(), 1);
    EXPECT_EQ(CConfig(installation_).readAutoSyncDay(), 1);
}

TEST_F(ConfigTest, anEmptyVersionReadsAsTheDefaultAndTextValuesAreTrimmed) {
    writeIni("[system]\nversion=\npdtid=PRD00002   \n[userinfo]\nOpertID=op01   \n");
    const CConfig c = loaded();
    EXPECT_EQ(c.version, "01.30.00_20200828");
    EXPECT_EQ(c.productId, "PRD00002");
    EXPECT_EQ(c.operatorCode, "op01");
}

TEST_F(ConfigTest, theNoUnpackListKeepsInnerBlanksAndDropsEmptyPieces) {
    EXPECT_EQ(CConfig::parseNoUnzipFileTypes("zip| rar|"),
              (std::vector<std::string>{"zip", " rar"}));
    EXPECT_EQ(CConfig::parseNoUnzipFileTypes("  |zip||doc  "),
              (std::vector<std::string>{"zip", "doc"}));
    EXPECT_EQ(CConfig::parseNoUnzipFileTypes("rar"), (std::vector<std::string>{"rar"}));
    EXPECT_TRUE(CConfig::parseNoUnzipFileTypes(" || ").empty());
    EXPECT_EQ(CConfig::formatNoUnzipFileTypes({}), "docx|pptx|xlsx|");
    EXPECT_EQ(CConfig::formatNoUnzipFileTypes({"zip", " rar"}), "zip| rar|");

    // Through the file: the stored value keeps its inner blank (quotes protect it).
    writeIni("[system]\nNoUnzipFileType=\"zip| rar|\"\n");
    EXPECT_EQ(loaded().noUnzipFileTypes, (std::vector<std::string>{"zip", " rar"}));
}

TEST_F(ConfigTest, saveWritesTheEditableKeysAndNeverThePassword) {
    writeIni("; kept comment\n[userinfo]\npassword=secret\n[other]\nx=1\n");
    CConfig c = loaded();
    c.operatorCode = "op7";
    c.historyDays = 14;
    c.flagFileExtend = ".ok";
    c.closeFlag = 2;
    c.gateType = 1;
    c.gateways[0] = {"0.0.0.0", "0", "8021", "30"};
    c.gateways[1] = {"10.0.0.2", "9001", "9021", "40"};
    c.selectTimeOut = 20;
    c.noUnzipFileTypes.clear();
    c.transCounts = 7;
    c.password = "changed";
    ASSERT_TRUE(c.save().isOk());

    EXPECT_EQ(rawValue("userinfo", "OpertID"), "op7");
    EXPECT_EQ(rawValue("userinfo", "password"), "secret");
    EXPECT_EQ(rawValue("system", "HistoryDays"), "14");
    EXPECT_EQ(rawValue("system", "FlagFileExtend"), ".ok");
    EXPECT_EQ(rawValue("system", "CloseFlag"), "2");
    EXPECT_EQ(rawValue("GateMultiple", "GateType"), "1");
    EXPECT_EQ(rawValue("GateMultiple", "GateIP1"), "");
    EXPECT_EQ(rawValue("GateMultiple", "GatePort1"), "");
    EXPECT_EQ(rawValue("GateMultiple", "GateIP2"), "10.0.0.2");
    EXPECT_EQ(rawValue("GateMultiple", "GatePort2"), "9001");
    EXPECT_EQ(rawValue("GateMultiple", "FtpPort2"), "9021");
    EXPECT_EQ(rawValue("GateMultiple", "TimeOut2"), "40");
    EXPECT_EQ(rawValue("GateMultiple", "TimeOut5"), "30");
    EXPECT_EQ(rawValue("GateMultiple", "SelectTimeOut"), "20");
    EXPECT_EQ(rawValue("system", "NoUnzipFileType"), "docx|pptx|xlsx|");
    EXPECT_EQ(rawValue("network", "TransCounts"), "7");
    EXPECT_EQ(rawValue("other", "x"), "1");

    const CConfig again = loaded();
    EXPECT_EQ(again.gateways[1], c.gateways[1]);
    EXPECT_EQ(again.noUnzipFileTypes, (std::vector<std::string>{"docx", "pptx", "xlsx"}));
}

TEST_F(ConfigTest, pathsAreJoinedToTheRoot) {
    CConfig c(installation_);
    c.readPaths();
    EXPECT_EQ(c.sendPath, installation_.root() / "send");
    EXPECT_EQ(c.sentPath, installation_.root() / "sent");
    EXPECT_EQ(c.recvPath, installation_.root() / "recv");

    writeIni("[default]\nsendpath=out/today\nrecvpath=/srv/in\n[Bullet]\ndefaultpath=Notices\n");
    c.readPaths();
    EXPECT_EQ(c.sendPath, installation_.root() / "out" / "today");
    EXPECT_EQ(c.recvPath, std::filesystem::path("/srv/in"));

    platform::FakeClock clock(platform::fromLocalTime({2026, 3, 9, 23, 59, 0, 0, 1}));
    EXPECT_EQ(c.todayBulletinDirectory(clock), installation_.root() / "Notices" / "20260309");
}

TEST_F(ConfigTest, singleValuesAreReadAndWrittenInPlace) {
    writeIni(
        "[update]\nmoduleversion=1.31.00 "
        "\ninstall=1\n[update_flag]\nflagmoduleversion=F2\nflagservpath=/flag\n");
    const CConfig c(installation_);
    EXPECT_EQ(c.readModuleVersion(), "1.31.00");
    EXPECT_EQ(c.readInstallState(), 1);
    EXPECT_EQ(c.readFlagModuleVersion(), "F2");
    EXPECT_EQ(c.readFlagServPath(), "/flag");
    ASSERT_TRUE(c.writeOperatorCode("op9").isOk());
    EXPECT_EQ(rawValue("userinfo", "OpertID"), "op9");
    ASSERT_TRUE(c.writeDiskSpace(250).isOk());
    EXPECT_EQ(c.readDiskSpace(), 250);
    ASSERT_TRUE(c.writeCleanHisDate("20261208").isOk());
    EXPECT_EQ(c.readCleanHisDate(), "20261208");
    ASSERT_TRUE(c.writeMailSavePath("/home/op/mail").isOk());
    EXPECT_EQ(c.readMailSavePath(), "/home/op/mail");
    EXPECT_EQ(rawValue("update", "moduleversion"), "1.31.00");
}

TEST_F(ConfigTest, realtimeReportSettingsRoundTripAsOneRecord) {
    const CConfig c(installation_);
    const RealtimeReportSettings defaults = c.readRealtimeReportSettings();
    EXPECT_EQ(defaults.receivePath, (installation_.root() / "sshbrev").string() + "/");
    EXPECT_EQ(defaults.manualReceivePath, (installation_.root() / "sshbrev_s").string());
    EXPECT_FALSE(defaults.stopped);
    EXPECT_FALSE(defaults.addDate);

    const RealtimeReportSettings changed{"/data/rt/", "/data/rt_s", true, true};
    ASSERT_TRUE(c.writeRealtimeReportSettings(changed).isOk());
    EXPECT_EQ(c.readRealtimeReportSettings(), changed);
    EXPECT_EQ(rawValue("sshbcfg", "runstate"), "0");
    EXPECT_EQ(rawValue("sshbcfg", "adddate"), "1");

    // Only exactly 1 means running, and only exactly 1 adds the date level.
    writeIni("[sshbcfg]\nrunstate=2\nadddate=2\n");
    EXPECT_TRUE(c.readRealtimeReportSettings().stopped);
    EXPECT_FALSE(c.readRealtimeReportSettings().addDate);
}

TEST_F(ConfigTest, malformedFilesGiveTheDefaults) {
    // Binary junk.
    std::mt19937 random(static_cast<unsigned>(::testing::UnitTest::GetInstance()->random_seed()));
    std::string junk(64 * 1024, '\0');
    for (char& ch : junk) ch = static_cast<char>(random());
    writeIni(junk);
    CConfig c = loaded();
    EXPECT_EQ(c.gateways.size(), 5u);
    EXPECT_GE(c.transCounts, 1);
    EXPECT_LE(c.transCounts, 10);

    // Huge lines and no [network] section.
    writeIni("[system]\npdtid=" + std::string(1 << 20, 'x') +
             "\nversion=" + std::string(100000, '_') + "\n");
    c = loaded();
    EXPECT_EQ(c.transCounts, 5);
    EXPECT_EQ(c.productId.size(), 259u);
    EXPECT_EQ(c.gateways[0], (GatewayEntry{"127.0.0.1", "8888", "8021", "30"}));

    // Keys outside any section count for nothing.
    writeIni("TransCounts=2\nGateIP=1.2.3.4\n");
    c = loaded();
    EXPECT_EQ(c.transCounts, 5);
    EXPECT_EQ(c.gateways[0].address, "127.0.0.1");
}

}  // namespace
}  // namespace vantrel
