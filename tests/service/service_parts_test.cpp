// The parts behind serve's status: the snapshot's file format and what a reader makes of a
// damaged one, the ledger of files moved with its rates and days, and the free-space check
// of a target that does not exist yet.

#include <gtest/gtest.h>

#include "client/execution/housekeeping/disk_space_watch.h"
#include "client/service/serve_status.h"
#include "client/service/transfer_ledger.h"
#include "platform/clock.h"
#include "tests/support/temp_dir.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

platform::LocalTime at(int day, int hour, int minute, int second) {
    platform::LocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}

service::ServeStatus aFullSnapshot() {
    service::ServeStatus s;
    s.pid = 4242;
    s.startedAt = "2026-12-08 09:00:00";
    s.startedEpoch = 1796700000;
    s.writtenEpoch = 1796700100;
    s.loggedIn = true;
    s.gateway = "127.0.0.1:7001";
    s.businessDay = "20261208";
    s.unreachableSinceEpoch = 1796700050;
    s.minimumFreeMegabytes = 1000;
    service::TaskStatus t;
    t.kind = "upload";
    t.id = "20261208090000-00043";
    t.description = "上传 \"季报\"\\";  // quotes and a backslash survive
    t.files = 7;
    t.filesDone = 3;
    t.filesToday = 2;
    t.bytesToday = 5'000'000'000;  // past 32 bits
    s.tasks = {t};
    s.transfers = {{"20261208090000-00043", "FTP_A_QS\\a.dat", true, 10, 20, 30}};
    s.realtime = {true, "实时回报服务状态:运行", 4, 1};
    s.failures = {{"2026-12-08 09:01:00", 1796700060, "disk", "", "您的磁盘[/x]空间:1 M"}};
    s.disks = {{"/x", "", 1, true}};
    return s;
}

