// Whole-file replacements on a disk that fills up at each of their writes in turn: every
// one ends with a clear failure and the previous file intact, and completes once space is
// back.

#include <gmock/gmock.h>

#include "client/catalogue/download_list.h"
#include "client/catalogue/flag_manager.h"
#include "tests/catalogue/catalogue_fixture.h"
#include "tests/support/no_space_file_system.h"

namespace vantrel::catalogue {
namespace {

using testing::localTime;
namespace fs = std::filesystem;

class FullDiskTest : public testing::CatalogueFixture {
  protected:
    FullDiskTest() { context_.files = &disk_; }

    // Runs `replace` with the disk full from its 1st, 2nd, ... block-needing call, until a
    // run needs fewer calls than that; each failed run must leave `file` byte-exact and no
    // temporary beside it. Then space returns and `replace` must succeed. Returns the
    // number of calls a successful replacement needs.
    int fillAtEveryWrite(const fs::path& file, const std::function<bool()>& replace) {
        const std::string before = testing::readBytes(file);
        for (int n = 1; n < 500; ++n) {
            disk_.failFrom(n);
            const bool done = replace();
            if (disk_.failures() == 0) {
                EXPECT_TRUE(done) << "with space for " << n << " calls";
                return disk_.calls();
            }
            if (done) {
                // The replacement was complete before the disk filled: what failed was a
                // handle's closing write to the file it replaced. The caller checks the new
                // version.
                EXPECT_NE(testing::readBytes(file), before) << "done at call " << n;
                disk_.spaceBack();
                return n - 1;
            }
            EXPECT_FALSE(done) << "disk full at call " << n;
            EXPECT_EQ(testing::readBytes(file), before) << "disk full at call " << n;
            for (const auto& entry : fs::directory_iterator(file.parent_path())) {
                EXPECT_NE(entry.path().extension(), ".tmp")
                    << entry.path() << " left at call " << n;
            }
            disk_.spaceBack();
        }
        ADD_FAILURE() << "never completed";
        return 0;
    }

    testing::NoSpaceFileSystem disk_;
};

TEST_F(FullDiskTest, downloadListRebuildOnAFullDiskKeepsTheOldList) {
    CDownLoadFile list(context_, nullptr, nullptr);
    ASSERT_EQ(list.Init("T1", CDownLoadFile::TaskKind::Download), 1) << list.LastError();
    list.SetReceiveDirectory(dir_.path() / "recv");
    ASSERT_EQ(list.RebuildList({{"old.txt", 1, "20261208", "08:00:00"}}), 1) << list.LastError();
    const int calls = fillAtEveryWrite(list.ListPath(), [&] {
        const bool rebuilt = list.RebuildList({{"new.txt", 2, "20261208", "09:00:00"}}) == 1;
        EXPECT_TRUE(rebuilt || !list.LastError().empty());
        return rebuilt;
    });
    EXPECT_GT(calls, 3);
    CDbfImpl table;
    ASSERT_EQ(table.Open(list.ListPath(), 1), 1);
    EXPECT_EQ(table.GetRecordCount(), 2);  // new.txt, and old.txt is not forgotten
}

TEST_F(FullDiskTest, flagListSwapOnAFullDiskKeepsTheDaysListAndSaysSo) {
    CFlagManager flags(context_);
    flags.LoadFlags();
    flags.RefreshFlags();
    fs::path day;
    ASSERT_TRUE(flags.TodayFlagListPath(day));
    ASSERT_TRUE(fs::exists(day));
    const auto known = flags.Flags();
    fillAtEveryWrite(day, [&] {
        flags.RefreshFlags();
        return disk_.failures() == 0;
    });
    EXPECT_EQ(flags.Flags(), known);
    EXPECT_THAT(logText(logs_.sysLogPath(clock_.localNow())),
                ::testing::HasSubstr("操作：更新标志文件"));
}

TEST_F(FullDiskTest, taskTablePackOnAFullDiskLeavesTheTableWhole) {
    const fs::path table = installation_.localconfig() / "recvplanVORN12000.conf";
    {
        TableSpec spec = DownloadTaskTableSpec();
        spec.rows = {{{"planID", "A"}}, {{"planID", "B"}}, {{"planID", "C"}}};
        testing::writeBytes(table, BuildTableBytes(spec, localTime(2026, 1, 1)));
        CDbfImpl open(clock_);
        ASSERT_EQ(open.Open(table, 2), 1);
        ASSERT_EQ(MarkRecordDeleted(1, open), 0);
        ASSERT_TRUE(open.Close());
    }
    fillAtEveryWrite(table, [&] { return PackTable(table, disk_) == 0; });
    CDbfImpl packed;
    ASSERT_EQ(packed.Open(table, 1), 1);
    EXPECT_EQ(packed.GetRecordCount(), 2);
}

TEST_F(FullDiskTest, tableCloseReportsAFailedWrite) {
    const fs::path path = installation_.localconfig() / "sendplanVORN12000.conf";
    testing::writeBytes(path, BuildTableBytes(UploadTaskTableSpec(), localTime(2026, 1, 1)));
    CDbfImpl table(clock_, disk_);
    ASSERT_EQ(table.Open(path, 2), 1);
    disk_.failFrom(1);
    EXPECT_EQ(table.AppendRow({{"planID", "A"}}), -1);
    EXPECT_FALSE(table.Close());
    EXPECT_FALSE(table.LastError().empty());
}

}  // namespace
}  // namespace vantrel::catalogue
