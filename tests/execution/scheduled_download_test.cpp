// Scheduled download runs from the schedule to delivered, verified files, against the test
// gateway: the scheduler as both front ends start it, with a fake clock for "now" and real
// time for the transfers.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/table_schema.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/transfer/block_state_layout.h"
#include "platform/error_text.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/failing_file_system.h"
#include "tests/support/kept_state.h"
#include "tests/support/local_time.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

platform::LocalTime at(int y, int mo, int d, int h, int mi, int s = 0) {
    return localTime(y, mo, d, h, mi, s);
}

// Counts the data packets the gateway serves for downloads.
class DownloadCounter final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code == "40" && trimmed(request.record.function) == "04" && body && body->c > 0)
            ++packets;
        return std::nullopt;
    }
    std::atomic<int> packets{0};
};

// Drops the connection at the first download request for data at or past `from`, once.
class DropOnce final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code != "40" || !body || body->c <= 0 || from < 0 || body->b < from)
            return std::nullopt;
        from = -1;
        ++drops;
        testgateway::TransactionAnswer drop;
        drop.delivery = testgateway::Delivery::kDrop;
        return drop;
    }
    std::atomic<std::int64_t> from{-1};
    std::atomic<int> drops{0};
};

// A disk that has no room for the partial file of `name`: giving it its size fails.
class FullForPartialFile final : public platform::FileSystemWrapper {
  public:
    explicit FullForPartialFile(std::string name)
        : FileSystemWrapper(platform::FileSystem::real()), name_(std::move(name)) {}
    Result<std::unique_ptr<platform::File>> open(const std::filesystem::path& path,
                                                 platform::OpenMode mode) override {
        Result<std::unique_ptr<platform::File>> file = target().open(path, mode);
        if (!file || path.filename() != name_) return file;
        return std::unique_ptr<platform::File>(std::make_unique<NoRoom>(std::move(file.value())));
    }

  private:
    class NoRoom final : public platform::FileWrapper {
      public:
        using FileWrapper::FileWrapper;
        Status resize(std::int64_t) override { return statusFromErrno(ENOSPC, "设置大小"); }
    };
    std::string name_;
};

class ScheduledDownload : public TransferGatewayFixture {
  protected:
    ScheduledDownload()
        : clock(platform::fromLocalTime(at(2026, 12, 8, 10, 0, 0))),
          fakeLogs(installation, clock, notifier) {}

