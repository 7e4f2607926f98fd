// Auto-sync runs against the test gateway: a daily task that follows the day list by its
// version, a history entry that catches up earlier days one per run, and the once-a-day
// clean-up of their old local files (an injected clock for "now", real time for transfers).

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/table_schema.h"
#include "client/execution/tasks/auto_sync_rules.h"
#include "client/execution/tasks/task_scheduler.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/local_time.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kDaily = "20261208090000-00007";

platform::LocalTime at(int y, int mo, int d, int h, int mi, int s = 0) {
    return localTime(y, mo, d, h, mi, s);
}

class FailureCollector final : public Notifier {
  public:
    void post(const NotifierEvent& event) override {
        if (const auto* failed = std::get_if<TaskFailed>(&event)) {
            std::lock_guard lock(mutex);
            failures.push_back(*failed);
        }
    }
    void send(const NotifierEvent& event) override { post(event); }
    std::vector<TaskFailed> taken() {
        std::lock_guard lock(mutex);
        return failures;
    }
    std::mutex mutex;
    std::vector<TaskFailed> failures;
};

class AutoSync : public TransferGatewayFixture {
  protected:
    AutoSync()
        : clock(platform::fromLocalTime(at(2026, 12, 8, 10, 30, 0))),
          fakeLogs(installation, clock, notifier) {}

