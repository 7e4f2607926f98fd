#include "client/catalogue/upload_list.h"

#include <gmock/gmock.h>

#include <fstream>

#include "client/catalogue/keyed_digest.h"
#include "platform/ini_file.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel::catalogue {
namespace {

using ::testing::ElementsAre;
using testing::localTime;

class UploadListTest : public testing::CatalogueFixture {
  protected:
    UploadListTest() : list_(context_, nullptr) {
        task_.planid = "U1";
        task_.sendpath = (dir_.path() / "send").string();
        task_.sentpath = (dir_.path() / "sent").string();
        std::filesystem::create_directories(task_.sendpath);
    }

    void init() { ASSERT_EQ(list_.InitFileList(task_), 1) << list_.LastError(); }

    // A data file written at hh:mm today, with its ready marker unless told otherwise.
    std::filesystem::path ready(const std::string& name, int hour, int minute = 0,
                                bool marker = true, const std::string& content = "data") {
        const std::filesystem::path path = list_.SendDirectory() / name;
        std::ofstream(path, std::ios::binary) << content;
        EXPECT_TRUE(platform::setFileTime(
                        path, platform::fromLocalTime(localTime(2026, 12, 8, hour, minute)))
                        .isOk());
        if (marker) std::ofstream(path.string() + ".rdy") << "";
        return path;
    }

    std::vector<std::string> rowNames() {
        CDbfImpl table;
        EXPECT_EQ(table.Open(list_.ListPath(), 1), 1);
        std::vector<std::string> out;
        DbfRow row;
        for (int r = 0; r < table.GetRecordCount(); ++r) {
            EXPECT_TRUE(table.ReadRow(r, row));
            out.push_back(row.trimmed("filename") + "|" + row.trimmed("flag") + "|" +
                          row.trimmed("localsize"));
        }
        return out;
    }

    std::string rowField(int r, const char* name) {
        CDbfImpl table;
        EXPECT_EQ(table.Open(list_.ListPath(), 1), 1);
        std::string value;
        table.GetFieldValueByName(r, name, value);
        return TrimText(value);
    }

