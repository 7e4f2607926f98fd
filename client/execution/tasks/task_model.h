#pragma once
// TaskModel<Kind>: what the download, upload and auto-sync models share. It keeps the task
// map (a copy of each catalogue record beside the run state the model owns), its lock, the
// queue of table commands, the one lookup every caller goes through, the run phase of each
// task, and the skeletons of the threads' steps: the schedule check, dispatch, the end of a
// run, stop and "again". A kind supplies what differs: how a run begins, how its blocks are
// queued and its files delivered, what a start is admitted on and what the end of a run
// writes besides the task table.
//
// Every run ends through endRun(): finished, failed to start, or stopped. It releases what
// the run registered in the block-state registry, records the result in the task table,
// writes the task log, posts the failure alert and the new run state, and takes the
// catalogue's result and next run back into the map.
//
// Locks: mutex_ guards the task map. It is never held while a run, a list, the catalogue or
// a gateway is asked anything; hooks that are called with it held say so and only change
// the entry they are given.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/tasks/day_counts.h"
#include "client/execution/tasks/download_schedule.h"
#include "client/execution/tasks/plan_model.h"
#include "client/execution/tasks/table_commands.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

// Where a task's run is.
enum class RunPhase {
    Idle,        // no run
    Due,         // asked to start (schedule or command): the dispatcher begins the run
    Running,     // begun: its blocks go to the transfer queue
    Delivering,  // seen by the plan monitor: finished files are moved into place
    Stopping,    // a stop was asked: released once no worker holds one of its blocks
    Ending,      // finished: its result is being recorded (still running for whoever waits)
};

const char* RunPhaseName(RunPhase phase);

// The stored state of a task that a stop took off the schedule.
inline constexpr int kRunDisabledByStop = -1;
// Whether the lifecycle has a move from `from` to `to`.
bool RunPhaseMoveAllowed(RunPhase from, RunPhase to);

// A kind names its record and run types and the state it keeps per task beside the
// common one (`Extra`, default-constructible and copyable).
struct NoExtra {};
template <class TaskType, class RunType, class ExtraType = NoExtra>
struct TaskKind {
    using Task = TaskType;
    using Run = RunType;
    using Extra = ExtraType;
};

template <class Kind>
class TaskModel : public PlanModel {
  public:
    using Task = typename Kind::Task;
    using Run = typename Kind::Run;
    using Extra = typename Kind::Extra;

    // One task as the views and the command service see it.
    struct State {
        Task task;
        RunPhase phase = RunPhase::Idle;
        bool running = false;  // any phase but Idle
        bool stopping = false;
        // The files of the day's list and how many of them are done (delivered or sent):
        // the current run's, else those of the last run.
        int files = 0;
        int done = 0;
        Extra extra;
    };

    ~TaskModel() override = default;

    // The user interface's commands (any thread). Table commands are carried out by the plan
    // monitor; the others take effect at the next pass of the threads. Each returns 0 when
    // the task is unknown (stop: or not running; again: or the kind has no such command).
    void queueCommand(TableCommand command, const Task& task) { commands_.push(command, task); }
    int startNow(std::string_view taskId);
    int stop(std::string_view taskId);
    // Forgets what the task fetched of its current day and starts it afresh.
    int again(std::string_view taskId);
    // Enables or disables the task's schedule, in the map and in the task table.
    int setScheduled(std::string_view taskId, bool scheduled);
    std::vector<State> snapshot() const;
    std::optional<State> find(std::string_view taskId) const;