    void SetUp() override {
        TransferGatewayFixture::SetUp();
        fs::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            writeBytes(installation.localconfig() / spec->fileName,
                       catalogue::BuildTableBytes(*spec, at(2026, 1, 1, 0, 0)));
        }
        ASSERT_TRUE(platform::writeFileAtomically(installation.clientIni(),
                                                  "[system]\nAutoSyncDay=15\nForceTimeMuli=3\n"));
        recv = root.path() / "recv";
        fs::create_directories(recv);
        ctx = context();
        ctx.clock = &clock;
        ctx.logs = &fakeLogs;
        ctx.notifier = &failures;
    }

    void TearDown() override {
        if (scheduler) scheduler->stop();
        TransferGatewayFixture::TearDown();
    }

    catalogue::AutoSyncTask task() const {
        catalogue::AutoSyncTask t;
        t.planid = kDaily;
        t.plandes = "A股同步";
        t.mailname = "FTP_A_QS";
        t.recvpath = recv.string();
        t.hasrecvdir = 1;
        t.hastrans = 1;
        t.begindate = "2026-12-01";
        t.begintime = "09:00";
        t.endtime = "18:00";
        t.timespace = 5;
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

    void startScheduler() {
        makeScheduler();
        std::string message;
        ASSERT_EQ(scheduler->catalogue().Add<catalogue::AutoSyncTask>(task(), message), 1) << message;
        scheduler->start(2);
        for (int i = 0; i < 200 && historyId().empty(); ++i) std::this_thread::sleep_for(25ms);
        ASSERT_FALSE(historyId().empty()) << "the tasks were not loaded";
    }

    // A new scheduler over the same tables and lists, as after a restart.
    void restartScheduler() {
        scheduler->stop();
        makeScheduler();
        scheduler->start(2);
        for (int i = 0; i < 200 && historyId().empty(); ++i) std::this_thread::sleep_for(25ms);
        ASSERT_FALSE(historyId().empty()) << "the tasks were not loaded";
    }

    std::string historyId() {
        for (const AutoSyncTaskState& s : scheduler->autoSyncs().snapshot()) {
            if (s.task.plantype == 2) return s.task.planid;
        }
        return {};
    }

    // Starts the task now and waits (at most 60 s) until its run has ended.
    AutoSyncTaskState runNow(const std::string& id) {
        EXPECT_EQ(scheduler->autoSyncs().startNow(id), 1);
        return awaitEnd(id);
    }

    AutoSyncTaskState awaitEnd(const std::string& id) {
        for (int i = 0; i < 1200; ++i) {
            auto state = scheduler->autoSyncs().find(id);
            if (state && !state->running) return *state;
            std::this_thread::sleep_for(50ms);
        }
        ADD_FAILURE() << "the run did not end";
        return {};
    }

    // A mailbox file stamped at `stamp` local time.
    std::string putStamped(const std::string& name, std::size_t size, platform::LocalTime stamp) {
        const std::string bytes = putRemote(name, size);
        EXPECT_TRUE(
            platform::setFileTime(files->root() / "FTP_A_QS" / name, platform::fromLocalTime(stamp))
                .isOk());
        return bytes;
    }

    std::string log(const std::string& id, const char* extension) {
        return platform::gbkToUtf8Lossy(readBytes(
            catalogue::DailyTaskFile(installation.log(), id, clock.localNow(), extension)));
    }

    std::string sysLog() {
        return platform::gbkToUtf8Lossy(readBytes(fakeLogs.sysLogPath(clock.localNow())));
    }

    // Starts the task now, stops it once its bytes flow (at most 30 s) and waits for the end.
    AutoSyncTaskState stopOnceFlowing(const std::string& id) {
        const long long before = files->counters().downloadBytes;
        EXPECT_EQ(scheduler->autoSyncs().startNow(id), 1);
        for (int i = 0; i < 3000 && files->counters().downloadBytes == before; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(scheduler->autoSyncs().stop(id), 1);
        return awaitEnd(id);
    }

    std::string iniValue(const std::string& key) {
        return platform::IniFile(installation.clientIni()).getString("system", key, "");
    }

    platform::FakeClock clock;
    Logs fakeLogs;
    FailureCollector failures;
    Context ctx;
    fs::path recv;
    std::unique_ptr<TaskScheduler> scheduler;
};

TEST_F(AutoSync, aDailyRunFollowsTheDayListByItsVersionAndFetchesEachFileOnce) {
    // setup: three files of the business day (one of several blocks, one empty) and one of
    // the day before
    const std::string a = putStamped("a.txt", 5000, at(2026, 12, 8, 10, 0, 0));
    const std::string big = putStamped("big.dat", 3 * 1024 * 1024 + 7, at(2026, 12, 8, 10, 1, 0));
    putStamped("empty.txt", 0, at(2026, 12, 8, 10, 0, 30));
    putStamped("old.txt", 100, at(2026, 12, 7, 16, 0, 0));
    startScheduler();

    // act: the first run lists the whole day
    AutoSyncTaskState first = runNow(kDaily);

    // verify: the day's files in the subdirectory of their date, the version taken
    EXPECT_EQ(first.task.lastresult, "成功") << first.task.lastdes << log(kDaily, ".log");
    EXPECT_TRUE(readLocal(recv / "20261208" / "a.txt") == a);
    EXPECT_TRUE(readLocal(recv / "20261208" / "big.dat") == big);
    EXPECT_TRUE(fs::is_regular_file(recv / "20261208" / "empty.txt"));
    EXPECT_EQ(readLocal(recv / "20261208" / "empty.txt"), "");
    EXPECT_FALSE(fs::exists(recv / "20261207" / "old.txt"));
    EXPECT_EQ(first.extra.version, "20261208100100");
    std::string text = log(kDaily, ".log");
    EXPECT_NE(text.find("自动同步任务开始运行：同步日期[20261208]"), std::string::npos);
    EXPECT_NE(text.find("查询当日文件列表，文件总数为[3]，版本号为[20261208100100]"),
              std::string::npos);
    EXPECT_NE(text.find("下载自动同步任务结束运行，运行结果：成功"), std::string::npos);

    // act: a new file and a rewritten one; five minutes on, the version has moved and the
    // day's list is merged with what the first run took
    const std::string c = putStamped("c.txt", 700, at(2026, 12, 8, 10, 33, 0));
    const std::string a2 = putStamped("a.txt", 5100, at(2026, 12, 8, 10, 34, 0));
    clock.advance(5min);
    long long bytes = files->counters().downloadBytes;
    AutoSyncTaskState second = runNow(kDaily);

    // verify: the changed files alone came, the delivered big file stayed where it was
    EXPECT_EQ(second.task.lastresult, "成功") << second.task.lastdes;
    EXPECT_EQ(files->counters().downloadBytes - bytes, 700 + 5100);
    EXPECT_TRUE(readLocal(recv / "20261208" / "c.txt") == c);
    EXPECT_TRUE(readLocal(recv / "20261208" / "a.txt") == a2);
    EXPECT_EQ(second.extra.version, "20261208103400");
    text = log(kDaily, ".log");
    EXPECT_NE(text.find("查询当日文件列表，文件总数为[4]，版本号为[20261208103400]"),
              std::string::npos);
    EXPECT_EQ(text.find("强制同步当日文件列表"), std::string::npos);

    // act: nothing changed
    clock.advance(1min);
    bytes = files->counters().downloadBytes;
    AutoSyncTaskState third = runNow(kDaily);
    EXPECT_EQ(third.task.lastresult, "成功");
    EXPECT_EQ(files->counters().downloadBytes, bytes);
    EXPECT_NE(log(kDaily, ".log").find("下载任务运行结束，运行结果：成功"), std::string::npos);

    // act: (3 - 1) x 5 minutes after the first full list the whole day is listed again,
    // and still nothing delivered is fetched again
    clock.advance(4min);
    AutoSyncTaskState fourth = runNow(kDaily);
    EXPECT_EQ(fourth.task.lastresult, "成功");
    EXPECT_EQ(files->counters().downloadBytes, bytes);
    text = log(kDaily, ".log");
    EXPECT_NE(text.find("强制同步当日文件列表"), std::string::npos);
    EXPECT_NE(text.find("查询当日文件列表，文件总数为[4]，版本号为[20261208103400]"),
              std::string::npos);
    EXPECT_TRUE(failures.taken().empty());
    // every list asked with a selector the protocol has ("MT", "T")
    EXPECT_TRUE(files->takeViolations().empty());
}

// Regression: an auto-sync task enabled again after a restart showed 计划运行 with no next
// run and never ran; a disabled task kept its old next run; the file counts read 0/0.
TEST_F(AutoSync, aTaskDisabledAcrossARestartKeepsItsCountsAndRunsOnScheduleOnceEnabled) {
    putStamped("a.txt", 10, at(2026, 12, 8, 9, 0, 0));
    putStamped("b.txt", 20, at(2026, 12, 8, 9, 5, 0));
    startScheduler();
    const AutoSyncTaskState ran = runNow(kDaily);
    ASSERT_EQ(ran.task.lastresult, "成功") << ran.task.lastdes << log(kDaily, ".log");
    ASSERT_EQ(ran.files, 2);
    ASSERT_EQ(ran.done, 2);
    ASSERT_EQ(scheduler->autoSyncs().setScheduled(kDaily, false), 1);
    const auto before = scheduler->autoSyncs().find(kDaily);
    ASSERT_TRUE(before);
    EXPECT_FALSE(before->task.nextRun);

    restartScheduler();
    const auto after = scheduler->autoSyncs().find(kDaily);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->files, before->files);
    EXPECT_EQ(after->done, before->done);
    EXPECT_FALSE(after->task.nextRun);

    // Enabled again, it gets its next run and the schedule starts it there.
    ASSERT_EQ(scheduler->autoSyncs().setScheduled(kDaily, true), 1);
    const auto enabled = scheduler->autoSyncs().find(kDaily);
    ASSERT_TRUE(enabled && enabled->task.nextRun);
    clock.set(*enabled->task.nextRun);
    const std::string due = catalogue::FormatDateTime(clock.localNow());
    bool ranAgain = false;
    for (int i = 0; i < 1200 && !ranAgain; ++i) {
        const auto state = scheduler->autoSyncs().find(kDaily);
        ranAgain = state && !state->running && state->task.laruntime == due;
        if (!ranAgain) std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(ranAgain) << log(kDaily, ".log");
}

TEST_F(AutoSync, aHistoryEntryCatchesUpOneDayPerRunAndRepeatsADayThatFailed) {
    // setup: AutoSyncDay 15 and no stored date; files in the folders of the first two days
    const std::string h1 = putStamped("20261123/h1.txt", 300, at(2026, 11, 23, 15, 0, 0));
    const std::string h2 = putStamped("20261124/h2.txt", 400, at(2026, 11, 24, 15, 0, 0));
    startScheduler();
    const std::string history = historyId();

    // act: the first run
    AutoSyncTaskState run = runNow(history);

    // verify: it took the day 15 days before the business date and stored the next one
    EXPECT_EQ(run.task.lastresult, "成功") << run.task.lastdes << log(history, "_his.log");
    EXPECT_TRUE(readLocal(recv / "20261123" / "h1.txt") == h1);
    EXPECT_EQ(iniValue("syncHisDate_A"), "20261124");
    const std::string text = log(history, "_his.log");
    EXPECT_NE(text.find("自动同步历史任务开始运行：同步日期[20261123]"), std::string::npos);
    EXPECT_NE(text.find("查询历史文件列表，文件总数为[1]，日期为[20261123]"), std::string::npos);
    EXPECT_NE(text.find("自动同步历史任务结束运行，运行结果：成功"), std::string::npos);

    // act: the next day's file cannot be verified (the gateway lies about its size)
    files->faults().sizeLie = 3;
    run = runNow(history);

    // verify: the day failed, stays the next to take, and an alert names the auto-sync task
    EXPECT_EQ(run.task.lastresult, "失败");
    EXPECT_EQ(iniValue("syncHisDate_A"), "20261124");
    const std::vector<TaskFailed> alerts = failures.taken();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].kind, CatalogueTaskKind::AutoSync);
    EXPECT_EQ(alerts[0].taskId, history);

    // act: the gateway is honest again
    files->faults().sizeLie = 0;
    run = runNow(history);

    // verify: the same day again, now delivered; a day without a folder is empty, not failed
    EXPECT_EQ(run.task.lastresult, "成功") << run.task.lastdes << log(history, "_his.log");
    EXPECT_TRUE(readLocal(recv / "20261124" / "h2.txt") == h2);
    EXPECT_EQ(iniValue("syncHisDate_A"), "20261125");
    run = runNow(history);
    EXPECT_EQ(run.task.lastresult, "成功");
    EXPECT_EQ(iniValue("syncHisDate_A"), "20261126");
}

