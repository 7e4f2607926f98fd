// Scheduled upload runs against the test gateway: the scheduler as both front ends start
// it, with a fake clock for "now" (the schedule, the "_SUCCESS_" names) and real time for
// the transfers.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <map>
#include <optional>
#include <thread>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/table_schema.h"
#include "client/execution/tasks/task_scheduler.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/failing_file_system.h"
#include "tests/support/kept_state.h"
#include "tests/support/local_time.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kTask = "20261208090000-00002";

platform::LocalTime at(int y, int mo, int d, int h, int mi, int s = 0) {
    return localTime(y, mo, d, h, mi, s);
}

// Collects the failure alerts the runs raise.
class AlertCollector final : public Notifier {
  public:
    void post(const NotifierEvent& event) override {
        if (const auto* failed = std::get_if<TaskFailed>(&event)) {
            std::lock_guard lock(mutex);
            alerts.push_back(*failed);
        }
    }
    void send(const NotifierEvent& event) override { post(event); }
    std::vector<TaskFailed> taken() {
        std::lock_guard lock(mutex);
        return alerts;
    }
    std::mutex mutex;
    std::vector<TaskFailed> alerts;
};

// Appends to a local file when the first upload packet arrives: a file that grows while it
// is sent.
class GrowOnFirstPacket final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code == "40" && trimmed(request.record.function) == filesvc::kUpload && body &&
            body->c > 0 && !target.empty() && !grown.exchange(true)) {
            std::ofstream(target, std::ios::binary | std::ios::app) << "late line\n";
        }
        return std::nullopt;
    }
    std::filesystem::path target;
    std::atomic<bool> grown{false};
};

class ScheduledUpload : public TransferGatewayFixture {
  protected:
    ScheduledUpload()
        : clock(platform::fromLocalTime(at(2026, 12, 8, 10, 0, 0))),
          fakeLogs(installation, clock, notifier) {}

    void SetUp() override {
        gateway.addService(grower);
        TransferGatewayFixture::SetUp();
        fs::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            writeBytes(installation.localconfig() / spec->fileName,
                       catalogue::BuildTableBytes(*spec, at(2026, 1, 1, 0, 0)));
        }
        send = root.path() / "send";
        sent = root.path() / "sent";
        fs::create_directories(send);
        fs::create_directories(files->root() / "FTP_SG");
        ctx = context();
        ctx.clock = &clock;
        ctx.logs = &fakeLogs;
        ctx.notifier = &alerts;
    }

    void TearDown() override {
        if (scheduler) scheduler->stop();
        TransferGatewayFixture::TearDown();
    }

    catalogue::UploadTask task() const {
        catalogue::UploadTask t;
        t.planid = kTask;
        t.plandes = "上市公司上传";
        t.opertype = "1";
        t.mailname = "ftp_sg";  // case is ignored
        t.loadtype = 1;
        t.begindate = "2026-12-01";
        t.begintime = "09:00";
        t.endtime = "18:00";
        t.sendpath = send.string();
        t.sentpath = sent.string();
        t.curweek = "1111111";
        t.tmpweek = "1111111";
        t.weektype = 1;
        t.timespace = 10;
        t.planstate = 1;
        t.right = "OPER01";
        return t;
    }

    // A scheduler over the fixture's tables and lists, logged in as the test operator.
    void makeScheduler() {
        TaskScheduler::Options options;
        options.loginSource = handle.get();
        options.transferClock = &platform::RealClock::instance();
        scheduler = std::make_unique<TaskScheduler>(ctx, process, options);
        scheduler->catalogue().SetOperator("OPER01");
    }

    void startScheduler(const std::function<void(CTaskQueue&)>& beforeLoad = {}) {
        makeScheduler();
        std::string message;
        ASSERT_EQ(scheduler->catalogue().Add<catalogue::UploadTask>(task(), message), 1) << message;
        scheduler->start(2);
        if (beforeLoad) beforeLoad(scheduler->threadManager()->uploadTaskQueue());
    }

    // A new scheduler over the same tables and lists, as after a restart; waits for the task.
    std::optional<UploadTaskState> restartScheduler() {
        scheduler->stop();
        makeScheduler();
        scheduler->start(2);
        for (int i = 0; i < 200; ++i) {
            if (auto state = scheduler->uploads().find(kTask)) return state;
            std::this_thread::sleep_for(25ms);
        }
        return std::nullopt;
    }

    void advanceToNextRun() {
        for (int i = 0; i < 200; ++i) {
            if (auto state = scheduler->uploads().find(kTask); state && state->task.nextRun) {
                clock.set(*state->task.nextRun);
                return;
            }
            std::this_thread::sleep_for(25ms);
        }
        ADD_FAILURE() << "the task was not loaded";
    }

    // Waits (at most 60 s) until a run has ended with a result dated now.
    catalogue::UploadTask awaitResult() {
        const std::string now = catalogue::FormatDateTime(clock.localNow());
        for (int i = 0; i < 1200; ++i) {
            auto state = scheduler->uploads().find(kTask);
            if (state && !state->running && state->task.laruntime == now) return state->task;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the run did not end";
        return {};
    }

    void putReady(const std::string& name, const std::string& bytes, bool marker = true) {
        std::ofstream(send / name, std::ios::binary) << bytes;
        if (marker) std::ofstream(send / (name + ".rdy")).flush();
    }

    std::string taskLog() {
        return platform::gbkToUtf8Lossy(readBytes(
            catalogue::DailyTaskFile(installation.log(), kTask, clock.localNow(), ".log")));
    }

    std::string stamp() const {
        const platform::LocalTime t = clock.localNow();
        char text[32];
        std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
        return text;
    }

    platform::FakeClock clock;
    Logs fakeLogs;
    AlertCollector alerts;
    std::shared_ptr<GrowOnFirstPacket> grower = std::make_shared<GrowOnFirstPacket>();
    Context ctx;
    fs::path send;
    fs::path sent;
    std::unique_ptr<TaskScheduler> scheduler;
};

