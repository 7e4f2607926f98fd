#include "client/execution/runs/upload_direction.h"

#include <cstdio>

#include "client/catalogue/catalogue_text.h"
#include "client/config/config.h"
#include "client/execution/runs/crash_point.h"
#include "platform/file_system.h"
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
GatewayOutcome createEmpty(CVornFtp& handle, const std::string& remoteName) {
    VornFileService service(handle);
    std::string serial;
    char flag = '0';
    GatewayOutcome outcome = service.takeSerial(serial, flag);
    if (outcome == GatewayOutcome::Ok)
        outcome = service.sendRequest(serial, flag, "", remoteName, 0, 0, 0, {});
    if (outcome != GatewayOutcome::Ok) return outcome;
    std::string answer;
    return handle.ReceiveResponse(answer);
}

// A file is one block, confirmed files move before each dispatch, and a changed file's
// digest counts as a failed attempt.
constexpr DirectionTraits kUploadTraits{.upload = true, .failedWhat = "上传失败",
                                        .placesOnDispatch = true};

}  // namespace

UploadDirection::UploadDirection(const Context& context, FileBlockMap& blocks,
                                 catalogue::UploadTask task)
    : RunDirection(context, kUploadTraits),
      blocks_(blocks),
      task_(std::move(task)),
      // The mailbox is matched ignoring case and always named by its code.
      mailbox_(upperAscii(catalogue::TrimText(task_.mailname))) {}

UploadDirection::~UploadDirection() = default;

bool UploadDirection::openList(std::string& error) {
    list_ = std::make_unique<catalogue::CUpLoadFile>(context_, nullptr);
    const int opened = list_->InitFileList(task_);
    taskLogPath_ = list_->TaskLogPath();
    if (opened != 1) {
        error = "初始化上传文件管理类失败！";
        return false;
    }
    return true;
}

bool UploadDirection::start(std::string& error) {
    // The last run's old block state of files no longer listed is not this run's concern;
    // changed files lose theirs while the rows are loaded.
    if (!list_->LoadWorkItems()) {
        error = "初始化上传文件管理类失败！";
        return false;
    }
    // Asked before the run's lock is taken: the list may call this run back under its own.
    files().setPlacedBefore(list_->SentCount());
    // A ready file left out of the list would be passed over in silence.
    if (list_->AddNewFiles() < 0) {
        error = list_->LastError();
        return false;
    }
    const std::filesystem::path sendDirectory = list_->SendDirectory();
    for (const std::string& marker : list_->RemoveMarkersOfMovedFiles())
        taskLog("就绪标志文件[" + marker + "]对应的发送文件已移动到已发送目录，删除该标志文件", 0);
    reportOrphanMarkers(sendDirectory);
    for (const catalogue::UploadWorkItem& item : list_->Items()) takeUp(item, sendDirectory);
    return true;
}

void UploadDirection::takeUp(const catalogue::UploadWorkItem& item,
                             const std::filesystem::path& sendDirectory) {
    RunFile file;
    file.row = item.row;
    file.name = item.fileName;
    file.size = catalogue::LeadingInteger(item.localSize);
    if (item.movePending) {
        // Sent before the process died; the move is all that is left.
        file.phase = FilePhase::Confirmed;
        file.markedSent = true;
        files().put(std::move(file));
        return;
    }
    if (item.flag == '1') return;
    const TransferItem transfer{.remoteName = item.fileName,
                                .localName = item.fileName,
                                .localDirectory = sendDirectory,
                                .fileSize = file.size,
                                .taskId = task_.planid};
    std::string openError;
    file.key = FileBlockMap::keyFor(transfer, true);
    file.info = blocks_.create(transfer, true, kMailboxOrganisation, mailbox_, filesvc::kUpload,
                               openError);
    if (file.info == nullptr) {
        file.phase = FilePhase::Failed;
        file.error = openError;
        taskLog(printf2("上传文件[%s]失败，错误原因: %s", file.name, openError), 2);
        list_->RecordFailure(file.row, openError);
    } else if (file.info->fileState() == kFileComplete) {
        // The last block is done only once the gateway confirmed the file's MD5: the
        // process died before the row said sent. On to the move.
        file.phase = FilePhase::Confirmed;
    }
    files().put(std::move(file));
}

void UploadDirection::reportOrphanMarkers(const std::filesystem::path& sendDirectory) const {
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

GatewayOutcome UploadDirection::transfer(BlockTask& block, CVornFtp& handle,
                                         BlockTransferOptions options, const BlockRun&,
                                         const RunFile& file) {
    handle.SetRoute(kMailboxOrganisation, mailbox_, std::string(filesvc::kUpload));
    return file.size == 0 ? createEmpty(handle, file.name) : uploadBlock(handle, &block, options);
}

void UploadDirection::recordFailure(int row, const std::string& error) {
    list_->RecordFailure(row, error);
}

RunDirection::Placed UploadDirection::place(const RunFile& file) {
    if (!file.markedSent) {
        list_->SetUploadedSize(file.row, file.size);
        // Before the block state goes: from here on, a crash leaves a sent row whose
        // file the next run only moves, never one that is sent again.
        list_->MarkSent(file.row);
        execution::crashPoint("upload-marked-sent");
    }
    // Closing the complete block state removes it; the data file stays for the move.
    if (!file.key.empty()) blocks_.remove({file.key});
    if (file.markedSent) {
        (void)platform::removeIfPresent(context_.fileSystem(),
                                        (list_->SendDirectory() / file.name).string() + ".~block");
    }
    if (list_->BackupSentFile(file.row) != 1) {
        // The gateway has the file; only the local move failed, so the row stays sent
        // and the file stays where it was.
        const std::string error = list_->LastError();
        taskLog(printf2("上传文件[%s]成功，%s", file.name, error), 2);
        return {false, error, true};
    }
    return {};
}

void UploadDirection::progress(int row, std::int64_t bytes) {
    list_->SetUploadedSize(row, bytes);
}

void UploadDirection::reportStopped(const RunFile& file, std::int64_t bytes, std::int64_t) {
    taskLog(bytes > 0 ? "上传文件[" + file.name + "]失败，错误原因: 用户停止任务！"
                      : "上传文件[" + file.name + "]停止，停止原因: 用户停止任务！",
            1);
}

int UploadDirection::placedCount() const {
    return list_ ? list_->SentCount() : 0;
}

}  // namespace vantrel
