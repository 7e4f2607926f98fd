// The real vantrel-cli program: `run` start-up and shut-down, and a second instance.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>

#include "client/app/single_instance.h"
#include "platform/files.h"
#include "platform/named_lock.h"
#include "platform/text_codec.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

class CliRunTest : public ::testing::Test {
  protected:
    CliRunTest() {
        std::filesystem::create_directories(root_ / "bin");
        std::filesystem::create_directories(root_ / "localconfig");
        std::filesystem::copy_file(VANTREL_SOURCE_DIR "/localconfig/Client.ini",
                                   root_ / "localconfig" / "Client.ini");
    }

    // Runs vantrel-cli with the test's root and lock directory; returns the exit code.
    int runCli(const std::string& arguments, const std::string& prefix = "") {
        const std::string command = prefix + " VANTREL_RUNTIME_DIR='" + runtime_.string() +
                                    "' '" VANTREL_CLI_PATH "' --root '" + root_.string() + "' " +
                                    arguments + " 2>'" + stderrFile_.string() + "' >/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errorOutput() {
        auto text = platform::readFile(stderrFile_);
        return text ? text.value() : std::string();
    }
    // Every system log of the root, as UTF-8.
    std::string sysLogs() {
        std::string all;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(root_ / "log", ec)) {
            if (entry.path().filename().string().rfind("SysLog", 0) != 0) continue;
            auto text = platform::readFile(entry.path());
            if (text) all += platform::gbkToUtf8Lossy(text.value());
        }
        return all;
    }
    static bool has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

    testing::TempDir dir_;
    std::filesystem::path root_ = dir_.path() / "root";
    std::filesystem::path runtime_ = dir_.path() / "run";
    std::filesystem::path stderrFile_ = dir_.path() / "stderr.txt";
};

TEST_F(CliRunTest, offlineRunStartsAndShutsDownLeavingBothLines) {
    ASSERT_EQ(runCli("run --offline"), 0) << errorOutput();
    const std::string log = sysLogs();
    const auto started = log.find("系统启动！");
    const auto stopped = log.find("系统退出！");
    ASSERT_NE(started, std::string::npos) << log;
    ASSERT_NE(stopped, std::string::npos) << log;
    EXPECT_LT(started, stopped);
    for (const char* dir : {"send", "sent", "recv"})
        EXPECT_TRUE(std::filesystem::is_directory(root_ / dir)) << dir;
    const std::string err = errorOutput();
    EXPECT_TRUE(has(err, "offline: no gateway login")) << err;
    EXPECT_FALSE(has(err, "系统登录成功!")) << err;
    // The scheduled work starts and stops with the client; the window's timers are not
    // part of a headless client, so nothing is reported missing.
    EXPECT_FALSE(has(err, "background threads: not installed")) << err;
    EXPECT_FALSE(has(err, "timers")) << err;
    EXPECT_TRUE(has(log, "计划监控线程启动")) << log;
    EXPECT_TRUE(has(log, "用户关闭系统，监控线程退出")) << log;
}

TEST_F(CliRunTest, aRunWhoseLoginFailsStartsNothingButStillLogsTheExit) {
    // No operator code anywhere: the login fails before any connection is tried.
    EXPECT_EQ(runCli("run", "env -u VANTREL_OPERATOR -u VANTREL_PASSWORD -u VANTREL_PASSWORD_FILE"),
              1);
    EXPECT_FALSE(has(sysLogs(), "系统启动！"));
    EXPECT_TRUE(has(sysLogs(), "系统退出！"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "send"));
}

TEST_F(CliRunTest, aSecondInstanceSaysSoAndEndsWithCodeZero) {
    // This test process plays the running client.
    SingleInstance running;
    std::string error;
    ASSERT_EQ(running.acquire(runtime_, error), SingleInstance::Outcome::Acquired) << error;
    EXPECT_EQ(runCli("run --offline"), 0);
    EXPECT_TRUE(has(errorOutput(), "您已经运行了一个程序，不能再运行此程序!")) << errorOutput();
    // Nothing was started, so nothing was logged.
    EXPECT_FALSE(std::filesystem::exists(root_ / "log"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "send"));
    running.release();
    EXPECT_EQ(runCli("run --offline"), 0);
    EXPECT_TRUE(has(sysLogs(), "系统启动！"));
}

TEST_F(CliRunTest, badCommandLinesAreRefusedWithUsage) {
    EXPECT_EQ(runCli("frobnicate"), 2);
    EXPECT_TRUE(has(errorOutput(), "usage: vantrel-cli")) << errorOutput();
    EXPECT_EQ(runCli("run --bogus"), 2);
    EXPECT_FALSE(std::filesystem::exists(root_ / "log"));
}

}  // namespace
}  // namespace vantrel
