// The three log writers: byte-exact records (vectors from doc/formats/logs.md), file per
// day, directory recreated, failures as -1, the real-time notice, and whole records when
// threads and processes write at once.

#include "client/base/logs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "platform/child_process.h"
#include "platform/files.h"
#include "platform/text_codec.h"
#include "platform/thread_id.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

const platform::LocalTime kMorning{2026, 12, 8, 9, 5, 3, 0, 2};

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

std::string readAll(const std::filesystem::path& path) {
    auto r = platform::readFile(path);
    return r ? r.value() : std::string("<unreadable>");
}

TEST(LogRecordFormat, systemLogRecordMatchesTheWorkedExample) {
    const std::string expected =
        "2026-12-08 09:05:03--[00001A2B]-" +
        bytes({0xCF, 0xB5, 0xCD, 0xB3, 0xC6, 0xF4, 0xB6, 0xAF, 0xA3, 0xA1}) + " \r\n";
    EXPECT_EQ(Logs::formatSysLogRecord(kMorning, 0x1A2B, "系统启动！"), expected);
    EXPECT_EQ(expected.size(), 45u);
    EXPECT_EQ(Logs::formatSysLogRecord(kMorning, 0xFFFFFFFF, ""),
              "2026-12-08 09:05:03--[FFFFFFFF]- \r\n");
}

TEST(LogRecordFormat, realtimeRecordKeepsTheBracketsEvenWithoutALevelName) {
    EXPECT_EQ(Logs::formatSssjRecord(kMorning, "abc", 1),
              "2026-12-08 09:05:03[" + bytes({0xBE, 0xAF, 0xB8, 0xE6}) + "]--abc \r\n");
    EXPECT_EQ(Logs::formatSssjRecord(kMorning, "abc", 9), "2026-12-08 09:05:03[]--abc \r\n");
    EXPECT_EQ(Logs::levelName(0), "消息");
    EXPECT_EQ(Logs::levelName(2), "错误");
    EXPECT_EQ(Logs::levelName(-1), "");
}

TEST(LogRecordFormat, taskRecordsMatchTheWorkedExamples) {
    const std::string tail = "\r\n" + std::string(1, '\0');
    const std::string stamp = "2026-12-08 09:05:03--";
    const std::string errorTag = "[" + bytes({0xB4, 0xED, 0xCE, 0xF3}) + "]";

    // Example 3: level 0, "下载完成".
    std::string text = stamp + "[" + bytes({0xCF, 0xFB, 0xCF, 0xA2}) + "]" +
                       bytes({0xCF, 0xC2, 0xD4, 0xD8, 0xCD, 0xEA, 0xB3, 0xC9});
    ASSERT_EQ(text.size(), 35u);
    EXPECT_EQ(Logs::formatTaskRecord(kMorning, "下载完成", 0), text + std::string(162, ' ') + tail);

    // Example 4: a Chinese character across byte 197 leaves a blank in its place.
    EXPECT_EQ(Logs::formatTaskRecord(kMorning, std::string(169, 'a') + "中", 2),
              stamp + errorTag + std::string(169, 'a') + " " + tail);
    // Example 5: the text ends exactly at byte 197.
    EXPECT_EQ(Logs::formatTaskRecord(kMorning, std::string(170, 'a') + "中", 2),
              stamp + errorTag + std::string(170, 'a') + tail);

    // Example 6: cut to 200 characters first, then at byte 197 between whole characters.
    std::string many;
    for (int i = 0; i < 300; ++i) many += "中";
    std::string expected = stamp + "[" + bytes({0xCF, 0xFB, 0xCF, 0xA2}) + "]";
    for (int i = 0; i < 85; ++i) expected += bytes({0xD6, 0xD0});
    EXPECT_EQ(Logs::formatTaskRecord(kMorning, many, 0), expected + tail);

    // Example 7: no level name, no brackets. Example 8: an empty message is all blanks.
    EXPECT_EQ(Logs::formatTaskRecord(kMorning, "abc", 5),
              stamp + "abc" + std::string(173, ' ') + tail);
    EXPECT_EQ(Logs::formatTaskRecord(kMorning, "", 1), std::string(197, ' ') + tail);
}

TEST(LogRecordFormat, everyTaskRecordIsTwoHundredBytesWithNoHalfCharacter) {
    std::mt19937 random(static_cast<unsigned>(::testing::UnitTest::GetInstance()->random_seed()));
    const char* pieces[] = {"a", "中", "文", " ", "9", "！"};
    for (int round = 0; round < 500; ++round) {
        std::string message;
        const int length = static_cast<int>(random() % 260);
        for (int i = 0; i < length; ++i) message += pieces[random() % 6];
        const std::string record =
            Logs::formatTaskRecord(kMorning, message, static_cast<int>(random() % 4));
        ASSERT_EQ(record.size(), 200u) << message;
        ASSERT_EQ(record.substr(197), std::string("\r\n") + '\0');
        const std::string text = record.substr(0, 197);
        // Decodes cleanly: no character is split at the cut.
        ASSERT_TRUE(platform::gbkToUtf8(text).isOk()) << message;
    }
}

