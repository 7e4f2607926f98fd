#pragma once
// RunDirection: what a transfer run does differently for downloads and uploads. The
// run (TransferRun) owns the file table, the block skeleton, the digest check, progress,
// delivery bookkeeping and the release; a direction says what a file of the day's list is,
// how a complete file is confirmed and where it goes afterwards.
//
// A direction is called by its run and never holds the run's file lock while it calls into
// its list.

#include <cstdint>
#include <filesystem>
#include <string>

#include "client/base/context.h"
#include "client/base/logs.h"
#include "client/execution/tasks/plan_model.h"
#include "client/execution/runs/run_files.h"
#include "client/transfer/block_transfer.h"

namespace vantrel {

// The fixed facts of a direction.
struct DirectionTraits {
    bool upload = false;
    // The result's reason: "文件[name]<failedWhat>：error".
    const char* failedWhat = "";
    // A digest that does not match discards the data (the next run fetches anew) rather
    // than counting an attempt.
    bool mismatchDiscards = false;
    // A file whose block state says failed for good ends when progress is read.
    bool failsByBlockState = false;
    // Confirmed files are placed before each dispatch rather than while the run delivers.
    bool placesOnDispatch = false;
    // A block that completes a file of several blocks jumps the transfer queue.
    bool completingBlockFirst = false;
    // A stop ends every file not yet placed, rather than only those still transferring.
    bool stopEndsUnplaced = false;
};

class RunDirection {
  public:
    RunDirection(const Context& context, DirectionTraits traits)
        : context_(context), traits_(traits) {}
    virtual ~RunDirection() = default;
    RunDirection(const RunDirection&) = delete;
    RunDirection& operator=(const RunDirection&) = delete;

    const DirectionTraits& traits() const { return traits_; }
    const std::filesystem::path& taskLogPath() const { return taskLogPath_; }
    void taskLog(const std::string& line, int level) const {
        if (context_.logs && !taskLogPath_.empty())
            (void)context_.logs->writeTaskLog(line, level, taskLogPath_);
    }
    // The run's file table; set once by the run before any other call.
    void attach(RunFiles& files) { files_ = &files; }
    // A failed attempt of `block` of the file in `row`: recorded, counted by the retry
    // rule, and the file failed when the rule gives `finalState`.
    void failAttempt(BlockTask& block, const BlockRun& run, int row, const std::string& error,
                     int finalState) {
        if (row >= 0) recordFailure(row, error);
        applyRetryRule(block, run.actionText, error, traits_.upload, finalState,
                       [this](const std::string& line, int level) { taskLog(line, level); });
        if (block.state() == finalState) files().setPhase(block.file(), FilePhase::Failed, error);
    }

    // ---- a block ----
    // Routes `handle` and moves `block` of `file`; what the transfer came to.
    virtual GatewayOutcome transfer(BlockTask& block, CVornFtp& handle,
                                    BlockTransferOptions options, const BlockRun& run,
                                    const RunFile& file) = 0;
    // A failure of the file's current attempt, into its row.
    virtual void recordFailure(int row, const std::string& error) = 0;

    // ---- how a complete file is confirmed ----
    // The name the gateway knows the file by, for its digest.
    virtual std::string digestName(const RunFile& file) const = 0;
    // After the digest matched: what else makes the file confirmed (unpacking). False when
    // the file is not confirmed; the block's state is then set here.
    virtual bool confirm(BlockTask& block, const BlockRun& run, RunFile& file) = 0;
    // The crash point right after the file is confirmed.
    virtual const char* confirmedPoint() const = 0;

    // ---- where it goes ----
    struct Placed {
        bool ok = true;
        std::string error;
        // The file's block state was closed; the run forgets it.
        bool stateClosed = true;
    };
    // Moves a confirmed file where it belongs.
    virtual Placed place(const RunFile& file) = 0;

    // ---- progress, the end ----
    // Once a second, before and after the received or sent sizes go into the list.
    virtual void beforeProgress() {}
    virtual void progress(int row, std::int64_t bytes) = 0;
    virtual void afterProgress() {}
    // At the release: whether a done block `index` (of `last`) keeps its state.
    virtual bool keepsDoneBlock(const RunFile& file, int index, int last) const = 0;
    // The task log (and list) of a file a stop ended; `bytes` of `size` had moved.
    virtual void reportStopped(const RunFile& file, std::int64_t bytes, std::int64_t size) = 0;
    // The files of the day's list that are placed.
    virtual int placedCount() const = 0;

  protected:
    RunFiles& files() const { return *files_; }

    const Context& context_;
    std::filesystem::path taskLogPath_;

  private:
    const DirectionTraits traits_;
    RunFiles* files_ = nullptr;
};

}  // namespace vantrel
