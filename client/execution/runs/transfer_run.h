#pragma once
// TransferRun: one run of one transfer task, download or upload. It keeps the day's files
// with their block state (through the process-wide FileBlockMap) and takes each one from
// its blocks through the gateway's digest and its direction's confirmation to its place;
// the direction (RunDirection) says what differs between the two.
//
// Thread-safe. Lock order: a file list's lock may be held when the list calls the
// direction back; the run therefore never calls into its list or a gateway while holding
// its own lock (under it, it asks the direction only its rule for a block's state).

#include <filesystem>
#include <memory>
#include <string>

#include "client/base/context.h"
#include "client/execution/tasks/plan_model.h"
#include "client/execution/runs/run_files.h"
#include "client/execution/runs/run_direction.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class TransferQueue;

struct TransferRunSetup {
    FileBlockMap* blocks = nullptr;
    // The clock of the block transfers (time-outs, speed); the context's when null.
    const platform::Clock* transferClock = nullptr;
};

class TransferRun {
  public:
    // `context` and the setup's pointees must outlive the run.
    TransferRun(const Context& context, TransferRunSetup setup,
                std::unique_ptr<RunDirection> direction);
    ~TransferRun();
    TransferRun(const TransferRun&) = delete;
    TransferRun& operator=(const TransferRun&) = delete;

    const std::filesystem::path& taskLogPath() const { return direction_->taskLogPath(); }
    void taskLog(const std::string& line, int level) const { direction_->taskLog(line, level); }

    // Dispatcher: places what is confirmed when the direction does so on dispatch, then
    // queues the run's next block; how many were queued.
    int queueNext(TransferQueue& queue);
    // A worker's block: the transfer, the retry rule and, after the last block, the digest
    // and the direction's confirmation.
    void runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run);
    // Once a second: moved sizes into the list, files that failed for good ended.
    void perSecond();
    // Moves every confirmed file where it belongs.
    void deliver();
    // Transfer manager while the run delivers: deliver() unless that is done on dispatch.
    void deliverWhileEnding();

    // Every file is placed, failed for good or stopped.
    bool finished() const;
    // "成功" when every file was placed, else "失败" with the first reason.
    std::string result(std::string& description) const;
    // A block of the run is held by a worker.
    bool anyTaken() const;
    // Closes the run's block state; what was moved of unplaced files stays for the next
    // run. `stopped`: the user stopped the run.
    void release(bool stopped);
    // The files of the day's list: those placed before this run and this run's.
    int fileCount() const { return files_.fileCount(); }
    int doneCount() const { return direction_->placedCount(); }

  private:
    BlockTask* nextBlock(bool& front);
    // The last block moved: the gateway's digest, then the direction's confirmation.
    void confirmFile(BlockTask& block, CVornFtp& handle, const BlockRun& run, RunFile file);
    // Requires: the file lock held. The block states a release leaves behind.
    void idleBlocksLocked(RunFile& file) const;

    const Context& context_;
    const TransferRunSetup setup_;
    // Before the direction, which it outlives: the direction's list may ask it while it
    // closes.
    RunFiles files_;
    const std::unique_ptr<RunDirection> direction_;
};

}  // namespace vantrel
