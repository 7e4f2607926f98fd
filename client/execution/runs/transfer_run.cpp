#include "client/execution/runs/transfer_run.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "client/execution/runs/crash_point.h"
#include "client/execution/runs/transfer_queue.h"
#include "client/transfer/file_services.h"

namespace vantrel {
namespace {

std::string printf2(const char* pattern, const std::string& a, const std::string& b) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, a.c_str(), b.c_str());
    return buffer;
}

}  // namespace

TransferRun::TransferRun(const Context& context, TransferRunSetup setup,
                         std::unique_ptr<RunDirection> direction)
    : context_(context), setup_(setup), direction_(std::move(direction)) {
    direction_->attach(files_);
}

TransferRun::~TransferRun() = default;

BlockTask* TransferRun::nextBlock(bool& front) {
    return files_.locked([&front](RunFiles::Map& files) -> BlockTask* {
        for (auto& [row, file] : files) {
            if (file.phase != FilePhase::Transferring || file.info == nullptr) continue;
            if (BlockTask* block = file.info->claimNextBlock()) {
                front = block->isLast() && file.info->blockCount() > 1;
                return block;
            }
        }
        return nullptr;
    });
}

int TransferRun::queueNext(TransferQueue& queue) {
    if (direction_->traits().placesOnDispatch) deliver();
    bool front = false;
    BlockTask* block = nextBlock(front);
    if (!block) return 0;
    return front && direction_->traits().completingBlockFirst ? queue.pushFront(block)
                                                              : queue.pushBack(block);
}

void TransferRun::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    const std::optional<RunFile> file = files_.copyOf(block.file());
    if (!file) {
        // The run let the file go meanwhile: the block waits for the next run.
        block.setState(kBlockIdle);
        return;
    }
    taskLog(blockLine("开始", run.actionText, block), 0);
    BlockTransferOptions options;
    options.clock = setup_.transferClock ? setup_.transferClock : context_.clock;
    options.shouldStop = run.shouldStop;
    const GatewayOutcome outcome = direction_->transfer(block, handle, options, run, *file);
    if (stopsTheRun(outcome)) {
        // Stopped by the user or by the exit: not an attempt.
        taskLog(blockLine("", run.actionText + "出现错误,错误信息：" + handle.LastError(), block),
                1);
        block.setState(kBlockIdle);
        return;
    }
    if (outcome != GatewayOutcome::Ok) {
        const std::string error = handle.LastError();
        // The next block logs in afresh; a half-read answer must not leak into it.
        handle.DropIfLoggedIn();
        direction_->failAttempt(block, run, file->row, error, kBlockFailed);
        return;
    }
    taskLog(blockLine("完成", run.actionText, block), 0);
    if (!block.isLast()) {
        block.setState(kBlockDone);
        return;
    }
    confirmFile(block, handle, run, *file);
}

void TransferRun::confirmFile(BlockTask& block, CVornFtp& handle, const BlockRun& run,
                              RunFile file) {
    FileBlockInfo& info = block.file();
    // The gateway confirms it holds the very bytes of the file.
    VornFileService service(handle);
    const DigestVerdict verdict =
        service.verifyDigest(info.dataPath(), direction_->digestName(file), file.size);
    if (verdict.outcome != DigestVerdict::kMatch) {
        const std::string error = handle.LastError();
        taskLog(printf2("%s失败,MD5计算时出现错误：%s", run.actionText, error), 1);
        handle.DropIfLoggedIn();
        if (verdict.outcome == DigestVerdict::kMismatch && direction_->traits().mismatchDiscards) {
            direction_->recordFailure(file.row, error);
            // The data is wrong: it is discarded and the next run fetches the file again.
            for (int i = 0; i < info.blockCount(); ++i) info.block(i).setState(kBlockFailed);
            files_.locked([&](RunFiles::Map& files) {
                auto it = files.find(file.row);
                if (it == files.end() || it->second.info != &info) return;
                it->second.phase = FilePhase::Failed;
                it->second.error = error;
                it->second.discard = true;
            });
            return;
        }
        // The query failed, not the data (or the file changed while it was sent).
        direction_->failAttempt(block, run, file.row, error, kBlockFailed);
        return;
    }
    if (!direction_->confirm(block, run, file)) return;
    taskLog("完成" + run.actionText, 0);
    block.setState(kBlockDone);
    execution::crashPoint(direction_->confirmedPoint());
    files_.locked([&](RunFiles::Map& files) {
        auto it = files.find(file.row);
        if (it == files.end() || it->second.info != &info) return;
        it->second.phase = FilePhase::Confirmed;
        it->second.extraction = file.extraction;
    });
}