TEST_F(AutoSync, aStoppedHistoryEntryLeavesTheTaskScheduledAndAStoppedDailyTaskIsDisabled) {
    // setup: a large file in the first history day's folder and one of the business day
    putStamped("20261123/h.dat", 24 * 1024 * 1024, at(2026, 11, 23, 15, 0, 0));
    putStamped("d.dat", 24 * 1024 * 1024, at(2026, 12, 8, 10, 0, 0));
    startScheduler();
    const std::string history = historyId();

    // act: the history entry is stopped mid-file
    const AutoSyncTaskState h = stopOnceFlowing(history);
    if (h.task.lastresult == "成功") GTEST_SKIP() << "the whole day came before the stop arrived";

    // verify: its run ends as stopped, and the task's stored row keeps its schedule
    EXPECT_EQ(h.task.lastdes, "用户停止任务!");
    scheduler->catalogue().Load<catalogue::AutoSyncTask>();
    ASSERT_TRUE(scheduler->catalogue().Find<catalogue::AutoSyncTask>(kDaily));
    EXPECT_EQ(scheduler->catalogue().Find<catalogue::AutoSyncTask>(kDaily)->planstate, 1);
    EXPECT_NE(sysLog().find("用户停止自动同步历史任务[" + history + "]"), std::string::npos)
        << sysLog();
    EXPECT_NE(log(history, "_his.log").find("下载任务结束运行，用户停止任务！"), std::string::npos);

    // act: the daily task is stopped mid-file
    const AutoSyncTaskState d = stopOnceFlowing(kDaily);
    if (d.task.lastresult == "成功") GTEST_SKIP() << "the whole day came before the stop arrived";

    // verify: a plain stop takes the daily task off the schedule, in the map and the table
    EXPECT_EQ(d.task.planstate, -1);
    scheduler->catalogue().Load<catalogue::AutoSyncTask>();
    EXPECT_EQ(scheduler->catalogue().Find<catalogue::AutoSyncTask>(kDaily)->planstate, -1);
    EXPECT_NE(sysLog().find("用户停止自动同步任务[" + std::string(kDaily) + "]"), std::string::npos);
}

