// The lifecycle every task model shares, driven through a small fake kind on a real task
// catalogue: a run from start to its recorded end, a start that fails or whose task is
// deleted meanwhile (whatever the run registered is released either way), a stop that waits
// for the worker's block, and a reload that leaves the other tasks' next runs alone.

#include <gtest/gtest.h>

#include <fstream>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/plan_dir.h"
#include "client/catalogue/table_schema.h"
#include "client/base/logs.h"
#include "client/execution/runs/transfer_queue.h"
#include "client/execution/tasks/task_kind.h"
#include "client/execution/tasks/task_model_impl.h"
#include "tests/support/local_time.h"
#include "tests/support/temp_dir.h"

namespace vantrel {

namespace {

class FakeRun {
  public:
    int fileCount() const { return 2; }
    bool finished() const { return finished_; }
    std::string result(std::string& description) const {
        description = description_;
        return description_.empty() ? "成功" : "失败";
    }
    void release(bool stopped) {
        ++releases;
        releasedStopped = stopped;
    }
    void taskLog(const std::string&, int) const {}
    const std::filesystem::path& taskLogPath() const { return log_; }
    bool anyTaken() const { return taken; }
    void perSecond() {}
    void runBlock(BlockTask&, CVornFtp&, const BlockRun&) {}
    int queueNext(TransferQueue&) { return 0; }
    void deliverWhileEnding() {}
    int doneCount() const { return finished_ ? 2 : 1; }

    bool finished_ = false;
    bool taken = false;
    std::string description_;
    int releases = 0;
    bool releasedStopped = false;

  private:
    std::filesystem::path log_;
};

using FakeKind = TaskKind<catalogue::DownloadTask, FakeRun>;

class FakeModel final : public TaskModel<FakeKind> {
  public:
    FakeModel(const Context& context, catalogue::CModule& catalogue, FileBlockMap& blocks)
        : TaskModel(context, catalogue, blocks, CatalogueTaskKind::Download,
                    CatalogueTableOf<catalogue::DownloadTask>(),
                    {"ended:", "start failed:", "stopped"}) {}

    // What the next first pass does.
    std::string failWith;
    std::function<void()> duringBegin;
    std::shared_ptr<FakeRun> lastRun;

  private:
    bool beginRun(const Entry&, Begun& begun, std::string& error) override {
        lastRun = std::make_shared<FakeRun>();
        begun.run = lastRun;
        if (duringBegin) duringBegin();
        error = failWith;
        return failWith.empty();
    }
};

class RecordingNotifier final : public Notifier {
  public:
    void post(const NotifierEvent& event) override {
        if (const auto* failed = std::get_if<TaskFailed>(&event)) failures.push_back(failed->reason);
    }
    void send(const NotifierEvent& event) override { post(event); }
    std::vector<std::string> failures;
};

class TaskModelTest : public ::testing::Test {
  protected:
    TaskModelTest()
        : installation(root.path(), root.path()),
          clock(platform::fromLocalTime(testing::localTime(2026, 12, 8, 10, 0, 0))),
          logs(installation, clock, notifier),
          catalogue(contextOf(), dirs),
          blocks(FileBlockInfo::Options{}),
          model(context, catalogue, blocks) {
        catalogue.SetOperator("OPER01");
        model.queueLoad();
        model.processCommands();
    }

    const Context& contextOf() {
        std::filesystem::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            std::ofstream(installation.localconfig() / spec->fileName, std::ios::binary)
                << catalogue::BuildTableBytes(*spec, testing::localTime(2026, 1, 1, 0, 0, 0));
        }
        context.installation = installation;
        context.clock = &clock;
        context.notifier = &notifier;
        context.logs = &logs;
        return context;
    }

    std::string addTask(const std::string& id) {
        catalogue::DownloadTask t;
        t.planid = id;
        t.plandes = id;
        t.plantype = 1;
        t.mailname = "FTP_A_QS";
        t.filename = "*.*";
        t.recvpath = root.path().string();
        t.begindate = "2026-01-01";
        t.begintime = "00:00";
        t.endtime = "23:59";
        t.curweek = "1111111";
        t.timespace = 10;
        t.planstate = 1;
        t.right = "OPER01";
        model.queueCommand(TableCommand::Add, t);
        model.processCommands();
        return id;
    }

    // The passes of the threads that move a run on.
    void pass() {
        model.dispatch(queue);
        model.endOfRunCheck();
    }

