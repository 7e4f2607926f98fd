#include "client/execution/session/mailbox_session.h"

#include "client/base/logs.h"
#include "client/gateway/record_codec.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "client/transfer/manual_transfer.h"

namespace vantrel {

namespace {

struct FunctionText {
    const char* code;
    const char* refusal;
};

// Indexed by MailboxFunction.
constexpr FunctionText kFunctions[] = {
    {"00", "该操作员无此信箱获取文件列表权限！"}, {"01", "该操作员无此信箱文件删除权限！"},
    {"02", "该操作员无此信箱文件重命名权限！"},   {"03", "该操作员无此信箱文件上传权限！"},
    {"04", "该操作员无此信箱文件下载权限！"},
};

}  // namespace

const char* mailboxFunctionCode(MailboxFunction function) {
    return kFunctions[static_cast<int>(function)].code;
}

const char* mailboxRefusal(MailboxFunction function) {
    return kFunctions[static_cast<int>(function)].refusal;
}

// --- progress -------------------------------------------------------------------------------

TransferSnapshot TransferProgress::snapshot() const {
    std::lock_guard lock(mutex);
    return {fileName, bytesDone, fileSize, speed, remaining, statusLine};
}

void storeProgress(TransferProgress& progress, const TransferProgressRecord& record) {
    std::lock_guard lock(progress.mutex);
    progress.fileName = record.fileName;
    progress.bytesDone = record.bytesDone;
    progress.fileSize = record.fileSize;
    progress.speed = record.speed;
    progress.remaining = record.remaining;
    progress.statusLine = record.statusLine;
}

void ProgressSnapshotObserver::begins(const std::string& fileName) {
    std::lock_guard lock(progress_.mutex);
    progress_.fileName = fileName;
}

void ProgressSnapshotObserver::progress(const TransferProgressRecord& record) {
    storeProgress(progress_, record);
}

std::vector<TransferOutcome> runTransferQueue(
    const std::vector<MailboxTransferItem>& items,
    const std::function<TransferOutcome(const MailboxTransferItem&)>& move) {
    std::vector<TransferOutcome> outcomes;
    for (const MailboxTransferItem& item : items) {
        outcomes.push_back(move(item));
        if (outcomes.back().outcome == GatewayOutcome::Cancelled) break;
    }
    return outcomes;
}

// --- session --------------------------------------------------------------------------------

MailboxSession::MailboxSession(InteractiveGateway& gateway) : gateway_(gateway) {
    std::lock_guard lock(handleMutex_);
    keepFacts();
}

void MailboxSession::keepFacts() {
    CVornFtp& handle = gateway_.handle();
    loggedIn_ = handle.IsLoggedIn();
    std::lock_guard lock(factsMutex_);
    operatorCode_ = trimmed(handle.GetOperatorCode());
    userCode_ = trimmed(handle.GetUserCode());
    lastError_ = handle.LastError();
}

bool MailboxSession::login(const LoginRequest& request, const std::string& operatorCode,
                           const std::string& password) {
    // The user code of the previous login goes with the next, as the handle's own login does.
    SessionCredentials credentials{request.gateways, request.gateType,
                                   gateway_.process().lastLogin().userCode, operatorCode, password};
    const bool ok =
        withHandle([&](CVornFtp&) { return gateway_.login(request, operatorCode, password); });
    std::lock_guard lock(factsMutex_);
    credentials_ = std::move(credentials);
    return ok;
}

void MailboxSession::setGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                                    const std::string& operatorCode, const std::string& password) {
    SessionCredentials credentials{gateways, mode, gateway_.process().lastLogin().userCode,
                                   operatorCode, password};
    withHandle([&](CVornFtp& handle) {
        handle.SetGatewayList(credentials.gateways, credentials.mode, credentials.userCode,
                              credentials.operatorCode, credentials.password);
    });
    std::lock_guard lock(factsMutex_);
    credentials_ = std::move(credentials);
}

