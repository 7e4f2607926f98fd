#include "client/ui/core_ports.h"

#include "client/catalogue/mailbox_list_export.h"
#include "client/gateway/record_codec.h"
#include "platform/files.h"

namespace vantrel::ui {

namespace {
const char* const kOrganisation = "VRELKA";
}

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

bool HandleSession::isLoggedIn() {
    std::lock_guard lock(mutex_);
    return gateway_.handle().IsLoggedIn();
}

void HandleSession::dropIfLoggedIn() {
    std::lock_guard lock(mutex_);
    gateway_.handle().DropIfLoggedIn();
}

void HandleSession::setGatewayList(const std::vector<GatewayEntry>& gateways, GatewayOrder order,
                                   const std::string& operatorCode, const std::string& password) {
    std::lock_guard lock(mutex_);
    gateway_.handle().SetGatewayList(gateways, static_cast<int>(order), gateway_.process().lastLogin().userCode,
                                     operatorCode, password);
}

bool HandleSession::loginToGateway() {
    std::lock_guard lock(mutex_);
    const bool ok = gateway_.handle().LoginToGateway() == 1;
    gateway_.process().reloginNotice = ok ? 1 : 0;
    return ok;
}

std::string HandleSession::lastError() {
    std::lock_guard lock(mutex_);
    return gateway_.handle().LastError();
}

std::string HandleSession::userCode() {
    std::lock_guard lock(mutex_);
    return trimmed(gateway_.handle().GetUserCode());
}

std::string HandleSession::branchCode() {
    // The gateway identifies the operator's branch by the user code of the login.
    return userCode();
}

std::string HandleSession::operatorCode() {
    std::lock_guard lock(mutex_);
    return trimmed(gateway_.handle().GetOperatorCode());
}

bool HandleSession::checkPermission(const std::string& service, const std::string& functionCode) {
    std::lock_guard lock(mutex_);
    return gateway_.handle().CheckPermission(service, functionCode, kOrganisation) == 1;
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