TEST(ServeSnapshot, readsBackAsWrittenAndADamagedFileIsNoSnapshot) {
    // setup/act: every field through the text
    const service::ServeStatus written = aFullSnapshot();
    const std::optional<service::ServeStatus> read = service::fromJson(service::toJson(written));

    // verify: as written
    ASSERT_TRUE(read);
    EXPECT_EQ(read->pid, 4242);
    EXPECT_EQ(read->gateway, "127.0.0.1:7001");
    EXPECT_EQ(read->unreachableSinceEpoch, 1796700050);
    ASSERT_EQ(read->tasks.size(), 1u);
    EXPECT_EQ(read->tasks[0].description, written.tasks[0].description);
    EXPECT_EQ(read->tasks[0].bytesToday, 5'000'000'000);
    EXPECT_EQ(read->tasks[0].filesDone, 3);
    ASSERT_EQ(read->transfers.size(), 1u);
    EXPECT_TRUE(read->transfers[0].upload);
    EXPECT_EQ(read->transfers[0].bytesPerSecond, 30);
    EXPECT_EQ(read->realtime.pending, 1);
    ASSERT_EQ(read->failures.size(), 1u);
    EXPECT_EQ(read->failures[0].kind, "disk");
    ASSERT_EQ(read->disks.size(), 1u);
    EXPECT_TRUE(read->disks[0].low);

    // A text that is not UTF-8 is written with replacement characters, never dropped.
    service::ServeStatus odd = written;
    odd.tasks[0].description = "\xC4\xEA\xB1\xA8";  // GBK bytes
    const auto oddRead = service::fromJson(service::toJson(odd));
    ASSERT_TRUE(oddRead);
    EXPECT_EQ(oddRead->tasks[0].description.find("\xEF\xBF\xBD"), 0u);

    // A reader of another version: missing fields keep their defaults, unknown ones pass.
    const auto sparse = service::fromJson(R"({"pid": 7, "future": [1, 2], "tasks": [{}]})");
    ASSERT_TRUE(sparse);
    EXPECT_EQ(sparse->pid, 7);
    EXPECT_EQ(sparse->writtenEpoch, 0);
    ASSERT_EQ(sparse->tasks.size(), 1u);
    EXPECT_EQ(sparse->tasks[0].files, 0);

    // Damage of every kind reads as no snapshot (status --check: unknown).
    const std::string text = service::toJson(written);
    const struct {
        const char* why;
        std::string text;
    } damaged[] = {
        {"cut in the middle", text.substr(0, text.size() / 2)},
        {"empty", ""},
        {"not an object", "[1, 2, 3]"},
        {"no pid", R"({"tasks": []})"},
        {"a number as text", R"({"pid": "4242"})"},
        {"a task list that is no list", R"({"pid": 1, "tasks": {"id": "x"}})"},
        {"a task field of the wrong type", R"({"pid": 1, "tasks": [{"files": "7"}]})"},
        {"a task that is no object", R"({"pid": 1, "tasks": ["x"]})"},
        {"a real-time part that is no object", R"({"pid": 1, "realtime": 3})"},
    };
    for (const auto& d : damaged) EXPECT_FALSE(service::fromJson(d.text)) << d.why;
}

TEST(TransferLedger, countsEachWholeFileOnceWithItsRateAndStartsEachDayAfresh) {
    // setup: late in a day
    platform::FakeClock clock(platform::fromLocalTime(at(8, 23, 59, 50)));
    const DayClock days(clock);
    service::TransferLedger ledger(days);
    FileBlockMap::Closed file;
    file.taskId = "T1";
    file.remoteName = "FTP_A_QS\\a.dat";
    file.fileSize = 10'000;

    // act/verify: the rate between two samples of the same file
    file.bytesDone = 1'000;
    EXPECT_EQ(ledger.sample({file})[0].bytesPerSecond, 0) << "no rate from one sample";
    clock.advance(2000ms);
    file.bytesDone = 5'000;
    EXPECT_EQ(ledger.sample({file})[0].bytesPerSecond, 2'000);
    clock.advance(1000ms);
    EXPECT_EQ(ledger.sample({file})[0].bytesPerSecond, 0) << "a file that did not move";

    // act/verify: a stopped file counts nothing; whole files count with their size
    ledger.fileClosed(file);
    file.bytesDone = 10'000;
    file.resumed = true;
    ledger.fileClosed(file);
    FileBlockMap::Closed sent = file;
    sent.isUpload = true;
    sent.resumed = false;
    ledger.fileClosed(sent);
    const auto today = ledger.today();
    EXPECT_EQ(today.at({"T1", false}).files, 1);
    EXPECT_EQ(today.at({"T1", false}).bytes, 10'000);
    EXPECT_EQ(today.at({"T1", false}).resumed, 1);
    EXPECT_EQ(today.at({"T1", true}).files, 1);

    // act/verify: past midnight today is empty, the totals since the start are kept
    clock.advance(10s);
    EXPECT_TRUE(ledger.today().empty());
    ledger.fileClosed(file);
    EXPECT_EQ(ledger.today().at({"T1", false}).files, 1);
    EXPECT_EQ(ledger.sinceStart().at({"T1", false}).files, 2);
    EXPECT_EQ(ledger.sinceStart().at({"T1", false}).bytes, 20'000);
    // A file gone from the registry is no longer shown.
    EXPECT_TRUE(ledger.sample({}).empty());
}

TEST(DiskSpaceWatch, checksATargetNotMadeYetWhereItsFilesWillLandAndTrustsADiskThatCannotTell) {
    // setup: a root on a full disk, a target below it that does not exist yet, and a
    // target on a disk the system says nothing of
    TempDir dir;
    const fs::path root = dir.path() / "root";
    fs::create_directories(root);
    const fs::path unknown = dir.path() / "unknown";
    fs::create_directories(unknown);
    std::vector<fs::path> asked;
    DiskSpaceWatch watch([&](const fs::path& p) -> std::optional<std::uint64_t> {
        asked.push_back(p);
        if (p == unknown) return std::nullopt;
        return std::uint64_t{99} << 20;
    });

    // act
    const auto findings =
        watch.check({{root, ""}, {root / "recv" / "20261208", "T1"}, {unknown, "T2"}}, 100);

    // verify: both targets of the full disk are low, each named in its own text
    ASSERT_EQ(findings.size(), 3u);
    EXPECT_TRUE(findings[0].low);
    EXPECT_EQ(findings[0].freeMegabytes, 99);
    EXPECT_TRUE(findings[1].low);
    EXPECT_EQ(findings[1].target.taskId, "T1");
    EXPECT_EQ(findings[1].message, "您的磁盘[" + (root / "recv" / "20261208").string() +
                                       "]空间:99 M，已经少于系统所需最小值:100 M，为了能够正常"
                                       "的进行业务操作，请您先进行磁盘清理!");
    EXPECT_FALSE(findings[2].low);
    EXPECT_EQ(findings[2].freeMegabytes, -1);
    EXPECT_EQ(asked[1], root) << "the missing target is asked at its nearest existing parent";
}

}  // namespace
}  // namespace vantrel::testing
