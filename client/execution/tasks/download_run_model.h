#pragma once
// What the download and auto-sync models share: both run DownloadRun, so the run's setup,
// how its blocks reach the queue, its delivery and its count of delivered files are the
// same, and "again" forgets a day's list the same way.

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "client/catalogue/flag_recorder.h"
#include "client/execution/runs/download_run.h"
#include "client/execution/runs/plan_thread_mgr.h"
#include "client/execution/runs/transfer_queue.h"
#include "client/execution/tasks/task_model.h"

namespace vantrel {

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

// The setup of a run of a model with `options`.
DownloadRunSetup RunSetupOf(const DownloadModelOptions& options);

// Deletes the day's list of `taskId` (the list of the day `shift` before now) with every
// partial file of it below `receiveDirectory`, so every file is fetched afresh. The system
// log's line is left in `line`; false when the list could not be deleted.
bool ForgetDownloadDay(const Context& context, const std::string& taskId,
                       std::chrono::seconds shift, const std::filesystem::path& receiveDirectory,
                       std::string& line);

template <class Kind>
class DownloadRunModel : public TaskModel<Kind> {
  protected:
    using TaskModel<Kind>::TaskModel;

    int queueBlocks(TransferQueue& queue, DownloadRun& run) override {
        bool front = false;
        BlockTask* block = run.nextBlock(front);
        if (!block) return 0;
        // A block that completes a file of several blocks jumps the queue.
        return front ? queue.pushFront(block) : queue.pushBack(block);
    }
    void deliver(DownloadRun& run) override { run.deliver(); }
    int doneCount(const DownloadRun& run) const override { return run.deliveredCount(); }
    bool supportsAgain() const override { return true; }
};

}  // namespace vantrel
