#include "client/execution/runs/download_direction.h"

#include <algorithm>
#include <cstdio>

#include "client/catalogue/catalogue_text.h"
#include "client/execution/runs/crash_point.h"
#include "client/execution/runs/download_listing.h"
#include "client/execution/tasks/download_schedule.h"
#include "client/execution/runs/file_name_rule.h"
#include "client/execution/unpacking/unpacker.h"
#include "client/execution/unpacking/zip_directory.h"
#include "client/transfer/file_services.h"
#include "platform/error_text.h"
#include "platform/file_system.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string printf2(const char* pattern, const std::string& a, const std::string& b) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, a.c_str(), b.c_str());
    return buffer;
}

// A mismatched digest discards the data, a block state failed for good ends its file, the
// block that completes a file jumps the queue and a stop ends every undelivered file; files
// are delivered while the run delivers, not on dispatch.
constexpr DirectionTraits kDownloadTraits{.failedWhat = "下载失败", .mismatchDiscards = true,
                                          .failsByBlockState = true, .completingBlockFirst = true,
                                          .stopEndsUnplaced = true};

}  // namespace

DownloadDirection::DownloadDirection(const Context& context, DownloadRunSetup setup,
                                     catalogue::DownloadTask task)
    : RunDirection(context, kDownloadTraits),
      setup_(std::move(setup)),
      task_(std::move(task)),
      startedAt_(context.clock->now()) {}

DownloadDirection::~DownloadDirection() = default;

fs::path DownloadDirection::workDirectory() const {
    const fs::path root = task_.recvpath;
    return isBulletin() ? root / "Bullet" : root;
}

fs::path DownloadDirection::targetDirectory(const RunFile& file) const {
    fs::path target = task_.recvpath;
    if (setup_.datedByFileDate) {
        // "YYYY-MM-DD hh:mm:ss" on the server.
        const std::string& t = file.updateTime;
        if (t.size() >= 10) target /= t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2);
    } else if (task_.hasrecvdir) {
        target /= catalogue::FormatDate(platform::toLocalTime(startedAt_ - WindowShift(catalogue::ScheduleOf(task_))));
    }
    return target;
}

std::string DownloadDirection::remoteDirectory() const {
    if (!setup_.remoteDirectory.empty()) return setup_.remoteDirectory;
    if (isBulletin()) {
        const std::string day = catalogue::FormatDate(platform::toLocalTime(startedAt_));
        return day + day + "Bullet\\";
    }
    return task_.mailname + "\\";
}

Result<std::string> DownloadDirection::listPattern() const {
    return execution::DownloadListPattern(task_, platform::toLocalTime(startedAt_));
}

bool DownloadDirection::openList(std::string& error) {
    list_ = std::make_unique<catalogue::CDownLoadFile>(context_, this, setup_.flags);
    std::chrono::seconds dayOffset = WindowShift(catalogue::ScheduleOf(task_));
    if (setup_.listDay) {
        // Init counts the day back from now.
        const platform::WallTime now = context_.clock->now();
        platform::LocalTime day = platform::toLocalTime(now);
        day.year = setup_.listDay->year;
        day.month = setup_.listDay->month;
        day.day = setup_.listDay->day;
        dayOffset =
            std::chrono::duration_cast<std::chrono::seconds>(now - platform::fromLocalTime(day));
    }
    const int opened =
        list_->Init(task_.planid, catalogue::CDownLoadFile::TaskKind::Download, dayOffset);
    taskLogPath_ = list_->TaskLogPath();
    if (!setup_.taskLogPath.empty()) {
        taskLogPath_ = setup_.taskLogPath;
        list_->SetTaskLogPath(taskLogPath_);
    }
    if (opened != 1) {
        error = "初始化下载文件管理类失败！";
        return false;
    }
    // A bulletin task's work directory ("Bullet" below the target) is the run's to make.
    if (isBulletin()) (void)context_.fileSystem().createDirectories(workDirectory());
    list_->SetReceiveDirectory(workDirectory());
    return true;
}

