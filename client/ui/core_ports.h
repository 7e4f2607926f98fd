#pragma once
// The windows' interfaces (ports.h) on the real core: Client.ini through CConfig, the
// interactive gateway handle, the catalogue's list export, and the task layer's answers.
// Toolkit-free.

#include <atomic>
#include <memory>
#include <mutex>

#include "client/app/context.h"
#include "client/gateway/interactive_gateway.h"
#include "client/transfer/block_transfer.h"
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
// The login state and codes are also kept aside after every call, so the GUI thread can
// read them without waiting for a worker's exchange.
class HandleSession final : public GatewaySession {
public:
    // `gateway` must outlive this object.
    explicit HandleSession(InteractiveGateway& gateway);

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

    // What a second handle needs to log in as the same operator.
    struct Credentials {
        std::vector<GatewayEntry> gateways;
        int mode = 0;
        std::string userCode;
        std::string operatorCode;
        std::string password;
    };
    Credentials credentials();

    // Runs `use` with the handle, serialised with every other use.
    template <class F>
    auto withHandle(F use) {
        std::lock_guard lock(mutex_);
        struct Refresh {
            HandleSession* self;
            ~Refresh() { self->keepFacts(); }
        } refresh{this};
        return use(gateway_.handle());
    }

private:
    // Requires: mutex_ held.
    void keepFacts();

    InteractiveGateway& gateway_;
    std::mutex mutex_;  // the handle
    std::mutex factsMutex_;
    std::atomic<bool> loggedIn_{false};
    std::string operatorCode_;
    std::string userCode_;
    std::string lastError_;
    Credentials credentials_;
};

// The mailbox file services for the browser: lists, delete and rename on the interactive
// handle; downloads and uploads on a second handle of their own (logged in as the same
// operator), so a long transfer never holds the handle the windows ask about.
class HandleMailbox final : public MailboxService {
public:
    // The pointees must outlive this object. `prompt` asks the Stop question.
    HandleMailbox(HandleSession& session, const Context& context, GatewayProcessState& process, UserPrompt& prompt);
    ~HandleMailbox() override;

    int list(const std::string& mailbox, const std::string& directory, std::vector<RemoteEntry>& entries,
             std::string& error) override;
    int rename(const std::string& mailbox, const std::string& oldPath, const std::string& newPath,
               std::string& error) override;
    int remove(const std::string& mailbox, const std::string& path, std::string& error) override;
    TransferOutcome download(const TransferItem& item, TransferProgress& progress) override;
    TransferOutcome upload(const TransferItem& item, TransferProgress& progress) override;

private:
    TransferOutcome transfer(const TransferItem& item, TransferProgress& progress, TransferDirection direction);

    HandleSession& session_;
    Context transferContext_;
    NullNotifier quiet_;  // the transfer handle's state is not the window's
    GatewayProcessState& process_;
    UserPrompt& prompt_;
    std::mutex transferMutex_;
    std::unique_ptr<CVornFtp> transferHandle_;
};

// Copies one progress record of the transfer layer into the dialog's snapshot.
void storeProgress(TransferProgress& progress, const TransferProgressRecord& record);

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
