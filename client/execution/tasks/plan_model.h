#pragma once
// What the thread manager drives in a task model (download, upload, auto-sync). Each
// method names the thread that calls it; a model guards its own task map and run state.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/execution/housekeeping/disk_space_watch.h"
#include "client/gateway/vorn_ftp.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_block_info.h"
#include "platform/event.h"

namespace vantrel {

class TransferQueue;

// The worker's side of one block, as a model needs it.
struct BlockRun {
    // "下载文件[%s]", "第(%d)次重复上传文件[%s]", ...
    std::string actionText;
    // The process-wide stop, for the transfer services.
    std::function<bool()> shouldStop;
    // Downloads: the worker's connection may ask for the next block of the file early; the
    // worker runs that block next, or gives it back when this one did not finish.
    BlockLookahead* lookahead = nullptr;
};

// A task's run state and last result, as the views and serve show them.
struct TaskRunView {
    bool running = false;
    std::string lastRunTime;
    std::string lastResult;
    std::string lastDescription;
};

class PlanModel {
  public:
    virtual ~PlanModel() = default;

    // Start-up: queues the command that loads the model's task table.
    virtual void queueLoad() = 0;
    // Plan monitor: set whenever a table command is queued (auto reset).
    virtual platform::Event& commandPending() = 0;
    // Plan monitor: runs every queued table command, in order.
    virtual void processCommands() = 0;
    // Plan monitor, once a second.
    virtual void scheduleCheck() = 0;
    virtual void endOfRunCheck() = 0;

    // The model's manager thread: once a second, on every pass, and while the queue has room.
    virtual void perSecondStep() = 0;
    virtual void continuousStep() = 0;
    // Returns how many blocks it queued.
    virtual int dispatch(TransferQueue& queue) = 0;

    // Workers: whether the block's task is this model's, and the block's transfer with
    // the retry rule. `handle` is the worker's, logged in.
    virtual bool ownsTask(std::string_view taskId) const = 0;
    virtual void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) = 0;

    // Any thread: whether a task of this model runs (the close refusal).
    virtual bool anyRunning() const = 0;
    // Any thread: the task's run, when the task is this model's.
    virtual std::optional<TaskRunView> runView(std::string_view taskId) const = 0;
    // Any thread: the directory each task's runs write into, for the free-space check.
    virtual void addWriteTargets(std::vector<DiskSpaceWatch::Target>& targets) const = 0;
};

// Task-log lines of a block, the same for every model.
std::string blockLine(std::string_view prefix, const std::string& action, const BlockTask& block);

// The retry rule of a failed block: the error line (a warning while fewer than 3
// attempts failed, the final "...下载文件失败！"/"...上传文件失败！" error at the 4th), then one
// more failed attempt is counted and the block goes back to state 0, or to `finalState`
// after the 4th. `taskLog(line, level)` writes the owning task's log.
void applyRetryRule(BlockTask& block, const std::string& action, const std::string& error,
                    bool upload, int finalState,
                    const std::function<void(const std::string&, int)>& taskLog);

}  // namespace vantrel
