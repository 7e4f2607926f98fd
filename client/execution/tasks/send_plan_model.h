#pragma once
// CSendPlanModel: the scheduled upload tasks. It decides when a task runs (the schedule
// check, through the upload name queue), starts a run (the day's upload list of the ready
// files in the send directory), feeds each file's block to the tail of the transfer queue,
// has the gateway confirm each complete file's MD5 digest, moves sent files into the sent
// directory and ends the run with its result in the task table and the task log.
//
// The task map, the commands, the run phases and the end of a run are TaskModel's; this
// class supplies the upload run, the name queue a scheduled start waits in, and the stop of
// a file being sent.

#include <memory>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/runs/task_queue.h"
#include "client/execution/tasks/plan_model.h"
#include "client/execution/tasks/task_model.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class UploadRun;

struct UploadModelOptions {
    catalogue::CModule* catalogue = nullptr;  // required
    FileBlockMap* blocks = nullptr;           // required
    // The clock of the block transfers; the context's when null.
    const platform::Clock* transferClock = nullptr;
};

using UploadKind = TaskKind<catalogue::UploadTask, UploadRun>;
extern template class TaskModel<UploadKind>;
using UploadTaskState = TaskModel<UploadKind>::State;

// Whether uploads to `mailbox` are accepted (the A-share, B-share and listed-company
// mailboxes, ignoring case).
bool AcceptsUploads(const std::string& mailbox);

class CSendPlanModel final : public TaskModel<UploadKind> {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CSendPlanModel(const Context& context, UploadModelOptions options);
    ~CSendPlanModel() override;

    // The queue of task names waiting to start (the thread manager's); set before the
    // threads start. Without one every start is accepted.
    void setTaskQueue(CTaskQueue* queue) { taskQueue_ = queue; }

  private:
    bool beginRun(const Entry& entry, Begun& begun, std::string& error) override;
    int queueBlocks(TransferQueue& queue, UploadRun& run) override;
    int doneCount(const UploadRun& run) const override;
    catalogue::DownloadTask scheduleShape(const catalogue::UploadTask& task) const override;
    Admission admitStart(Entry& entry, platform::WallTime now) override;
    void startRefused(const std::string& taskId) override;
    void leaveRun(const std::string& taskId) override;
    void stopping(const std::string& taskId) override;

    UploadModelOptions options_;
    CTaskQueue* taskQueue_ = nullptr;
};

}  // namespace vantrel
