#include "client/execution/runs/download_run.h"

#include <algorithm>
#include <cstdio>

#include "client/catalogue/catalogue_text.h"
#include "client/base/logs.h"
#include "client/execution/runs/crash_point.h"
#include "client/execution/runs/download_listing.h"
#include "client/execution/tasks/download_schedule.h"
#include "client/execution/runs/file_name_rule.h"
#include "client/execution/runs/run_files.h"
#include "client/execution/unpacking/unpacker.h"
#include "client/execution/unpacking/zip_directory.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "platform/error_text.h"
#include "platform/thread_id.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

std::string printf2(const char* pattern, const std::string& a, const std::string& b) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, a.c_str(), b.c_str());
    return buffer;
}

}  // namespace

DownloadRun::DownloadRun(const Context& context, DownloadRunSetup setup,
                         catalogue::DownloadTask task)
    : context_(context),
      setup_(std::move(setup)),
      task_(std::move(task)),
      startedAt_(context.clock->now()) {}

DownloadRun::~DownloadRun() = default;

void DownloadRun::taskLog(const std::string& line, int level) const {
    if (context_.logs && !taskLogPath_.empty())
        (void)context_.logs->writeTaskLog(line, level, taskLogPath_);
}

fs::path DownloadRun::workDirectory() const {
    const fs::path root = task_.recvpath;
    return isBulletin() ? root / "Bullet" : root;
}

fs::path DownloadRun::targetDirectory(const File& file) const {
    fs::path target = task_.recvpath;
    if (setup_.datedByFileDate) {
        // "YYYY-MM-DD hh:mm:ss" on the server.
        const std::string& t = file.updateTime;
        if (t.size() >= 10) target /= t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2);
    } else if (task_.hasrecvdir) {
        target /= catalogue::FormatDate(platform::toLocalTime(startedAt_ - WindowShift(task_)));
    }
    return target;
}

std::string DownloadRun::remoteDirectory() const {
    if (!setup_.remoteDirectory.empty()) return setup_.remoteDirectory;
    if (isBulletin()) {
        const std::string day = catalogue::FormatDate(platform::toLocalTime(startedAt_));
        return day + day + "Bullet\\";
    }
    return task_.mailname + "\\";
}

bool DownloadRun::openList(std::string& error) {
    list_ = std::make_unique<catalogue::CDownLoadFile>(context_, this, setup_.flags);
    std::chrono::seconds dayOffset = WindowShift(task_);
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
    std::error_code ec;
    if (isBulletin()) fs::create_directories(workDirectory(), ec);
    list_->SetReceiveDirectory(workDirectory());
    return true;
}

bool DownloadRun::start(CVornFtp& session, std::string& error) {
    std::string pattern;
    if (isBulletin()) {
        pattern = remoteDirectory() + task_.filename;
    } else {
        Result<std::string> name =
            execution::applyFileNameRule(task_.filename, context_.clock->localNow());
        if (!name) {
            error = name.status().text();
            return false;
        }
        pattern = remoteDirectory() + (name->empty() ? std::string("*.*") : *name);
    }

    if (session.LoginToGateway() != 1 && session.LoginToGateway() != 1) {
        char prefix[128];
        std::snprintf(prefix, sizeof prefix,
                      "管理线程[0x%08x]登陆失败！失败原因:", platform::currentThreadId());
        error = prefix + session.LastError();
        if (context_.logs) (void)context_.logs->writeSysLog(error);
        return false;
    }
    VornFileService service(session);
    std::vector<filesvc::ListEntry> listed;
    // A bulletin folder is listed as a day's history ("09"), a mailbox with "00".
    const std::string& name = execution::DownloadService(task_);
    session.SetRoute(kMailboxOrganisation, name, isBulletin() ? "09" : "00");
    const int listedCode = isBulletin() ? service.listHistory(name, pattern, listed)
                                        : service.listFiles(name, pattern, listed);
    if (listedCode < 0) error = session.LastError();
    // The listing is all this session is for.
    session.DropIfLoggedIn();
    if (listedCode < 0) return false;

    std::vector<catalogue::RemoteFileEntry> listing;
    for (const filesvc::ListEntry& e : listed) {
        if (!e.isDirectory()) listing.push_back({e.name, e.size, e.date, e.time});
    }
    return adopt(std::move(listing), error);
}