TEST_F(AutoSync, theCleanUpRunsOncePerBusinessDateAndOnlyBetweenTwoAndThreeGatewayTime) {
    // setup: a model of its own over the catalogue, and old and recent files of the task
    catalogue::CPlanDir dirs;
    catalogue::CModule module(ctx, dirs);
    module.SetOperator("OPER01");
    std::string message;
    ASSERT_EQ(module.Add<catalogue::AutoSyncTask>(task(), message), 1) << message;
    FileBlockInfo::Options blockOptions;
    blockOptions.clock = &clock;
    FileBlockMap blocks(blockOptions);
    GatewayProcessState facts;
    AutoSyncModelOptions options;
    options.catalogue = &module;
    options.blocks = &blocks;
    options.process = &facts;
    options.makeSession = [] { return std::unique_ptr<CVornFtp>(); };
    CAutoDownModel model(ctx, options);
    model.queueLoad();
    model.processCommands();
    fs::create_directories(installation.data());
    fs::create_directories(installation.log());
    const fs::path oldList = installation.data() / (std::string(kDaily) + "-20261122.dat");
    const fs::path oldLog = installation.log() / (std::string(kDaily) + "-20261101.log");
    const fs::path recentList = installation.data() / (std::string(kDaily) + "-20261123.dat");
    const fs::path otherTask = installation.data() / "20261101000000-00001-20261101.dat";
    for (const fs::path& p : {oldList, oldLog, recentList, otherTask}) std::ofstream(p) << "x";

    // act: the login reported 01:59:50; the clock has not moved
    facts.recordLogin({"20261208", "015950", "U1"});
    model.cleanLocalHistory();
    // verify: too early
    EXPECT_TRUE(fs::exists(oldList));

    // act: twenty seconds later the gateway's time is 02:00:10
    clock.advance(20s);
    model.cleanLocalHistory();

    // verify: files older than the horizon (business date - 15 days) went, nothing else
    EXPECT_FALSE(fs::exists(oldList));
    EXPECT_FALSE(fs::exists(oldLog));
    EXPECT_TRUE(fs::exists(recentList));
    EXPECT_TRUE(fs::exists(otherTask));
    EXPECT_EQ(iniValue("cleanHisDate"), "20261208");
    EXPECT_NE(log(kDaily, ".log").find("自动同步-本地历史文件清理完成，共清理文件[2]个"),
              std::string::npos);

    // act: later the same business date
    std::ofstream(oldList) << "x";
    clock.advance(10min);
    model.cleanLocalHistory();
    // verify: once per business date
    EXPECT_TRUE(fs::exists(oldList));

    // act: the next business date, reported after three o'clock
    facts.recordLogin({"20261209", "030001", "U1"});
    model.cleanLocalHistory();
    EXPECT_TRUE(fs::exists(oldList));
    // act: and inside the hour
    facts.recordLogin({"20261209", "025959", "U1"});
    model.cleanLocalHistory();
    EXPECT_FALSE(fs::exists(oldList));
    EXPECT_EQ(iniValue("cleanHisDate"), "20261209");
}