TEST_F(ScheduledUpload, readyFilesAreSentConfirmedAndMovedAwayUnderNamesThatNeverReplaceEachOther) {
    // setup: a ready file bigger than a packet window, one without its marker, a marker
    // whose file vanished
    std::string big(3 * 1024 * 1024 + 77, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 13 + i / 4096);
    putReady("a.txt", big);
    putReady("b.txt", "not yet", false);
    putReady("empty.txt", "");
    std::ofstream(send / "gone.txt.rdy").flush();

    // act
    startScheduler();
    advanceToNextRun();
    const catalogue::UploadTask done = awaitResult();

    // verify
    EXPECT_EQ(done.lastresult, "成功") << done.lastdes << "\n" << taskLog();
    EXPECT_TRUE(readLocal(files->root() / "FTP_SG" / "a.txt") == big);
    EXPECT_FALSE(fs::exists(files->root() / "FTP_SG" / "b.txt"));
    EXPECT_TRUE(fs::exists(files->root() / "FTP_SG" / "empty.txt"));
    EXPECT_TRUE(fs::exists(sent / ("empty_SUCCESS_" + stamp() + ".txt")));
    const fs::path first = sent / ("a_SUCCESS_" + stamp() + ".txt");
    EXPECT_TRUE(readLocal(first) == big);
    EXPECT_FALSE(fs::exists(send / "a.txt"));
    EXPECT_FALSE(fs::exists(send / "a.txt.rdy"));
    EXPECT_FALSE(fs::exists(send / "a.txt.~block"));
    EXPECT_TRUE(fs::exists(send / "b.txt"));
    EXPECT_GE(files->counters().md5Queries.load(), 1);
    const std::string log = taskLog();
    EXPECT_NE(log.find("上传任务开始运行"), std::string::npos);
    EXPECT_NE(log.find("完成上传文件[a.txt]"), std::string::npos);
    EXPECT_NE(log.find("就绪标志文件[gone.txt.rdy]对应的发送文件[gone.txt]不存在！"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("上传任务结束运行，运行结果：成功"), std::string::npos);

    // act again, the same second: the same name is sent once more, though a finished block
    // state of an earlier send of that size lies beside it (a crash before it went)
    putReady("a.txt", "second");
    {
        FileBlockInfo::Options options;
        options.clock = &platform::RealClock::instance();
        FileBlockInfo stale(options);
        TransferItem item{"a.txt", "a.txt", send, 6, 0, kTask, true};
        ASSERT_TRUE(stale.open(item, true, "VRELKA", "FTP_SG", filesvc::kUpload));
        stale.block(0).setState(kBlockDone);
    }  // gone without close(): the state file stays as it is
    ASSERT_EQ(scheduler->uploads().startNow(kTask), 1);
    const catalogue::UploadTask again = awaitResult();
    EXPECT_EQ(again.lastresult, "成功") << again.lastdes;
    EXPECT_TRUE(readLocal(files->root() / "FTP_SG" / "a.txt") == "second");
    EXPECT_EQ(readLocal(sent / ("a_SUCCESS_" + stamp() + "_1.txt")), "second");
    EXPECT_TRUE(readLocal(first) == big);
    EXPECT_TRUE(alerts.taken().empty());
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(ScheduledUpload, aMarkerTheMoveLeftBehindIsRemovedAtTheNextRunAndWarnedOfNoMore) {
    // setup: two files sent and moved
    putReady("a.txt", "alpha");
    putReady("c.txt", "charlie");
    startScheduler();
    advanceToNextRun();
    ASSERT_EQ(awaitResult().lastresult, "成功") << taskLog();
    const fs::path movedA = sent / ("a_SUCCESS_" + stamp() + ".txt");
    const fs::path movedC = sent / ("c_SUCCESS_" + stamp() + ".txt");
    ASSERT_TRUE(fs::exists(movedA) && fs::exists(movedC));
    // a.txt's marker as a crash between the move and its removal leaves it (written before
    // the move); c.txt's written after the move, for a file still on its way
    struct stat a {
    }, c{};
    ASSERT_EQ(::stat(movedA.c_str(), &a), 0);
    ASSERT_EQ(::stat(movedC.c_str(), &c), 0);
    std::ofstream(send / "a.txt.rdy").flush();
    std::ofstream(send / "c.txt.rdy").flush();
    ASSERT_TRUE(platform::setFileTime(send / "a.txt.rdy",
                                      platform::WallTime(std::chrono::seconds(a.st_mtim.tv_sec)))
                    .isOk());
    ASSERT_TRUE(platform::setFileTime(send / "c.txt.rdy", platform::WallTime(std::chrono::seconds(
                                                              c.st_ctim.tv_sec + 60)))
                    .isOk());

    // act: the next run, and one more
    for (int run = 0; run < 2; ++run) {
        clock.advance(1s);
        ASSERT_EQ(scheduler->uploads().startNow(kTask), 1);
        EXPECT_EQ(awaitResult().lastresult, "成功");
    }

    // verify: a.txt's marker went at the first, without a warning; c.txt's stays, told of
    const std::string log = taskLog();
    EXPECT_FALSE(fs::exists(send / "a.txt.rdy"));
    EXPECT_EQ(occurrences(log,
                          "就绪标志文件[a.txt.rdy]对应的发送文件已移动到已发送目录，"
                          "删除该标志文件"),
              1u)
        << log;
    EXPECT_EQ(log.find("就绪标志文件[a.txt.rdy]对应的发送文件[a.txt]不存在！"), std::string::npos);
    EXPECT_TRUE(fs::exists(send / "c.txt.rdy"));
    EXPECT_EQ(occurrences(log, "就绪标志文件[c.txt.rdy]对应的发送文件[c.txt]不存在！"), 2u);
}

// Regression: after a restart the task list showed 0/0 files until the next run although
// the day's list held them, and the next run was the load's guess instead of the schedule's.
TEST_F(ScheduledUpload, aRestartShowsTheDaysCountsAndTheSameNextRun) {
    putReady("a.txt", "first");
    putReady("b.txt", "second");
    startScheduler();
    advanceToNextRun();
    ASSERT_EQ(awaitResult().lastresult, "成功") << taskLog();
    const auto before = scheduler->uploads().find(kTask);
    ASSERT_TRUE(before && before->task.nextRun);
    ASSERT_EQ(before->files, 2);
    ASSERT_EQ(before->done, 2);

    const auto after = restartScheduler();

    ASSERT_TRUE(after);
    EXPECT_EQ(after->files, before->files);
    EXPECT_EQ(after->done, before->done);
    EXPECT_EQ(after->task.nextRun, before->task.nextRun);
}

TEST_F(ScheduledUpload, aFailedPacketIsResentAloneAndTheGatewaysDigestAgrees) {
    std::string bytes(2 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 999);
    putReady("r.dat", bytes);
    files->faults().failPacket(10, "0015");
    startScheduler();
    advanceToNextRun();
    const catalogue::UploadTask done = awaitResult();
    EXPECT_EQ(done.lastresult, "成功") << done.lastdes << "\n" << taskLog();
    EXPECT_TRUE(readLocal(files->root() / "FTP_SG" / "r.dat") == bytes);
    // Only what was missing went again: far less than the file a second time.
    EXPECT_LT(files->counters().uploadBytes.load(), static_cast<long long>(bytes.size() * 3 / 2));
    EXPECT_NE(taskLog().find("上传文件[r.dat]出现错误"), std::string::npos) << taskLog();
}

TEST_F(ScheduledUpload, aUserStopKeepsTheFileAndTheNextRunSendsOnlyWhatWasMissing) {
    std::string bytes(24 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 65536);
    putReady("big.dat", bytes);
    startScheduler();
    advanceToNextRun();
    // Stopped once some bytes went out (at most 30 s of waiting).
    for (int i = 0; i < 3000 && files->counters().uploadBytes.load() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(scheduler->uploads().stop(kTask), 1);
    const catalogue::UploadTask stopped = awaitResult();
    if (stopped.lastresult == "成功")
        GTEST_SKIP() << "the whole file went out before the stop arrived";
    EXPECT_EQ(stopped.lastdes, "用户停止任务!");
    EXPECT_EQ(stopped.planstate, -1);
    EXPECT_TRUE(readLocal(send / "big.dat") == bytes);
    EXPECT_TRUE(fs::exists(send / "big.dat.rdy"));
    EXPECT_NE(taskLog().find("上传任务停止运行，用户停止任务！"), std::string::npos) << taskLog();

    // act: the next run resumes
    const long long before = files->counters().uploadBytes.load();
    ASSERT_EQ(scheduler->uploads().startNow(kTask), 1);
    const catalogue::UploadTask resumed = awaitResult();
    EXPECT_EQ(resumed.lastresult, "成功") << resumed.lastdes << "\n" << taskLog();
    EXPECT_TRUE(readLocal(files->root() / "FTP_SG" / "big.dat") == bytes);
    // Only what had not arrived went out again.
    EXPECT_LT(files->counters().uploadBytes.load() - before,
              static_cast<long long>(bytes.size()) - before / 2);
}

TEST_F(ScheduledUpload, aFileThatGrowsWhileSentFailsItsDigestStaysAndGoesWholeNextTime) {
    putReady("grow.txt", std::string(300000, 'g'));
    grower->target = send / "grow.txt";
    startScheduler();
    advanceToNextRun();
    const catalogue::UploadTask failed = awaitResult();
    EXPECT_EQ(failed.lastresult, "失败");
    EXPECT_NE(taskLog().find("上传文件[grow.txt]失败,MD5计算时出现错误"), std::string::npos)
        << taskLog();
    EXPECT_EQ(readLocal(send / "grow.txt"), std::string(300000, 'g') + "late line\n");
    EXPECT_TRUE(fs::exists(send / "grow.txt.rdy"));

    // act: the next run finds the file changed and sends it from the start
    clock.set(clock.now() + 1min);
    ASSERT_EQ(scheduler->uploads().startNow(kTask), 1);
    const catalogue::UploadTask resent = awaitResult();
    EXPECT_EQ(resent.lastresult, "成功") << resent.lastdes << "\n" << taskLog();
    EXPECT_EQ(readLocal(files->root() / "FTP_SG" / "grow.txt"),
              std::string(300000, 'g') + "late line\n");
}

TEST_F(ScheduledUpload, aSentDirectoryThatCannotBeWrittenFailsTheRunAndKeepsTheSource) {
    // A file where the directory should be: nothing can be moved into it, not even by root.
    std::ofstream(sent) << "in the way";
    putReady("keep.txt", "precious");
    startScheduler();
    advanceToNextRun();
    const catalogue::UploadTask done = awaitResult();
    EXPECT_EQ(done.lastresult, "失败");
    EXPECT_EQ(readLocal(send / "keep.txt"), "precious");
    EXPECT_EQ(readLocal(files->root() / "FTP_SG" / "keep.txt"), "precious");
    EXPECT_NE(taskLog().find("上传文件[keep.txt]成功，备份文件失败"), std::string::npos)
        << taskLog();
    const std::vector<TaskFailed> raised = alerts.taken();
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].kind, CatalogueTaskKind::Upload);
    EXPECT_EQ(raised[0].taskId, kTask);
    EXPECT_EQ(raised[0].reason, done.lastdes);
}

TEST_F(ScheduledUpload, aFullNameQueueRefusesTheStartAndRecordsWhy) {
    putReady("q.txt", "queued");
    startScheduler([](CTaskQueue& queue) {
        for (int i = 0; i < 51; ++i) ASSERT_EQ(queue.add("other-" + std::to_string(i)), 1);
    });
    advanceToNextRun();
    const catalogue::UploadTask refused = awaitResult();
    EXPECT_EQ(refused.lastresult, "失败");
    EXPECT_EQ(refused.lastdes, "上传任务队列已满,稍候执行!");
    EXPECT_TRUE(fs::exists(send / "q.txt"));
    EXPECT_FALSE(fs::exists(files->root() / "FTP_SG" / "q.txt"));
    ASSERT_FALSE(alerts.taken().empty());
    EXPECT_EQ(alerts.taken()[0].reason, "上传任务队列已满,稍候执行!");
}

// Every case starts from the same good state (the tables, lists, send and sent files after
// a good run, copied aside), so call k of each faulty run is call k of the counted good run.
class ScheduledUploadFaults : public ScheduledUpload {
  protected:
    // The day's list by file name: the rows sent ("1") must stay so.
    std::map<std::string, std::string> readRowFlags() {
        return testing::readRowFlags(
            catalogue::DailyTaskFile(installation.data(), kTask, clock.localNow(), ".dat"));
    }

    std::map<fs::path, std::string> sentFiles() {
        std::map<fs::path, std::string> kept;
        for (const auto& entry : fs::directory_iterator(sent))
            kept[entry.path()] = readLocal(entry.path());
        return kept;
    }

    // The copy of `name` moved into the sent directory, if any.
    std::optional<fs::path> sentCopyOf(const std::string& name) {
        const std::string stem = fs::path(name).stem().string() + "_SUCCESS_";
        for (const auto& entry : fs::directory_iterator(sent)) {
            if (entry.path().filename().string().starts_with(stem)) return entry.path();
        }
        return std::nullopt;
    }

    std::vector<fs::path> stateDirectories() const {
        return {installation.data(), installation.localconfig(), send, sent};
    }

    void saveGoodState() {
        scheduler->stop();
        keepCopies(stateDirectories(), saved);
    }

    // The saved good state back in place, `name` ready to send, under a new scheduler.
    void restoreGoodState(const std::string& name, const std::string& bytes) {
        scheduler->stop();
        putCopiesBack(stateDirectories(), saved);
        fs::remove(files->root() / "FTP_SG" / name);
        putReady(name, bytes);
        makeScheduler();
        scheduler->start(2);
        for (int i = 0; i < 200 && !scheduler->uploads().find(kTask); ++i)
            std::this_thread::sleep_for(25ms);
    }

    catalogue::UploadTask runNow() {
        clock.advance(1min);
        EXPECT_EQ(scheduler->uploads().startNow(kTask), 1);
        return awaitResult();
    }

    // After a faulty run: what was sent before as it was, and the new file whole in the send
    // directory or in the sent one, never lost or cut.
    void expectIntact(const std::map<fs::path, std::string>& before,
                      const std::map<std::string, std::string>& flagsBefore,
                      const std::string& name, const std::string& bytes) {
        for (const auto& [path, content] : before)
            EXPECT_TRUE(readLocal(path) == content) << path << " changed";
        expectRowsKept(flagsBefore, readRowFlags());
        const std::optional<fs::path> moved = sentCopyOf(name);
        const std::string kept = moved ? readLocal(*moved) : readLocal(send / name);
        EXPECT_TRUE(kept == bytes) << name << " lost or cut";
    }

    FailingFileSystem disk;
    fs::path saved = root.path() / "saved";
};

TEST_F(ScheduledUploadFaults, aWriteRenameOrSyncFailingAtAnyCallKeepsWhatWasGoodAndTheNextRunEnds) {
    // setup: a good first run, kept aside; then the calls of a good run that sends one file
    putReady("good.txt", std::string(3000, 'g'));
    ctx.files = &disk;
    startScheduler();
    advanceToNextRun();
    ASSERT_EQ(awaitResult().lastresult, "成功");
    saveGoodState();
    const std::string bytes(70000, 'n');
    restoreGoodState("new.dat", bytes);
    const auto before = sentFiles();
    const auto flagsBefore = readRowFlags();
    disk.failCall(0);
    ASSERT_EQ(runNow().lastresult, "成功");
    const int calls = disk.calls();
    const std::map<std::string, std::string> goodRows = readRowFlags();
    ASSERT_GT(calls, 3);
    const int stride = std::max(1, calls / 20);  // bounded: at most about 20 cases

    int cases = 0, failedRuns = 0, completed = 0, rowsUnrecorded = 0;
    for (int k = 1; k <= calls; k += stride) {
        // act: call k of the run fails
        restoreGoodState("new.dat", bytes);
        disk.failCall(k);
        const catalogue::UploadTask faulty = runNow();
        const std::string failed = disk.failed();
        disk.failCall(0);
        if (failed.empty()) continue;  // this run made fewer calls
        ++cases;

        // verify: nothing good lost; failed with the reason, or retried to the end
        SCOPED_TRACE("call " + std::to_string(k) + " of " + std::to_string(calls) + ": " + failed);
        expectIntact(before, flagsBefore, "new.dat", bytes);
        if (faulty.lastresult == "失败") {
            ++failedRuns;
            EXPECT_FALSE(faulty.lastdes.empty());
        } else {
            ++completed;
            EXPECT_EQ(faulty.lastresult, "成功");
            EXPECT_TRUE(readLocal(files->root() / "FTP_SG" / "new.dat") == bytes);
            EXPECT_TRUE(sentCopyOf("new.dat").has_value());
            EXPECT_FALSE(fs::exists(send / "new.dat"));
            EXPECT_FALSE(fs::exists(send / "new.dat.~block"));
            if (readRowFlags() != goodRows) ++rowsUnrecorded;
        }
        // verify: the next run completes
        const catalogue::UploadTask next = runNow();
        EXPECT_EQ(next.lastresult, "成功") << next.lastdes << "\n" << taskLog();
        EXPECT_TRUE(readLocal(files->root() / "FTP_SG" / "new.dat") == bytes);
        EXPECT_TRUE(sentCopyOf("new.dat").has_value());
    }
    std::printf(
        "upload fault injection: %d calls in a good run, %d cases: %d runs failed, "
        "%d retried to the end (%d of them left a row unrecorded)\n",
        calls, cases, failedRuns, completed, rowsUnrecorded);
}

}  // namespace
}  // namespace vantrel::testing
