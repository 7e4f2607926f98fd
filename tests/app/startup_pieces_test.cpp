// The small pieces of start-up: installation root, client version, disk-space check,
// single instance.

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "client/app/client_version.h"
#include "client/app/single_instance.h"
#include "client/base/installation.h"
#include "client/execution/housekeeping/disk_space_check.h"
#include "platform/event.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

TEST(Installation, theRootIsTwoLevelsAboveTheProgram) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() / "root" / "bin");
    const Installation inst =
        Installation::fromExecutable(dir.path() / "root" / "bin" / "vantrel-cli");
    EXPECT_EQ(inst.root(), std::filesystem::canonical(dir.path()) / "root");
    EXPECT_EQ(inst.bin(), inst.root() / "bin");
    EXPECT_EQ(inst.clientIni(), inst.root() / "localconfig" / "Client.ini");
    EXPECT_EQ(inst.dataSizeIni(), inst.root() / "localconfig" / "DataSize.ini");
    EXPECT_FALSE(inst.runtimeDirectory().empty());
    EXPECT_EQ(inst.tmpForDay({2026, 1, 5}), inst.root() / "tmp" / "20260105");
}

TEST(ClientVersion, theUnderscorePositionDecidesTheSevenCharacters) {
    EXPECT_EQ(clientVersionString("01.30.00_20200828"), "1.30.00");  // index 8: drop the first
    EXPECT_EQ(clientVersionString("1.31.02_20210101"), "1.31.02");   // index 7: the first seven
    EXPECT_EQ(clientVersionString("1.31.02"), "1.00.00");            // none
    EXPECT_EQ(clientVersionString("_1.31.02"), "1.00.00");           // index 0
    EXPECT_EQ(clientVersionString("001.30.00_x"), "1.00.00");        // index 9
    EXPECT_EQ(clientVersionString(""), "1.00.00");
    EXPECT_EQ(clientVersionString("abcdefg_h_"), "abcdefg");  // only the first "_" counts
}

class DiskSpaceTest : public ::testing::Test {
  protected:
    DiskSpaceCheck checkWith(std::optional<std::uint64_t> bytes) {
        return DiskSpaceCheck("/opt/vantrel/bin", [bytes](const std::filesystem::path& p) {
            EXPECT_EQ(p, std::filesystem::path("/opt/vantrel/bin"));
            return bytes;
        });
    }
    std::string message_ = "untouched";
};

TEST_F(DiskSpaceTest, exactlyTheMinimumPassesAndOneMegabyteLessFails) {
    constexpr std::uint64_t MB = 1048576;
    EXPECT_TRUE(checkWith(1000 * MB).enough(1000, message_));
    // One byte short of 1000 MB is 999 whole megabytes.
    EXPECT_FALSE(checkWith(1000 * MB - 1).enough(1000, message_));
    EXPECT_FALSE(checkWith(999 * MB).enough(1000, message_));
    EXPECT_EQ(message_,
              "您的磁盘[/opt/vantrel/bin]空间:999 M，已经少于系统所需最小值:1000 M，"
              "为了能够正常的进行业务操作，请您先进行磁盘清理!");
}

TEST_F(DiskSpaceTest, aSystemThatCannotTellPasses) {
    EXPECT_TRUE(checkWith(std::nullopt).enough(1000, message_));
    EXPECT_EQ(message_, "untouched");
}

TEST_F(DiskSpaceTest, megabytesAreWholeAndNeverWrap) {
    EXPECT_EQ(DiskSpaceCheck::megabytes(0), 0u);
    EXPECT_EQ(DiskSpaceCheck::megabytes((1ull << 20) - 1), 0u);
    EXPECT_EQ(DiskSpaceCheck::megabytes(5ull << 30), 5120u);
    EXPECT_EQ(DiskSpaceCheck::megabytes(1ull << 52), 0xFFFFFFFFu);
    EXPECT_TRUE(checkWith(1ull << 52).enough(1000, message_));
    EXPECT_TRUE(checkWith(0).enough(0, message_));
    EXPECT_TRUE(checkWith(0).enough(-5, message_));
}

TEST_F(DiskSpaceTest, theRealSourceAnswersForAnExistingDirectory) {
    std::string message;
    EXPECT_TRUE(DiskSpaceCheck(std::filesystem::temp_directory_path()).enough(0, message));
}

TEST(SingleInstance, aSecondHolderIsRefusedUntilTheFirstReleases) {
    testing::TempDir dir;
    const auto runtime = dir.path() / "run" / "nested";
    // Another thread stands for another process here; the cross-process case runs the
    // real program (cli_run_test).
    platform::Event held, release;
    std::thread holder([&] {
        SingleInstance first;
        std::string e;
        EXPECT_EQ(first.acquire(runtime, e), SingleInstance::Outcome::Acquired);
        held.set();
        release.wait();
        first.release();
        EXPECT_FALSE(first.held());
    });
    held.wait();
    SingleInstance second;
    std::string error;
    EXPECT_EQ(second.acquire(runtime, error), SingleInstance::Outcome::AlreadyRunning);
    release.set();
    holder.join();
    EXPECT_EQ(second.acquire(runtime, error), SingleInstance::Outcome::Acquired);
}

TEST(SingleInstance, anUnusableRuntimeDirectoryFailsWithAReason) {
    testing::TempDir dir;
    std::ofstream(dir.path() / "file") << "x";
    SingleInstance instance;
    std::string error;
    EXPECT_EQ(instance.acquire(dir.path() / "file" / "run", error),
              SingleInstance::Outcome::Failed);
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace vantrel
