#include "client/transfer/manual_transfer.h"

#include <system_error>

#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "platform/error_text.h"

namespace vantrel {

namespace fs = std::filesystem;

namespace {

int ensureLoggedIn(CVornFtp& handle) {
    if (handle.IsLoggedIn()) return 0;
    return handle.LoginToGateway() ? 0 : -3;
}

// Moves every block of `file`; 0 when all are done.
int moveBlocks(CVornFtp& handle, FileBlockInfo& file, bool download,
               const ManualTransferRequest& request, const ManualTransferEnvironment& env,
               std::string& error) {
    const std::string ftpType(download ? filesvc::kDownload : filesvc::kUpload);
    // One session over all blocks, so the speed counts only what this call moves.
    TransferSession session{env.options.clock->tick()};
    BlockTransferOptions options = env.options;
    options.session = &session;
    BlockLookahead lookahead;
    if (download) {
        lookahead.claim = [&file](const BlockTask& current) {
            return file.claimNextBlock(&current);
        };
        options.lookahead = &lookahead;
    }
    // A block taken early goes next: its first requests may already be out.
    auto nextBlock = [&] { return lookahead.block ? lookahead.block : file.claimNextBlock(); };
    while (BlockTask* block = nextBlock()) {
        GatewayOutcome outcome = GatewayOutcome::Ok;
        for (int attempt = 0; attempt < std::max(1, env.attempts); ++attempt) {
            if (ensureLoggedIn(handle) != 0) {
                outcome = GatewayOutcome::PeerClosed;
                // After a dropped connection the failed re-login's text (a closed
                // connection reads as a refused password there) would hide why it failed.
                if (attempt == 0) error = handle.LastError();
                continue;
            }
            handle.SetRoute(kMailboxOrganisation, request.mailbox, ftpType);
            block->setState(kBlockTaken);
            if (env.observer && env.prompt) {
                outcome = download ? downloadBlockInteractive(*block, handle, options,
                                                              *env.observer, *env.prompt)
                                   : uploadBlockInteractive(handle, block, options, *env.observer,
                                                            *env.prompt);
            } else {
                outcome = download ? downloadBlock(*block, handle, options)
                                   : uploadBlock(handle, block, options);
            }
            if (outcome == GatewayOutcome::Ok) break;
            error = handle.LastError();
            block->incrementRepeat();
            if (!worthAnotherAttempt(outcome)) break;
            handle.DropIfLoggedIn();
        }
        if (outcome != GatewayOutcome::Ok) {
            block->setState(kBlockIdle);
            if (lookahead.block && lookahead.block != block) lookahead.block->setState(kBlockIdle);
            return resultCode(outcome);
        }
        block->setState(kBlockDone);
    }
    return 0;
}

// Makes the file's state "failed" so that closing discards its progress.
void discardProgress(FileBlockInfo& file) {
    for (int i = 0; i < file.blockCount(); ++i) file.block(i).setState(kBlockFailed);
}

FileBlockInfo::Options fileOptions(const ManualTransferEnvironment& env) {
    FileBlockInfo::Options o;
    o.clock = env.options.clock;
    o.systemLog = env.systemLog;
    o.files = env.files;
    return o;
}

// Asks the gateway to compare its digest of the file with the finished local one, asking
// again after a re-login while the answer is lost. 0 match; -1 mismatch (progress
// discarded, `file` closed); -4 still not verified (`file` closed, data and block state
// kept, so a later run only verifies).
int verifyFinished(CVornFtp& handle, FileBlockInfo& file, const TransferItem& item, bool download,
                   const ManualTransferRequest& request, const ManualTransferEnvironment& env,
                   std::string& error) {
    const std::string ftpType(download ? filesvc::kDownload : filesvc::kUpload);
    // A download is checked in its data file before it is moved into place.
    const fs::path& finished = download ? file.dataPath() : request.localFile;
    for (int attempt = 0; attempt < std::max(1, env.attempts); ++attempt) {
        if (attempt > 0) handle.DropIfLoggedIn();
        if (ensureLoggedIn(handle) != 0) {
            if (attempt == 0) error = handle.LastError();  // else the lost answer's text
            continue;
        }
        handle.SetRoute(kMailboxOrganisation, request.mailbox, ftpType);
        VornFileService service(handle);
        const DigestVerdict verdict =
            service.verifyDigest(finished, request.remoteName, item.fileSize);
        if (verdict.outcome == DigestVerdict::kMatch) return 0;
        error = handle.LastError();
        if (verdict.outcome == DigestVerdict::kMismatch) {
            discardProgress(file);
            file.close();
            return -1;
        }
    }
    file.closeKeepingData();
    return kDigestNotVerified;
}

// Opens the block state of `item`, moves every block, then verifies the finished file.
// 0 with `file` open; else the code, with `file` closed once opened.
int moveAndVerify(CVornFtp& handle, FileBlockInfo& file, const TransferItem& item, bool download,
                  const ManualTransferRequest& request, const ManualTransferEnvironment& env,
                  std::string& error) {
    const std::string_view ftpType = download ? filesvc::kDownload : filesvc::kUpload;
    if (!file.open(item, !download, kMailboxOrganisation, request.mailbox, ftpType)) {
        error = file.errorText();
        return -1;
    }
    if (int rc = moveBlocks(handle, file, download, request, env, error); rc != 0) {
        file.close();
        return rc;
    }
    return verifyFinished(handle, file, item, download, request, env, error);
}

}  // namespace

int downloadFile(CVornFtp& handle, const ManualTransferRequest& request,
                 const ManualTransferEnvironment& env, std::string& error) {
    const std::string localName(remoteBaseName(request.remoteName));
    Result<fs::path> target = localPathInside(request.localDirectory, localName);
    if (!target) {
        error = target.status().text();
        return -2;
    }
    TransferItem item;
    item.remoteName = request.remoteName;
    item.localName = localName;
    item.localDirectory = request.localDirectory;
    item.fileSize = request.fileSize;
    item.taskId = request.taskId;
    FileBlockInfo file(fileOptions(env));
    if (int rc = moveAndVerify(handle, file, item, true, request, env, error); rc != 0) return rc;
    platform::FileSystem& files = env.files ? *env.files : platform::FileSystem::real();
    if (Status moved = files.rename(file.dataPath(), *target); !moved) {
        error = "移动文件[" + file.dataPath().string() + "]到[" + target->string() +
                "]失败:" + platform::systemErrorText(moved.systemCode());
        file.close();
        return -1;
    }
    const fs::path state = file.statePath();
    if (file.blockCount() == 0) discardProgress(file);
    file.close();
    (void)platform::removeIfPresent(files, state);
    return 0;
}

int uploadFile(CVornFtp& handle, const ManualTransferRequest& request,
               const ManualTransferEnvironment& env, std::string& error) {
    std::error_code ec;
    const auto size = fs::file_size(request.localFile, ec);
    if (ec) {
        error = "数据文件[" + request.localFile.string() + "]不存在！";
        return -1;
    }
    if (std::string refusal =
            FileBlockInfo::sizeRefusal(static_cast<std::int64_t>(size), request.localFile.string());
        !refusal.empty()) {
        error = refusal;
        return -2;
    }
    if (ensureLoggedIn(handle) != 0) {
        error = handle.LastError();
        return -3;
    }
    VornFileService service(handle);
    if (size == 0) {
        // Nothing to send in packets: one request without data creates the file.
        handle.SetRoute(kMailboxOrganisation, request.mailbox, std::string(filesvc::kUpload));
        std::string serial;
        char flag = '0';
        int rc = service.takeSerial(serial, flag);
        if (rc == 0) rc = service.sendRequest(serial, flag, "", request.remoteName, 0, 0, 0, {});
        std::string answer;
        if (rc == 0) rc = resultCode(handle.ReceiveResponse(answer));
        if (rc != 0) error = handle.LastError();
        return rc;
    }
    TransferItem item;
    item.remoteName = request.remoteName;
    item.localName = request.localFile.filename().string();
    item.localDirectory = request.localFile.parent_path();
    item.fileSize = static_cast<std::int64_t>(size);
    item.taskId = request.taskId;
    FileBlockInfo file(fileOptions(env));
    if (int rc = moveAndVerify(handle, file, item, false, request, env, error); rc != 0) return rc;
    file.close();
    return 0;
}

}  // namespace vantrel