bool DownloadRun::adopt(std::vector<catalogue::RemoteFileEntry> listing, std::string& error) {
    std::sort(listing.begin(), listing.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    if (list_->RebuildList(listing) != 1 || !list_->LoadWorkItems()) {
        error = list_->LastError();
        return false;
    }
    // Asked before the run's lock is taken: the list may call this run back under its own.
    const int delivered = list_->DeliveredCount();
    {
        std::lock_guard lock(mutex_);
        deliveredBefore_ = delivered;
    }
    for (const catalogue::DownloadWorkItem& item : list_->Items()) {
        if (item.state == catalogue::kFetchFromStart) {
            if (recoverDelivered(item)) continue;
            if (list_->StartFile(item.row) != 1) failToStart(item);
        } else if (item.state == catalogue::kTransferring) {
            // Every byte had arrived before: resume, which only finishes the file.
            startDownload(item);
        } else if (item.state == catalogue::kHeld) {
            // Refused for good earlier this day: it fails again without being touched.
            File file;
            file.row = item.row;
            file.name = item.fileName;
            file.phase = Phase::Failed;
            file.error = item.lastError;
            std::lock_guard lock(mutex_);
            files_[item.row] = std::move(file);
        }
    }
    bookUnopened();
    return true;
}

void DownloadRun::bookUnopened() {
    std::vector<File> unopened;
    {
        std::lock_guard lock(mutex_);
        for (int row : unopened_) unopened.push_back(files_[row]);
        unopened_.clear();
    }
    for (const File& file : unopened) {
        // Nothing was fetched: the row shows the reason, not a transfer at 0 bytes.
        list_->SetState(file.row, catalogue::kFetchFromStart);
        list_->RecordFailure(file.row, file.error);
        list_->FinishItem(file.row);
        taskLog(printf2("下载文件[%s]失败，失败原因：%s", file.name, file.error), 2);
    }
}

bool DownloadRun::recoverDelivered(const catalogue::DownloadWorkItem& item) {
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
    fs::remove(state, ec);
    taskLog("文件[" + item.fileName + "]已在上次运行中移动到目标目录", 0);
    File file;
    file.row = item.row;
    file.name = item.fileName;
    file.phase = Phase::Delivered;
    std::lock_guard lock(mutex_);
    files_[item.row] = std::move(file);
    return true;
}

void DownloadRun::failToStart(const catalogue::DownloadWorkItem& item) {
    // Counted as failed, so the run says why instead of ending as if the file were not listed.
    File file;
    file.row = item.row;
    file.name = item.fileName;
    file.phase = Phase::Failed;
    const auto booked = list_->Item(item.row);
    file.error = booked && !booked->lastError.empty() ? booked->lastError : list_->LastError();
    std::lock_guard lock(mutex_);
    files_[item.row] = std::move(file);
}

void DownloadRun::recoverFinished(File& file) {
    // The last block is done only once the digest matched and the file was unpacked, so
    // what is left is the delivery: from the extraction directory, where the files not yet
    // moved before the process died still lie, or the received file as it is.
    if (file.unpack) {
        const execution::DownloadedFile received{workDirectory(), file.name, file.kind};
        const fs::path extraction = execution::extractionDirectoryOf(received);
        std::error_code ec;
        if (!extraction.empty() && fs::is_directory(extraction, ec)) {
            file.phase = Phase::Finished;
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
    file.phase = Phase::Finished;
}

void DownloadRun::startDownload(const catalogue::DownloadWorkItem& item) {
    File file;
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
        std::error_code ec;
        fs::remove(item.partialFile().string() + ".~block", ec);
        file.unpack = false;
        file.kind = isBulletin() ? 2 : 0;
        file.phase = Phase::Finished;
        std::lock_guard lock(mutex_);
        files_[item.row] = std::move(file);
        return;
    }

    if (!item.rowInTransfer) {
        // A finished state under a row that never handed its file over is an earlier day's
        // file of this name: resumed, it would be delivered in place of this one unchecked.
        const std::string state = item.partialFile().string() + ".~block";
        std::error_code ec;
        if (FileBlockInfo::recordsFinishedFile(state)) fs::remove(state, ec);
    }

    TransferItem transfer;
    transfer.remoteName = file.remoteName;
    transfer.localName = item.fileName;
    transfer.localDirectory = task_.recvpath;
    transfer.fileSize = file.size;
    transfer.kind = file.kind;
    transfer.taskId = task_.planid;
    transfer.allowResume = task_.hastrans != 0;
    std::string error;
    file.key = FileBlockMap::keyFor(transfer, false);
    file.info = setup_.blocks->create(transfer, false, kMailboxOrganisation,
                                      execution::DownloadService(task_),
                                      filesvc::kDownload, error);
    if (file.info == nullptr) {
        file.phase = Phase::Failed;
        file.error = error;
        std::lock_guard lock(mutex_);
        unopened_.push_back(item.row);
    } else if (file.info->fileState() == kFileComplete) {
        recoverFinished(file);
    }
    std::lock_guard lock(mutex_);
    files_[item.row] = std::move(file);
}

bool DownloadRun::holds(const std::string&, int row) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(row);
    return it != files_.end() && it->second.phase != Phase::Failed;
}

std::string DownloadRun::failureText(const std::string&, int row) const {
    std::lock_guard lock(mutex_);
    auto it = files_.find(row);
    return it == files_.end() ? std::string() : it->second.error;
}

Status DownloadRun::removeBlockState(const fs::path& dataFile) {
    // Called while a changed server file is listed again: its old state is not open in
    // this run, so the file is simply removed.
    std::error_code ec;
    fs::remove(dataFile.string() + ".~block", ec);
    if (ec) return Status::error(ErrorKind::IoError, platform::systemErrorText(ec.value()));
    return Status::ok();
}

DownloadRun::File* DownloadRun::fileOf(const FileBlockInfo& info) {
    for (auto& [row, file] : files_) {
        if (file.info == &info) return &file;
    }
    return nullptr;
}

void DownloadRun::setPhase(const FileBlockInfo& info, Phase phase, const std::string& error) {
    std::lock_guard lock(mutex_);
    if (File* f = fileOf(info)) {
        f->phase = phase;
        if (!error.empty()) f->error = error;
    }
}

BlockTask* DownloadRun::nextBlock(bool& front) {
    std::lock_guard lock(mutex_);
    for (auto& [row, file] : files_) {
        if (file.phase != Phase::Transferring || file.info == nullptr) continue;
        if (BlockTask* block = file.info->claimNextBlock()) {
            front = block->isLast() && file.info->blockCount() > 1;
            return block;
        }
    }
    return nullptr;
}

void DownloadRun::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    const auto log = [this](const std::string& line, int level) { taskLog(line, level); };
    int row = -1;
    {
        std::lock_guard lock(mutex_);
        if (const File* f = fileOf(block.file())) row = f->row;
    }
    taskLog(blockLine("开始", run.actionText, block), 0);
    handle.SetRoute(kMailboxOrganisation, execution::DownloadService(task_),
                    std::string(filesvc::kDownload));
    BlockTransferOptions options;
    options.clock = setup_.transferClock ? setup_.transferClock : context_.clock;
    options.shouldStop = run.shouldStop;
    options.lookahead = run.lookahead;
    const int rc = downloadBlock(block, handle, options);
    if (rc == -97 || rc == -98) {
        // Stopped by the user or by the exit: not an attempt.
        taskLog(blockLine("", run.actionText + "出现错误,错误信息：" + handle.LastError(), block),
                1);
        block.setState(kBlockIdle);
        return;
    }
    if (rc < 0) {
        const std::string error = handle.LastError();
        // The next block logs in afresh; a half-read answer must not leak into it.
        handle.DropIfLoggedIn();
        if (row >= 0 && list_) list_->RecordFailure(row, error);
        applyRetryRule(block, run.actionText, error, false, kBlockFailed, log);
        if (block.state() == kBlockFailed) setPhase(block.file(), Phase::Failed, error);
        return;
    }
    taskLog(blockLine("完成", run.actionText, block), 0);
    if (!block.isLast()) {
        block.setState(kBlockDone);
        return;
    }
    finishFile(block, handle, run);
}

