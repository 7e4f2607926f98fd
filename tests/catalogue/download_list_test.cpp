#include "client/catalogue/download_list.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <thread>

#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/list_engine.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel::catalogue {
namespace {

using testing::localTime;

class FakeEngine : public DownloadEngine {
  public:
    void startDownload(const DownloadWorkItem& item) override { started.push_back(item.fileName); }
    bool holds(const std::string&, int row) const override { return held.count(row) != 0; }
    std::string failureText(const std::string&, int) const override { return failure; }
    Status removeBlockState(const std::filesystem::path& dataFile) override {
        removed.push_back(dataFile);
        std::error_code ec;
        std::filesystem::remove(dataFile.string() + ".~block", ec);
        return Status::ok();
    }
    std::vector<std::string> started;
    std::set<int> held;
    std::string failure = "连接中断";
    std::vector<std::filesystem::path> removed;
};

class FakeFlags : public FlagRecorder {
  public:
    int IsFlagFile(const std::string& name) override { return name == "DONE.c08" ? 1 : 0; }
    void RecordFlagFile(const std::string& name, const std::string& time) override {
        recorded.push_back(name + "@" + time);
    }
    std::vector<std::string> recorded;
};

class DownloadListTest : public testing::CatalogueFixture {
  protected:
    DownloadListTest() : list_(context_, &engine_, &flags_) {
        receive_ = dir_.path() / "recv";
        std::filesystem::create_directories(receive_);
    }

    void init() {
        ASSERT_EQ(list_.Init("T1", CDownLoadFile::TaskKind::Download), 1) << list_.LastError();
        list_.SetReceiveDirectory(receive_);
    }

    // Live rows of the list file as "name|size|downsize|updatetime|loadtime|flag".
    std::vector<std::string> rows() {
        CDbfImpl table;
        EXPECT_EQ(table.Open(list_.ListPath(), 1), 1);
        std::vector<std::string> out;
        DbfRow row;
        for (int r = 0; r < table.GetRecordCount(); ++r) {
            EXPECT_TRUE(table.ReadRow(r, row));
            if (row.deleted()) continue;
            out.push_back(row.trimmed("filename") + "|" + row.trimmed("size") + "|" +
                          row.trimmed("downsize") + "|" + row.trimmed("updatetime") + "|" +
                          row.trimmed("loadtime") + "|" + row.trimmed("flag"));
        }
        return out;
    }

    void touch(const std::filesystem::path& path, const std::string& content = "x") {
        std::ofstream(path, std::ios::binary) << content;
    }

