#include "client/execution/runs/upload_run.h"

#include <algorithm>
#include <cstdio>

#include "client/base/logs.h"
#include "client/catalogue/catalogue_text.h"
#include "client/config/config.h"
#include "client/execution/runs/crash_point.h"
#include "client/execution/runs/run_files.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_services.h"

namespace vantrel {
namespace {

std::string upperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string printf2(const char* pattern, const std::string& a, const std::string& b) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, a.c_str(), b.c_str());
    return buffer;
}

// An empty file has no packet to send: one request without data creates it.
int createEmpty(CVornFtp& handle, const std::string& remoteName) {
    VornFileService service(handle);
    std::string serial;
    char flag = '0';
    int rc = service.takeSerial(serial, flag);
    if (rc == 0) rc = service.sendRequest(serial, flag, "", remoteName, 0, 0, 0, {});
    std::string answer;
    if (rc == 0) rc = handle.ReceiveResponse(answer);
    return rc < 0 ? rc : (rc == 0 ? 0 : -1);
}

}  // namespace

UploadRun::UploadRun(const Context& context, UploadRunSetup setup, catalogue::UploadTask task)
    : context_(context),
      setup_(setup),
      task_(std::move(task)),
      // The mailbox is matched ignoring case and always named by its code.
      mailbox_(upperAscii(catalogue::TrimText(task_.mailname))) {}

UploadRun::~UploadRun() = default;

void UploadRun::taskLog(const std::string& line, int level) const {
    if (context_.logs && !taskLogPath_.empty())
        (void)context_.logs->writeTaskLog(line, level, taskLogPath_);
}

bool UploadRun::openList(std::string& error) {
    list_ = std::make_unique<catalogue::CUpLoadFile>(context_, nullptr);
    const int opened = list_->InitFileList(task_);
    taskLogPath_ = list_->TaskLogPath();
    if (opened != 1) {
        error = "初始化上传文件管理类失败！";
        return false;
    }
    return true;
}

bool UploadRun::start(std::string& error) {
    // The last run's old block state of files no longer listed is not this run's concern;
    // changed files lose theirs while the rows are loaded.
    if (!list_->LoadWorkItems()) {
        error = "初始化上传文件管理类失败！";
        return false;
    }
    // Asked before the run's lock is taken: the list may call this run back under its own.
    const int sent = list_->SentCount();
    {
        std::lock_guard lock(mutex_);
        sentBefore_ = sent;
    }
    list_->AddNewFiles();
    const std::filesystem::path sendDirectory = list_->SendDirectory();
    for (const std::string& marker : list_->RemoveMarkersOfMovedFiles())
        taskLog("就绪标志文件[" + marker + "]对应的发送文件已移动到已发送目录，删除该标志文件", 0);
    reportOrphanMarkers(sendDirectory);
    for (const catalogue::UploadWorkItem& item : list_->Items()) {
        File file;
        file.row = item.row;
        file.name = item.fileName;
        file.size = catalogue::LeadingInteger(item.localSize);
        if (item.movePending) {
            // Sent before the process died; the move is all that is left.
            file.phase = Phase::Confirmed;
            file.markedSent = true;
            std::lock_guard lock(mutex_);
            files_[file.row] = std::move(file);
            continue;
        }
        if (item.flag == '1') continue;
        TransferItem transfer;
        transfer.remoteName = item.fileName;
        transfer.localName = item.fileName;
        transfer.localDirectory = sendDirectory;
        transfer.fileSize = file.size;
        transfer.taskId = task_.planid;
        std::string openError;
        file.key = FileBlockMap::keyFor(transfer, true);
        file.info = setup_.blocks->create(transfer, true, kMailboxOrganisation, mailbox_,
                                          filesvc::kUpload, openError);
        if (file.info == nullptr) {
            file.phase = Phase::Failed;
            file.error = openError;
            taskLog(printf2("上传文件[%s]失败，错误原因: %s", file.name, openError), 2);
            list_->RecordFailure(file.row, openError);
        } else if (file.info->fileState() == kFileComplete) {
            // The last block is done only once the gateway confirmed the file's MD5: the
            // process died before the row said sent. On to the move.
            file.phase = Phase::Confirmed;
        }
        std::lock_guard lock(mutex_);
        files_[file.row] = std::move(file);
    }
    return true;
}

