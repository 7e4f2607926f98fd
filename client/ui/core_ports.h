#pragma once
// The windows' interfaces (ports.h) on the real core: Client.ini through CConfig, the
// interactive gateway handle, the catalogue's list export, and the task layer's answers.
// Toolkit-free.

#include <memory>
#include <mutex>

#include "client/app/context.h"
#include "client/gateway/interactive_gateway.h"
#include "client/ui/ports.h"

namespace vantrel::ui {

class ConfigSettingsStore final : public SettingsStore {
public:
    explicit ConfigSettingsStore(Installation installation) : installation_(std::move(installation)) {}
    LoginSettings loadLogin() override;
    Status saveLogin(const LoginSettings& settings) override;
    int minimumFreeMegabytes() override;
    std::filesystem::path receiveDirectory() override;

private:
    Installation installation_;
};

// The interactive handle for the windows. Every call that uses the handle is serialised
// here, so the login dialog, the main window (GUI thread) and the browser's worker never
// use it at the same time; the permission list it loads is only touched under that lock.
class HandleSession final : public GatewaySession {
public:
    // `gateway` must outlive this object.
    explicit HandleSession(InteractiveGateway& gateway) : gateway_(gateway) {}

    bool isLoggedIn() override;
    void dropIfLoggedIn() override;
    void setGatewayList(const std::vector<GatewayEntry>& gateways, GatewayOrder order,
                        const std::string& operatorCode, const std::string& password) override;
    bool loginToGateway() override;
    std::string lastError() override;
    std::string userCode() override;
    std::string branchCode() override;
    std::string operatorCode() override;
    bool checkPermission(const std::string& service, const std::string& functionCode) override;

    // For the file services, which use the same handle: hold this while using it.
    std::mutex& handleLock() { return mutex_; }

private:
    InteractiveGateway& gateway_;
    std::mutex mutex_;
};

// The catalogue's mailbox-list table.
class CatalogueListExport final : public ListTableExport {
public:
    explicit CatalogueListExport(const platform::Clock& clock) : clock_(clock) {}
    Result<int> write(const std::filesystem::path& file, const std::vector<std::vector<std::string>>& rows) override;

private:
    const platform::Clock& clock_;
};

// The task layer until the thread manager and task runs are wired in: no task and no
// real-time service runs, so nothing refuses the close and nothing needs stopping.
class NoTaskActivity final : public TaskActivity {
public:
    bool shuttingDown() override { return false; }
    bool downloadTaskRunning() override { return false; }
    bool autoSyncTaskRunning() override { return false; }
    bool uploadTaskRunning() override { return false; }
    bool realtimeServiceRunning() override { return false; }
    void stopForExit() override {}
};

}  // namespace vantrel::ui
