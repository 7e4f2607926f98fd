#pragma once
// CDownPlanModel: the scheduled download tasks. It decides when a task runs (the schedule
// check), starts a run (listing on a management session of its own, the day's file list,
// block state for every file to fetch), feeds the blocks to the transfer queue, finishes
// each received file on the worker that brought its last block (MD5 check, unpacking),
// delivers the finished files into the task's directory, and ends the run with its result
// in the task table and the task log.
//
// The task map, the commands, the run phases and the end of a run are TaskModel's; this
// class supplies how a download run begins and how "download again" forgets the day.
// Notices are posted, never sent, so no thread waits for a window.

#include <string>

#include "client/base/context.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/tasks/download_run_model.h"

namespace vantrel {

using DownloadKind = TaskKind<catalogue::DownloadTask, DownloadRun>;
extern template class TaskModel<DownloadKind>;
using DownloadTaskState = TaskModel<DownloadKind>::State;

class CDownPlanModel final : public DownloadRunModel<DownloadKind> {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CDownPlanModel(const Context& context, DownloadModelOptions options);
    ~CDownPlanModel() override;

  private:
    bool beginRun(const Entry& entry, Begun& begun, std::string& error) override;
    bool forgetDay(const Entry& entry) override;
    catalogue::DownloadTask scheduleShape(const catalogue::DownloadTask& task) const override {
        return task;
    }

    DownloadModelOptions options_;
};

}  // namespace vantrel