    FakeEngine engine_;
    FakeFlags flags_;
    CDownLoadFile list_;
    std::filesystem::path receive_;
};

TEST_F(DownloadListTest, initCreatesTheDaysListFromTheTemplate) {
    init();
    EXPECT_EQ(list_.ListPath(), installation_.data() / "T1-20261208.dat");
    EXPECT_EQ(list_.TaskLogPath(), installation_.log() / "T1-20261208.log");
    EXPECT_TRUE(std::filesystem::exists(list_.ListPath()));
    EXPECT_TRUE(rows().empty());
}

TEST_F(DownloadListTest, aWindowAcrossMidnightKeepsTheDayItStarted) {
    clock_.setLocal(localTime(2026, 12, 9, 1, 0, 0));
    ASSERT_EQ(list_.Init("T1", CDownLoadFile::TaskKind::Download, std::chrono::hours(2)), 1);
    EXPECT_EQ(list_.ListPath().filename(), "T1-20261208.dat");
}

TEST_F(DownloadListTest, withoutTemplateInitFails) {
    std::filesystem::remove(installation_.localconfig() / kDownloadListTemplate);
    EXPECT_EQ(list_.Init("T1", CDownLoadFile::TaskKind::Download), 0);
    EXPECT_EQ(list_.LastError(), "拷贝上传数据模板文件失败!");
}

TEST_F(DownloadListTest, aRowWithADeliveryTimeReadsBackDelivered) {
    init();
    ASSERT_EQ(list_.AppendRow("a.txt", "10", "10", "2026-12-08 08:00:00", "2026-12-08 09:00:00",
                              "2", "", ""),
              1);
    ASSERT_EQ(list_.AppendRow("b.txt", "10", "3", "2026-12-08 08:00:00", "", "2", "", ""), 1);
    ASSERT_EQ(list_.OpenList(), 1);
    EXPECT_THAT(rows(),
                ::testing::ElementsAre("a.txt|10|10|2026-12-08 08:00:00|2026-12-08 09:00:00|4",
                                       "b.txt|10|3|2026-12-08 08:00:00||2"));
}

TEST_F(DownloadListTest, onlyTheNewestFileOfANameIsListedWhateverTheOrder) {
    init();
    const std::vector<RemoteFileEntry> olderFirst = {{"R.txt", 5, "20261208", "10:00:00"},
                                                     {"r.TXT", 6, "20261208", "11:00:00"}};
    ASSERT_EQ(list_.RebuildList(olderFirst), 1) << list_.LastError();
    EXPECT_THAT(rows(), ::testing::ElementsAre("r.TXT|6||2026-12-08 11:00:00||0"));
    EXPECT_THAT(logText(list_.TaskLogPath()),
                ::testing::HasSubstr("存在同名文件，仅下载最新文件[r.TXT]!"));

    const std::vector<RemoteFileEntry> newerFirst = {{"S.txt", 6, "20261208", "11:00:00"},
                                                     {"S.txt", 5, "20261208", "10:00:00"}};
    ASSERT_EQ(list_.RebuildList(newerFirst), 1);
    EXPECT_THAT(rows(), ::testing::ElementsAre("S.txt|6||2026-12-08 11:00:00||0",
                                               "r.TXT|6||2026-12-08 11:00:00||0"));
}

TEST_F(DownloadListTest, rebuildingKeepsKnownFilesResetsChangedOnesAndForgetsNothing) {
    // setup: a delivered file, a partly fetched file, a file the next listing omits
    init();
    ASSERT_EQ(list_.RebuildList({{"kept.txt", 10, "20261208", "08:00:00"},
                                 {"changed.txt", 20, "20261208", "08:00:00"},
                                 {"omitted.txt", 30, "20261208", "08:00:00"}}),
              1);
    ASSERT_TRUE(list_.LoadWorkItems());
    ASSERT_EQ(list_.MarkDelivered(0), 1);
    ASSERT_EQ(list_.SetReceivedSize(1, 7), 1);
    ASSERT_EQ(list_.SetState(1, kTransferring), 1);
    touch(receive_ / "changed.txt.tmp");
    touch(receive_ / "changed.txt.tmp.~block");
    // act: the server now has a bigger changed.txt and does not mention omitted.txt
    ASSERT_EQ(list_.RebuildList({{"kept.txt", 10, "20261208", "08:00:00"},
                                 {"changed.txt", 25, "20261208", "08:00:00"},
                                 {"new.txt", 1, "20261208", "09:00:00"}}),
              1);
    // verify
    EXPECT_THAT(rows(),
                ::testing::ElementsAre("kept.txt|10|10|2026-12-08 08:00:00|2026-12-08 09:30:00|4",
                                       "changed.txt|25||2026-12-08 08:00:00||0",
                                       "new.txt|1||2026-12-08 09:00:00||0",
                                       "omitted.txt|30|0|2026-12-08 08:00:00||0"));
    EXPECT_FALSE(std::filesystem::exists(receive_ / "changed.txt.tmp"));
    EXPECT_FALSE(std::filesystem::exists(receive_ / "changed.txt.tmp.~block"));
    EXPECT_THAT(engine_.removed, ::testing::ElementsAre(receive_ / "changed.txt.tmp"));
    EXPECT_FALSE(std::filesystem::exists(list_.ListPath().string() + ".tmp"));
}

TEST_F(DownloadListTest, aFailedRebuildLeavesTheOldList) {
    init();
    ASSERT_EQ(list_.RebuildList({{"a.txt", 1, "20261208", "08:00:00"}}), 1);
    std::filesystem::remove(installation_.localconfig() / kDownloadListTemplate);
    EXPECT_EQ(list_.RebuildList({{"b.txt", 1, "20261208", "08:00:00"}}), 0);
    EXPECT_THAT(rows(), ::testing::ElementsAre("a.txt|1||2026-12-08 08:00:00||0"));
}

TEST_F(DownloadListTest, selectionAndAnEmptyListing) {
    init();
    ASSERT_EQ(list_.RebuildList({}), 1);
    EXPECT_TRUE(rows().empty());
    ASSERT_EQ(list_.RebuildList(
                  {{"a.zip", 1, "20261208", "08:00:00"}, {"b.txt", 1, "20261208", "08:00:00"}},
                  [](const std::string& name) { return name.ends_with(".zip"); }),
              1);
    EXPECT_EQ(rows().size(), 1u);
}

TEST_F(DownloadListTest, workItemsFollowThePartialFiles) {
    init();
    ASSERT_EQ(list_.AppendRow("done.txt", "5", "5", "t", "2026-12-08 09:00:00", "4", "", ""), 1);
    ASSERT_EQ(list_.AppendRow("gone.txt", "5", "3", "t", "", "2", "", ""), 1);
    ASSERT_EQ(list_.AppendRow("full.txt", "100", "0100", "t", "", "2", "", ""), 1);
    ASSERT_EQ(list_.AppendRow("part.txt", "100", "40", "t", "", "2", "", ""), 1);
    ASSERT_EQ(list_.AppendRow("odd.txt", "100", "40", "t", "", "x", "", ""), 1);
    touch(receive_ / "full.txt.tmp");
    touch(receive_ / "part.txt.tmp");
    touch(receive_ / "odd.txt.tmp");
    ASSERT_TRUE(list_.LoadWorkItems());
    EXPECT_EQ(list_.DeliveredCount(), 1);
    EXPECT_FALSE(list_.Item(0).has_value()) << "a delivered row gets no work item";
    EXPECT_EQ(list_.Item(1)->state, kFetchFromStart);
    EXPECT_EQ(list_.Item(1)->downSize, "0");
    EXPECT_EQ(list_.Item(2)->state, kTransferring) << "sizes compare as integers";
    EXPECT_EQ(list_.Item(3)->state, kFetchFromStart);
    EXPECT_EQ(list_.Item(4)->flag, '0');
    EXPECT_EQ(rows()[1], "gone.txt|5|0|t||0");
}

TEST_F(DownloadListTest, aRepeatedFailureIsCountedOnce) {
    init();
    ASSERT_EQ(list_.AppendRow("a.txt", "5", "0", "t", "", "0", "", ""), 1);
    ASSERT_TRUE(list_.LoadWorkItems());
    ASSERT_EQ(list_.RecordFailure(0, "超时"), 1);
    ASSERT_EQ(list_.RecordFailure(0, "超时"), 1);
    CDbfImpl table;
    ASSERT_EQ(table.Open(list_.ListPath(), 1), 1);
    DbfRow row;
    ASSERT_TRUE(table.ReadRow(0, row));
    EXPECT_EQ(row.trimmed("retry"), "1");
    EXPECT_EQ(row.trimmed("discript"), "超时");
    EXPECT_EQ(row.trimmed("modifytime"), "20261208");
    EXPECT_EQ(list_.Item(0)->retry, 1);
}

TEST_F(DownloadListTest, badArgumentsAndAClosedListLeaveTheirTexts) {
    EXPECT_EQ(list_.SetReceivedSize(-1, 1), 0);
    EXPECT_EQ(list_.LastError(), "函数输入参数不正确!");
    EXPECT_EQ(list_.RecordFailure(0, "x"), 0);
    EXPECT_EQ(list_.LastError(), "清单文件没有打开！");
    EXPECT_EQ(list_.SetState(-3, 0), 0);
    EXPECT_EQ(list_.LastError(), "输入函数参数不正确！");
    EXPECT_FALSE(list_.LoadWorkItems());
    EXPECT_EQ(list_.LastError(), "清单文件没有打开!");
}

TEST_F(DownloadListTest, startFileHandsTheItemToTheEngineAndFailuresAreBooked) {
    // setup
    init();
    ASSERT_EQ(list_.RebuildList({{"a.txt", 5, "20261208", "08:00:00"}}), 1);
    ASSERT_TRUE(list_.LoadWorkItems());
    // act: start, then the engine lets go of it
    ASSERT_EQ(list_.StartFile(0), 1);
    EXPECT_TRUE(std::filesystem::exists(receive_ / "a.txt.tmp"));
    EXPECT_THAT(engine_.started, ::testing::ElementsAre("a.txt"));
    EXPECT_EQ(list_.StartFile(0), 0) << "an item in transfer is not started twice";
    engine_.held = {0};
    EXPECT_EQ(list_.NextFailed()->fileName, "a.txt");
    engine_.held.clear();
    EXPECT_FALSE(list_.NextFailed().has_value());
    // verify
    EXPECT_EQ(rows()[0], "a.txt|5|0|2026-12-08 08:00:00||2");
    auto failed = eventsOf<DownloadItemFailed>();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].error, "连接中断");
    EXPECT_THAT(logText(list_.TaskLogPath()),
                ::testing::HasSubstr("下载文件[a.txt]失败，失败原因：连接中断"));
    // two more failures with new texts make three: the item is held for this run
    for (int i = 0; i < 2; ++i) {
        engine_.failure = "失败" + std::to_string(i);
        ASSERT_EQ(list_.StartFile(0), 1);
        list_.NextFailed();
    }
    EXPECT_EQ(list_.Item(0)->state, kHeld);
    EXPECT_TRUE(list_.Item(0)->finished);
    EXPECT_EQ(list_.StartFile(0), 0);
}

