#include "client/ui/core_ports.h"

#include <algorithm>

#include "client/catalogue/mailbox_list_export.h"
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

SystemSettings ConfigSettingsStore::loadSystem() {
    CConfig config(installation_);
    config.load();
    SystemSettings settings;
    settings.historyDays = config.historyDays;
    settings.flagFileExtend = config.flagFileExtend;
    settings.closeAction = config.closeFlag == 1 ? CloseAction::MinimizeToTray : CloseAction::Exit;
    settings.realtime = config.readRealtimeReportSettings();
    return settings;
}

Status ConfigSettingsStore::saveSystem(const SystemSettings& settings) {
    CConfig config(installation_);
    config.load();
    config.historyDays = settings.historyDays;
    config.flagFileExtend = settings.flagFileExtend;
    config.closeFlag = static_cast<int>(settings.closeAction);
    if (Status saved = config.save(); !saved) return saved;
    return config.writeRealtimeReportSettings(settings.realtime);
}

std::filesystem::path ConfigSettingsStore::receiveDirectory() {
    CConfig config(installation_);
    config.readPaths();
    (void)platform::createDirectories(config.recvPath);  // a missing one shows as empty
    return config.recvPath;
}

namespace {

Context withPrompt(Context context, UserPrompt& prompt) {
    context.prompt = &prompt;
    return context;
}

}  // namespace

HandleMailbox::HandleMailbox(HandleSession& session, const Context& context,
                             GatewayProcessState& process, UserPrompt& prompt)
    : core_(session.core(), withPrompt(context, prompt), process,
            MailboxOperations::TransferHandle::Own) {}

namespace {

std::vector<RemoteEntry> remoteEntries(const std::vector<filesvc::ListEntry>& listed) {
    std::vector<RemoteEntry> entries;
    for (const filesvc::ListEntry& e : listed) {
        entries.push_back(RemoteEntry{e.name, e.isDirectory(),
                                      static_cast<std::uint64_t>(std::max<std::int64_t>(e.size, 0)),
                                      e.date, e.time});
    }
    return entries;
}

}  // namespace

GatewayOutcome HandleMailbox::list(const std::string& mailbox, const std::string& directory,
                                   std::vector<RemoteEntry>& entries, std::string& error) {
    std::vector<filesvc::ListEntry> listed;
    const GatewayOutcome result = core_.list(mailbox, directory, listed, error);
    if (result == GatewayOutcome::Ok) entries = remoteEntries(listed);
    return result;
}

GatewayOutcome HandleMailbox::listPattern(const std::string& service, const std::string& pattern,
                                          bool history, std::vector<RemoteEntry>& entries,
                                          std::string& error) {
    std::vector<filesvc::ListEntry> listed;
    const GatewayOutcome result = core_.listPattern(service, pattern, history, listed, error);
    if (result == GatewayOutcome::Ok) entries = remoteEntries(listed);
    return result;
}

Result<int> CatalogueListExport::write(const std::filesystem::path& file,
                                       const std::array<std::string, 4>& titles,
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
    if (catalogue::ExportMailboxList(file, titles, table, clock_, message) != 1) {
        return Status::error(ErrorKind::IoError, message);
    }
    return static_cast<int>(rows.size());
}

std::string SchedulerActivity::closeRefusal() {
    return scheduler_ ? scheduler_->closeRefusal() : std::string();
}

void SchedulerActivity::stopForExit() {
    if (scheduler_) scheduler_->stop();
}

std::filesystem::path HandleRealtimeReceive::defaultDirectory() {
    return CConfig(context_.installation).readRealtimeReportSettings().manualReceivePath;
}

int HandleRealtimeReceive::query(const std::string& from, const std::string& to,
                                 std::vector<ManualReport>& out, std::string& error) {
    return session_.core().withHandle([&](CVornFtp& handle) {
        RealtimeManualReceive manual(context_, handle);
        const int count = manual.query(from, to, out);
        if (count < 0) error = manual.errorText();
        return count;
    });
}

Result<std::vector<ManualFetchResult>> HandleRealtimeReceive::fetch(
    const std::vector<std::size_t>& chosen, const std::vector<ManualReport>& listed,
    const std::filesystem::path& directory) {
    return session_.core().withHandle(
        [&](CVornFtp& handle) -> Result<std::vector<ManualFetchResult>> {
            RealtimeManualReceive manual(context_, handle);
            const Status prepared = manual.prepareDirectory(directory);
            if (!prepared) return prepared;
            return manual.fetch(chosen, listed, directory);
        });
}

}  // namespace vantrel::ui
