#pragma once
// UploadRun: one run of one upload task. It owns the day's upload list, the block state of
// every file being sent (through the process-wide FileBlockMap) and what happens to a file
// after its last block: the gateway's confirmation of the whole file's MD5 digest on the
// worker, then, on the transfer manager, the row marked sent and the file moved into the
// sent directory under its "_SUCCESS_" name.
//
// Thread-safe. The run's lock is never held while it calls into its list.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "client/base/context.h"
#include "client/catalogue/task_records.h"
#include "client/catalogue/upload_list.h"
#include "client/execution/tasks/plan_model.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

struct UploadRunSetup {
    FileBlockMap* blocks = nullptr;
    const platform::Clock* transferClock = nullptr;
};

class UploadRun {
  public:
    // `context` and the setup's pointees must outlive the run.
    UploadRun(const Context& context, UploadRunSetup setup, catalogue::UploadTask task);
    ~UploadRun();

    // Opens the day's list and names the task log; false with `error` set.
    bool openList(std::string& error);
    // Takes up the ready files and opens the block state of every unsent one. False with
    // `error` set.
    bool start(std::string& error);

    const std::filesystem::path& taskLogPath() const { return taskLogPath_; }
    void taskLog(const std::string& line, int level) const;

    // The dispatcher's next block of this run, already claimed. Null when none.
    BlockTask* nextBlock();
    // A worker's block: the transfer, the retry rule and, when the file is complete, the
    // MD5 confirmation.
    void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run);
    // Transfer manager: confirmed files marked sent and moved into the sent directory.
    void finishSent();
    // Once a second: sent sizes into the list, files that failed for good recorded.
    void perSecond();

    // Every file is sent, failed for good or stopped.
    bool finished() const;
    // "成功" when every file was sent, else "失败" with the first reason.
    std::string result(std::string& description) const;
    bool anyTaken() const;
    // Closes the run's block state; progress of unsent files is kept for the next run.
    // `stopped`: the user stopped the run.
    void release(bool stopped);
    // The files of the day's list: those sent before this run and this run's.
    int fileCount() const;
    int sentCount() const;

  private:
    enum class Phase { Transferring, Confirmed, Sent, Failed, Stopped };
    struct File {
        int row = -1;
        std::string name;
        std::int64_t size = 0;
        FileBlockInfo* info = nullptr;
        std::string key;
        Phase phase = Phase::Transferring;
        std::string error;
        std::int64_t reportedBytes = -1;
        // The row says sent already (an earlier run died before the move).
        bool markedSent = false;
    };

    // A ready marker without its file is told in the task log, so the sender learns of it.
    void reportOrphanMarkers(const std::filesystem::path& sendDirectory) const;
    File* fileOf(const FileBlockInfo& info);
    void setPhase(const FileBlockInfo& info, Phase phase, const std::string& error = {});

    const Context& context_;
    UploadRunSetup setup_;
    const catalogue::UploadTask task_;
    const std::string mailbox_;
    std::filesystem::path taskLogPath_;
    std::unique_ptr<catalogue::CUpLoadFile> list_;

    mutable std::mutex mutex_;
    std::map<int, File> files_;  // by list row
    int sentBefore_ = 0;
};

}  // namespace vantrel
