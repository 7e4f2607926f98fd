#pragma once
// The windows' interfaces (ports.h) on the real core: Client.ini through CConfig, the
// mailbox session and its operations (client/execution), the catalogue's list export, and
// the task layer's answers. Toolkit-free.

#include "client/base/context.h"
#include "client/execution/session/mailbox_session.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/gateway/interactive_gateway.h"
#include "client/ui/ports.h"

namespace vantrel::ui {

class ConfigSettingsStore final : public SettingsStore {
  public:
    explicit ConfigSettingsStore(Installation installation)
        : installation_(std::move(installation)) {}
    LoginSettings loadLogin() override;
    Status saveLogin(const LoginSettings& settings) override;
    int minimumFreeMegabytes() override;
    std::filesystem::path receiveDirectory() override;
    std::filesystem::path bulletinDirectory() override {
        return CConfig(installation_).todayBulletinDirectory(platform::RealClock::instance());
    }
    SystemSettings loadSystem() override;
    Status saveSystem(const SystemSettings& settings) override;
    Status saveMinimumFreeMegabytes(int megabytes) override {
        return CConfig(installation_).writeDiskSpace(megabytes);
    }

  private:
    Installation installation_;
};

// The windows' session: the core's MailboxSession behind the window's interface.
class HandleSession final : public GatewaySession {
  public:
    // `gateway` must outlive this object.
    explicit HandleSession(InteractiveGateway& gateway) : core_(gateway) {}

    bool isLoggedIn() override { return core_.isLoggedIn(); }
    void dropIfLoggedIn() override { core_.dropIfLoggedIn(); }
    void setGatewayList(const std::vector<GatewayEntry>& gateways, GatewayOrder order,
                        const std::string& operatorCode, const std::string& password) override {
        core_.setGatewayList(gateways, static_cast<int>(order), operatorCode, password);
    }
    bool loginToGateway() override { return core_.loginToGateway(); }
    std::string lastError() override { return core_.lastError(); }
    std::string userCode() override { return core_.userCode(); }
    std::string branchCode() override { return core_.branchCode(); }
    std::string operatorCode() override { return core_.operatorCode(); }
    bool checkPermission(const std::string& service, const std::string& functionCode) override {
        return core_.checkPermission(service, functionCode);
    }

    MailboxSession& core() { return core_; }

  private:
    MailboxSession core_;
};

// The browser's file services: the core's MailboxOperations, with downloads and uploads
// on a handle of their own, so a long transfer never holds the handle the windows ask about.
class HandleMailbox final : public MailboxService {
  public:
    // The pointees must outlive this object. `prompt` asks the Stop question.
    HandleMailbox(HandleSession& session, const Context& context, GatewayProcessState& process,
                  UserPrompt& prompt);

    GatewayOutcome list(const std::string& mailbox, const std::string& directory,
                        std::vector<RemoteEntry>& entries, std::string& error) override;
    GatewayOutcome listPattern(const std::string& service, const std::string& pattern, bool history,
                               std::vector<RemoteEntry>& entries, std::string& error) override;
    GatewayOutcome rename(const std::string& mailbox, const std::string& oldPath,
                          const std::string& newPath, std::string& error) override {
        return core_.rename(mailbox, oldPath, newPath, error);
    }
    GatewayOutcome remove(const std::string& mailbox, const std::string& path,
                          std::string& error) override {
        return core_.remove(mailbox, path, error);
    }
    TransferOutcome download(const TransferItem& item, TransferProgress& progress) override {
        return core_.transfer(TransferDirection::Download, item, progress);
    }
    TransferOutcome upload(const TransferItem& item, TransferProgress& progress) override {
        return core_.transfer(TransferDirection::Upload, item, progress);
    }

  private:
    MailboxOperations core_;
};

// The catalogue's mailbox-list table.
class CatalogueListExport final : public ListTableExport {
  public:
    explicit CatalogueListExport(const platform::Clock& clock) : clock_(clock) {}
    Result<int> write(const std::filesystem::path& file, const std::array<std::string, 4>& titles,
                      const std::vector<std::vector<std::string>>& rows) override;

  private:
    const platform::Clock& clock_;
};

// The task layer as the main window asks it before closing: the scheduled work of the
// client's TaskScheduler. Without one (the screenshot tool) nothing runs.
class SchedulerActivity final : public TaskActivity {
  public:
    // `scheduler` may be null; otherwise it must outlive this object.
    explicit SchedulerActivity(TaskScheduler* scheduler) : scheduler_(scheduler) {}
    bool shuttingDown() override { return false; }
    std::string closeRefusal() override;
    bool realtimeServiceRunning() override {
        return scheduler_ && scheduler_->realtime().running();
    }
    void stopForExit() override;

  private:

    TaskScheduler* scheduler_;
};

// The scheduler's real-time report service.
class SchedulerRealtime final : public RealtimeReports {
  public:
    // `service` must outlive this object.
    explicit SchedulerRealtime(RealtimeService& service) : service_(service) {}
    bool running() override { return service_.running(); }
    void setRunning(bool on) override { service_.setRunning(on); }
    RealtimeSnapshot snapshot() override { return service_.snapshot(); }
    std::filesystem::path receiveDirectory() override {
        return service_.receiveDirectory(service_.today());
    }

  private:
    RealtimeService& service_;
};

// The manual receive on the windows' handle; each operation holds the handle's lock.
class HandleRealtimeReceive final : public RealtimeReceive {
  public:
    // The pointees must outlive this object.
    HandleRealtimeReceive(HandleSession& session, const Context& context)
        : session_(session), context_(context) {}
    std::filesystem::path defaultDirectory() override;
    int query(const std::string& from, const std::string& to, std::vector<ManualReport>& out,
              std::string& error) override;
    Result<std::vector<ManualFetchResult>> fetch(const std::vector<std::size_t>& chosen,
                                                 const std::vector<ManualReport>& listed,
                                                 const std::filesystem::path& directory) override;

  private:
    HandleSession& session_;
    const Context context_;
};

}  // namespace vantrel::ui