    void SetUp() override {
        gateway.addService(counter);
        gateway.addService(dropper);
        TransferGatewayFixture::SetUp();
        fs::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            catalogue::TableSpec copy = *spec;
            if (copy.fileName == std::string(catalogue::kFlagTemplate))
                copy.rows = {{{"FLAGNAME", "DONE"}}};
            writeBytes(installation.localconfig() / copy.fileName,
                       catalogue::BuildTableBytes(copy, at(2026, 1, 1, 0, 0)));
        }
        ASSERT_TRUE(platform::writeFileAtomically(installation.clientIni(),
                                                  "[system]\nNoUnzipFileType=docx|pptx|xlsx|\n"));
        recv = root.path() / "recv";
        fs::create_directories(recv);
        ctx = context();
        ctx.clock = &clock;
        ctx.logs = &fakeLogs;
    }

    void TearDown() override {
        if (scheduler) scheduler->stop();
        TransferGatewayFixture::TearDown();
    }

    // A scheduler over the fixture's tables and lists, logged in as the test operator.
    void makeScheduler() {
        TaskScheduler::Options options;
        options.loginSource = handle.get();
        options.transferClock = &platform::RealClock::instance();
        scheduler = std::make_unique<TaskScheduler>(ctx, process, options);
        scheduler->catalogue().SetOperator("OPER01");
    }

    void startScheduler(const catalogue::DownloadTask& task, int workers = 3) {
        makeScheduler();
        std::string message;
        ASSERT_EQ(scheduler->catalogue().Add<catalogue::DownloadTask>(task, message), 1) << message;
        scheduler->start(workers);
        scheduler->initialiseToday();
    }

    catalogue::DownloadTask dailyTask() const {
        catalogue::DownloadTask t;
        t.planid = "20261208090000-00001";
        t.plandes = "每日信箱";
        t.plantype = 1;
        t.mailname = "FTP_A_QS";
        t.filename = "*.*";
        t.recvpath = recv.string();
        t.hastrans = 1;
        t.begindate = "2026-12-01";
        t.begintime = "09:00";
        t.endtime = "18:00";
        t.curweek = "1111100";
        t.planstate = 1;
        t.right = "OPER01";
        return t;
    }

    // A new scheduler over the same tables and lists, as after a restart; waits for `id`.
    std::optional<DownloadTaskState> restartScheduler(const std::string& id) {
        scheduler->stop();
        makeScheduler();
        scheduler->start(3);
        for (int i = 0; i < 200; ++i) {
            if (auto state = scheduler->downloads().find(id)) return state;
            std::this_thread::sleep_for(25ms);
        }
        return std::nullopt;
    }

    // Moves the clock to the task's next run once the tables are loaded: the schedule
    // check then starts it.
    void advanceToNextRun(const std::string& id) {
        for (int i = 0; i < 200; ++i) {
            if (auto state = scheduler->downloads().find(id); state && state->task.nextRun) {
                clock.set(*state->task.nextRun);
                return;
            }
            std::this_thread::sleep_for(25ms);
        }
        ADD_FAILURE() << "the task was not loaded";
    }

    // Waits (at most 60 s) until the task has run and ended.
    catalogue::DownloadTask awaitRunEnd(const std::string& id, bool alreadyStarted = false) {
        bool sawRunning = alreadyStarted;
        for (int i = 0; i < 1200; ++i) {
            auto state = scheduler->downloads().find(id);
            if (state && state->running) sawRunning = true;
            if (state && sawRunning && !state->running) break;
            std::this_thread::sleep_for(50ms);
        }
        auto task = scheduler->catalogue().Find<catalogue::DownloadTask>(id);
        EXPECT_TRUE(task.has_value());
        return task.value_or(catalogue::DownloadTask{});
    }

    std::string taskLog(const std::string& id) {
        return platform::gbkToUtf8Lossy(
            readBytes(catalogue::DailyTaskFile(installation.log(), id, clock.localNow(), ".log")));
    }

    platform::FakeClock clock;
    Logs fakeLogs;
    Context ctx;
    fs::path recv;
    std::shared_ptr<DownloadCounter> counter = std::make_shared<DownloadCounter>();
    std::shared_ptr<DropOnce> dropper = std::make_shared<DropOnce>();
    std::unique_ptr<TaskScheduler> scheduler;
};

TEST_F(ScheduledDownload, aDueTaskFetchesVerifiesUnpacksAndDeliversTheDayOnceAndOnlyOnce) {
    // setup: an archive with a subdirectory, an excluded document, a plain file bigger than
    // a block, an empty file, and today's flag file
    putZip("day.zip", {{"sub/inner.txt", "inner"}, {"top.txt", "top"}});
    putRemote("empty.txt", 0);
    const std::string doc = putRemote("report.docx", 3000);
    const std::string big = putRemote("big.dat", 10 * 1024 * 1024 + 12345);
    const std::string flag = putRemote("DONE.c08", 10);

    // act: the task's window is open at load, so it is due ten seconds later
    startScheduler(dailyTask());
    advanceToNextRun("20261208090000-00001");
    const catalogue::DownloadTask done = awaitRunEnd("20261208090000-00001");

    // verify
    EXPECT_EQ(done.lastresult, "成功") << done.lastdes << "\n" << taskLog(done.planid);
    EXPECT_EQ(readLocal(recv / "sub" / "inner.txt"), "inner");
    EXPECT_EQ(readLocal(recv / "top.txt"), "top");
    EXPECT_FALSE(fs::exists(recv / "day.zip"));
    EXPECT_TRUE(readLocal(recv / "report.docx") == doc);
    EXPECT_TRUE(readLocal(recv / "big.dat") == big);
    EXPECT_TRUE(readLocal(recv / "DONE.c08") == flag);
    EXPECT_TRUE(fs::is_regular_file(recv / "empty.txt"));
    EXPECT_EQ(readLocal(recv / "empty.txt"), "");
    for (const auto& entry : fs::recursive_directory_iterator(recv)) {
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
        EXPECT_NE(entry.path().extension(), ".~block") << entry.path();
    }
    const std::string log = taskLog(done.planid);
    EXPECT_NE(log.find("下载任务开始运行"), std::string::npos);
    EXPECT_NE(log.find("下载任务结束运行，运行结果：成功"), std::string::npos);
    EXPECT_NE(log.find("完成下载文件[big.dat]"), std::string::npos);
    catalogue::CFlagManager flags(ctx);
    flags.LoadFlags();
    EXPECT_FALSE(flags.Flags()["DONE"].empty());

    // act again: a second run the same day fetches nothing new
    const int packets = counter->packets;
    ASSERT_EQ(scheduler->downloads().startNow(done.planid), 1);
    const catalogue::DownloadTask again = awaitRunEnd(done.planid, true);
    EXPECT_EQ(again.lastresult, "成功") << again.lastdes;
    EXPECT_EQ(counter->packets, packets);
}

