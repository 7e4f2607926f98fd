// The client's update checks against the test update server: the flag-model swap, the
// version checks and the hand-over to the updater.

#include "client/update/update_checks.h"

#include <gmock/gmock.h>
#include <sys/wait.h>

#include <cstdlib>

#include "client/catalogue/flag_manager.h"
#include "client/update/headless_update.h"
#include "platform/ini_file.h"
#include "tests/catalogue/catalogue_fixture.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

void place(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    writeBytes(path, bytes);
}

class ScriptedPrompt final : public UserPrompt {
  public:
    bool askYesNo(const std::string&, const std::string& text, Icon) override {
        questions.push_back(text);
        return answer;
    }
    void show(const std::string&, const std::string& text, Icon) override { shown.push_back(text); }
    bool answer = false;
    std::vector<std::string> questions;
    std::vector<std::string> shown;
};

class RecordingHandOver final : public update::HandOverTarget {
  public:
    bool tasksRunning() override { return running; }
    void stopThreads() override { calls.push_back("stop"); }
    void closeMainWindow() override { calls.push_back("close"); }
    bool running = false;
    std::vector<std::string> calls;
};

class UpdateChecksTest : public CatalogueFixture {
  protected:
    void startServer(std::vector<std::pair<std::string, std::string>> values) {
        testgateway::TestGatewaySettings settings;
        settings.updateRoot = dir_.path() / "serve";
        settings.updateValues = std::move(values);
        server = std::make_unique<testgateway::TestGateway>(settings);
        ASSERT_TRUE(server->start().isOk());
        context_.prompt = &prompt;
        update::UpdateSettings s;
        s.productId = "HMRQ0001";
        s.clientVersion = "1.30.00";
        s.flagId = "FLAG0001";
        s.gateways = {{"127.0.0.1", "1", std::to_string(server->updatePort()), "30"}};
        s.cryptoLibrary = KORRIM_LIBRARY;
        checker = std::make_unique<update::UpdateChecker>(
            context_, s, &flags, [this](const platform::ChildOptions& o) -> Result<int> {
                launched.push_back(o);
                if (launchFails) return Status::error(ErrorKind::NotFound, "no such program");
                return 4242;
            });
    }
    void setIni(const char* section, const char* key, const std::string& value) {
        ASSERT_TRUE(
            platform::IniFile(installation_.clientIni()).setString(section, key, value).isOk());
    }
    std::string ini(const char* section, const char* key) {
        return platform::IniFile(installation_.clientIni()).getString(section, key, "");
    }
    std::string sysLog() { return logText(logs_.sysLogPath(clock_.localNow())); }
    std::filesystem::path model() const { return installation_.localconfig() / "flagmodel.conf"; }

    ScriptedPrompt prompt;
    catalogue::CFlagManager flags{context_};
    std::unique_ptr<testgateway::TestGateway> server;
    std::unique_ptr<update::UpdateChecker> checker;
    std::vector<platform::ChildOptions> launched;
    bool launchFails = false;
};

TEST(UpdateNames, serverNamesMustBePlainFileNames) {
    for (const char* good : {"vantrel-1.31.pkg", "1.31.00", "安装包.pkg"})
        EXPECT_TRUE(update::isPlainFileName(good)) << good;
    for (const char* bad : {"", ".", "..", "../x", "a/b", "a\\b", "c:x", "a\x01", "a\x7f"})
        EXPECT_FALSE(update::isPlainFileName(bad)) << bad;
    EXPECT_EQ(update::compareVersions("1.30.00A", "1.30.00a"), 0);
    EXPECT_GT(update::compareVersions("1.31.00", "1.30.00"), 0);
    EXPECT_LT(update::compareVersions("1.30", "1.30.00"), 0);
}

TEST_F(UpdateChecksTest, newerServerVersionStartsTheUpdaterWithSixArguments) {
    startServer({{"moduleversion", "1.31.00"}, {"packagename", "vantrel-131.pkg"}});
    setIni("update", "moduleversion", "1.30.00");
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdaterStarted);
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].program, installation_.bin() / "travex");
    EXPECT_THAT(launched[0].arguments,
                ElementsAre(installation_.clientIni().string(), "HMRQ0001", "1.30.00", "127.0.0.1",
                            std::to_string(server->updatePort()), "5"));
    EXPECT_EQ(checker->offer().packageName, "vantrel-131.pkg");
}