    testing::TempDir root;
    Installation installation;
    platform::FakeClock clock;
    RecordingNotifier notifier;
    Logs logs;
    Context context;
    catalogue::CPlanDir dirs;
    catalogue::CModule catalogue;
    FileBlockMap blocks;
    TransferQueue queue;
    FakeModel model;
};

TEST_F(TaskModelTest, aRunGoesThroughItsPhasesAndItsResultAndCountsOutliveIt) {
    const std::string id = addTask("20261208090000-00001");
    ASSERT_EQ(model.startNow(id), 1);
    EXPECT_EQ(model.find(id)->phase, RunPhase::Due);
    // Lookups ignore case, as block owners name their task.
    EXPECT_TRUE(model.ownsTask("20261208090000-00001"));

    pass();
    EXPECT_EQ(model.find(id)->phase, RunPhase::Delivering);
    EXPECT_EQ(model.find(id)->done, 1);
    model.lastRun->finished_ = true;
    pass();

    const auto state = model.find(id);
    EXPECT_EQ(state->phase, RunPhase::Idle);
    EXPECT_EQ(state->task.lastresult, "成功");
    EXPECT_FALSE(state->task.laruntime.empty());
    ASSERT_TRUE(state->task.nextRun);
    EXPECT_EQ(*state->task.nextRun, clock.now() + std::chrono::minutes(10));
    EXPECT_EQ(state->files, 2);
    EXPECT_EQ(state->done, 2);
    EXPECT_EQ(model.lastRun->releases, 1);
    EXPECT_EQ(catalogue.Find<catalogue::DownloadTask>(id)->lastresult, "成功");

    // Saving another task reloads the table; this task keeps the next run it has.
    addTask("20261208090000-00002");
    model.queueLoad();
    model.processCommands();
    EXPECT_EQ(*model.find(id)->task.nextRun, clock.now() + std::chrono::minutes(10));
}

TEST_F(TaskModelTest, aStartThatFailsOrLosesItsTaskReleasesWhatTheRunRegistered) {
    const std::string id = addTask("20261208090000-00003");
    model.failWith = "登录失败";
    model.startNow(id);
    pass();
    EXPECT_EQ(model.lastRun->releases, 1);
    EXPECT_EQ(model.find(id)->phase, RunPhase::Idle);
    EXPECT_EQ(model.find(id)->task.lastresult, "失败");
    EXPECT_EQ(model.find(id)->task.lastdes, "登录失败");
    ASSERT_EQ(notifier.failures.size(), 1u);

    // Deleted from the table while its first pass runs.
    model.failWith.clear();
    model.duringBegin = [&] {
        model.queueCommand(TableCommand::Delete, *catalogue.Find<catalogue::DownloadTask>(id));
        model.processCommands();
    };
    model.startNow(id);
    pass();
    EXPECT_EQ(model.lastRun->releases, 1);
    EXPECT_FALSE(model.find(id));
    EXPECT_FALSE(catalogue.Find<catalogue::DownloadTask>(id));
    EXPECT_EQ(notifier.failures.back(), "计划[" + id + "]不存在！");
    // A reload of the table does not bring the deleted task back.
    model.queueLoad();
    model.processCommands();
    EXPECT_FALSE(model.find(id));
}

TEST_F(TaskModelTest, aStopWaitsForTheWorkersBlockThenTakesTheTaskOffTheSchedule) {
    const std::string id = addTask("20261208090000-00004");
    model.startNow(id);
    pass();
    model.lastRun->taken = true;
    ASSERT_EQ(model.stop(id), 1);
    pass();
    EXPECT_EQ(model.find(id)->phase, RunPhase::Stopping);
    EXPECT_EQ(model.lastRun->releases, 0);

    model.lastRun->taken = false;
    pass();
    const auto state = model.find(id);
    EXPECT_EQ(state->phase, RunPhase::Idle);
    EXPECT_EQ(model.lastRun->releases, 1);
    EXPECT_TRUE(model.lastRun->releasedStopped);
    EXPECT_EQ(state->task.planstate, kRunDisabledByStop);
    EXPECT_EQ(state->task.lastdes, "用户停止任务!");
    EXPECT_EQ(catalogue.Find<catalogue::DownloadTask>(id)->lastresult, "失败");
    EXPECT_EQ(model.stop(id), 0);

    // A task deleted while it runs stops and leaves.
    model.setScheduled(id, true);
    model.startNow(id);
    pass();
    model.queueCommand(TableCommand::Delete, *catalogue.Find<catalogue::DownloadTask>(id));
    model.processCommands();
    EXPECT_EQ(model.find(id)->phase, RunPhase::Stopping);
    pass();
    EXPECT_FALSE(model.find(id));
}

}  // namespace
}  // namespace vantrel
