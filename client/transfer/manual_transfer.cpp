#include "client/transfer/manual_transfer.h"

#include <system_error>

#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "platform/error_text.h"

namespace vantrel {

namespace fs = std::filesystem;

namespace {

bool ensureLoggedIn(CVornFtp& handle) {
    return handle.IsLoggedIn() || handle.LoginToGateway();
}

// Moves every block of `file`; Ok when all are done.
GatewayOutcome moveBlocks(CVornFtp& handle, FileBlockInfo& file, bool download,
                          const ManualTransferRequest& request,
                          const ManualTransferEnvironment& env, std::string& error) {
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
            if (!ensureLoggedIn(handle)) {
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
            return outcome;
        }
        block->setState(kBlockDone);
    }
    return GatewayOutcome::Ok;
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
// again after a re-login while the answer is lost. Ok match; Failed mismatch (progress
// discarded, `file` closed); NotVerified (`file` closed, data and block state kept, so a
// later run only verifies).
GatewayOutcome verifyFinished(CVornFtp& handle, FileBlockInfo& file, const TransferItem& item,
                              bool download, const ManualTransferRequest& request,
                              const ManualTransferEnvironment& env, std::string& error) {
    const std::string ftpType(download ? filesvc::kDownload : filesvc::kUpload);
    // A download is checked in its data file before it is moved into place.
    const fs::path& finished = download ? file.dataPath() : request.localFile;
    for (int attempt = 0; attempt < std::max(1, env.attempts); ++attempt) {
        if (attempt > 0) handle.DropIfLoggedIn();
        if (!ensureLoggedIn(handle)) {
            if (attempt == 0) error = handle.LastError();  // else the lost answer's text
            continue;
        }
        handle.SetRoute(kMailboxOrganisation, request.mailbox, ftpType);
        VornFileService service(handle);
        const DigestVerdict verdict =
            service.verifyDigest(finished, request.remoteName, item.fileSize);
        if (verdict.outcome == DigestVerdict::kMatch) return GatewayOutcome::Ok;
        error = handle.LastError();
        if (verdict.outcome == DigestVerdict::kMismatch) {
            discardProgress(file);
            file.close();
            return GatewayOutcome::Failed;
        }
    }
    file.closeKeepingData();
    return GatewayOutcome::NotVerified;
}

// Opens the block state of `item`, moves every block, then verifies the finished file.
// Ok with `file` open; else what failed, with `file` closed once opened.
GatewayOutcome moveAndVerify(CVornFtp& handle, FileBlockInfo& file, const TransferItem& item,
                             bool download, const ManualTransferRequest& request,
                             const ManualTransferEnvironment& env, std::string& error) {
    const std::string_view ftpType = download ? filesvc::kDownload : filesvc::kUpload;
    if (!file.open(item, !download, kMailboxOrganisation, request.mailbox, ftpType)) {
        error = file.errorText();
        return GatewayOutcome::Failed;
    }
    if (const GatewayOutcome moved = moveBlocks(handle, file, download, request, env, error);
        moved != GatewayOutcome::Ok) {
        file.close();
        return moved;
    }
    return verifyFinished(handle, file, item, download, request, env, error);
}

}  // namespace

GatewayOutcome downloadFile(CVornFtp& handle, const ManualTransferRequest& request,
                            const ManualTransferEnvironment& env, std::string& error) {
    const std::string localName(remoteBaseName(request.remoteName));
    Result<fs::path> target = localPathInside(request.localDirectory, localName);
    if (!target) {
        error = target.status().text();
        return GatewayOutcome::BadArguments;
    }
    TransferItem item;
    item.remoteName = request.remoteName;
    item.localName = localName;
    item.localDirectory = request.localDirectory;
    item.fileSize = request.fileSize;
    item.taskId = request.taskId;
    FileBlockInfo file(fileOptions(env));
    if (const GatewayOutcome moved = moveAndVerify(handle, file, item, true, request, env, error);
        moved != GatewayOutcome::Ok)
        return moved;
    platform::FileSystem& files = env.files ? *env.files : platform::FileSystem::real();
    if (Status moved = files.rename(file.dataPath(), *target); !moved) {
        error = "移动文件[" + file.dataPath().string() + "]到[" + target->string() +
                "]失败:" + platform::systemErrorText(moved.systemCode());
        file.close();
        return GatewayOutcome::Failed;
    }
    const fs::path state = file.statePath();
    if (file.blockCount() == 0) discardProgress(file);
    file.close();
    (void)platform::removeIfPresent(files, state);
    return GatewayOutcome::Ok;
}

GatewayOutcome uploadFile(CVornFtp& handle, const ManualTransferRequest& request,
                          const ManualTransferEnvironment& env, std::string& error) {
    std::error_code ec;
    const auto size = fs::file_size(request.localFile, ec);
    if (ec) {
        error = "数据文件[" + request.localFile.string() + "]不存在！";
        return GatewayOutcome::Failed;
    }
    if (std::string refusal =
            FileBlockInfo::sizeRefusal(static_cast<std::int64_t>(size), request.localFile.string());
        !refusal.empty()) {
        error = refusal;
        return GatewayOutcome::BadArguments;
    }
    if (!ensureLoggedIn(handle)) {
        error = handle.LastError();
        return GatewayOutcome::PeerClosed;
    }
    VornFileService service(handle);
    if (size == 0) {
        // Nothing to send in packets: one request without data creates the file.
        handle.SetRoute(kMailboxOrganisation, request.mailbox, std::string(filesvc::kUpload));
        std::string serial;
        char flag = '0';
        GatewayOutcome outcome = service.takeSerial(serial, flag);
        if (outcome == GatewayOutcome::Ok)
            outcome = service.sendRequest(serial, flag, "", request.remoteName, 0, 0, 0, {});
        std::string answer;
        if (outcome == GatewayOutcome::Ok) outcome = handle.ReceiveResponse(answer);
        if (outcome != GatewayOutcome::Ok) error = handle.LastError();
        return outcome;
    }
    TransferItem item;
    item.remoteName = request.remoteName;
    item.localName = request.localFile.filename().string();
    item.localDirectory = request.localFile.parent_path();
    item.fileSize = static_cast<std::int64_t>(size);
    item.taskId = request.taskId;
    FileBlockInfo file(fileOptions(env));
    if (const GatewayOutcome moved = moveAndVerify(handle, file, item, false, request, env, error);
        moved != GatewayOutcome::Ok)
        return moved;
    file.close();
    return GatewayOutcome::Ok;
}

}  // namespace vantrel