TEST_F(UpdateChecksTest, sameVersionFollowsTheInstallStateAndTheWaitingPackage) {
    startServer({{"moduleversion", "1.30.00A"}, {"packagename", "p.pkg"}});
    // A version differing only in case is the same version; installed: nothing to do.
    setIni("update", "moduleversion", "1.30.00a");
    setIni("update", "install", "1");
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kNothingToDo);
    // Not installed, no package here: the updater fetches it.
    setIni("update", "install", "0");
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdaterStarted);
    // Not installed, the package waits: the operator is asked, and No is respected.
    place(installation_.root() / "installdir" / "p.pkg", "package");
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kDeclined);
    EXPECT_THAT(prompt.questions, ElementsAre(update::kInstallQuestion));
    EXPECT_EQ(launched.size(), 1u);
    // Yes hands the package to the updater; the package itself is never started.
    prompt.answer = true;
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdaterStarted);
    ASSERT_EQ(launched.size(), 2u);
    EXPECT_EQ(launched[1].program, installation_.bin() / "travex");
    // An updater that cannot start is reported.
    launchFails = true;
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdaterFailed);
    EXPECT_THAT(sysLog(), HasSubstr("系统更新：启动升级进程失败！"));
}

TEST_F(UpdateChecksTest, hostilePackageNamesStartNothing) {
    for (const char* name : {"../../bin/evil", "a/b.pkg", "c:evil", "x\x01y"}) {
        startServer({{"moduleversion", "1.99.00"}, {"packagename", name}});
        EXPECT_EQ(checker->startupCheck(), update::StartupResult::kNoServerVersion) << name;
        server->stop();
    }
    startServer({{"moduleversion", "../1.99"}, {"packagename", "p.pkg"}});
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kNoServerVersion);
    EXPECT_TRUE(launched.empty());
    // The operator is given the precise reason, not a missing version, also by the CLI.
    EXPECT_EQ(checker->failureText(), "系统更新：获取安装包名称失败!");
    EXPECT_THAT(sysLog(), HasSubstr("获取安装包名称失败!"));
    setIni("GateMultiple", "GateIP1", "127.0.0.1");
    setIni("GateMultiple", "GatePort1", "1");
    setIni("GateMultiple", "FtpPort1", std::to_string(server->updatePort()));
    const std::filesystem::path err = dir_.path() / "err";
    const std::string command = "VANTREL_RUNTIME_DIR='" + (dir_.path() / "run").string() +
                                "' '" VANTREL_CLI "' --root '" + installation_.root().string() +
                                "' update check >/dev/null 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(readBytes(err), "vantrel-cli update: 系统更新：获取安装包名称失败!\n");
}

TEST_F(UpdateChecksTest, startUpAfterAFailedUpdateGoesOnToTheLoginWithTheInstalledProgram) {
    // setup: a newer version whose package the server cannot deliver; the launcher runs the
    // real updater to its end
    startServer({{"moduleversion", "1.31.00"}, {"packagename", "vantrel-131.pkg"}});
    setIni("update", "moduleversion", "1.30.00");
    setIni("update", "install", "1");
    setIni("update", "dllpath", KORRIM_LIBRARY);
    int updaterExit = -1;
    checker = std::make_unique<update::UpdateChecker>(
        context_, checker->settings(), &flags, [&](const platform::ChildOptions& o) -> Result<int> {
            launched.push_back(o);
            platform::ChildOptions headless = o;
            headless.program = TRAVEX;  // the test root has no bin/
            headless.workingDirectory.clear();
            headless.arguments.insert(headless.arguments.begin(), "--headless");
            headless.quiet = true;
            Result<int> exit = platform::runAndWait(headless, std::chrono::seconds(60));
            EXPECT_TRUE(exit.isOk()) << exit.status().text();
            updaterExit = exit ? *exit : -1;
            return 4242;
        });
    // act: the first start hands over; the updater fails and leaves install at 0
    ASSERT_EQ(checker->startupCheck(), update::StartupResult::kUpdaterStarted);
    ASSERT_EQ(updaterExit, 1);
    ASSERT_EQ(ini("update", "install"), "0");
    // verify: the next start does not hand over again, and says why
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdateIncomplete);
    EXPECT_EQ(launched.size(), 1u);
    EXPECT_THAT(checker->failureText(), HasSubstr("上次更新[1.31.00]未能完成"));
    EXPECT_THAT(checker->failureText(), HasSubstr("文件不存在"));
    EXPECT_THAT(checker->failureText(), HasSubstr("继续使用已安装的程序"));
    EXPECT_EQ(ini("update", "moduleversion"), "1.30.00");
    // A version other than the failed one is fetched again.
    server->stop();
    startServer({{"moduleversion", "1.32.00"}, {"packagename", "vantrel-132.pkg"}});
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdaterStarted);
    // A run that failed at its login learnt no version: it holds for the present offer only.
    setIni("update", "lastfailure", "版本更新登录失败");
    setIni("update", "failedversion", "");
    EXPECT_EQ(checker->startupCheck(), update::StartupResult::kUpdateIncomplete);
    EXPECT_EQ(ini("update", "failedversion"), "1.32.00");
}

