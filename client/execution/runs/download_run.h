#pragma once
// DownloadRun: one run of one download task. It owns the day's file list, the block state
// of every file being fetched (through the process-wide FileBlockMap) and what happens to
// a file after its last block: the MD5 check and unpacking on the worker, the delivery
// into the task's directory on the transfer manager.
//
// Thread-safe. Lock order: a file list's lock may be held when the list calls this run
// back (DownloadEngine); this run therefore never calls into its list while holding its
// own lock.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/download_list.h"
#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/list_engine.h"
#include "client/catalogue/task_records.h"
#include "client/execution/tasks/plan_model.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

struct DownloadRunSetup {
    FileBlockMap* blocks = nullptr;
    catalogue::FlagRecorder* flags = nullptr;
    const platform::Clock* transferClock = nullptr;
    std::filesystem::path unzipProgram;
    std::vector<std::string> noUnzipFileTypes;

    // Auto-sync runs. Their lists behave as a download task's: a file that failed for good
    // (four attempts of the retry rule) waits for the next run.
    // The day of the list, when not the day of the task's window (a history run keeps the
    // list of the day it synchronises).
    std::optional<platform::LocalTime> listDay;
    // The task log, when not the list's day log.
    std::filesystem::path taskLogPath;
    // Where the files lie in the mailbox ("FTP_A_QS\\20261207\\"), when not its root.
    std::string remoteDirectory;
    // Each file goes to the subdirectory named after its own date on the server.
    bool datedByFileDate = false;
};

class DownloadRun final : public catalogue::DownloadEngine {
  public:
    // `context` and the setup's pointees must outlive the run.
    DownloadRun(const Context& context, DownloadRunSetup setup, catalogue::DownloadTask task);
    ~DownloadRun() override;

    // Opens the day's list and names the task log; false with `error` set.
    bool openList(std::string& error);
    // Lists the mailbox on `session` (logged in here, a second time when the first login
    // fails), rebuilds the day's list and opens the block state of every file to fetch.
    // The session is logged out once the listing is done. False with `error` set.
    bool start(CVornFtp& session, std::string& error);
    // Takes a listing made by the caller: rebuilds the list from it and opens the block
    // state of every file still to fetch. False with `error` set.
    bool adopt(std::vector<catalogue::RemoteFileEntry> listing, std::string& error);

    const std::filesystem::path& taskLogPath() const { return taskLogPath_; }
    void taskLog(const std::string& line, int level) const;

    // The dispatcher's next block of this run, already claimed; `front` tells whether it
    // completes a file of several blocks (it then jumps the queue). Null when none.
    BlockTask* nextBlock(bool& front);
    // A worker's block: the transfer, the retry rule and, after the last block, finishing.
    void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run);
    // Once a second: received sizes into the list, files that failed for good reported.
    void perSecond();
    // Moves every finished file into place (transfer manager).
    void deliver();

    // Every file is delivered, failed for good or stopped.
    bool finished() const;
    // "成功" when every file was delivered, else "失败" with the first reason.
    std::string result(std::string& description) const;
    // A block of the run is held by a worker.
    bool anyTaken() const;
    // Closes the run's block state; complete data of undelivered files is kept for the
    // next run. `stopped`: the user stopped the run.
    void release(bool stopped);
    // The files of the day's list: those delivered before this run and this run's.
    int fileCount() const;
    int deliveredCount() const;

    // DownloadEngine (called with the list's lock held).
    void startDownload(const catalogue::DownloadWorkItem& item) override;
    bool holds(const std::string& taskId, int row) const override;
    std::string failureText(const std::string& taskId, int row) const override;
    Status removeBlockState(const std::filesystem::path& dataFile) override;

  private:
    enum class Phase { Transferring, Finished, Delivered, Failed, Stopped };
    struct File {
        int row = -1;
        std::string name;
        std::string remoteName;
        std::string updateTime;
        std::int64_t size = 0;
        int kind = 0;
        bool unpack = false;
        FileBlockInfo* info = nullptr;
        std::string key;
        Phase phase = Phase::Transferring;
        std::string error;
        std::int64_t reportedBytes = -1;
        // Where unpacking left the files; delivery takes them from there.
        std::filesystem::path extraction;
        // The digest did not match: closing discards the data.
        bool discard = false;
    };

    void finishFile(BlockTask& block, CVornFtp& handle, const BlockRun& run);
    // Run start, for a row whose partial file is gone: true when the file had been
    // delivered and only its record was missing, which is then written.
    bool recoverDelivered(const catalogue::DownloadWorkItem& item);
    // Run start: the row's partial file could not be made.
    void failToStart(const catalogue::DownloadWorkItem& item);
    // Run start, for a file whose block state says finished: on to its delivery.
    void recoverFinished(File& file);
    // The rows of files whose block state could not be made (startDownload, under the
    // list's lock) are told so here, outside it: they never started.
    void bookUnopened();

    File* fileOf(const FileBlockInfo& info);
    void setPhase(const FileBlockInfo& info, Phase phase, const std::string& error = {});
    std::filesystem::path targetDirectory(const File& file) const;
    std::filesystem::path workDirectory() const;
    std::string remoteDirectory() const;
    bool isBulletin() const { return catalogue::IsBulletin(task_); }

    const Context& context_;
    DownloadRunSetup setup_;
    const catalogue::DownloadTask task_;
    const platform::WallTime startedAt_;
    std::filesystem::path taskLogPath_;
    std::unique_ptr<catalogue::CDownLoadFile> list_;

    mutable std::mutex mutex_;
    std::map<int, File> files_;  // by list row
    int deliveredBefore_ = 0;
    std::vector<int> unopened_;  // rows for bookUnopened
};

}  // namespace vantrel