// Regression: after a restart the task list showed 0/0 files until the next run although
// the day's list held them, and the next run was the load's guess instead of the schedule's.
TEST_F(ScheduledDownload, aRestartShowsTheDaysCountsAndTheSameNextRun) {
    putRemote("a.txt", 10);
    putRemote("b.txt", 3000);
    catalogue::DownloadTask task = dailyTask();
    task.timespace = 10;
    startScheduler(task);
    advanceToNextRun(task.planid);
    ASSERT_EQ(awaitRunEnd(task.planid).lastresult, "成功");
    const auto before = scheduler->downloads().find(task.planid);
    ASSERT_TRUE(before && before->task.nextRun);
    ASSERT_EQ(before->files, 2);
    ASSERT_EQ(before->done, 2);

    const auto after = restartScheduler(task.planid);

    ASSERT_TRUE(after);
    EXPECT_EQ(after->files, before->files);
    EXPECT_EQ(after->done, before->done);
    EXPECT_EQ(after->task.nextRun, before->task.nextRun);
}

// Regression: a bulletin task asked the gateway for its mailbox's service (the bulletin
// code cut to "FTP_A_BU"), so it could never list its folder.
TEST_F(ScheduledDownload, aBulletinTaskFetchesTheKeywordsFilesOfTheDaysBulletinFolder) {
    // setup: today's bulletin folder of the A-share bulletins, one name matching the keyword
    const std::string notice =
        putRemote("2026120820261208Bullet/notice.doc", 70000, "FTP_A_BULLET");
    putRemote("2026120820261208Bullet/other.txt", 10, "FTP_A_BULLET");
    putRemote("2026120720261207Bullet/yesterday.doc", 10, "FTP_A_BULLET");
    catalogue::DownloadTask task = dailyTask();
    task.plantype = 2;
    task.mailname = "FTP_A_QS";
    task.opertype = "FTP_A_BULLET";
    task.filename = "*.doc";

    // act
    startScheduler(task);
    advanceToNextRun(task.planid);
    const catalogue::DownloadTask done = awaitRunEnd(task.planid);

    // verify: delivered as it came (bulletins are never unpacked), nothing else fetched
    EXPECT_EQ(done.lastresult, "成功") << done.lastdes << "\n" << taskLog(done.planid);
    EXPECT_TRUE(readLocal(recv / "notice.doc") == notice);
    EXPECT_FALSE(fs::exists(recv / "other.txt"));
    EXPECT_FALSE(fs::exists(recv / "yesterday.doc"));
}