void DownloadRun::finishFile(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    const auto log = [this](const std::string& line, int level) { taskLog(line, level); };
    File file;
    {
        std::lock_guard lock(mutex_);
        const File* f = fileOf(block.file());
        if (f == nullptr) return;
        file = *f;
    }
    FileBlockInfo& info = block.file();

    VornFileService service(handle);
    const DigestVerdict verdict = service.verifyDigest(info.dataPath(), file.remoteName, file.size);
    if (verdict.outcome != DigestVerdict::kMatch) {
        const std::string error = handle.LastError();
        taskLog(printf2("%s失败,MD5计算时出现错误：%s", run.actionText, error), 1);
        handle.DropIfLoggedIn();
        if (file.row >= 0) list_->RecordFailure(file.row, error);
        if (verdict.outcome == DigestVerdict::kMismatch) {
            // The data is wrong: it is discarded and the next run fetches the file again.
            for (int i = 0; i < info.blockCount(); ++i) info.block(i).setState(kBlockFailed);
            std::lock_guard lock(mutex_);
            if (File* f = fileOf(info)) {
                f->phase = Phase::Failed;
                f->error = error;
                f->discard = true;
            }
            return;
        }
        // The query failed, not the data: the complete file is kept and asked about again.
        applyRetryRule(block, run.actionText, error, false, kBlockFailed, log);
        if (block.state() == kBlockFailed) setPhase(info, Phase::Failed, error);
        return;
    }
    execution::crashPoint("download-digest-verdict");

    const execution::DownloadedFile received{workDirectory(), file.name, file.kind};
    const execution::UnpackResult unpacked =
        execution::unpackDownloadedFile(received, file.unpack, setup_.unzipProgram);
    if (!unpacked.status && unpacked.refused) {
        // Final for the day: the received archive stays for inspection, and no later
        // attempt fetches or unpacks it again.
        const std::string error = unpacked.status.text();
        taskLog(printf2("%s失败,%s", run.actionText, error), 2);
        if (file.row >= 0) list_->HoldFile(file.row, error);
        block.setState(kBlockFailedFinishing);
        setPhase(info, Phase::Failed, error);
        return;
    }
    if (!unpacked.status) {
        const std::string error = unpacked.status.text();
        taskLog(printf2("%s失败,%s", run.actionText, error), 1);
        if (file.row >= 0) list_->RecordFailure(file.row, error);
        applyRetryRule(block, run.actionText, error, false, kBlockFailedFinishing, log);
        if (block.state() == kBlockFailedFinishing) setPhase(info, Phase::Failed, error);
        return;
    }
    execution::crashPoint("download-unpacked");
    if (info.stopRequested()) {
        taskLog(printf2("%s完成解压，文件下载失败，失败原因：%s", run.actionText, "用户停止任务！"),
                1);
        block.setState(kBlockIdle);
        return;
    }
    taskLog("完成" + run.actionText, 0);
    block.setState(kBlockDone);
    execution::crashPoint("download-finished");
    std::lock_guard lock(mutex_);
    if (File* f = fileOf(info)) {
        f->phase = Phase::Finished;
        f->extraction = unpacked.extractionDirectory;
    }
}