TEST_F(DownloadListTest, aRemoteNameCannotEscapeTheReceiveDirectory) {
    init();
    ASSERT_EQ(list_.AppendRow("../evil", "5", "0", "t", "", "0", "", ""), 1);
    ASSERT_TRUE(list_.LoadWorkItems());
    EXPECT_EQ(list_.StartFile(0), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "evil.tmp"));
    EXPECT_TRUE(engine_.started.empty());
}

TEST_F(DownloadListTest, deliveryStampsTheRowAndReportsFlagFiles) {
    init();
    ASSERT_EQ(list_.RebuildList(
                  {{"DONE.c08", 5, "20261208", "08:00:00"}, {"x.txt", 5, "20261208", "08:00:00"}}),
              1);
    ASSERT_TRUE(list_.LoadWorkItems());
    clock_.advance(std::chrono::seconds(5));
    ASSERT_EQ(list_.MarkDelivered(0), 1);
    ASSERT_EQ(list_.MarkDelivered(1), 1);
    EXPECT_THAT(flags_.recorded, ::testing::ElementsAre("DONE.c08@2026-12-08 09:30:05"));
    EXPECT_EQ(list_.DeliveredCount(), 2);
    ASSERT_EQ(list_.OpenList(), 1);
    EXPECT_EQ(rows()[0], "DONE.c08|5|5|2026-12-08 08:00:00|2026-12-08 09:30:05|4");
}

