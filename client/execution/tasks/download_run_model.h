#pragma once
// What the download and auto-sync models share: both run a transfer run in the download
// direction made the same way, and "again" forgets a day's list the same way.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "client/catalogue/flag_recorder.h"
#include "client/execution/runs/download_direction.h"
#include "client/execution/runs/transfer_run.h"
#include "client/execution/runs/plan_thread_mgr.h"
#include "client/execution/tasks/task_model.h"
#include "client/execution/runs/transfer_queue.h"

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

// A download run of `task` and its direction, which the model opens and fills.
struct DownloadRunParts {
    std::shared_ptr<TransferRun> run;
    DownloadDirection* download = nullptr;  // owned by `run`
};
DownloadRunParts MakeDownloadRun(const Context& context, DownloadRunSetup setup,
                                 catalogue::DownloadTask task);

// Deletes the day's list of `taskId` (the list of the day `shift` before now) with every
// partial file of it below `receiveDirectory`, so every file is fetched afresh. The system
// log's line is left in `line`; false when the list could not be deleted.
bool ForgetDownloadDay(const Context& context, const std::string& taskId,
                       std::chrono::seconds shift, const std::filesystem::path& receiveDirectory,
                       std::string& line);

}  // namespace vantrel
