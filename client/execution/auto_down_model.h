#pragma once
// CAutoDownModel: the auto-sync tasks. Each task of the table runs in two forms: the daily
// task keeps the local directory in step with the mailbox's files of the business day, and
// its history entry fetches the files of earlier days, one day per run, back to
// AutoSyncDay days. Blocks, file finishing and delivery are those of a download run; this
// model decides what a run lists, how the history day moves on, and cleans the tasks' old
// list and log files once per business date.
//
// Daily runs: each run reads the day list's version first. A version the last successful
// run already took ends the run at once ("成功"); otherwise the run lists only the files
// changed since that version, or the whole day when it knows no version yet or the last
// full list is (ForceTimeMuli - 1) x timespace minutes old. The version is kept only when
// the run succeeds, so a file that failed is taken up again by the next run. Runs repeat
// every timespace minutes (the catalogue's next run), so the gateway is asked once per run;
// a run never lists again while its files move, because a rebuild renumbers the list's rows.
//
// History runs: syncHisDate_A (FTP_A_QS) or syncHisDate_B (other mailboxes) holds the next
// day still to synchronise; a run advances it by one day only when it succeeds, so a
// failed day is repeated, never skipped. The business date itself is the last day taken;
// afterwards the runs have nothing to do until the business date moves on.
//
// Threads and locks as in CDownPlanModel: the model's lock guards the task map, the run
// states and the command queue, and is never held while a run, a list or the gateway is
// asked anything.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/app/context.h"
#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/down_plan_model.h"
#include "client/execution/plan_model.h"
#include "client/execution/table_commands.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class DownloadRun;
class GatewayProcessState;

struct AutoSyncModelOptions {
    catalogue::CModule* catalogue = nullptr;  // required
    FileBlockMap* blocks = nullptr;           // required
    GatewayProcessState* process = nullptr;   // required: the business date and gateway time
    catalogue::FlagRecorder* flags = nullptr;
    SessionFactory makeSession;  // required: the run's management session
    const platform::Clock* transferClock = nullptr;
    std::filesystem::path unzipProgram;
    std::vector<std::string> noUnzipFileTypes;
};

struct AutoSyncTaskState {
    catalogue::AutoSyncTask task;
    bool running = false;
    bool stopping = false;
    int files = 0;
    int delivered = 0;
    // Daily tasks: the day list's version the last successful run took.
    std::string version;
};

class CAutoDownModel final : public PlanModel {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CAutoDownModel(const Context& context, AutoSyncModelOptions options);
    ~CAutoDownModel() override;

    // The user interface's commands (any thread), as CDownPlanModel's. syncAgain forgets the
    // day's list and version of a daily task (a history entry: its current day's list) and
    // starts it afresh.
    void queueCommand(TableCommand command, const catalogue::AutoSyncTask& task);
    int startNow(const std::string& taskId);
    int stop(const std::string& taskId);
    int syncAgain(const std::string& taskId);
    std::vector<AutoSyncTaskState> snapshot() const;
    std::optional<AutoSyncTaskState> find(const std::string& taskId) const;

    // PlanModel.
    void queueLoad() override { queueCommand(TableCommand::Load, {}); }
    platform::Event& commandPending() override { return commands_.pending(); }
    void processCommands() override;
    void scheduleCheck() override;
    // Also the local clean-up of the auto-sync files, which follows it on every tick.
    void endOfRunCheck() override;
    void perSecondStep() override;
    void continuousStep() override;
    int dispatch(TransferQueue& queue) override;
    bool ownsTask(std::string_view taskId) const override;
    void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) override;
    bool anyRunning() const override;

    // Plan monitor: deletes the daily list and log files older than AutoSyncDay days of
    // every auto-sync task, once per business date, while the gateway's time is 02:00-03:00.
    void cleanLocalHistory();

  private:
    struct Entry {
        catalogue::AutoSyncTask task;
        bool running = false;
        bool stopping = false;
        bool runStarted = false;
        bool againRequested = false;
        std::shared_ptr<DownloadRun> run;
        std::filesystem::path taskLog;
        // Daily: what the last successful run took, and what the running run lists.
        std::string businessDate;
        std::string version;
        std::string pendingVersion;
        std::optional<platform::WallTime> lastFullList;
        // History: the day the running run synchronises.
        std::string syncDate;
    };
    using Command = TableCommandQueue<catalogue::AutoSyncTask>::Command;
    // What the first pass of a run decided.
    struct Begun {
        std::shared_ptr<DownloadRun> run;  // null: the run ended already
        std::filesystem::path taskLog;
        std::string pendingVersion;
        std::string businessDate;
        std::string syncDate;
        bool fullList = false;
    };

    static bool isHistory(const catalogue::AutoSyncTask& task) { return task.plantype == 2; }
    void setRunning(Entry& entry, bool running);
    void post(const NotifierEvent& event);
    void reloadFromCatalogue();
    void execute(const Command& command);
    bool beginRun(const std::string& taskId);
    // Logs in on a session of its own; false with `error` set.
    bool login(CVornFtp& session, std::string& error);
    bool beginDaily(const Entry& entry, Begun& begun, std::string& error);
    bool beginHistory(const Entry& entry, Begun& begun, std::string& error);
    std::shared_ptr<DownloadRun> makeRun(const catalogue::AutoSyncTask& task,
                                         const std::string& listDay,
                                         const std::filesystem::path& taskLog,
                                         const std::string& remoteDirectory);
    // Ends a run that did not start, or ended at once, with its result.
    void endAtOnce(const std::string& taskId, const std::filesystem::path& taskLog,
                   const std::string& result, const std::string& error);
    void handleStop(TransferQueue& queue, const std::string& taskId);
    void handleAgain(const std::string& taskId);
    std::shared_ptr<DownloadRun> runOf(std::string_view taskId) const;
    void taskLog(const std::filesystem::path& path, const std::string& line, int level) const;
    void sysLog(const std::string& line) const;
    std::string historyKey(const catalogue::AutoSyncTask& task) const;

    const Context& context_;
    AutoSyncModelOptions options_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> tasks_;
    TableCommandQueue<catalogue::AutoSyncTask> commands_;
    // The gateway facts of the last login seen, and when they were seen (plan monitor).
    std::string seenBusinessDate_;
    std::string seenGatewayTime_;
    platform::WallTime seenAt_{};
};

}  // namespace vantrel
