#pragma once
// CDownPlanModel: the scheduled download tasks. It decides when a task runs (the schedule
// check), starts a run (listing on a management session of its own, the day's file list,
// block state for every file to fetch), feeds the blocks to the transfer queue, finishes
// each received file on the worker that brought its last block (MD5 check, unpacking),
// delivers the finished files into the task's directory, and ends the run with its result
// in the task table and the task log.
//
// The user interface (or vantrel-cli) only queues commands and reads snapshots; every
// table command is executed by the plan monitor.
//
// Locks: the model's lock guards the task map, the run states and the command queue; it is
// never held while a run's own lock or a file list's lock is taken, nor while a gateway is
// asked anything. Notices are posted, never sent, so no thread waits for a window.

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
#include "client/execution/plan_model.h"
#include "client/execution/plan_thread_mgr.h"
#include "client/execution/table_commands.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class DownloadRun;

// Run-state codes applied to a task.
enum RunCode {
    kRunDisable = 0,
    kRunEnable = 1,
    kRunDisabledByStop = -1,
    kRunStart = 2,
    kRunDeliver = 3,
    kRunEnd = 4
};

struct DownloadModelOptions {
    catalogue::CModule* catalogue = nullptr;  // required
    FileBlockMap* blocks = nullptr;           // required
    catalogue::FlagRecorder* flags = nullptr;
    SessionFactory makeSession;  // required: the run's management session
    // The clock of the block transfers (time-outs, speed); the context's when null.
    const platform::Clock* transferClock = nullptr;
    // The unpacker program ("unzip"); empty: found beside the client or on the system.
    std::filesystem::path unzipProgram;
    // The extensions never unpacked (NoUnzipFileType).
    std::vector<std::string> noUnzipFileTypes;
};

// One task as the views show it: a copy of the record and its run state.
struct DownloadTaskState {
    catalogue::DownloadTask task;
    bool running = false;
    bool stopping = false;
    bool runStarted = false;
    int files = 0;
    int delivered = 0;
};

class CDownPlanModel final : public PlanModel {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CDownPlanModel(const Context& context, DownloadModelOptions options);
    ~CDownPlanModel() override;

    // The user interface's commands (any thread). Table commands are executed by the plan
    // monitor; the others take effect at the next pass of the threads. 0 when the task is
    // unknown (or, for stop, not running).
    void queueCommand(TableCommand command, const catalogue::DownloadTask& task);
    int startNow(const std::string& taskId);
    int stop(const std::string& taskId);
    int setScheduled(const std::string& taskId, bool scheduled);
    int downloadAgain(const std::string& taskId);
    std::vector<DownloadTaskState> snapshot() const;
    std::optional<DownloadTaskState> find(const std::string& taskId) const;

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

  private:
    struct Entry {
        catalogue::DownloadTask task;
        bool running = false;
        bool deliverPending = false;
        bool stopping = false;
        bool runStarted = false;
        bool againRequested = false;
        int lastCommand = 0;
        std::shared_ptr<DownloadRun> run;
    };
    using Command = TableCommandQueue<catalogue::DownloadTask>::Command;
    using Run = DownloadRun;

    static DownloadTaskState stateOf(const Entry& entry);
    static DownloadTaskState withRunCounts(DownloadTaskState state, const Run* run);

    // Requires: mutex_ held. Applies a run-state code; the notice is returned for posting
    // after the lock is released.
    std::optional<NotifierEvent> applyLocked(Entry& entry, int code);
    void post(const std::optional<NotifierEvent>& event);
    void postNextRun(const catalogue::DownloadTask& task);
    void reloadFromCatalogue();
    void execute(const Command& command);
    // The first pass of a run; false when it failed (the run has then ended).
    bool beginRun(const std::string& taskId);
    void failRunStart(const std::string& taskId, const std::filesystem::path& taskLog,
                      const std::string& error);
    void handleStop(TransferQueue& queue, const std::string& taskId);
    void handleAgain(TransferQueue& queue, const std::string& taskId);
    std::shared_ptr<DownloadRun> runOf(std::string_view taskId) const;
    void sysLog(const std::string& line) const;

    const Context& context_;
    DownloadModelOptions options_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> tasks_;
    TableCommandQueue<catalogue::DownloadTask> commands_;
};

}  // namespace vantrel