void UploadRun::reportOrphanMarkers(const std::filesystem::path& sendDirectory) const {
    std::string suffix = CConfig(context_.installation).readFlagFileExtend();
    if (suffix.empty()) suffix = ".rdy";
    std::error_code ec;
    for (std::filesystem::directory_iterator it(sendDirectory, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string dataName = name.substr(0, name.size() - suffix.size());
        std::error_code missing;
        if (!std::filesystem::exists(sendDirectory / dataName, missing)) {
            taskLog("就绪标志文件[" + name + "]对应的发送文件[" + dataName + "]不存在！", 1);
        }
    }
}

UploadRun::File* UploadRun::fileOf(const FileBlockInfo& info) {
    for (auto& [row, file] : files_) {
        if (file.info == &info) return &file;
    }
    return nullptr;
}

void UploadRun::setPhase(const FileBlockInfo& info, Phase phase, const std::string& error) {
    std::lock_guard lock(mutex_);
    if (File* f = fileOf(info)) {
        f->phase = phase;
        if (!error.empty()) f->error = error;
    }
}

BlockTask* UploadRun::nextBlock() {
    std::lock_guard lock(mutex_);
    for (auto& [row, file] : files_) {
        if (file.phase != Phase::Transferring || file.info == nullptr) continue;
        if (BlockTask* block = file.info->claimNextBlock()) return block;
    }
    return nullptr;
}

void UploadRun::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    const auto log = [this](const std::string& line, int level) { taskLog(line, level); };
    File file;
    {
        std::lock_guard lock(mutex_);
        const File* f = fileOf(block.file());
        if (f == nullptr) {
            block.setState(kBlockIdle);
            return;
        }
        file = *f;
    }
    taskLog(blockLine("开始", run.actionText, block), 0);
    handle.SetRoute(kMailboxOrganisation, mailbox_, std::string(filesvc::kUpload));
    BlockTransferOptions options;
    options.clock = setup_.transferClock ? setup_.transferClock : context_.clock;
    options.shouldStop = run.shouldStop;
    const int rc =
        file.size == 0 ? createEmpty(handle, file.name) : uploadBlock(handle, &block, options);
    if (rc == -97 || rc == -98) {
        // Stopped by the user or by the exit: not an attempt.
        taskLog(blockLine("", run.actionText + "出现错误,错误信息：" + handle.LastError(), block),
                1);
        block.setState(kBlockIdle);
        return;
    }
    if (rc < 0) {
        const std::string error = handle.LastError();
        handle.DropIfLoggedIn();
        list_->RecordFailure(file.row, error);
        applyRetryRule(block, run.actionText, error, true, kBlockFailed, log);
        if (block.state() == kBlockFailed) setPhase(block.file(), Phase::Failed, error);
        return;
    }
    taskLog(blockLine("完成", run.actionText, block), 0);
    if (!block.isLast()) {
        block.setState(kBlockDone);
        return;
    }
    // The gateway confirms it holds the very bytes of the file; a file that changed while
    // it was sent fails here and stays in the send directory.
    VornFileService service(handle);
    const DigestVerdict verdict =
        service.verifyDigest(block.file().dataPath(), file.name, file.size);
    if (verdict.outcome != DigestVerdict::kMatch) {
        const std::string error = handle.LastError();
        taskLog(printf2("%s失败,MD5计算时出现错误：%s", run.actionText, error), 1);
        handle.DropIfLoggedIn();
        list_->RecordFailure(file.row, error);
        applyRetryRule(block, run.actionText, error, true, kBlockFailed, log);
        if (block.state() == kBlockFailed) setPhase(block.file(), Phase::Failed, error);
        return;
    }
    taskLog("完成" + run.actionText, 0);
    block.setState(kBlockDone);
    execution::crashPoint("upload-confirmed");
    setPhase(block.file(), Phase::Confirmed);
}