bool DownloadDirection::adopt(std::vector<catalogue::RemoteFileEntry> listing, std::string& error) {
    std::sort(listing.begin(), listing.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    if (list_->RebuildList(listing) != 1 || !list_->LoadWorkItems()) {
        error = list_->LastError();
        return false;
    }
    // Asked before the run's lock is taken: the list may call this run back under its own.
    files().setPlacedBefore(list_->DeliveredCount());
    for (const catalogue::DownloadWorkItem& item : list_->Items()) {
        if (item.state == catalogue::kFetchFromStart) {
            if (recoverDelivered(item)) continue;
            if (list_->StartFile(item.row) != 1) failToStart(item);
        } else if (item.state == catalogue::kTransferring) {
            // Every byte had arrived before: resume, which only finishes the file.
            startDownload(item);
        } else if (item.state == catalogue::kHeld) {
            // Refused for good earlier this day: it fails again without being touched.
            RunFile file;
            file.row = item.row;
            file.name = item.fileName;
            file.phase = FilePhase::Failed;
            file.error = item.lastError;
            files().put(std::move(file));
        }
    }
    bookUnopened();
    return true;
}

void DownloadDirection::bookUnopened() {
    if (!list_) return;
    std::vector<int> rows;
    {
        std::lock_guard lock(unopenedMutex_);
        rows.swap(unopened_);
    }
    const std::vector<RunFile> unopened = files().locked([&rows](RunFiles::Map& files) {
        std::vector<RunFile> copies;
        for (int row : rows) copies.push_back(files[row]);
        return copies;
    });
    for (const RunFile& file : unopened) {
        // Nothing was fetched: the row shows the reason, not a transfer at 0 bytes.
        list_->SetState(file.row, catalogue::kFetchFromStart);
        list_->RecordFailure(file.row, file.error);
        list_->FinishItem(file.row);
        taskLog(printf2("下载文件[%s]失败，失败原因：%s", file.name, file.error), 2);
    }
}

bool DownloadDirection::recoverDelivered(const catalogue::DownloadWorkItem& item) {
    // Delivery moves the partial file away (or removes it after its unpacked files), and
    // the block state goes only after the row says delivered: without the one and with a
    // finished other, the process died between the delivery and its record.
    const fs::path partial = item.partialFile();
    const fs::path state = partial.string() + ".~block";
    std::error_code ec;
    if (!item.rowInTransfer || fs::exists(partial, ec) ||
        !FileBlockInfo::recordsFinishedFile(state))
        return false;
    list_->MarkDelivered(item.row);
    list_->SetState(item.row, catalogue::kDelivered);
    (void)platform::removeIfPresent(context_.fileSystem(), state);
    taskLog("文件[" + item.fileName + "]已在上次运行中移动到目标目录", 0);
    RunFile file;
    file.row = item.row;
    file.name = item.fileName;
    file.phase = FilePhase::Placed;
    files().put(std::move(file));
    return true;
}

void DownloadDirection::failToStart(const catalogue::DownloadWorkItem& item) {
    // Counted as failed, so the run says why instead of ending as if the file were not listed.
    RunFile file;
    file.row = item.row;
    file.name = item.fileName;
    file.phase = FilePhase::Failed;
    const auto booked = list_->Item(item.row);
    file.error = booked && !booked->lastError.empty() ? booked->lastError : list_->LastError();
    files().put(std::move(file));
}

void DownloadDirection::recoverFinished(RunFile& file) {
    // The last block is done only once the digest matched and the file was unpacked, so
    // what is left is the delivery: from the extraction directory, where the files not yet
    // moved before the process died still lie, or the received file as it is.
    if (file.unpack) {
        const execution::DownloadedFile received{workDirectory(), file.name, file.kind,
                                             &context_.fileSystem()};
        const fs::path extraction = execution::extractionDirectoryOf(received);
        std::error_code ec;
        if (!extraction.empty() && fs::is_directory(extraction, ec)) {
            file.phase = FilePhase::Confirmed;
            file.extraction = extraction;
            return;
        }
        const Result<execution::ZipDirectory> zip =
            execution::readZipDirectory(file.info->dataPath());
        if (zip && zip->isArchive) {
            // Its unpacked files are gone: the last block, with nothing left to fetch, is
            // handed out again and the worker checks and unpacks the file anew.
            file.info->block(file.info->blockCount() - 1).setState(kBlockIdle);
            return;
        }
    }
    file.phase = FilePhase::Confirmed;
}

void DownloadDirection::startDownload(const catalogue::DownloadWorkItem& item) {
    RunFile file;
    file.row = item.row;
    file.name = item.fileName;
    file.remoteName = remoteDirectory() + item.fileName;
    file.updateTime = item.updateTime;
    file.size = catalogue::LeadingInteger(item.size);
    file.unpack = !isBulletin() && execution::shouldUnpack(item.fileName, setup_.noUnzipFileTypes);
    file.kind = isBulletin() ? 2 : (file.unpack ? 1 : 0);

    if (file.size == 0) {
        // Nothing to fetch, check or unpack: the empty partial file is delivered as it is.
        // A state file an earlier run left for it would only stay behind.
        (void)platform::removeIfPresent(context_.fileSystem(),
                                        item.partialFile().string() + ".~block");
        file.unpack = false;
        file.kind = isBulletin() ? 2 : 0;
        file.phase = FilePhase::Confirmed;
        files().put(std::move(file));
        return;
    }
    if (!item.rowInTransfer) {
        // A finished state under a row that never handed its file over is an earlier day's
        // file of this name: resumed, it would be delivered in place of this one unchecked.
        const std::string state = item.partialFile().string() + ".~block";
        if (FileBlockInfo::recordsFinishedFile(state))
            (void)platform::removeIfPresent(context_.fileSystem(), state);
    }
    openBlockState(item, file);
}

void DownloadDirection::openBlockState(const catalogue::DownloadWorkItem& item, RunFile& file) {
    const TransferItem transfer{.remoteName = file.remoteName,
                                .localName = item.fileName,
                                .localDirectory = task_.recvpath,
                                .fileSize = file.size,
                                .kind = file.kind,
                                .taskId = task_.planid,
                                .allowResume = task_.hastrans != 0};
    std::string error;
    file.key = FileBlockMap::keyFor(transfer, false);
    file.info = setup_.blocks->create(transfer, false, kMailboxOrganisation,
                                      execution::DownloadService(task_), filesvc::kDownload,
                                      error);
    const bool unopened = file.info == nullptr;
    if (unopened) {
        file.phase = FilePhase::Failed;
        file.error = error;
    } else if (file.info->fileState() == kFileComplete) {
        recoverFinished(file);
    }
    files().put(std::move(file));
    if (unopened) {
        std::lock_guard lock(unopenedMutex_);
        unopened_.push_back(item.row);
    }
}

bool DownloadDirection::holds(const std::string&, int row) const {
    return files().locked([row](const RunFiles::Map& files) {
        auto it = files.find(row);
        return it != files.end() && it->second.phase != FilePhase::Failed;
    });
}

std::string DownloadDirection::failureText(const std::string&, int row) const {
    return files().locked([row](const RunFiles::Map& files) {
        auto it = files.find(row);
        return it == files.end() ? std::string() : it->second.error;
    });
}

Status DownloadDirection::removeBlockState(const fs::path& dataFile) {
    // Called while a changed server file is listed again: its old state is not open in
    // this run, so the file is simply removed.
    const Status removed =
        platform::removeIfPresent(context_.fileSystem(), dataFile.string() + ".~block");
    if (!removed)
        return Status::error(ErrorKind::IoError, platform::systemErrorText(removed.systemCode()));
    return Status::ok();
}

GatewayOutcome DownloadDirection::transfer(BlockTask& block, CVornFtp& handle,
                                           BlockTransferOptions options, const BlockRun& run,
                                           const RunFile&) {
    handle.SetRoute(kMailboxOrganisation, execution::DownloadService(task_),
                    std::string(filesvc::kDownload));
    options.lookahead = run.lookahead;
    return downloadBlock(block, handle, options);
}

void DownloadDirection::recordFailure(int row, const std::string& error) {
    if (list_) list_->RecordFailure(row, error);
}

bool DownloadDirection::confirm(BlockTask& block, const BlockRun& run, RunFile& file) {
    execution::crashPoint("download-digest-verdict");
    const execution::DownloadedFile received{workDirectory(), file.name, file.kind,
                                             &context_.fileSystem()};
    const execution::UnpackResult unpacked =
        execution::unpackDownloadedFile(received, file.unpack, setup_.unzipProgram);
    if (!unpacked.status && unpacked.refused) {
        // Final for the day: the received archive stays for inspection, and no later
        // attempt fetches or unpacks it again.
        const std::string error = unpacked.status.text();
        taskLog(printf2("%s失败,%s", run.actionText, error), 2);
        if (file.row >= 0) list_->HoldFile(file.row, error);
        block.setState(kBlockFailedFinishing);
        files().setPhase(block.file(), FilePhase::Failed, error);
        return false;
    }
    if (!unpacked.status) {
        const std::string error = unpacked.status.text();
        taskLog(printf2("%s失败,%s", run.actionText, error), 1);
        failAttempt(block, run, file.row, error, kBlockFailedFinishing);
        return false;
    }
    execution::crashPoint("download-unpacked");
    if (block.file().stopRequested()) {
        taskLog(printf2("%s完成解压，文件下载失败，失败原因：%s", run.actionText, "用户停止任务！"),
                1);
        block.setState(kBlockIdle);
        return false;
    }
    file.extraction = unpacked.extractionDirectory;
    return true;
}

RunDirection::Placed DownloadDirection::place(const RunFile& file) {
    const execution::DownloadedFile received{workDirectory(), file.name, file.kind,
                                             &context_.fileSystem()};
    const Status moved = execution::deliverDownloadedFile(
        received, file.extraction, targetDirectory(file),
        [this](std::string_view line, int level) { taskLog(std::string(line), level); });
    if (!moved) {
        taskLog(moved.text(), 2);
        list_->RecordFailure(file.row, moved.text());
        // The row stays "2" with its complete data; the next run moves it.
        if (file.info) file.info->block(file.info->blockCount() - 1).setState(kBlockIdle);
        return {false, moved.text(), false};
    }
    // A file delivered as it is carries the server's time.
    if (file.extraction.empty())
        catalogue::CDownLoadFile::StampFileTime(targetDirectory(file) / file.name,
                                                file.updateTime);
    execution::crashPoint("download-delivered");
    // Recorded only now that the file is in place.
    list_->MarkDelivered(file.row);
    list_->SetState(file.row, catalogue::kDelivered);
    execution::crashPoint("download-recorded");
    setup_.blocks->remove({file.key});
    return {};
}

void DownloadDirection::progress(int row, std::int64_t bytes) {
    list_->SetReceivedSize(row, bytes);
}

void DownloadDirection::afterProgress() {
    // Books and reports the files that failed for good.
    if (list_) (void)list_->NextFailed();
}

void DownloadDirection::reportStopped(const RunFile& file, std::int64_t bytes, std::int64_t size) {
    list_->SetState(file.row, bytes >= size ? catalogue::kTransferring : catalogue::kFetchFromStart);
    char line[512];
    std::snprintf(line, sizeof line, "文件[%s]下载停止，停止原因：用户停止任务!",
                  list_->Item(file.row) ? list_->Item(file.row)->fileName.c_str() : "");
    taskLog(line, 1);
}

int DownloadDirection::placedCount() const {
    return list_ ? list_->DeliveredCount() : 0;
}

}  // namespace vantrel