TEST(AutoSyncRules, datesAndTimesAtTheirEdges) {
    using namespace execution;
    bool corrected = false;
    EXPECT_EQ(HistorySyncDate("", "20261208", 15, corrected), "20261123");
    EXPECT_TRUE(corrected);
    EXPECT_EQ(HistorySyncDate("20261101", "20261208", 15, corrected), "20261123");
    EXPECT_TRUE(corrected);
    EXPECT_EQ(HistorySyncDate("20261201", "20261208", 15, corrected), "20261201");
    EXPECT_FALSE(corrected);
    EXPECT_EQ(AddDays("20261231", 1), "20270101");
    EXPECT_EQ(AddDays("20240301", -1), "20240229");
    EXPECT_EQ(AddDays("2026123", 1), "");
    EXPECT_FALSE(HistoryCaughtUp("20261208", "20261208"));
    EXPECT_TRUE(HistoryCaughtUp("20261209", "20261208"));

    // ForceTimeMuli 3, timespace 5: the whole day again after 600 seconds
    const platform::WallTime t0 = platform::fromLocalTime(at(2026, 12, 8, 10, 0, 0));
    EXPECT_FALSE(FullListDue(t0, t0 + 599s, 3, 5));
    EXPECT_TRUE(FullListDue(t0, t0 + 600s, 3, 5));
    EXPECT_TRUE(FullListDue(std::nullopt, t0, 3, 5));

    EXPECT_EQ(GatewayTimeNow("235950", 20s), "000010");
    EXPECT_EQ(GatewayTimeNow("0930", 0s), "");
    EXPECT_TRUE(CleanupDue("20261208", "020000", ""));
    EXPECT_TRUE(CleanupDue("20261208", "030000", "20261207"));
    EXPECT_FALSE(CleanupDue("20261208", "030001", ""));
    EXPECT_FALSE(CleanupDue("20261208", "025000", "20261208"));
    EXPECT_FALSE(CleanupDue("", "025000", ""));
}

}  // namespace
}  // namespace vantrel::testing
