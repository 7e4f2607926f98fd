// The thread manager's rules on a model of our own, and the schedule decisions of a
// download task, on a fake clock.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "client/execution/runs/plan_thread_mgr.h"
#include "client/execution/tasks/download_schedule.h"
#include "client/transfer/file_block_map.h"
#include "tests/gateway/gateway_fixture.h"
#include "tests/support/local_time.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

platform::WallTime at(int y, int mo, int d, int h, int mi, int s = 0) {
    return platform::fromLocalTime(localTime(y, mo, d, h, mi, s));
}

// Feeds the blocks of one download and holds every block a worker takes until the
// threads stop, so the queue's flow control shows.
class HoldingModel final : public PlanModel {
  public:
    explicit HoldingModel(FileBlockInfo& file) : file_(file) {}
    void queueLoad() override { pending_.set(); }
    platform::Event& commandPending() override { return pending_; }
    void processCommands() override {}
    void scheduleCheck() override {}
    void endOfRunCheck() override {}
    void perSecondStep() override {}
    void continuousStep() override {}
    int dispatch(TransferQueue& queue) override {
        BlockTask* block = file_.claimNextBlock();
        if (block) queue.pushBack(block);
        maxQueued = std::max(maxQueued.load(), queue.count());
        return block ? 1 : 0;
    }
    bool ownsTask(std::string_view) const override { return true; }
    void runBlock(BlockTask& block, CVornFtp&, const BlockRun& run) override {
        ++taken;
        while (!run.shouldStop()) std::this_thread::sleep_for(5ms);
        block.setState(kBlockIdle);
    }
    bool anyRunning() const override { return false; }
    std::optional<TaskRunView> runView(std::string_view) const override { return std::nullopt; }
    void addWriteTargets(std::vector<DiskSpaceWatch::Target>&) const override {}

    std::atomic<int> maxQueued{0};
    std::atomic<int> taken{0};

  private:
    FileBlockInfo& file_;
    platform::Event pending_{platform::Event::Reset::Auto};
};

class ThreadManager : public GatewayFixture {};

TEST_F(ThreadManager, dispatchersStopFeedingAtThreeTimesTheWorkersAndEveryThreadStopsInOrder) {
    // setup: a 300 MiB download (30 blocks, its data file sparse); workers log in for real
    FileBlockInfo::Options blockOptions;
    blockOptions.clock = &platform::RealClock::instance();
    FileBlockInfo file(blockOptions);
    TransferItem item;
    item.remoteName = "big.bin";
    item.localName = "big.bin";
    item.localDirectory = root.path();
    item.fileSize = 300ll * 1024 * 1024;
    item.taskId = "T1";
    ASSERT_TRUE(file.open(item, false, "VRELKA", "FTP_A_QS", "04")) << file.errorText();
    HoldingModel model(file);
    ThreadManagerOptions options;
    options.download = &model;
    options.makeSession = [this] { return makeHandle(); };
    CPlanThreadMgr manager(context(), process, options);

    // act: 5 workers take 5 blocks and hold them; the queue fills up behind them
    manager.StartThreads(5);
    for (int i = 0; i < 400 && (model.taken < 5 || manager.transferQueue().count() < 15); ++i) {
        std::this_thread::sleep_for(25ms);
    }
    std::this_thread::sleep_for(300ms);

    // verify: 15 queued, never more, and nothing more taken
    EXPECT_EQ(model.taken, 5);
    EXPECT_EQ(manager.transferQueue().count(), 15);
    EXPECT_EQ(model.maxQueued, 15);
    manager.StopThreads();
    EXPECT_TRUE(manager.stopped());
    const std::string log = sysLog();
    for (const char* line :
         {"计划监控线程启动", "文件传送线程[6]启动", "用户关闭系统，监控线程退出",
          "用户关闭系统，传送管理线程退出", "用户关闭系统，自动同步管理线程退出"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(log.find("未能按时结束"), std::string::npos);
    EXPECT_FALSE(process.shouldStop());
    file.close();
}

TEST(ThreadManagerRules, workerCountsAndTheUploadNameQueue) {
    EXPECT_EQ(CPlanThreadMgr::WorkerCountFor(0), 1);
    EXPECT_EQ(CPlanThreadMgr::WorkerCountFor(-3), 1);
    EXPECT_EQ(CPlanThreadMgr::WorkerCountFor(5), 5);
    EXPECT_EQ(CPlanThreadMgr::WorkerCountFor(25), 10);

    CTaskQueue queue;
    for (int i = 0; i < 51; ++i) ASSERT_EQ(queue.add("task" + std::to_string(i)), 1);
    EXPECT_EQ(queue.add("task52"), 0);
    queue.remove("task0");
    EXPECT_EQ(queue.add("task7"), 1);  // moved to the end, not added twice
    EXPECT_EQ(queue.size(), 50u);
    EXPECT_TRUE(queue.contains("task7"));
    EXPECT_FALSE(queue.contains("TASK7"));
}

TEST(ThreadManagerRules, aBlockIsTriedFourTimesThenFailsForGoodWithTheErrorLine) {
    TempDir dir;
    const fs::path source = dir.path() / "a.bin";
    std::ofstream(source, std::ios::binary) << std::string(1000, 'x');
    FileBlockInfo::Options o;
    o.clock = &platform::RealClock::instance();
    FileBlockInfo file(o);
    TransferItem item{"a.bin", "a.bin", dir.path(), 1000, 0, "T1", true};
    ASSERT_TRUE(file.open(item, true, "VRELKA", "FTP_A_QS", "03"));
    BlockTask& block = file.block(0);
    std::vector<std::pair<std::string, int>> lines;
    const auto log = [&](const std::string& line, int level) { lines.emplace_back(line, level); };
    std::vector<int> states;
    for (int attempt = 0; attempt < 4; ++attempt) {
        block.setState(kBlockTaken);
        applyRetryRule(block, "上传文件[a.bin]", "网关断开", true, kBlockFailed, log);
        states.push_back(block.state());
    }
    EXPECT_EQ(states, (std::vector<int>{kBlockIdle, kBlockIdle, kBlockIdle, kBlockFailed}));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].first,
              "上传文件[a.bin]出现错误,错误信息：网关断开;开始偏移量-[0],结束偏移量-[1000]");
    EXPECT_EQ(lines[0].second, 1);
    EXPECT_EQ(lines[3].first, "上传文件[a.bin]出现错误,错误信息：网关断开;上传文件失败！");
    EXPECT_EQ(lines[3].second, 2);
    file.close();
}

