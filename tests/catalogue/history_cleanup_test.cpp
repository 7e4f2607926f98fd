#include "client/execution/housekeeping/history_cleanup.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <fstream>

#include "client/catalogue/dbf_table.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/housekeeping/daily_jobs.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel {
namespace {

using testing::localTime;

class HistoryCleanupTest : public testing::CatalogueFixture {
  protected:
    HistoryCleanupTest() : cleanup_(installation_, clock_, &logs_) {}

    // A file last written `age` days before today (the fixture's today is 2026-12-08).
    std::filesystem::path file(const std::filesystem::path& path, int age) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        platform::LocalTime t = localTime(2026, 12, 8 - age, 10, 0, 0);
        EXPECT_TRUE(platform::setFileTime(path, platform::fromLocalTime(t)).isOk());
        return path;
    }

    HistoryCleanup cleanup_;
};

TEST_F(HistoryCleanupTest, oldLogsAndDataGoAndSubdirectoriesAlways) {
    // setup
    const auto log = installation_.log();
    const auto data = installation_.data();
    auto old = file(log / "SysLog20261108.log", 30);
    auto recent = file(log / "SysLog20261109.log", 29);
    auto nested = file(log / "sub" / "x.log", 0);
    auto memList = file(data / "filememlist.data", 40);
    auto autoSync = file(data / "20261101120000-00042-20261101.dat", 40);
    auto oldList = file(data / "T-20261001.dat", 60);
    // act
    cleanup_.CleanLocalHistory(30, {{"20261101120000-00042"}, {}, {}, {}});
    // verify
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(recent));
    EXPECT_FALSE(std::filesystem::exists(nested.parent_path()));
    EXPECT_TRUE(std::filesystem::exists(memList));
    EXPECT_TRUE(std::filesystem::exists(autoSync));
    EXPECT_FALSE(std::filesystem::exists(oldList));
}

TEST_F(HistoryCleanupTest, receiveDirectoriesLoseOldDatedFoldersSuccessAndUndeliveredFiles) {
    const auto dated = dir_.path() / "recv-dated";
    const auto plain = dir_.path() / "recv-plain";
    auto oldFolder = file(dated / "20261101" / "a.txt", 0);
    auto newFolder = file(dated / "20261201" / "a.txt", 0);
    auto notDate = file(dated / "2026abcd" / "a.txt", 0);
    auto plainFolder = file(plain / "20261101" / "a.txt", 0);
    auto oldSuccess = file(plain / "A_SUCCESS_20261101093005.txt", 0);
    auto newSuccess = file(plain / "A_SUCCESS_20261201093005.txt", 0);
    auto other = file(plain / "B.txt", 90);
    // an archive refused a month ago, and one still on its way
    auto oldReceived = file(plain / "evil.zip.tmp", 30);
    auto oldState = file(plain / "evil.zip.tmp.~block", 30);
    auto newReceived = file(plain / "big.dat.tmp", 29);
    cleanup_.CleanLocalHistory(30, {{}, {{dated, true}, {plain, false}}, {}, {}});
    EXPECT_FALSE(std::filesystem::exists(oldReceived));
    EXPECT_FALSE(std::filesystem::exists(oldState));
    EXPECT_TRUE(std::filesystem::exists(newReceived));
    EXPECT_FALSE(std::filesystem::exists(oldFolder.parent_path()));
    EXPECT_TRUE(std::filesystem::exists(newFolder));
    EXPECT_TRUE(std::filesystem::exists(notDate));
    EXPECT_TRUE(std::filesystem::exists(plainFolder))
        << "a task without dated folders keeps its subfolders";
    EXPECT_FALSE(std::filesystem::exists(oldSuccess));
    EXPECT_TRUE(std::filesystem::exists(newSuccess));
    EXPECT_TRUE(std::filesystem::exists(other));
}