TEST_F(DownloadListTest, stampFileTimeSetsTheServersLocalTime) {
    auto file = dir_.path() / "f.txt";
    touch(file);
    ASSERT_TRUE(CDownLoadFile::StampFileTime(file, "2025-01-15 09:30:05"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    auto expected = std::chrono::system_clock::to_time_t(
        platform::fromLocalTime(localTime(2025, 1, 15, 9, 30, 5)));
    EXPECT_EQ(st.st_mtime, expected);
    EXPECT_FALSE(CDownLoadFile::StampFileTime(file, "2025-01-15"));
}

TEST_F(DownloadListTest, twoThreadsAppendingNeverInterleaveRecords) {
    init();
    auto writer = [this](const std::string& prefix) {
        for (int i = 0; i < 300; ++i) {
            const std::string name = prefix + std::to_string(i);
            list_.AppendRow(name, name, name, name, "", "0", "", name);
        }
    };
    std::thread a(writer, "a"), b(writer, "b");
    a.join();
    b.join();
    CDbfImpl table;
    ASSERT_EQ(table.Open(list_.ListPath(), 1), 1);
    ASSERT_EQ(table.GetRecordCount(), 600);
    DbfRow row;
    std::set<std::string> names;
    for (int r = 0; r < 600; ++r) {
        ASSERT_TRUE(table.ReadRow(r, row));
        const std::string name = row.trimmed("filename");
        EXPECT_EQ(row.trimmed("size"), name);
        EXPECT_EQ(row.trimmed("discript"), name);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 600u);
}

}  // namespace
}  // namespace vantrel::catalogue