catalogue::DownloadTask nightTask() {
    catalogue::DownloadTask t;
    t.planid = "N";
    t.begintime = "22:00";
    t.endtime = "06:00";
    t.nextday = 1;
    t.curweek = "1111100";
    t.planstate = 1;
    return t;
}

TEST(DownloadSchedule, aNightWindowBelongsToTheDayItStartsOn) {
    // 2026-12-07 is a Monday.
    struct Case {
        platform::WallTime now;
        ScheduleDecision expected;
        const char* why;
    } cases[] = {
        {at(2026, 12, 7, 22, 0), ScheduleDecision::Start, "Monday 22:00"},
        {at(2026, 12, 8, 5, 59), ScheduleDecision::Start, "Tuesday 05:59 is Monday's window"},
        {at(2026, 12, 11, 23, 59), ScheduleDecision::Start, "Friday 23:59"},
        {at(2026, 12, 12, 5, 0), ScheduleDecision::Start, "Saturday 05:00 is Friday's window"},
        {at(2026, 12, 12, 22, 0), ScheduleDecision::Idle, "Saturday evening"},
        {at(2026, 12, 13, 23, 0), ScheduleDecision::Idle, "Sunday evening"},
        {at(2026, 12, 7, 21, 59), ScheduleDecision::Idle, "before the window"},
        {at(2026, 12, 8, 6, 1), ScheduleDecision::Idle, "after the window"},
    };
    for (const Case& c : cases) {
        catalogue::DownloadTask task = nightTask();
        task.nextRun = c.now;
        EXPECT_EQ(CheckDownloadSchedule(catalogue::ScheduleOf(task), task.nextRun, false, c.now), c.expected) << c.why;
        EXPECT_EQ(CheckDownloadSchedule(catalogue::ScheduleOf(task), task.nextRun, true, c.now), ScheduleDecision::Idle)
            << c.why << " (running)";
    }
}

TEST(DownloadSchedule, aMissedStartStartsTenSecondsLaterAndEqualTimesGiveOneMinute) {
    catalogue::DownloadTask task = nightTask();
    task.nextRun = at(2026, 12, 7, 22, 0);
    const platform::WallTime late = at(2026, 12, 7, 23, 0, 0);
    EXPECT_EQ(CheckDownloadSchedule(catalogue::ScheduleOf(task), task.nextRun, false, late), ScheduleDecision::Recompute);
    EXPECT_EQ(NextRunAfterMissedStart(catalogue::ScheduleOf(task), late), late + 10s);
    // Saturday evening: the next enabled day is Monday at 22:00.
    EXPECT_EQ(NextRunAfterMissedStart(catalogue::ScheduleOf(task), at(2026, 12, 12, 22, 30)), at(2026, 12, 14, 22, 0));

    catalogue::DownloadTask minute;
    minute.begintime = minute.endtime = "08:00";
    minute.curweek = "1111111";
    minute.planstate = 1;
    minute.nextRun = at(2026, 12, 8, 8, 0, 30);
    EXPECT_EQ(CheckDownloadSchedule(catalogue::ScheduleOf(minute), minute.nextRun, false, at(2026, 12, 8, 8, 0, 30)),
              ScheduleDecision::Start);
    minute.nextRun = at(2026, 12, 8, 8, 1, 0);
    EXPECT_EQ(CheckDownloadSchedule(catalogue::ScheduleOf(minute), minute.nextRun, false, at(2026, 12, 8, 8, 1, 0)),
              ScheduleDecision::Idle);
}

}  // namespace
}  // namespace vantrel::testing