void DownloadRun::perSecond() {
    if (!list_) return;
    bookUnopened();
    struct Progress {
        int row;
        std::int64_t bytes;
    };
    std::vector<Progress> progress;
    {
        std::lock_guard lock(mutex_);
        for (auto& [row, file] : files_) {
            if (file.info == nullptr || file.phase != Phase::Transferring) continue;
            const std::int64_t bytes = file.info->bytesDone();
            if (bytes != file.reportedBytes) {
                file.reportedBytes = bytes;
                progress.push_back({row, bytes});
            }
            const int state = file.info->fileState();
            if (state == kFileFailed || state == kFileLastBlockFailed) file.phase = Phase::Failed;
        }
    }
    for (const Progress& p : progress) list_->SetReceivedSize(p.row, p.bytes);
    // Books and reports the files that failed for good.
    (void)list_->NextFailed();
}

void DownloadRun::deliver() {
    std::vector<File> ready;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [row, file] : files_) {
            if (file.phase == Phase::Finished) ready.push_back(file);
        }
    }
    for (const File& file : ready) {
        const execution::DownloadedFile received{workDirectory(), file.name, file.kind};
        const Status moved = execution::deliverDownloadedFile(
            received, file.extraction, targetDirectory(file),
            [this](std::string_view line, int level) { taskLog(std::string(line), level); });
        if (!moved) {
            taskLog(moved.text(), 2);
            list_->RecordFailure(file.row, moved.text());
            // The row stays "2" with its complete data; the next run moves it.
            if (file.info) file.info->block(file.info->blockCount() - 1).setState(kBlockIdle);
            std::lock_guard lock(mutex_);
            files_[file.row].phase = Phase::Failed;
            files_[file.row].error = moved.text();
            continue;
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
        std::lock_guard lock(mutex_);
        files_[file.row].phase = Phase::Delivered;
        files_[file.row].info = nullptr;
    }
}