class LogsTest : public ::testing::Test {
  protected:
    LogsTest()
        : installation_(dir_.path() / "root", dir_.path() / "run"),
          clock_(platform::fromLocalTime(kMorning)),
          logs_(installation_, clock_, notifier_) {}

    std::filesystem::path sysLog(const platform::LocalTime& day) { return logs_.sysLogPath(day); }

    testing::TempDir dir_;
    Installation installation_;
    platform::FakeClock clock_;
    RecordingNotifier notifier_;
    Logs logs_;
};

TEST_F(LogsTest, recordsGoToDailyFilesNamedByDate) {
    EXPECT_EQ(logs_.sysLogPath(kMorning), installation_.root() / "log" / "SysLog20261208.log");
    EXPECT_EQ(logs_.sssjLogPath(kMorning), installation_.root() / "log" / "SssjSysLog20261208.log");

    ASSERT_EQ(logs_.writeSysLog("one"), 0);
    clock_.setLocal({2026, 12, 8, 23, 59, 59, 900, 2});
    ASSERT_EQ(logs_.writeSysLog("two"), 0);
    clock_.advance(std::chrono::milliseconds(200));
    ASSERT_EQ(logs_.writeSysLog("three"), 0);

    const std::regex line(R"(2026-12-08 (09:05:03|23:59:59)--\[[0-9A-F]{8}\]-(one|two) \r\n)");
    const std::string first = readAll(sysLog(kMorning));
    EXPECT_TRUE(std::regex_match(first.substr(0, first.find('\n') + 1), line)) << first;
    EXPECT_NE(first.find("-two \r\n"), std::string::npos);
    EXPECT_EQ(first.find("three"), std::string::npos);
    const std::string next = readAll(sysLog({2026, 12, 9}));
    EXPECT_TRUE(
        std::regex_match(next, std::regex(R"(2026-12-09 00:00:00--\[[0-9A-F]{8}\]-three \r\n)")))
        << next;
}

TEST_F(LogsTest, theThreadIdIsTheWritersKernelThreadId) {
    ASSERT_EQ(logs_.writeSysLog("x"), 0);
    char id[16];
    std::snprintf(id, sizeof id, "[%08X]", platform::currentThreadId());
    EXPECT_NE(readAll(sysLog(kMorning)).find(id), std::string::npos);
}