    // PlanModel.
    void queueLoad() override { queueCommand(TableCommand::Load, {}); }
    platform::Event& commandPending() override { return commands_.pending(); }
    void processCommands() override;
    void scheduleCheck() override;
    void endOfRunCheck() override;
    void perSecondStep() override;
    void continuousStep() override;
    int dispatch(TransferQueue& queue) override;
    bool ownsTask(std::string_view taskId) const override;
    void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) override;
    bool anyRunning() const override;

  protected:
    struct Entry {
        Task task;
        RunPhase phase = RunPhase::Idle;
        bool againRequested = false;
        std::shared_ptr<Run> run;
        std::filesystem::path taskLog;
        int lastFiles = 0;
        int lastDone = 0;
        Extra extra;
    };
    // What a kind's first pass of a run made.
    struct Begun {
        std::shared_ptr<Run> run;  // null: nothing to do, the run ends "成功" at once
        std::filesystem::path taskLog;
        Extra extra;
    };
    enum class Admission { Start, Wait, Refuse };
    enum class Ending { Finished, StartFailed, Stopped };
    // The task-log lines of a run's end, each followed by the result where it has one.
    struct RunTexts {
        const char* ended;        // "下载任务结束运行，运行结果："
        const char* startFailed;  // "下载任务运行结束，运行结果："
        const char* stopped;      // "下载任务结束运行，用户停止任务！"
    };

    // `context`, `catalogue` and `blocks` must outlive the model.
    TaskModel(const Context& context, catalogue::CModule& catalogue, FileBlockMap& blocks,
              CatalogueTaskKind kind, const CatalogueTable<Task>& table, RunTexts texts)
        : context_(context),
          catalogue_(catalogue),
          blocks_(blocks),
          kind_(kind),
          table_(table),
          texts_(texts) {}

    // ---- what a kind supplies ----
    // Dispatcher: the first pass of a run of `entry` (a copy). False with `error` set; the
    // run it made, if any, is released by the caller.
    virtual bool beginRun(const Entry& entry, Begun& begun, std::string& error) = 0;
    // Requires: mutex_ held. Takes what the first pass found into the entry.
    virtual void takeBegun(Entry&, const Begun&) {}
    // Dispatcher: the run's next block into the queue; returns how many were queued.
    virtual int queueBlocks(TransferQueue& queue, Run& run) = 0;
    // Transfer manager: moves the run's finished files into place.
    virtual void deliver(Run&) {}
    virtual int doneCount(const Run& run) const = 0;
    // Dispatcher, "again": forgets the day of `entry` (a copy); true starts the task anew.
    // Kinds without the command leave it false.
    virtual bool supportsAgain() const { return false; }
    // Requires: mutex_ held. What the entry forgets before forgetDay() runs.
    virtual void resetForAgain(Entry&) {}
    virtual bool forgetDay(const Entry&) { return false; }
    // The task's window as the schedule check reads it.
    virtual catalogue::DownloadTask scheduleShape(const Task& task) const = 0;
    // Plan monitor, before the schedule check takes the lock.
    virtual void beforeScheduleCheck() {}
    // Requires: mutex_ held. Whether a task whose start time came starts now; Refuse also
    // ends this check (later tasks wait for the next tick) and calls startRefused().
    virtual Admission admitStart(Entry&, platform::WallTime) { return Admission::Start; }
    virtual void startRefused(const std::string&) {}
    // Before a finished run's result is recorded (and only then); `hadRun`: the run listed
    // files, rather than finding nothing to do.
    virtual void beforeRecord(const Entry&, bool /*ok*/, bool /*hadRun*/) {}
    // Requires: mutex_ held. The entry of a run that ended, before it goes idle.
    virtual void runEnded(Entry&, Ending, bool) {}
    // Any run's end (finished, failed to start, stopped), before it is recorded.
    virtual void leaveRun(const std::string&) {}
    // Dispatcher, when a stop is carried out (before the run is asked whether a worker holds
    // one of its blocks).
    virtual void stopping(const std::string&) {}
    // Plan monitor, after the end-of-run check.
    virtual void afterEndOfRunCheck() {}
    // Whether a plain stop also disables the task's row in the table.
    virtual bool stopDisablesRow(const Task&) const { return true; }
    // The task-log line of a finished run's end.
    virtual std::string endLine(const Entry&, const std::string& result, bool /*hadRun*/) const {
        return texts_.ended + result;
    }
    // After a stop is carried out (plain stops only).
    virtual void stopped(const Entry&) {}

    // ---- for the kinds ----
    // Copies of every task of the map.
    std::vector<Task> tasks() const;
    void sysLog(const std::string& line) const;
    void writeTaskLog(const std::filesystem::path& path, const std::string& line, int level) const;
    void post(const NotifierEvent& event) const;
    std::string nowText() const;

    const Context& context_;
    catalogue::CModule& catalogue_;
    FileBlockMap& blocks_;

  private:
    // Requires: mutex_ held. The one lookup: case is ignored, as block owners name their task.
    Entry* findLocked(std::string_view taskId);
    const Entry* findLocked(std::string_view taskId) const;
    // Requires: mutex_ held. The one place a phase changes; a move the lifecycle does not
    // have is logged and refused.
    bool moveLocked(Entry& entry, RunPhase to);
    NotifierEvent runStateOf(const Entry& entry) const;
    State stateOf(const Entry& entry) const;
    std::shared_ptr<Run> runOf(std::string_view taskId) const;
    void reloadFromCatalogue();
    // Requires: mutex_ held. `counts`: today's lists of the tasks new to the model.
    void mergeLocked(const std::vector<Task>& fresh, const std::map<std::string, DayCount>& counts);
    // Requires: mutex_ held. An idle task's next run: none while it is disabled; when it is
    // enabled, the one after its last run (`fromLastRun`, at start) if that is still to
    // come, else the first one of its schedule when it has none.
    void settleNextRunLocked(Entry& entry, platform::WallTime now, bool fromLastRun);
    bool begin(const std::string& taskId);
    void handleStop(TransferQueue& queue, const std::string& taskId);
    void handleAgain(const std::string& taskId);
    // The end of every run. `run` may be null (nothing began, or nothing to do).
    void endRun(const std::string& taskId, const std::shared_ptr<Run>& run,
                const std::filesystem::path& taskLog, Ending how, const std::string& result,
                const std::string& description);
    void refreshFromCatalogue(const std::string& taskId);

    const CatalogueTaskKind kind_;
    const CatalogueTable<Task> table_;
    const RunTexts texts_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> tasks_;
    TableCommandQueue<Task> commands_;
};

}  // namespace vantrel