bool MailboxSession::loginToGateway() {
    const bool ok = withHandle([](CVornFtp& handle) { return handle.LoginToGateway(); });
    gateway_.process().reloginNotice = ok ? 1 : 0;
    return ok;
}

void MailboxSession::dropIfLoggedIn() {
    withHandle([](CVornFtp& handle) { handle.DropIfLoggedIn(); });
}

std::string MailboxSession::lastError() const {
    std::lock_guard lock(factsMutex_);
    return lastError_;
}

std::string MailboxSession::userCode() const {
    std::lock_guard lock(factsMutex_);
    return userCode_;
}

std::string MailboxSession::operatorCode() const {
    std::lock_guard lock(factsMutex_);
    return operatorCode_;
}

SessionCredentials MailboxSession::credentials() const {
    std::lock_guard lock(factsMutex_);
    return credentials_;
}

bool MailboxSession::checkPermission(const std::string& service, const std::string& functionCode) {
    return withHandle([&](CVornFtp& handle) {
        return handle.CheckPermission(service, functionCode, kMailboxOrganisation);
    });
}

// --- operations -----------------------------------------------------------------------------

MailboxOperations::MailboxOperations(MailboxSession& session, const Context& context,
                                     GatewayProcessState& process, TransferHandle transferHandle)
    : session_(session), context_(context), process_(process), transferHandle_(transferHandle) {}

MailboxOperations::~MailboxOperations() {
    std::lock_guard lock(transferMutex_);
    if (handle_) handle_->DropIfLoggedIn();
}

GatewayOutcome MailboxOperations::list(const std::string& mailbox, const std::string& directory,
                                       std::vector<filesvc::ListEntry>& entries, std::string& error,
                                       bool todayOnly) {
    std::string pattern = directory;
    if (!pattern.empty() && pattern.back() != '\\') pattern += '\\';
    pattern += "*.*";
    return session_.withHandle([&](CVornFtp& handle) {
        VornFileService service(handle);
        std::vector<filesvc::ListEntry> listed;
        const GatewayOutcome result = todayOnly ? service.listToday(mailbox, pattern, listed)
                                                : service.listFiles(mailbox, pattern, listed);
        if (result != GatewayOutcome::Ok) {
            error = handle.LastError();
            return result;
        }
        entries = std::move(listed);
        return result;
    });
}

GatewayOutcome MailboxOperations::listPattern(const std::string& service,
                                              const std::string& pattern, bool history,
                                              std::vector<filesvc::ListEntry>& entries,
                                              std::string& error) {
    return session_.withHandle([&](CVornFtp& handle) {
        VornFileService files(handle);
        std::vector<filesvc::ListEntry> listed;
        const GatewayOutcome result = history ? files.listHistory(service, pattern, listed)
                                              : files.listFiles(service, pattern, listed);
        if (result != GatewayOutcome::Ok) {
            error = handle.LastError();
            return result;
        }
        entries = std::move(listed);
        return result;
    });
}

GatewayOutcome MailboxOperations::findFile(const std::string& mailbox,
                                           const std::string& remotePath,
                                           std::optional<filesvc::ListEntry>& file,
                                           std::string& error) {
    file.reset();
    const std::string name(remoteBaseName(remotePath));
    std::vector<filesvc::ListEntry> entries;
    if (const GatewayOutcome result =
            list(mailbox, remotePath.substr(0, remotePath.size() - name.size()), entries, error);
        result != GatewayOutcome::Ok) {
        return result;
    }
    const filesvc::ListEntry* found = nullptr;
    for (const filesvc::ListEntry& e : entries) {
        if (e.name == name) found = &e;
    }
    if (found != nullptr && !found->isDirectory()) file = *found;
    return GatewayOutcome::Ok;
}

GatewayOutcome MailboxOperations::rename(const std::string& mailbox, const std::string& oldPath,
                                         const std::string& newPath, std::string& error) {
    return session_.withHandle([&](CVornFtp& handle) {
        const GatewayOutcome result =
            VornFileService(handle).mailboxRequest(filesvc::kRename, newPath, mailbox, oldPath);
        if (result != GatewayOutcome::Ok) error = handle.LastError();
        return result;
    });
}