TEST_F(LogsTest, aDeletedLogDirectoryIsCreatedAgain) {
    ASSERT_EQ(logs_.writeSysLog("before"), 0);
    std::filesystem::remove_all(installation_.log());
    ASSERT_EQ(logs_.writeSysLog("after"), 0);
    ASSERT_EQ(logs_.writeSssjSysLog("after", 0), 0);
    const std::string text = readAll(sysLog(kMorning));
    EXPECT_EQ(text.find("before"), std::string::npos);
    EXPECT_NE(text.find("-after \r\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(logs_.sssjLogPath(kMorning)));
}

TEST_F(LogsTest, aLogDirectoryThatCannotBeMadeGivesMinusOneAndNothingElseBreaks) {
    // A plain file where the directory should be.
    std::filesystem::create_directories(installation_.root());
    std::ofstream(installation_.log()) << "not a directory";
    EXPECT_EQ(logs_.writeSysLog("lost"), -1);
    EXPECT_EQ(logs_.writeSssjSysLog("lost", 2), -1);
    EXPECT_EQ(logs_.writeTaskLog("lost", 0, installation_.log() / "T1-20261208.log"), -1);
    EXPECT_TRUE(notifier_.events().empty());
    // The locks were released: other files can still be written, and so can the same
    // logs once the obstacle has gone.
    EXPECT_EQ(logs_.writeTaskLog("kept", 0, dir_.path() / "elsewhere" / "T1-20261208.log"), 0);
    std::filesystem::remove(installation_.log());
    EXPECT_EQ(logs_.writeSysLog("back"), 0);
}

TEST_F(LogsTest, aLockThatCannotBeOpenedGivesMinusOne) {
    std::ofstream(dir_.path() / "blocked") << "a file, not a directory";
    const Installation broken(dir_.path() / "root", dir_.path() / "blocked" / "run");
    Logs logs(broken, clock_, notifier_);
    EXPECT_EQ(logs.writeSysLog("x"), -1);
    EXPECT_EQ(logs.writeSssjSysLog("x", 0), -1);
    EXPECT_EQ(logs.writeTaskLog("x", 0, dir_.path() / "t.log"), -1);
    EXPECT_FALSE(std::filesystem::exists(logs.sysLogPath(kMorning)));
}

TEST_F(LogsTest, taskLogRecordsAreFixedLengthSoRecordNCanBeReadByOffset) {
    const std::filesystem::path file = installation_.log() / "20261208090503-00042-20261208.log";
    const std::string messages[] = {"开始下载", "", std::string(400, 'x'),
                                    std::string(175, 'b') + "中文"};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(logs_.writeTaskLog(messages[i], i, file), 0);
    const std::string text = readAll(file);
    ASSERT_EQ(text.size(), 800u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(text.substr(200 * i, 200), Logs::formatTaskRecord(kMorning, messages[i], i)) << i;
    }
    // The last record: 21 bytes of time stamp, 175 b's, then 中 would cross byte 197.
    EXPECT_EQ(text.substr(600 + 195, 5), std::string("b \r\n") + '\0');
}

TEST_F(LogsTest, theRealtimeNoticeCarriesTimeLevelAndAtMost255Characters) {
    std::string longMessage;
    for (int i = 0; i < 300; ++i) longMessage += "报";
    ASSERT_EQ(logs_.writeSssjSysLog(longMessage, 2), 0);
    const auto events = notifier_.events();
    ASSERT_EQ(events.size(), 1u);
    const auto& notice = std::get<RealtimeLogRecord>(events[0]);
    EXPECT_EQ(notice.time, "2026-12-08 09:05:03");
    EXPECT_EQ(notice.level, 2);
    EXPECT_EQ(notice.message, longMessage.substr(0, 255 * 3));
    // The file keeps the whole message.
    EXPECT_EQ(readAll(logs_.sssjLogPath(kMorning)),
              Logs::formatSssjRecord(kMorning, longMessage, 2));
}

// A window that logs while it handles the notice, as the real-time list may.
class LoggingNotifier final : public Notifier {
  public:
    Logs* logs = nullptr;
    int handled = 0;
    void post(const NotifierEvent&) override {}
    void send(const NotifierEvent&) override {
        if (++handled == 1) logs->writeSssjSysLog("from the window", 0);
    }
};

TEST_F(LogsTest, theNoticeIsSentAfterTheLockIsReleased) {
    LoggingNotifier window;
    Logs logs(installation_, clock_, window);
    window.logs = &logs;
    // Would deadlock if the notice were sent while the lock is held.
    ASSERT_EQ(logs.writeSssjSysLog("first", 0), 0);
    EXPECT_EQ(window.handled, 2);
    const std::string text = readAll(logs.sssjLogPath(kMorning));
    EXPECT_NE(text.find("from the window"), std::string::npos);
}

// Splits a system log into lines and counts "<tag>-<i>" messages; fails on any broken line.
std::map<std::string, std::set<int>> wholeLines(const std::string& text, std::size_t& lines) {
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d--\[[0-9A-F]{8}\]-([A-Z])-(\d+) \r)");
    std::map<std::string, std::set<int>> seen;
    std::size_t start = 0;
    lines = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated last line";
            break;
        }
        std::smatch m;
        const std::string one = text.substr(start, end - start);
        if (std::regex_match(one, m, line)) {
            seen[m[1]].insert(std::stoi(m[2]));
        } else {
            ADD_FAILURE() << "broken line: " << one;
        }
        ++lines;
        start = end + 1;
    }
    return seen;
}

TEST_F(LogsTest, twoThreadsWritingAtOnceLeaveWholeLines) {
    platform::RealClock& clock = platform::RealClock::instance();
    Logs logs(installation_, clock, notifier_);
    const platform::LocalTime day = clock.localNow();
    auto writer = [&logs](const char* tag) {
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(logs.writeSysLog(std::string(tag) + "-" + std::to_string(i)), 0);
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    std::string text = readAll(logs.sysLogPath(day));
    // A run across midnight spreads over two files.
    const platform::LocalTime after = clock.localNow();
    if (after.day != day.day) text += readAll(logs.sysLogPath(after));
    std::size_t lines = 0;
    const auto seen = wholeLines(text, lines);
    EXPECT_EQ(lines, 2000u);
    EXPECT_EQ(seen.at("A").size(), 1000u);
    EXPECT_EQ(seen.at("B").size(), 1000u);
}

TEST_F(LogsTest, twoProcessesWritingAtOnceLeaveWholeLines) {
    const platform::LocalTime day = platform::RealClock::instance().localNow();
    auto run = [this](const char* tag, int& code) {
        platform::ChildOptions options;
        options.program = LOG_WRITER_PATH;
        options.arguments = {installation_.root().string(),
                             installation_.runtimeDirectory().string(), "1000", tag};
        auto result = platform::runAndWait(options);
        code = result ? result.value() : -1;
    };
    int codeA = -1, codeB = -1;
    std::thread a(run, "A", std::ref(codeA)), b(run, "B", std::ref(codeB));
    a.join();
    b.join();
    ASSERT_EQ(codeA, 0);
    ASSERT_EQ(codeB, 0);
    std::string text = readAll(logs_.sysLogPath(day));
    const platform::LocalTime after = platform::RealClock::instance().localNow();
    if (after.day != day.day) text += readAll(logs_.sysLogPath(after));
    std::size_t lines = 0;
    const auto seen = wholeLines(text, lines);
    EXPECT_EQ(lines, 2000u);
    EXPECT_EQ(seen.at("A").size(), 1000u);
    EXPECT_EQ(seen.at("B").size(), 1000u);
}

}  // namespace
}  // namespace vantrel