void TransferRun::perSecond() {
    direction_->beforeProgress();
    struct Progress {
        int row;
        std::int64_t bytes;
    };
    const bool failsByState = direction_->traits().failsByBlockState;
    const std::vector<Progress> progress = files_.locked([failsByState](RunFiles::Map& files) {
        std::vector<Progress> moved;
        for (auto& [row, file] : files) {
            if (file.info == nullptr || file.phase != FilePhase::Transferring) continue;
            const std::int64_t bytes = file.info->bytesDone();
            if (bytes != file.reportedBytes) {
                file.reportedBytes = bytes;
                moved.push_back({row, bytes});
            }
            const int state = file.info->fileState();
            if (failsByState && (state == kFileFailed || state == kFileLastBlockFailed))
                file.phase = FilePhase::Failed;
        }
        return moved;
    });
    for (const Progress& p : progress) direction_->progress(p.row, p.bytes);
    direction_->afterProgress();
}

void TransferRun::deliver() {
    const std::vector<RunFile> ready = files_.locked([](const RunFiles::Map& files) {
        std::vector<RunFile> confirmed;
        for (const auto& [row, file] : files) {
            if (file.phase == FilePhase::Confirmed) confirmed.push_back(file);
        }
        return confirmed;
    });
    for (const RunFile& file : ready) {
        const RunDirection::Placed placed = direction_->place(file);
        files_.locked([&](RunFiles::Map& files) {
            RunFile& entry = files[file.row];
            entry.phase = placed.ok ? FilePhase::Placed : FilePhase::Failed;
            if (!placed.ok || direction_->traits().upload) entry.error = placed.error;
            if (placed.stateClosed) entry.info = nullptr;
        });
    }
}

void TransferRun::deliverWhileEnding() {
    if (!direction_->traits().placesOnDispatch) deliver();
}

bool TransferRun::finished() const {
    return files_.locked([](const RunFiles::Map& files) {
        return std::all_of(files.begin(), files.end(), [](const auto& entry) {
            const FilePhase p = entry.second.phase;
            return p == FilePhase::Placed || p == FilePhase::Failed || p == FilePhase::Stopped;
        });
    });
}

std::string TransferRun::result(std::string& description) const {
    const char* failedWhat = direction_->traits().failedWhat;
    return files_.locked([&](const RunFiles::Map& files) -> std::string {
        for (const auto& [row, file] : files) {
            if (file.phase == FilePhase::Placed) continue;
            description = file.phase == FilePhase::Stopped
                              ? std::string("用户停止任务!")
                              : "文件[" + file.name + "]" + failedWhat + "：" + file.error;
            return "失败";
        }
        description.clear();
        return "成功";
    });
}

bool TransferRun::anyTaken() const {
    return files_.locked([](const RunFiles::Map& files) {
        return std::any_of(files.begin(), files.end(), [](const auto& entry) {
            return entry.second.info && entry.second.info->isTaken();
        });
    });
}

void TransferRun::idleBlocksLocked(RunFile& file) const {
    // Failed attempts count for this run only: what moved stays for the next run, which
    // resumes; only a mismatched digest discards it.
    if (file.discard) return;
    FileBlockInfo& info = *file.info;
    const int last = info.blockCount() - 1;
    for (int i = 0; i <= last; ++i) {
        if (info.block(i).state() != kBlockDone || !direction_->keepsDoneBlock(file, i, last))
            info.block(i).setState(kBlockIdle);
    }
}

void TransferRun::release(bool stopped) {
    struct Stopped {
        RunFile file;
        std::int64_t bytes;
        std::int64_t size;
    };
    std::vector<std::string> keys;
    std::vector<Stopped> ended;
    const bool endsUnplaced = direction_->traits().stopEndsUnplaced;
    files_.locked([&](RunFiles::Map& files) {
        for (auto& [row, file] : files) {
            if (file.info == nullptr) continue;
            const std::int64_t bytes = file.info->bytesDone();
            const std::int64_t size = file.info->fileSize();
            idleBlocksLocked(file);
            keys.push_back(file.key);
            const bool ends = endsUnplaced ? file.phase != FilePhase::Placed
                                           : file.phase == FilePhase::Transferring;
            if (stopped && ends) {
                file.phase = FilePhase::Stopped;
                ended.push_back({file, bytes, size});
            }
            file.info = nullptr;
        }
    });
    setup_.blocks->remove(keys);
    for (const Stopped& s : ended) direction_->reportStopped(s.file, s.bytes, s.size);
}

}  // namespace vantrel