GatewayOutcome MailboxOperations::remove(const std::string& mailbox, const std::string& path,
                                         std::string& error) {
    return session_.withHandle([&](CVornFtp& handle) {
        const GatewayOutcome result =
            VornFileService(handle).mailboxRequest(filesvc::kDelete, "", mailbox, path);
        if (result != GatewayOutcome::Ok) error = handle.LastError();
        return result;
    });
}

TransferOutcome MailboxOperations::download(const MailboxTransferItem& item,
                                            TransferObserver& observer) {
    return move(TransferDirection::Download, item, observer);
}

TransferOutcome MailboxOperations::upload(const MailboxTransferItem& item,
                                          TransferObserver& observer) {
    return move(TransferDirection::Upload, item, observer);
}

TransferOutcome MailboxOperations::transfer(TransferDirection direction,
                                            const MailboxTransferItem& item,
                                            TransferProgress& progress) {
    ProgressSnapshotObserver observer(progress);
    return move(direction, item, observer);
}

std::vector<TransferOutcome> MailboxOperations::transferQueue(
    TransferDirection direction, const std::vector<MailboxTransferItem>& items,
    TransferProgress& progress) {
    return runTransferQueue(items, [&](const MailboxTransferItem& item) {
        return transfer(direction, item, progress);
    });
}

CVornFtp* MailboxOperations::ownHandle(std::string& error) {
    const SessionCredentials who = session_.credentials();
    if (!handle_) {
        Context quiet = context_;
        quiet.notifier = &quiet_;
        handle_ = std::make_unique<CVornFtp>(quiet, process_);
    }
    CVornFtp& handle = *handle_;
    // A handle the gateway dropped, or one of an operator who has since logged out, logs
    // in again as the session's operator.
    if (trimmed(handle.GetOperatorCode()) != who.operatorCode || !handle.IsLoggedIn()) {
        handle.DropIfLoggedIn();
        handle.SetGatewayList(who.gateways, who.mode, who.userCode, who.operatorCode, who.password);
        if (!handle.LoginToGateway()) {
            error = handle.LastError();
            return nullptr;
        }
    }
    return &handle;
}

TransferOutcome MailboxOperations::move(TransferDirection direction,
                                        const MailboxTransferItem& item,
                                        TransferObserver& observer) {
    ManualTransferRequest request;
    request.mailbox = item.mailbox;
    request.remoteName = item.remoteDirectory + item.remoteName;
    request.localDirectory = item.localDirectory;
    request.localFile =
        item.localDirectory / (item.localName.empty() ? item.remoteName : item.localName);
    request.fileSize = static_cast<std::int64_t>(item.size);
    ManualTransferEnvironment environment;
    environment.options.clock = context_.clock;
    environment.options.shouldStop = [this] { return process_.shouldStop(); };
    environment.observer = &observer;
    environment.prompt = context_.prompt;
    if (context_.logs) {
        Logs* logs = context_.logs;
        environment.systemLog = [logs](std::string_view line) { (void)logs->writeSysLog(line); };
    }
    auto run = [&](CVornFtp& handle) {
        TransferOutcome outcome;
        outcome.outcome = direction == TransferDirection::Download
                              ? downloadFile(handle, request, environment, outcome.text)
                              : uploadFile(handle, request, environment, outcome.text);
        return outcome;
    };
    if (transferHandle_ == TransferHandle::Session) return session_.withHandle(run);
    std::lock_guard lock(transferMutex_);
    std::string error;
    CVornFtp* handle = ownHandle(error);
    // The session is logged in, so a transfer handle that cannot log in as the same operator
    // has lost the gateway, not its password.
    if (handle == nullptr) return {GatewayOutcome::PeerClosed, error};
    return run(*handle);
}

}  // namespace vantrel