TEST_F(UpdateChecksTest, nightHandOverWaitsForRunningTasksThenStopsInOrder) {
    startServer({{"moduleversion", "1.30.00"}, {"packagename", "p.pkg"}});
    setIni("update", "moduleversion", "1.30.00");
    setIni("update", "install", "0");
    RecordingHandOver target;
    target.running = true;
    EXPECT_EQ(checker->nightCheck(target), update::NightResult::kDeferred);
    EXPECT_TRUE(launched.empty());
    EXPECT_TRUE(target.calls.empty());
    target.running = false;
    EXPECT_EQ(checker->nightCheck(target), update::NightResult::kHandedOver);
    EXPECT_EQ(launched.size(), 1u);
    EXPECT_THAT(target.calls, ElementsAre("stop", "close"));
    // A newer version is offered to the window instead.
    setIni("update", "moduleversion", "1.20.00");
    EXPECT_EQ(checker->nightCheck(target), update::NightResult::kNewerOffered);
    EXPECT_EQ(checker->offer().version, "1.30.00");
}

TEST_F(UpdateChecksTest, withoutAWindowTheNightCheckOnlyLogsTheOfferUnlessServeInstallIsSet) {
    // setup: a newer version, and an updater that records how it was run
    startServer({{"moduleversion", "1.31.00"}, {"packagename", "v131.pkg"}});
    setIni("update", "moduleversion", "1.30.00");
    const std::filesystem::path travex = installation_.bin() / "travex";
    const std::filesystem::path ran = installation_.root() / "travex.args";
    place(travex, "#!/bin/sh\necho \"$@\" > '" + ran.string() + "'\nexit 3\n");
    std::filesystem::permissions(travex, std::filesystem::perms::owner_all);
    update::HeadlessUpdate headless(context_, *checker);

    // act and verify: by default the offer is only logged
    headless.nightCheck();
    EXPECT_FALSE(headless.waiting());
    EXPECT_THAT(sysLog(), HasSubstr("系统更新：服务器提供新版本[1.31.00]，安装包[v131.pkg]"));
    EXPECT_THAT(sysLog(), HasSubstr("不安装"));
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(std::filesystem::exists(ran));

    // With ServeInstall the threads stop first, then the updater runs headless to its end.
    setIni("update", "ServeInstall", "1");
    headless.nightCheck();
    ASSERT_TRUE(headless.waiting());
    std::vector<std::string> order;
    EXPECT_EQ(headless.install([&] {
        order.push_back(std::filesystem::exists(ran) ? "updater first" : "stop");
    }),
              update::HeadlessUpdate::kRestartExitCode);
    EXPECT_THAT(order, ElementsAre("stop"));
    EXPECT_EQ(logText(ran), "--headless " + installation_.clientIni().string() +
                                " HMRQ0001 1.30.00 127.0.0.1 " +
                                std::to_string(server->updatePort()) + " 5\n");
    EXPECT_THAT(sysLog(), HasSubstr("系统更新：升级程序结束，退出码[3]"));
    EXPECT_TRUE(prompt.questions.empty());
}