bool DownloadRun::finished() const {
    std::lock_guard lock(mutex_);
    return AllFilesEnded(files_, Phase::Delivered);
}

std::string DownloadRun::result(std::string& description) const {
    std::lock_guard lock(mutex_);
    return RunResult(files_, Phase::Delivered, "下载失败", description);
}

bool DownloadRun::anyTaken() const {
    std::lock_guard lock(mutex_);
    return AnyBlockTaken(files_);
}

void DownloadRun::release(bool stopped) {
    std::vector<std::string> keys;
    std::vector<std::pair<int, bool>> rows;  // row, complete
    {
        std::lock_guard lock(mutex_);
        for (auto& [row, file] : files_) {
            if (file.info == nullptr) continue;
            FileBlockInfo& info = *file.info;
            const bool complete = info.bytesDone() >= info.fileSize();
            // Failed attempts count for this run only: the data stays for the next run,
            // which resumes; only a mismatched digest discards it.
            if (!file.discard) {
                const int last = info.blockCount() - 1;
                for (int i = 0; i <= last; ++i) {
                    const int s = info.block(i).state();
                    if (s != kBlockDone || (i == last && file.phase != Phase::Delivered))
                        info.block(i).setState(kBlockIdle);
                }
            }
            keys.push_back(file.key);
            if (stopped && file.phase != Phase::Delivered) {
                file.phase = Phase::Stopped;
                rows.emplace_back(row, complete);
            }
            file.info = nullptr;
        }
    }
    setup_.blocks->remove(keys);
    for (const auto& [row, complete] : rows) {
        list_->SetState(row, complete ? catalogue::kTransferring : catalogue::kFetchFromStart);
        char line[512];
        std::snprintf(line, sizeof line, "文件[%s]下载停止，停止原因：用户停止任务!",
                      list_->Item(row) ? list_->Item(row)->fileName.c_str() : "");
        taskLog(line, 1);
    }
}

int DownloadRun::fileCount() const {
    std::lock_guard lock(mutex_);
    return deliveredBefore_ + static_cast<int>(files_.size());
}

int DownloadRun::deliveredCount() const {
    return list_ ? list_->DeliveredCount() : 0;
}

}  // namespace vantrel