    UploadTask task_;
    CUpLoadFile list_;
};

TEST(KeyedDigestTest, theInterleavedLayoutPutsHighDigitsFirst) {
    std::array<unsigned char, 24> bytes;
    for (unsigned i = 0; i < 24; ++i) bytes[i] = static_cast<unsigned char>(i * 0x11);
    const std::string text = InterleavedHex(bytes);
    // bytes 00 11 22 .. ff 10 21 .. 87: high digits, then low digits
    EXPECT_EQ(text,
              "0123456789abcdef12345678"
              "0123456789abcdef01234567");
    EXPECT_EQ(FromInterleavedHex(text), bytes);
    EXPECT_FALSE(FromInterleavedHex(text.substr(1)).has_value());
    EXPECT_FALSE(FromInterleavedHex(std::string(48, 'g')).has_value());
}

TEST(KeyedDigestTest, aDigestVerifiesOnlyAgainstTheSameContent) {
    testing::TempDir dir;
    const auto file = dir.path() / "f";
    std::ofstream(file) << "hello";
    const auto digest = KeyedDigestOfFile(file);
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(digest->size(), 48u);
    EXPECT_TRUE(KeyedDigestMatches(file, *digest));
    std::ofstream(file) << "hellO";
    EXPECT_FALSE(KeyedDigestMatches(file, *digest));
    EXPECT_FALSE(KeyedDigestMatches(file, ""));
    EXPECT_FALSE(KeyedDigestMatches(dir.path() / "absent", *digest));
}

TEST_F(UploadListTest, onlyReadyFilesAreTakenOldestFirst) {
    init();
    ready("B", 10);
    ready("C", 9);
    ready("A", 9);
    ready("later.txt", 8, 0, false);
    std::vector<std::string> names;
    for (const auto& f : list_.ScanSendDirectory()) names.push_back(f.name);
    EXPECT_THAT(names, ElementsAre("A", "C", "B"));
    std::ofstream(list_.SendDirectory() / "later.txt.rdy") << "";
    EXPECT_EQ(list_.ScanSendDirectory().front().name, "later.txt");
}

TEST_F(UploadListTest, theReadySuffixComesFromTheSettings) {
    platform::IniFile ini(installation_.clientIni());
    ASSERT_TRUE(ini.setString("system", "FlagFileExtend", ".ok").isOk());
    init();
    ready("a.txt", 9);
    EXPECT_TRUE(list_.ScanSendDirectory().empty());
    std::ofstream(list_.SendDirectory() / "a.txt.ok") << "";
    EXPECT_EQ(list_.ScanSendDirectory().size(), 1u);
}

TEST_F(UploadListTest, datedDirectoriesAndTheListPath) {
    task_.hassenddir = 1;
    task_.hassentdir = 1;
    init();
    EXPECT_EQ(list_.SendDirectory(), std::filesystem::path(task_.sendpath) / "20261208");
    EXPECT_EQ(list_.SentDirectory(), std::filesystem::path(task_.sentpath) / "20261208");
    EXPECT_EQ(list_.ListPath(), installation_.data() / "U1-20261208.dat");
}

TEST_F(UploadListTest, newFilesAreListedOnce) {
    init();
    EXPECT_EQ(list_.AddNewFiles(), 0);
    ready("a.txt", 9, 0, true, "12345");
    ASSERT_EQ(list_.AddNewFiles(), 1);
    ASSERT_EQ(list_.AddNewFiles(), 1);
    EXPECT_THAT(rowNames(), ElementsAre("a.txt||5"));
    EXPECT_EQ(rowField(0, "modifytime"), "2026-12-08 09:00:00");
    EXPECT_EQ(rowField(0, "begintime"), "2026-12-08 09:30:00");
    EXPECT_TRUE(KeyedDigestMatches(list_.SendDirectory() / "a.txt", rowField(0, "md5")));
}

TEST_F(UploadListTest, aChangedFileIsResetAndNotListedTwice) {
    // setup: listed, partly sent, then changed on disk
    init();
    auto file = ready("a.txt", 9, 0, true, "12345");
    ready("same.txt", 9);
    ASSERT_EQ(list_.AddNewFiles(), 1);
    ASSERT_EQ(list_.SetUploadedSize(0, 3), 1);
    ASSERT_EQ(list_.SetUploadedSize(1, 2), 1);
    std::ofstream(file, std::ios::binary) << "1234567";
    std::ofstream(file.string() + ".~block") << "state";
    // act: the next run
    CUpLoadFile next(context_, nullptr);
    ASSERT_EQ(next.InitFileList(task_), 1);
    ASSERT_TRUE(next.LoadWorkItems());
    ASSERT_EQ(next.AddNewFiles(), 1);
    // verify
    EXPECT_THAT(rowNames(), ElementsAre("a.txt||7", "same.txt||4"));
    EXPECT_EQ(rowField(0, "uploadsize"), "0");
    EXPECT_EQ(rowField(0, "discript"), "文件MD5值发生改变，会重新添加发送文件！");
    EXPECT_TRUE(KeyedDigestMatches(file, rowField(0, "md5")));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".~block"));
    EXPECT_EQ(next.Item(0)->sentSize, "0");
    EXPECT_EQ(next.Item(1)->sentSize, "2") << "an unchanged file resumes";
    const auto notices = eventsOf<UploadItemChanged>();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].fileName, "a.txt");
}

TEST_F(UploadListTest, aVanishedFileGetsNoWorkItem) {
    init();
    auto file = ready("a.txt", 9);
    ASSERT_EQ(list_.AddNewFiles(), 1);
    std::filesystem::remove(file);
    ASSERT_TRUE(list_.LoadWorkItems());
    EXPECT_TRUE(list_.Items().empty());
    ASSERT_EQ(eventsOf<UploadItemChanged>().size(), 1u);
    EXPECT_EQ(eventsOf<UploadItemChanged>()[0].description, "该发送文件不存在！");
}

TEST_F(UploadListTest, sentFilesMoveUnderUniqueNamesAndLoseTheirMarkers) {
    init();
    auto file = ready("A.txt", 9, 0, true, "one");
    ASSERT_EQ(list_.AddNewFiles(), 1);
    ASSERT_EQ(list_.MarkSent(0), 1);
    ASSERT_EQ(list_.BackupSentFile(0), 1) << list_.LastError();
    EXPECT_TRUE(std::filesystem::exists(list_.SentDirectory() / "A_SUCCESS_20261208093000.txt"));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".rdy"));
    EXPECT_EQ(rowField(0, "flag"), "1");
    EXPECT_EQ(rowField(0, "endtime"), "2026-12-08 09:30:00");

    // the same name again, one second later, then again in the same second
    clock_.advance(std::chrono::seconds(1));
    ready("A.txt", 9, 0, true, "two");
    ASSERT_EQ(list_.AddNewFiles(), 1);
    ASSERT_EQ(list_.MarkSent(1), 1);
    ASSERT_EQ(list_.BackupSentFile(1), 1);
    EXPECT_TRUE(std::filesystem::exists(list_.SentDirectory() / "A_SUCCESS_20261208093001.txt"));
    ready("A.txt", 9, 0, true, "three");
    ASSERT_EQ(list_.AddNewFiles(), 1);
    ASSERT_EQ(list_.BackupSentFile(2), 1);
    EXPECT_TRUE(std::filesystem::exists(list_.SentDirectory() / "A_SUCCESS_20261208093001_1.txt"));
    std::ifstream first(list_.SentDirectory() / "A_SUCCESS_20261208093001.txt");
    std::string content;
    first >> content;
    EXPECT_EQ(content, "two") << "an existing sent file is never replaced";
    EXPECT_EQ(list_.SentCount(), 2);
}

