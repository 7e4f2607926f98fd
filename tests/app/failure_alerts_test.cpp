// The alert program of a failed run: its arguments travel as they are (no shell), and one
// that hangs is killed so later alerts still run.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "client/app/failure_alerts.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class CountingNotifier final : public Notifier {
  public:
    void post(const NotifierEvent&) override { ++events; }
    void send(const NotifierEvent&) override { ++events; }
    std::atomic<int> events{0};
};

class FailureAlertsTest : public ::testing::Test {
  protected:
    FailureAlertsTest() : installation(dir.path(), dir.path() / "run") {}

    void SetUp() override { fs::create_directories(installation.clientIni().parent_path()); }

    // A shell script (the test's own, not the client's way to run it) saved as the alert.
    void useScript(const std::string& body) {
        const fs::path script = dir.path() / "alert.sh";
        std::ofstream(script) << "#!/bin/sh\n" << body;
        ::chmod(script.c_str(), 0755);
        std::ofstream(installation.clientIni()) << "[alert]\nCommand=" << script.string() << "\n";
    }

    // The file's text once it exists (at most 10 s).
    std::string awaitFile(const fs::path& path) {
        for (int i = 0; i < 500 && !fs::exists(path); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    testing::TempDir dir;
    Installation installation;
    CountingNotifier inner;
};

TEST_F(FailureAlertsTest, theThreeValuesArriveAsArgumentsUntouchedByAnyShell) {
    const fs::path out = dir.path() / "out.txt";
    useScript("printf '%s|%s|%s' \"$1\" \"$2\" \"$3\" > '" + out.string() + ".tmp' && mv '" +
              out.string() + ".tmp' '" + out.string() + "'\n");
    FailureAlerts alerts(installation, inner, nullptr);
    alerts.post(TaskRunStateChanged{});
    alerts.post(TaskFailed{CatalogueTaskKind::Upload, "20261208-1",
                           "文件[a b.txt]上传失败：$(touch pwned); `id`"});
    EXPECT_EQ(awaitFile(out), "20261208-1|upload|文件[a b.txt]上传失败：$(touch pwned); `id`");
    EXPECT_EQ(inner.events, 2);
    EXPECT_FALSE(fs::exists(dir.path() / "pwned"));
}

TEST_F(FailureAlertsTest, aProgramThatHangsIsKilledAndTheNextAlertStillRuns) {
    const fs::path out = dir.path() / "second.txt";
    useScript("if [ \"$1\" = hang ]; then exec sleep 600; fi\necho \"$2\" > '" + out.string() +
              "'\n");
    FailureAlerts alerts(installation, inner, nullptr, std::chrono::milliseconds(200));
    alerts.post(TaskFailed{CatalogueTaskKind::Download, "hang", "x"});
    alerts.post(TaskFailed{CatalogueTaskKind::AutoSync, "next", "y"});
    EXPECT_EQ(awaitFile(out), "autosync\n");
}

}  // namespace
}  // namespace vantrel