TEST_F(ScheduledDownload, oneWorkerChainsTheBlocksOfAFileAndGivesTheEarlyOneBackWhenCutOff) {
    // setup: three blocks; the connection is lost at the first request of the second block,
    // which the worker asks for while the first one ends
    const std::string big = putRemote("big.dat", 2 * blockstate::kBlockSize + 4097);
    dropper->from = blockstate::kBlockSize;

    // act
    startScheduler(dailyTask(), 1);
    advanceToNextRun("20261208090000-00001");
    const catalogue::DownloadTask done = awaitRunEnd("20261208090000-00001");

    // verify: an early block left behind would keep the run from ending
    EXPECT_EQ(dropper->drops, 1);
    EXPECT_EQ(done.lastresult, "成功") << done.lastdes << "\n" << taskLog(done.planid);
    EXPECT_TRUE(readLocal(recv / "big.dat") == big);
    EXPECT_NE(taskLog(done.planid).find("第(1)次重复下载文件[big.dat]"), std::string::npos);
    EXPECT_FALSE(fs::exists(recv / "big.dat.tmp.~block"));
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(ScheduledDownload, aHostileArchiveIsRefusedForTheDayKeptForInspectionAndNeverFetchedAgain) {
    // setup
    putZip("evil.zip", {{"../escaped.txt", "x"}});
    putZip("link.zip", {}, "sneaky");
    const std::string refusal = "解压文件失败(压缩文件中的[../escaped.txt]会写到解压目录以外)";

    // act
    startScheduler(dailyTask());
    advanceToNextRun("20261208090000-00001");
    const catalogue::DownloadTask done = awaitRunEnd("20261208090000-00001");

    // verify: nothing outside; refused at the first attempt, the run failed and alerted,
    // the received archives kept in the task's folder
    EXPECT_EQ(done.lastresult, "失败");
    EXPECT_NE(done.lastdes.find(refusal), std::string::npos) << done.lastdes;
    EXPECT_FALSE(fs::exists(root.path() / "escaped.txt"));
    EXPECT_FALSE(fs::exists(recv / "sneaky"));
    std::string log = taskLog(done.planid);
    EXPECT_EQ(occurrences(log, "下载文件[evil.zip]失败," + refusal), 1u) << log;
    EXPECT_EQ(occurrences(log, "下载文件[link.zip]失败,解压文件失败(压缩文件中的[sneaky]是链接)"),
              1u);
    EXPECT_TRUE(fs::exists(recv / "evil.zip.tmp"));
    EXPECT_TRUE(fs::exists(recv / "link.zip.tmp"));
    bool alerted = false;
    for (const NotifierEvent& event : notifier.events()) {
        if (const auto* failed = std::get_if<TaskFailed>(&event))
            alerted = alerted || failed->reason.find(refusal) != std::string::npos;
    }
    EXPECT_TRUE(alerted);

    // act: the next run of the day
    const int packets = counter->packets;
    const std::size_t starts = occurrences(log, "开始下载文件[evil.zip]");
    clock.advance(1min);
    ASSERT_EQ(scheduler->downloads().startNow(done.planid), 1);
    const catalogue::DownloadTask again = awaitRunEnd(done.planid, true);

    // verify: the refusal stands, without fetching or unpacking anything again
    EXPECT_EQ(again.lastresult, "失败");
    EXPECT_NE(again.lastdes.find(refusal), std::string::npos) << again.lastdes;
    EXPECT_EQ(counter->packets, packets);
    log = taskLog(done.planid);
    EXPECT_EQ(occurrences(log, "下载文件[evil.zip]失败," + refusal), 1u) << log;
    EXPECT_EQ(occurrences(log, "开始下载文件[evil.zip]"), starts);
    EXPECT_TRUE(fs::exists(recv / "evil.zip.tmp"));
}

TEST_F(ScheduledDownload, aReceiveDirectoryThatCannotBeWrittenFailsTheRunWithTheReason) {
    // setup: the task's directory lies below a plain file, so nothing can be made in it
    // (whoever runs the tests, even root)
    putRemote("a.txt", 100);
    const fs::path blocker = root.path() / "blocker";
    std::ofstream(blocker) << "not a directory";
    catalogue::DownloadTask task = dailyTask();
    task.recvpath = (blocker / "recv").string();

    // act
    startScheduler(task);
    advanceToNextRun(task.planid);
    const catalogue::DownloadTask done = awaitRunEnd(task.planid);

    // verify: failed, saying which file and why, in the table, the task log and the alert
    const std::string reason = platform::systemErrorText(ENOTDIR);
    EXPECT_EQ(done.lastresult, "失败");
    EXPECT_NE(done.lastdes.find("文件[a.txt]下载失败："), std::string::npos) << done.lastdes;
    EXPECT_NE(done.lastdes.find(reason), std::string::npos) << done.lastdes;
    const std::string log = taskLog(task.planid);
    EXPECT_NE(log.find("下载文件[a.txt]失败，失败原因："), std::string::npos) << log;
    EXPECT_NE(log.find("下载任务结束运行，运行结果：失败"), std::string::npos) << log;
    bool alerted = false;
    for (const NotifierEvent& event : notifier.events()) {
        if (const auto* failed = std::get_if<TaskFailed>(&event))
            alerted = alerted || failed->reason.find(reason) != std::string::npos;
    }
    EXPECT_TRUE(alerted);
}

TEST_F(ScheduledDownload, aFileRefusedForLackOfDiskSpaceShowsTheReasonInItsRowNotATransferAtZero) {
    // setup: a file of a few MiB and no room for it
    putRemote("big.dat", 3 * 1024 * 1024);
    FullForPartialFile full("big.dat.tmp");
    ctx.files = &full;

    // act
    startScheduler(dailyTask());
    advanceToNextRun("20261208090000-00001");
    const catalogue::DownloadTask done = awaitRunEnd("20261208090000-00001");

    // verify: the run failed for the space, and the file's row says why
    EXPECT_EQ(done.lastresult, "失败");
    EXPECT_NE(done.lastdes.find("磁盘空间不足"), std::string::npos) << done.lastdes;
    catalogue::CDbfImpl list;
    ASSERT_EQ(list.Open(catalogue::DailyTaskFile(installation.data(), done.planid, clock.localNow(),
                                                 ".dat"),
                        1),
              1);
    ASSERT_EQ(list.GetRecordCount(), 1);
    catalogue::DbfRow row;
    ASSERT_TRUE(list.ReadRow(0, row));
    EXPECT_EQ(row.trimmed("filename"), "big.dat");
    EXPECT_EQ(row.trimmed("flag"), "0") << "not shown as being fetched";
    EXPECT_NE(row.trimmed("discript").find("磁盘空间不足"), std::string::npos)
        << row.trimmed("discript");
    EXPECT_EQ(row.trimmed("retry"), "1");
    EXPECT_NE(taskLog(done.planid).find("下载文件[big.dat]失败，失败原因："), std::string::npos);
}

TEST_F(ScheduledDownload, aFinishedFileLeftByAnEarlierDayIsFetchedAgainNotDeliveredInstead) {
    // setup: today's a.txt, and beside the task's directory a finished partial file of the
    // same name and size from a day whose run died before delivering it
    const std::string today = putRemote("a.txt", 5000);
    {
        FileBlockInfo::Options options;
        options.clock = &platform::RealClock::instance();
        FileBlockInfo stale(options);
        TransferItem item{"FTP_A_QS\\a.txt", "a.txt", recv, 5000, 0, "20261208090000-00001", true};
        ASSERT_TRUE(stale.open(item, false, "VRELKA", "FTP_A_QS", filesvc::kDownload));
        const std::string old(5000, 'o');
        ASSERT_TRUE(stale.writeData(0, old.data(), old.size()));
        stale.block(0).setState(kBlockDone);
    }  // gone without close(): both files stay as they are

    // act
    startScheduler(dailyTask());
    advanceToNextRun("20261208090000-00001");
    const catalogue::DownloadTask done = awaitRunEnd("20261208090000-00001");

    // verify
    EXPECT_EQ(done.lastresult, "成功") << done.lastdes << "\n" << taskLog(done.planid);
    EXPECT_TRUE(readLocal(recv / "a.txt") == today);
}

// What a fault must leave alone: the files delivered so far with their bytes, and the
// day's list with the state of each of their rows.
struct DeliveredDay {
    std::map<fs::path, std::string> files;
    std::map<std::string, std::string> rowFlags;
};

// Every case starts from the same good state (the tables, lists and files after a good
// run, copied aside), so call k of each faulty run is call k of the counted good run.
class ScheduledDownloadFaults : public ScheduledDownload {
  protected:
    const std::string id = dailyTask().planid;

    fs::path listPath() const {
        return catalogue::DailyTaskFile(installation.data(), id, clock.localNow(), ".dat");
    }

    std::map<std::string, std::string> readRowFlags() { return testing::readRowFlags(listPath()); }

    DeliveredDay delivered() {
        DeliveredDay day;
        for (const auto& entry : fs::directory_iterator(recv)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && !name.ends_with(".tmp") && !name.ends_with(".~block"))
                day.files[entry.path()] = readLocal(entry.path());
        }
        day.rowFlags = readRowFlags();
        return day;
    }

    std::vector<fs::path> stateDirectories() const {
        return {installation.data(), installation.localconfig(), recv};
    }

    void saveGoodState() {
        scheduler->stop();
        keepCopies(stateDirectories(), saved);
    }

    // The saved good state back in place, under a new scheduler.
    void restoreGoodState() {
        scheduler->stop();
        putCopiesBack(stateDirectories(), saved);
        makeScheduler();
        scheduler->start(3);
        for (int i = 0; i < 200 && !scheduler->downloads().find(id); ++i)
            std::this_thread::sleep_for(25ms);
    }

    // Runs the task now, the clock a minute on (a new "last run" time).
    catalogue::DownloadTask runNow() {
        clock.advance(1min);
        EXPECT_EQ(scheduler->downloads().startNow(id), 1);
        return awaitRunEnd(id, true);
    }

    // After a faulty run: the earlier files and rows as they were, the new file absent or
    // whole, never half.
    void expectIntact(const DeliveredDay& before, const std::string& name,
                      const std::string& bytes) {
        for (const auto& [path, content] : before.files)
            EXPECT_TRUE(readLocal(path) == content) << path << " changed";
        expectRowsKept(before.rowFlags, readRowFlags());
        std::error_code ec;
        if (fs::exists(recv / name, ec)) {
            EXPECT_TRUE(readLocal(recv / name) == bytes) << "half a file delivered: " << name;
        }
    }

    FailingFileSystem disk;
    fs::path saved = root.path() / "saved";
};