TEST_F(UploadListTest, aNewDaysListTakesOverTheRowOfAFileThatIsStillTheSame) {
    // setup: yesterday one file was sent but not moved, one part sent, one sent and then
    // rewritten
    init();
    auto sent = ready("sent.txt", 9, 0, true, "sent");
    ready("part.txt", 9, 0, true, "partial");
    ready("rewritten.txt", 9, 0, true, "old");
    ASSERT_EQ(list_.AddNewFiles(), 1);
    // (rows by name: part.txt, rewritten.txt, sent.txt)
    ASSERT_EQ(list_.SetUploadedSize(0, 4), 1);
    ASSERT_EQ(list_.MarkSent(1), 1);
    ASSERT_EQ(list_.MarkSent(2), 1);
    ready("rewritten.txt", 9, 5, true, "new content");
    // act: the first run after midnight
    clock_.setLocal(localTime(2026, 12, 9, 0, 0, 30));
    CUpLoadFile next(context_, nullptr);
    ASSERT_EQ(next.InitFileList(task_), 1);
    ASSERT_TRUE(next.LoadWorkItems());
    ASSERT_EQ(next.AddNewFiles(), 1);
    // verify: the unchanged files keep their state, the rewritten one is sent anew
    EXPECT_EQ(next.ListPath(), installation_.data() / "U1-20261209.dat");
    const std::vector<UploadWorkItem> items = next.Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].fileName, "part.txt");
    EXPECT_EQ(items[0].sentSize, "4");
    EXPECT_FALSE(items[0].movePending);
    EXPECT_EQ(items[1].fileName, "sent.txt");
    EXPECT_TRUE(items[1].movePending);
    EXPECT_EQ(items[1].endTime, "2026-12-08 09:30:00");
    EXPECT_EQ(items[2].fileName, "rewritten.txt");
    EXPECT_EQ(items[2].flag, ' ');
    EXPECT_EQ(items[2].beginTime, "2026-12-09 00:00:30");
    EXPECT_EQ(next.SentCount(), 1);
    ASSERT_EQ(next.BackupSentFile(items[1].row), 1) << next.LastError();
    EXPECT_FALSE(std::filesystem::exists(sent));
}

TEST_F(UploadListTest, aFailedMoveKeepsTheMarker) {
    std::ofstream(dir_.path() / "blocked") << "a file where the sent directory should be";
    task_.sentpath = (dir_.path() / "blocked").string();
    init();
    auto file = ready("a.txt", 9);
    ASSERT_EQ(list_.AddNewFiles(), 1);
    EXPECT_EQ(list_.BackupSentFile(0), 0);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".rdy"));
}

TEST_F(UploadListTest, failuresAreCountedOnceAndArgumentsChecked) {
    EXPECT_EQ(list_.AddNewFiles(), 0);
    EXPECT_EQ(list_.LastError(), "请先调用接口InitFileListDbf！");
    init();
    ready("a.txt", 9);
    ASSERT_EQ(list_.AddNewFiles(), 1);
    ASSERT_EQ(list_.RecordFailure(0, "网络中断"), 1);
    ASSERT_EQ(list_.RecordFailure(0, "网络中断"), 1);
    EXPECT_EQ(rowField(0, "retry"), "1");
    EXPECT_EQ(list_.RecordFailure(-1, "x"), 0);
    EXPECT_EQ(list_.LastError(), "函数输入参数不正确！");
    ASSERT_EQ(list_.SetUploadedSize(0, 10), 1);
    EXPECT_EQ(rowField(0, "discript"), "");
}

}  // namespace
}  // namespace vantrel::catalogue