TEST_F(HistoryCleanupTest, tmpAndBulletinsLoseLooseFilesAndOldDatedFolders) {
    const auto tmp = installation_.root() / "tmp";
    auto loose = file(tmp / "a.tmp", 0);
    auto oldDay = file(tmp / "20261101" / "x", 0);
    auto today = file(tmp / "20261208" / "x", 0);
    auto named = file(tmp / "keep" / "x", 0);
    auto bulletin = file(installation_.root() / "Bullet" / "20261001" / "b.txt", 0);
    cleanup_.CleanLocalHistory(30, {});
    EXPECT_FALSE(std::filesystem::exists(loose));
    EXPECT_FALSE(std::filesystem::exists(oldDay.parent_path()));
    EXPECT_TRUE(std::filesystem::exists(today));
    EXPECT_TRUE(std::filesystem::exists(named));
    EXPECT_FALSE(std::filesystem::exists(bulletin.parent_path()));
}

TEST_F(HistoryCleanupTest, readOnlyFilesAreDeletedAndSymlinksNotFollowed) {
    auto target = file(dir_.path() / "outside" / "precious.txt", 90);
    auto readOnly = file(installation_.log() / "ro" / "r.log", 90);
    ::chmod(readOnly.c_str(), 0444);
    std::filesystem::create_directory_symlink(dir_.path() / "outside",
                                              installation_.log() / "link");
    EXPECT_EQ(cleanup_.CleanDirectoryByAge(installation_.log(), 30, {}), 1);
    EXPECT_FALSE(std::filesystem::exists(readOnly));
    EXPECT_TRUE(std::filesystem::exists(target));
}

TEST_F(HistoryCleanupTest, theCatalogueHandsOverItsTasksAndPacksItsTables) {
    catalogue::CPlanDir dirs;
    catalogue::CModule module(context_, dirs);
    std::string message;
    catalogue::DownloadTask d;
    d.planid = "D";
    d.right = "public";
    d.recvpath = (dir_.path() / "r").string();
    d.hasrecvdir = 1;
    ASSERT_EQ(module.Add<catalogue::DownloadTask>(d, message), 1);
    d.planid = "E";
    ASSERT_EQ(module.Add<catalogue::DownloadTask>(d, message), 1);
    ASSERT_EQ(module.Delete<catalogue::DownloadTask>(d, message), 1);
    module.Load<catalogue::DownloadTask>();
    auto oldFolder = file(dir_.path() / "r" / "20261001" / "a", 0);
    cleanup_.CleanLocalHistory(30, CleanupTasksOf(module));
    EXPECT_FALSE(std::filesystem::exists(oldFolder));
    catalogue::CDbfImpl table;
    ASSERT_EQ(table.Open(installation_.localconfig() / catalogue::kDownloadTaskTable, 1), 1);
    EXPECT_EQ(table.GetRecordCount(), 1);
}

// A file that cannot be deleted, whoever runs the test (root deletes anything on disk).
class RefusingDeletion final : public platform::FileSystemWrapper {
  public:
    RefusingDeletion() : FileSystemWrapper(platform::FileSystem::real()) {}
    Status remove(const std::filesystem::path& path) override {
        if (path.filename() == "f") return statusFromErrno(EACCES, "remove " + path.string());
        return target().remove(path);
    }
};

TEST(DeleteTreeTest, reportsTheFileItCouldNotDelete) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() / "locked");
    std::ofstream(dir.path() / "locked" / "f") << "x";
    std::ofstream(dir.path() / "locked" / "g") << "x";
    RefusingDeletion files;
    EXPECT_EQ(HistoryCleanup::DeleteTree(dir.path(), files), 0);
    EXPECT_EQ(HistoryCleanup::LastDeletionError(),
              "删除文件 " + (dir.path() / "locked" / "f").string() +
                  " 失败(error code:" + std::to_string(EACCES) + ")");
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "locked" / "f"));
}

}  // namespace
}  // namespace vantrel