TEST_F(UpdateChecksTest, aPackageManagedRootNeverReplacesItsProgramButStillUpdatesTheFlagModel) {
    // setup: a newer program and a newer flag model on offer, in a root apt installed
    const std::string served =
        catalogue::BuildTableBytes(catalogue::FlagModelSpec(), localTime(2026, 12, 1));
    place(dir_.path() / "serve" / "flags" / "flagmodel.conf", served);
    startServer(
        {{"moduleversion", "1.31.00"}, {"packagename", "v131.pkg"}, {"flagversion", "20261207"}});
    setIni("update", "moduleversion", "1.30.00");
    setIni("update", "ServeInstall", "1");
    setIni("update_flag", "flagmoduleversion", "20261201");
    setIni("update_flag", "flagservpath", "flags");
    writeBytes(installation_.root() / update::kPackageManagedMarker, "vantrel\n");
    update::HeadlessUpdate headless(context_, *checker);

    // act: serve's night, the window's start-up check, `update apply`
    EXPECT_EQ(checker->updateConfigFile(), 1) << sysLog();
    headless.nightCheck();
    const update::StartupResult startup = checker->startupCheck();
    const Result<int> apply = checker->runUpdaterHeadless();

    // verify: the flag model is new, no updater ran, and each path says why
    EXPECT_EQ(readBytes(model()), served);
    EXPECT_FALSE(headless.waiting());
    EXPECT_EQ(startup, update::StartupResult::kUpdaterFailed);
    ASSERT_FALSE(apply);
    EXPECT_EQ(apply.status().text(), update::kPackageManagedRefusal);
    EXPECT_TRUE(launched.empty());
    EXPECT_THAT(prompt.shown, ElementsAre(update::kPackageManagedRefusal));
    EXPECT_THAT(sysLog(), HasSubstr("系统更新：本机程序由软件包(apt)管理，不能自行升级"));
}

TEST_F(UpdateChecksTest, flagModelUpdateSwapsTheFileAndKeepsTodaysArrivals) {
    // setup: the day list already records an arrival; the manager is fresh, as before login
    clock_.setLocal(localTime(2026, 12, 7, 9, 0, 0));
    {
        catalogue::TableSpec spec = catalogue::FlagModelSpec();
        spec.rows = {{{"FLAGNAME", "ABC"}}};
        installTemplate(spec);
        catalogue::CFlagManager earlier(context_);
        earlier.RecordFlagFile("ABC.c07", "09:00:00");
    }
    catalogue::TableSpec served = catalogue::FlagModelSpec();
    served.rows = {{{"FLAGNAME", "ABC"}}, {{"FLAGNAME", "NEW"}}};
    const std::string newModel = catalogue::BuildTableBytes(served, localTime(2026, 12, 1));
    place(dir_.path() / "serve" / "flags" / "flagmodel.conf", newModel);
    const std::string oldModel = readBytes(model());
    startServer({{"flagversion", "20261207"}});
    setIni("update_flag", "flagmoduleversion", "20261201");
    setIni("update_flag", "flagservpath", "flags");
    // A crash between the renames of an earlier run left a stale copy.
    writeBytes(installation_.localconfig() / "flagmodel.conf.new", "stale");
    // act
    EXPECT_EQ(checker->updateConfigFile(), 1) << sysLog();
    // verify
    EXPECT_EQ(readBytes(model()), newModel);
    EXPECT_EQ(readBytes(installation_.localconfig() / "flagmodel.conf.old"), oldModel);
    EXPECT_FALSE(std::filesystem::exists(installation_.localconfig() / "flagmodel.conf.new"));
    EXPECT_EQ(ini("update_flag", "flagmoduleversion"), "20261207");
    EXPECT_EQ(flags.Flags(),
              (std::map<std::string, std::string>{{"ABC", "09:00:00"}, {"NEW", ""}}));
    EXPECT_THAT(sysLog(), HasSubstr("成功!版本号为[20261207]"));
    // Same version again: nothing to do.
    EXPECT_EQ(checker->updateConfigFile(), 0);
}

TEST_F(UpdateChecksTest, failedFlagModelDownloadKeepsTheFileAndTheVersion) {
    startServer({{"flagversion", "20261207"}});  // nothing served: the download fails
    setIni("update_flag", "flagmoduleversion", "20261201");
    const std::string oldModel = readBytes(model());
    EXPECT_EQ(checker->updateConfigFile(), -1);
    EXPECT_EQ(readBytes(model()), oldModel);
    EXPECT_FALSE(std::filesystem::exists(installation_.localconfig() / "flagmodel.conf.new"));
    EXPECT_EQ(ini("update_flag", "flagmoduleversion"), "20261201");
    EXPECT_THAT(sysLog(), HasSubstr("从配置文件服务器下载配置文件失败"));
    // After a crash that left only ".old", a failed attempt puts it back.
    std::filesystem::rename(model(), installation_.localconfig() / "flagmodel.conf.old");
    EXPECT_EQ(checker->updateConfigFile(), -1);
    EXPECT_EQ(readBytes(model()), oldModel);
}

}  // namespace
}  // namespace vantrel::testing