TEST_F(ScheduledDownloadFaults,
       aWriteRenameOrSyncFailingAtAnyCallKeepsWhatWasGoodAndTheNextRunEnds) {
    // setup: a good first run, kept aside; then the calls of a good run that fetches a
    // file of three blocks' packets
    putRemote("good.txt", 3000);
    ctx.files = &disk;
    startScheduler(dailyTask());
    advanceToNextRun(id);
    ASSERT_EQ(awaitRunEnd(id).lastresult, "成功");
    saveGoodState();
    const DeliveredDay before = delivered();
    const std::string bytes = putRemote("new.dat", 70000);
    restoreGoodState();
    disk.failCall(0);
    ASSERT_EQ(runNow().lastresult, "成功");
    const int calls = disk.calls();
    const std::map<std::string, std::string> goodRows = readRowFlags();
    ASSERT_GT(calls, 3);
    const int stride = std::max(1, calls / 20);  // bounded: at most about 20 cases

    int cases = 0, failedRuns = 0, completed = 0, rowsUnrecorded = 0;
    for (int k = 1; k <= calls; k += stride) {
        // act: call k of the run fails
        restoreGoodState();
        disk.failCall(k);
        const catalogue::DownloadTask faulty = runNow();
        const std::string failed = disk.failed();
        disk.failCall(0);
        if (failed.empty()) continue;  // this run made fewer calls
        ++cases;

        // verify: nothing good lost; failed with the reason, or retried to the end
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(calls) + ": " + failed);
        expectIntact(before, "new.dat", bytes);
        if (faulty.lastresult == "失败") {
            ++failedRuns;
            EXPECT_FALSE(faulty.lastdes.empty());
        } else {
            ++completed;
            EXPECT_EQ(faulty.lastresult, "成功");
            EXPECT_TRUE(readLocal(recv / "new.dat") == bytes);
            EXPECT_FALSE(fs::exists(recv / "new.dat.tmp"));
            EXPECT_FALSE(fs::exists(recv / "new.dat.tmp.~block"));
            if (readRowFlags() != goodRows) ++rowsUnrecorded;
        }
        // verify: the next run completes
        const catalogue::DownloadTask next = runNow();
        EXPECT_EQ(next.lastresult, "成功") << next.lastdes << "\n" << taskLog(id);
        EXPECT_TRUE(readLocal(recv / "new.dat") == bytes);
    }
    std::printf(
        "download fault injection: %d calls in a good run, %d cases: %d runs failed, "
        "%d retried to the end (%d of them left a row unrecorded)\n",
        calls, cases, failedRuns, completed, rowsUnrecorded);
}

}  // namespace
}  // namespace vantrel::testing
