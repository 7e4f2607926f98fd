#pragma once
// DownloadDirection: how a download run's files come and go. A file is a row of the day's
// download list (opened for the task's day, rebuilt from the mailbox's listing); it is
// confirmed by the gateway's digest and unpacked on the worker; it goes into the task's
// directory on the transfer manager, and only then is its row marked delivered.
//
// The list calls back (DownloadEngine) with its own lock held; those calls only touch the
// run's file table.

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/catalogue/download_list.h"
#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/list_engine.h"
#include "client/catalogue/task_records.h"
#include "client/execution/runs/run_direction.h"
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
    std::optional<platform::LocalTime> listDay{};
    // The task log, when not the list's day log.
    std::filesystem::path taskLogPath{};
    // Where the files lie in the mailbox ("FTP_A_QS\\20261207\\"), when not its root.
    std::string remoteDirectory{};
    // Each file goes to the subdirectory named after its own date on the server.
    bool datedByFileDate = false;
};

class DownloadDirection final : public RunDirection, public catalogue::DownloadEngine {
  public:
    // `context` and the setup's pointees must outlive the direction.
    DownloadDirection(const Context& context, DownloadRunSetup setup, catalogue::DownloadTask task);
    ~DownloadDirection() override;

    // Opens the day's list and names the task log; false with `error` set.
    bool openList(std::string& error);
    // The remote pattern of this run's listing; fails with the file-name rule's text.
    Result<std::string> listPattern() const;
    // Takes the mailbox's listing: rebuilds the list from it and opens the block state of
    // every file still to fetch. False with `error` set.
    bool adopt(std::vector<catalogue::RemoteFileEntry> listing, std::string& error);

    // RunDirection.
    GatewayOutcome transfer(BlockTask& block, CVornFtp& handle, BlockTransferOptions options,
                            const BlockRun& run, const RunFile& file) override;
    void recordFailure(int row, const std::string& error) override;
    std::string digestName(const RunFile& file) const override { return file.remoteName; }
    bool confirm(BlockTask& block, const BlockRun& run, RunFile& file) override;
    const char* confirmedPoint() const override { return "download-finished"; }
    Placed place(const RunFile& file) override;
    void beforeProgress() override { bookUnopened(); }
    void progress(int row, std::int64_t bytes) override;
    void afterProgress() override;
    bool keepsDoneBlock(const RunFile& file, int index, int last) const override {
        return index != last || file.phase == FilePhase::Placed;
    }
    void reportStopped(const RunFile& file, std::int64_t bytes, std::int64_t size) override;
    int placedCount() const override;

    // DownloadEngine (called with the list's lock held).
    void startDownload(const catalogue::DownloadWorkItem& item) override;
    bool holds(const std::string& taskId, int row) const override;
    std::string failureText(const std::string& taskId, int row) const override;
    Status removeBlockState(const std::filesystem::path& dataFile) override;

  private:
    // Run start, for a row whose partial file is gone: true when the file had been
    // delivered and only its record was missing, which is then written.
    bool recoverDelivered(const catalogue::DownloadWorkItem& item);
    // Run start: the row's partial file could not be made.
    void failToStart(const catalogue::DownloadWorkItem& item);
    // Run start, for a file whose block state says finished: on to its delivery.
    void recoverFinished(RunFile& file);
    // Run start: the block state of a row's file is opened (or the file is settled).
    void openBlockState(const catalogue::DownloadWorkItem& item, RunFile& file);
    // The rows of files whose block state could not be made (startDownload, under the
    // list's lock) are told so here, outside it: they never started.
    void bookUnopened();

    std::filesystem::path targetDirectory(const RunFile& file) const;
    std::filesystem::path workDirectory() const;
    std::string remoteDirectory() const;
    bool isBulletin() const { return catalogue::IsBulletin(task_); }

    DownloadRunSetup setup_;
    const catalogue::DownloadTask task_;
    const platform::WallTime startedAt_;
    std::unique_ptr<catalogue::CDownLoadFile> list_;

    mutable std::mutex unopenedMutex_;
    std::vector<int> unopened_;  // rows for bookUnopened
};

}  // namespace vantrel
