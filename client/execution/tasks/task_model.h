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
// Locks: mutex_ guards the task map. It is never held while a run, a list, the catalogue, a
// gateway or a kind's hook is asked anything.

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
// common one (`Extra`, default-constructible and copyable). The model changes that state
// under its lock only through the Extra's own members, which touch nothing else:
//   begin(task, begun, listed)  the first pass of a run made `begun` (`listed`: it has a run)
//   forget()                    "again" forgets the task's day
//   end(task, tookAll)          the run ended; `tookAll`: it finished and placed every file
struct NoExtra {
    template <class Task>
    void begin(const Task&, const NoExtra&, bool) {}
    void forget() {}
    template <class Task>
    void end(const Task&, bool) {}
};
template <class TaskType, class RunType, class ExtraType = NoExtra>
struct TaskKind {
    using Task = TaskType;
    using Run = RunType;
    using Extra = ExtraType;
};

// The directory a task's runs write into: where a download or an auto-sync receives, where
// an upload's sent files go.
inline const std::string& WrittenDirectoryOf(const catalogue::DownloadTask& task) {
    return task.recvpath;
}
inline const std::string& WrittenDirectoryOf(const catalogue::AutoSyncTask& task) {
    return task.recvpath;
}
inline const std::string& WrittenDirectoryOf(const catalogue::UploadTask& task) {
    return task.sentpath;
}

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
    std::optional<TaskRunView> runView(std::string_view taskId) const override;
    void addWriteTargets(std::vector<DiskSpaceWatch::Target>& targets) const override;

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
    // What a kind fixes once: the end lines and whether it has "again".
    struct RunTexts {
        const char* ended;        // "下载任务结束运行，运行结果："
        const char* startFailed;  // "下载任务运行结束，运行结果："
        const char* stopped;      // "下载任务结束运行，用户停止任务！"
        bool offersAgain = false;
    };
    // How a run ended; `hadRun`: the run listed files, rather than finding nothing to do.
    struct RunEnd {
        Ending how;
        bool ok;
        bool hadRun;
    };
    // What the end of a run of a task does differently, as data.
    struct EndRule {
        // The task-log line of a finished run that had files; null: the kind's `ended`.
        const char* listedEndLine = nullptr;
        // Whether a plain stop also disables the task's row in the table.
        bool stopDisablesRow = true;
        // The system log's line after a plain stop ("%s": the task), null: none.
        const char* stopNotice = nullptr;
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
    // No hook is called with mutex_ held.
    // Dispatcher: the first pass of a run of `entry` (a copy). False with `error` set; the
    // run it made, if any, is released by the caller.
    virtual bool beginRun(const Entry& entry, Begun& begun, std::string& error) = 0;
    // Dispatcher, "again" (kinds that offer it): forgets the day of `entry` (a copy); true
    // starts the task anew.
    virtual bool forgetDay(const Entry&) { return false; }
    // Plan monitor, before the schedule check.
    virtual void beforeScheduleCheck() {}
    // Whether a task (a copy) whose start time came starts now. Wait may set the task's
    // next run in `nextRun`; Refuse also ends this check (later tasks wait for the next
    // tick) and calls startRefused().
    virtual Admission admitStart(const Task&, platform::WallTime, catalogue::NextRunTime&) {
        return Admission::Start;
    }
    virtual void startRefused(const std::string&) {}
    // Any run's end (finished, failed to start, stopped), before it is recorded; `entry`
    // is a copy.
    virtual void leaveRun(const std::string& /*taskId*/, const Entry&, const RunEnd&) {}
    // Dispatcher, when a stop is carried out (before the run is asked whether a worker holds
    // one of its blocks).
    virtual void stopping(const std::string&) {}
    // Plan monitor, after the end-of-run check.
    virtual void afterEndOfRunCheck() {}
    // What the end of a run of `task` does differently.
    virtual EndRule endRule(const Task&) const { return {}; }

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
    // Requires: mutex_ held. The schedule check of one task; true when it is due and
    // waits for its admission.
    bool checkScheduleLocked(const std::string& id, Entry& entry, platform::WallTime now,
                             std::vector<NotifierEvent>& events);
    // The admission of a task whose start time came; false when it was refused.
    bool admit(const std::string& id, platform::WallTime now, std::vector<NotifierEvent>& events);
    // The end of every run. `run` may be null (nothing began, or nothing to do).
    void endRun(const std::string& taskId, const std::shared_ptr<Run>& run,
                const std::filesystem::path& taskLog, Ending how, const std::string& result,
                const std::string& description);
    // The parts of endRun, in their order.
    struct Counts {
        int files = 0;
        int done = 0;
    };
    Counts releaseRun(const std::shared_ptr<Run>& run, Ending how);
    Entry copyOf(const std::string& taskId) const;
    void recordEnd(const std::string& taskId, const EndRule& rule, const RunEnd& end,
                   const std::filesystem::path& taskLog, const std::string& result,
                   const std::string& description);
    void settleEnded(const std::string& taskId, const EndRule& rule, const RunEnd& end,
                     const Counts& counts);
    void refreshFromCatalogue(const std::string& taskId);

    const CatalogueTaskKind kind_;
    const CatalogueTable<Task> table_;
    const RunTexts texts_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> tasks_;
    TableCommandQueue<Task> commands_;
};

}  // namespace vantrel
