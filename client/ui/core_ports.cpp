#include "client/ui/core_ports.h"

#include <algorithm>

#include "client/catalogue/mailbox_list_export.h"
#include "client/config/logs.h"
#include "client/transfer/file_services.h"
#include "client/transfer/manual_transfer.h"
#include "client/gateway/record_codec.h"
#include "platform/files.h"

namespace vantrel::ui {

LoginSettings ConfigSettingsStore::loadLogin() {
    CConfig config(installation_);
    config.load();
    LoginSettings settings;
    settings.gateways = config.gateways;
    settings.gateways.resize(kGatewayCount);
    settings.order = config.gateType == 0 ? GatewayOrder::InOrder : GatewayOrder::Random;
    settings.operatorCode = config.operatorCode;
    return settings;
}

Status ConfigSettingsStore::saveLogin(const LoginSettings& settings) {
    CConfig config(installation_);
    config.load();
    config.gateways = settings.gateways;
    config.gateType = static_cast<int>(settings.order);
    if (!settings.operatorCode.empty()) config.operatorCode = settings.operatorCode;
    return config.save();
}

int ConfigSettingsStore::minimumFreeMegabytes() {
    CConfig config(installation_);
    return config.readDiskSpace();
}

std::filesystem::path ConfigSettingsStore::receiveDirectory() {
    CConfig config(installation_);
    config.readPaths();
    (void)platform::createDirectories(config.recvPath);  // a missing one shows as empty
    return config.recvPath;
}

HandleSession::HandleSession(InteractiveGateway& gateway) : gateway_(gateway) {
    std::lock_guard lock(mutex_);
    keepFacts();
}

void HandleSession::keepFacts() {
    CVornFtp& handle = gateway_.handle();
    loggedIn_ = handle.IsLoggedIn();
    std::lock_guard lock(factsMutex_);
    operatorCode_ = trimmed(handle.GetOperatorCode());
    userCode_ = trimmed(handle.GetUserCode());
    lastError_ = handle.LastError();
}

bool HandleSession::isLoggedIn() { return loggedIn_; }

void HandleSession::dropIfLoggedIn() {
    withHandle([](CVornFtp& handle) { handle.DropIfLoggedIn(); });
}

void HandleSession::setGatewayList(const std::vector<GatewayEntry>& gateways, GatewayOrder order,
                                   const std::string& operatorCode, const std::string& password) {
    Credentials credentials{gateways, static_cast<int>(order), gateway_.process().lastLogin().userCode,
                            operatorCode, password};
    withHandle([&](CVornFtp& handle) {
        handle.SetGatewayList(credentials.gateways, credentials.mode, credentials.userCode,
                              credentials.operatorCode, credentials.password);
    });
    std::lock_guard lock(factsMutex_);
    credentials_ = std::move(credentials);
}

bool HandleSession::loginToGateway() {
    const bool ok = withHandle([](CVornFtp& handle) { return handle.LoginToGateway() == 1; });
    gateway_.process().reloginNotice = ok ? 1 : 0;
    return ok;
}

std::string HandleSession::lastError() {
    std::lock_guard lock(factsMutex_);
    return lastError_;
}

std::string HandleSession::userCode() {
    std::lock_guard lock(factsMutex_);
    return userCode_;
}

std::string HandleSession::branchCode() {
    // The gateway identifies the operator's branch by the user code of the login.
    return userCode();
}

std::string HandleSession::operatorCode() {
    std::lock_guard lock(factsMutex_);
    return operatorCode_;
}

HandleSession::Credentials HandleSession::credentials() {
    std::lock_guard lock(factsMutex_);
    return credentials_;
}

bool HandleSession::checkPermission(const std::string& service, const std::string& functionCode) {
    return withHandle([&](CVornFtp& handle) { return handle.CheckPermission(service, functionCode, kMailboxOrganisation) == 1; });
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

namespace {

// The transfer layer's observer over the dialog's snapshot.
class SnapshotObserver final : public TransferObserver {
public:
    explicit SnapshotObserver(TransferProgress& progress) : progress_(progress) {}
    void begins(const std::string& fileName) override {
        std::lock_guard lock(progress_.mutex);
        progress_.fileName = fileName;
    }
    void progress(const TransferProgressRecord& record) override { storeProgress(progress_, record); }
    bool stopPressed() override { return progress_.stopPressed.exchange(false); }
    void resumed() override { progress_.resumed = true; }

private:
    TransferProgress& progress_;
};

}  // namespace

HandleMailbox::HandleMailbox(HandleSession& session, const Context& context, GatewayProcessState& process,
                             UserPrompt& prompt)
    : session_(session), transferContext_(context), process_(process), prompt_(prompt) {
    transferContext_.notifier = &quiet_;
}

HandleMailbox::~HandleMailbox() {
    std::lock_guard lock(transferMutex_);
    if (transferHandle_) transferHandle_->DropIfLoggedIn();
}

int HandleMailbox::list(const std::string& mailbox, const std::string& directory, std::vector<RemoteEntry>& entries,
                        std::string& error) {
    return session_.withHandle([&](CVornFtp& handle) {
        VornFileService service(handle);
        std::vector<filesvc::ListEntry> listed;
        const int result = service.listFiles(mailbox, directory + "*.*", listed);
        if (result < 0) {
            error = handle.LastError();
            return result;
        }
        entries.clear();
        for (const filesvc::ListEntry& e : listed) {
            entries.push_back(RemoteEntry{e.name, e.isDirectory(), static_cast<std::uint64_t>(std::max<std::int64_t>(e.size, 0)),
                                          e.date, e.time});
        }
        return result;
    });
}

int HandleMailbox::rename(const std::string& mailbox, const std::string& oldPath, const std::string& newPath,
                          std::string& error) {
    return session_.withHandle([&](CVornFtp& handle) {
        const int result = VornFileService(handle).mailboxRequest(filesvc::kRename, newPath, mailbox, oldPath);
        if (result < 0) error = handle.LastError();
        return result;
    });
}

int HandleMailbox::remove(const std::string& mailbox, const std::string& path, std::string& error) {
    return session_.withHandle([&](CVornFtp& handle) {
        const int result = VornFileService(handle).mailboxRequest(filesvc::kDelete, "", mailbox, path);
        if (result < 0) error = handle.LastError();
        return result;
    });
}

TransferOutcome HandleMailbox::download(const TransferItem& item, TransferProgress& progress) {
    return transfer(item, progress, TransferDirection::Download);
}

TransferOutcome HandleMailbox::upload(const TransferItem& item, TransferProgress& progress) {
    return transfer(item, progress, TransferDirection::Upload);
}

TransferOutcome HandleMailbox::transfer(const TransferItem& item, TransferProgress& progress,
                                        TransferDirection direction) {
    std::lock_guard lock(transferMutex_);
    const HandleSession::Credentials who = session_.credentials();
    if (!transferHandle_) transferHandle_ = std::make_unique<CVornFtp>(transferContext_, process_);
    CVornFtp& handle = *transferHandle_;
    if (trimmed(handle.GetOperatorCode()) != who.operatorCode || !handle.IsLoggedIn()) {
        handle.DropIfLoggedIn();
        handle.SetGatewayList(who.gateways, who.mode, who.userCode, who.operatorCode, who.password);
        if (handle.LoginToGateway() != 1) return {-1, handle.LastError()};
    }

    ManualTransferRequest request;
    request.mailbox = item.mailbox;
    request.remoteName = item.remoteDirectory + item.remoteName;
    request.localDirectory = item.localDirectory;
    request.localFile = item.localDirectory / item.remoteName;
    request.fileSize = static_cast<std::int64_t>(item.size);
    SnapshotObserver observer(progress);
    ManualTransferEnvironment environment;
    environment.options.clock = transferContext_.clock;
    environment.options.shouldStop = [this] { return process_.shouldStop(); };
    environment.observer = &observer;
    environment.prompt = &prompt_;
    if (transferContext_.logs) {
        Logs* logs = transferContext_.logs;
        environment.systemLog = [logs](std::string_view line) { (void)logs->writeSysLog(line); };
    }
    std::string error;
    const int code = direction == TransferDirection::Download ? downloadFile(handle, request, environment, error)
                                                              : uploadFile(handle, request, environment, error);
    return {code, error};
}

Result<int> CatalogueListExport::write(const std::filesystem::path& file,
                                       const std::vector<std::vector<std::string>>& rows) {
    // The table writer passes over its first row, the list's parent-folder row; the rows
    // given here are entries only, so a stand-in parent row goes first.
    std::vector<catalogue::MailboxListRow> table;
    table.push_back({"返回上一层目录...", "", "", ""});
    for (const auto& row : rows) {
        catalogue::MailboxListRow r;
        for (std::size_t i = 0; i < r.size() && i < row.size(); ++i) r[i] = row[i];
        table.push_back(std::move(r));
    }
    std::string message;
    if (catalogue::ExportMailboxList(file, {"名称", "大小(B)", "创建日期", "类型"}, table, clock_, message) != 1) {
        return Status::error(ErrorKind::IoError, message);
    }
    return static_cast<int>(rows.size());
}

}  // namespace vantrel::ui