void UploadRun::finishSent() {
    std::vector<File> ready;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [row, file] : files_) {
            if (file.phase == Phase::Confirmed) ready.push_back(file);
        }
    }
    const std::filesystem::path sendDirectory = list_->SendDirectory();
    for (const File& file : ready) {
        if (!file.markedSent) {
            list_->SetUploadedSize(file.row, file.size);
            // Before the block state goes: from here on, a crash leaves a sent row whose
            // file the next run only moves, never one that is sent again.
            list_->MarkSent(file.row);
            execution::crashPoint("upload-marked-sent");
        }
        // Closing the complete block state removes it; the data file stays for the move.
        if (!file.key.empty()) setup_.blocks->remove({file.key});
        if (file.markedSent) {
            std::error_code ec;
            std::filesystem::remove((sendDirectory / file.name).string() + ".~block", ec);
        }
        Phase phase = Phase::Sent;
        std::string error;
        if (list_->BackupSentFile(file.row) != 1) {
            // The gateway has the file; only the local move failed, so the row stays sent
            // and the file stays where it was.
            error = list_->LastError();
            taskLog(printf2("上传文件[%s]成功，%s", file.name, error), 2);
            phase = Phase::Failed;
        }
        std::lock_guard lock(mutex_);
        files_[file.row].phase = phase;
        files_[file.row].error = error;
        files_[file.row].info = nullptr;
    }
}

void UploadRun::perSecond() {
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
        }
    }
    for (const Progress& p : progress) list_->SetUploadedSize(p.row, p.bytes);
}

bool UploadRun::finished() const {
    std::lock_guard lock(mutex_);
    return AllFilesEnded(files_, Phase::Sent);
}

std::string UploadRun::result(std::string& description) const {
    std::lock_guard lock(mutex_);
    return RunResult(files_, Phase::Sent, "上传失败", description);
}

bool UploadRun::anyTaken() const {
    std::lock_guard lock(mutex_);
    return AnyBlockTaken(files_);
}

void UploadRun::release(bool stopped) {
    std::vector<std::string> keys;
    std::vector<std::pair<std::string, bool>> stoppedFiles;  // name, had begun
    {
        std::lock_guard lock(mutex_);
        for (auto& [row, file] : files_) {
            if (file.info == nullptr) continue;
            FileBlockInfo& info = *file.info;
            // Failed attempts count for this run only: what was sent stays for the next run.
            const bool begun = info.bytesDone() > 0;
            for (int i = 0; i < info.blockCount(); ++i) {
                if (info.block(i).state() != kBlockDone || file.phase != Phase::Confirmed)
                    info.block(i).setState(kBlockIdle);
            }
            keys.push_back(file.key);
            if (stopped && file.phase == Phase::Transferring) {
                file.phase = Phase::Stopped;
                stoppedFiles.emplace_back(file.name, begun);
            }
            file.info = nullptr;
        }
    }
    setup_.blocks->remove(keys);
    for (const auto& [name, begun] : stoppedFiles) {
        taskLog(begun ? "上传文件[" + name + "]失败，错误原因: 用户停止任务！"
                      : "上传文件[" + name + "]停止，停止原因: 用户停止任务！",
                1);
    }
}

int UploadRun::fileCount() const {
    std::lock_guard lock(mutex_);
    return sentBefore_ + static_cast<int>(files_.size());
}

int UploadRun::sentCount() const {
    return list_ ? list_->SentCount() : 0;
}

}  // namespace vantrel
