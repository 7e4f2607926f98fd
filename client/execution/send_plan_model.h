#pragma once
// CSendPlanModel: the scheduled upload tasks. It decides when a task runs (the schedule
// check, through the upload name queue), starts a run (the day's upload list of the ready
// files in the send directory), feeds each file's block to the tail of the transfer queue,
// has the gateway confirm each complete file's MD5 digest, moves sent files into the sent
// directory and ends the run with its result in the task table and the task log.
//
// The user interface (or vantrel-cli) only queues commands and reads snapshots; every
// table command is executed by the plan monitor.
//
// Locks: the model's lock guards the task map, the run states and the command queue; it is
// never held while a run's own lock or its list's lock is taken, nor while a gateway is
// asked anything.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/app/context.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/down_plan_model.h"
#include "client/execution/plan_model.h"
#include "client/execution/table_commands.h"
#include "client/execution/task_queue.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class UploadRun;

struct UploadModelOptions {
    catalogue::CModule* catalogue = nullptr;  // required
    FileBlockMap* blocks = nullptr;           // required
    // The clock of the block transfers; the context's when null.
    const platform::Clock* transferClock = nullptr;
};

struct UploadTaskState {
    catalogue::UploadTask task;
    bool running = false;
    bool stopping = false;
    bool runStarted = false;
    int files = 0;
    int sent = 0;
};

// Whether uploads to `mailbox` are accepted (the A-share, B-share and listed-company
// mailboxes, ignoring case).
bool AcceptsUploads(const std::string& mailbox);

class CSendPlanModel final : public PlanModel {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CSendPlanModel(const Context& context, UploadModelOptions options);
    ~CSendPlanModel() override;

    // The queue of task names waiting to start (the thread manager's); set before the
    // threads start. Without one every start is accepted.
    void setTaskQueue(CTaskQueue* queue) { taskQueue_ = queue; }

    // The user interface's commands (any thread); 0 when the task is unknown (or, for
    // stop, not running).
    void queueCommand(TableCommand command, const catalogue::UploadTask& task);
    int startNow(const std::string& taskId);
    int stop(const std::string& taskId);
    std::vector<UploadTaskState> snapshot() const;
    std::optional<UploadTaskState> find(const std::string& taskId) const;

    // PlanModel.
    void queueLoad() override { queueCommand(TableCommand::Load, {}); }
    platform::Event& commandPending() override { return commands_.pending(); }
    void processCommands() override;
    void scheduleCheck() override;
    void endOfRunCheck() override;
    void perSecondStep() override;
    void continuousStep() override {}
    int dispatch(TransferQueue& queue) override;
    bool ownsTask(std::string_view taskId) const override;
    void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) override;
    bool anyRunning() const override;

  private:
    struct Entry {
        catalogue::UploadTask task;
        bool running = false;
        bool stopping = false;
        bool runStarted = false;
        int lastCommand = 0;
        std::shared_ptr<UploadRun> run;
    };
    using Command = TableCommandQueue<catalogue::UploadTask>::Command;
    using Run = UploadRun;

    static UploadTaskState stateOf(const Entry& entry);
    static UploadTaskState withRunCounts(UploadTaskState state, const Run* run);

    std::optional<NotifierEvent> applyLocked(Entry& entry, int code);
    void post(const std::optional<NotifierEvent>& event);
    void reloadFromCatalogue();
    bool beginRun(const std::string& taskId);
    void failRunStart(const std::string& taskId, const std::filesystem::path& taskLog,
                      const std::string& error);
    void handleStop(TransferQueue& queue, const std::string& taskId);
    void refreshResult(const std::string& taskId);
    std::shared_ptr<UploadRun> runOf(std::string_view taskId) const;
    void sysLog(const std::string& line) const;

    const Context& context_;
    UploadModelOptions options_;
    CTaskQueue* taskQueue_ = nullptr;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> tasks_;
    TableCommandQueue<catalogue::UploadTask> commands_;
};

}  // namespace vantrel
