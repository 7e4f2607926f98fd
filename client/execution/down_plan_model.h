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

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/app/context.h"
#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/plan_model.h"
#include "client/execution/plan_thread_mgr.h"
#include "client/execution/task_model.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class DownloadRun;

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

struct DownloadKind {
    using Task = catalogue::DownloadTask;
    using Run = DownloadRun;
    struct Extra {};
};
extern template class TaskModel<DownloadKind>;

using DownloadTaskState = TaskModel<DownloadKind>::State;

class CDownPlanModel final : public TaskModel<DownloadKind> {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CDownPlanModel(const Context& context, DownloadModelOptions options);
    ~CDownPlanModel() override;

  private:
    bool beginRun(const Entry& entry, Begun& begun, std::string& error) override;
    int queueBlocks(TransferQueue& queue, DownloadRun& run) override;
    void deliver(DownloadRun& run) override;
    int doneCount(const DownloadRun& run) const override;
    bool supportsAgain() const override { return true; }
    bool forgetDay(const Entry& entry) override;
    catalogue::DownloadTask scheduleShape(const catalogue::DownloadTask& task) const override {
        return task;
    }
    std::string endLine(const Entry& entry, const std::string& result, bool hadRun) const override;
    std::string startFailedLine(const std::string& result) const override;
    std::string stoppedLine() const override;

    DownloadModelOptions options_;
};

}  // namespace vantrel
