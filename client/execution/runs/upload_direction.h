#pragma once
// UploadDirection: how an upload run's files come and go. A file is a ready file of the
// send directory, a row of the day's upload list; it is confirmed by the gateway's digest
// of the whole file on the worker; on the transfer manager its row is marked sent and the
// file moves into the sent directory under its "_SUCCESS_" name.

#include <filesystem>
#include <memory>
#include <string>

#include "client/catalogue/task_records.h"
#include "client/catalogue/upload_list.h"
#include "client/execution/runs/run_direction.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class UploadDirection final : public RunDirection {
  public:
    // `context` and `blocks` must outlive the direction.
    UploadDirection(const Context& context, FileBlockMap& blocks, catalogue::UploadTask task);
    ~UploadDirection() override;

    // Opens the day's list and names the task log; false with `error` set.
    bool openList(std::string& error);
    // Takes up the ready files and opens the block state of every unsent one. False with
    // `error` set.
    bool start(std::string& error);

    // RunDirection.
    GatewayOutcome transfer(BlockTask& block, CVornFtp& handle, BlockTransferOptions options,
                            const BlockRun& run, const RunFile& file) override;
    void recordFailure(int row, const std::string& error) override;
    std::string digestName(const RunFile& file) const override { return file.name; }
    bool confirm(BlockTask&, const BlockRun&, RunFile&) override { return true; }
    const char* confirmedPoint() const override { return "upload-confirmed"; }
    Placed place(const RunFile& file) override;
    void progress(int row, std::int64_t bytes) override;
    bool keepsDoneBlock(const RunFile& file, int, int) const override {
        return file.phase == FilePhase::Confirmed;
    }
    void reportStopped(const RunFile& file, std::int64_t bytes, std::int64_t size) override;
    int placedCount() const override;

  private:
    // A ready marker without its file is told in the task log, so the sender learns of it.
    void reportOrphanMarkers(const std::filesystem::path& sendDirectory) const;
    // Run start: a row's file, with its block state opened unless it only waits to move.
    void takeUp(const catalogue::UploadWorkItem& item, const std::filesystem::path& sendDirectory);

    FileBlockMap& blocks_;
    const catalogue::UploadTask task_;
    const std::string mailbox_;
    std::unique_ptr<catalogue::CUpLoadFile> list_;
};

}  // namespace vantrel
