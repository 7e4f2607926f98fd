#pragma once
// The start-up steps of the application core done by the Qt windows: the main window and
// the login dialog.

#include <functional>
#include <memory>

#include "client/base/startup_steps.h"
#include "client/gateway/gateway_process.h"
#include "client/ui/core_ports.h"
#include "client/ui/main_frame.h"
#include "client/ui/task_board.h"

namespace vantrel::ui {

// The core ports the main window runs on, over one interactive gateway: the program and
// the screenshot tool wire the same set. `context` must carry the clock and the prompt;
// the object lives as long as the window.
class GuiPorts {
  public:
    // `scheduler` may be null (nothing scheduled runs); otherwise it outlives the ports.
    GuiPorts(InteractiveGateway& gateway, const Context& context,
             TaskScheduler* scheduler = nullptr);
    GuiPorts(const GuiPorts&) = delete;
    GuiPorts& operator=(const GuiPorts&) = delete;

    // The window's services on these ports and `notifier`; the disk-space check and the
    // manual are left for the caller.
    CMainFrame::Services frameServices(QtNotifier& notifier);

  private:
    UserPrompt& prompt_;
    HandleSession session_;
    ConfigSettingsStore settings_;
    HandleMailbox mailbox_;
    CatalogueListExport tableExport_;
    SchedulerActivity tasks_;
    HandleRealtimeReceive realtimeReceive_;
    std::unique_ptr<SchedulerTaskBoard> board_;     // with a scheduler
    std::unique_ptr<SchedulerRealtime> realtime_;  // with a scheduler
};

class GuiMainWindow final : public MainWindow {
  public:
    explicit GuiMainWindow(CMainFrame::Services services) : services_(std::move(services)) {}
    // The 02:00 and 03:00 work; before create().
    void setNightlyWork(std::function<void()> configUpdate, std::function<void()> versionCheck) {
        services_.configUpdate = std::move(configUpdate);
        services_.versionCheck = std::move(versionCheck);
    }
    bool create() override;
    void applyPermissions() override;
    void hideProgress() override;
    void destroyProgress() override;

    CMainFrame* frame() const { return frame_.get(); }

  private:
    CMainFrame::Services services_;
    std::unique_ptr<CMainFrame> frame_;
};

// The start-up login: CLogin, modal, over the main window.
class GuiLoginStep final : public LoginStep {
  public:
    // `process` gets the product id and client version every login carries.
    GuiLoginStep(GuiMainWindow& window, GatewayProcessState& process,
                 PreLoginUpdate* preLoginUpdate)
        : window_(window), process_(process), preLoginUpdate_(preLoginUpdate) {}
    LoginOutcome run(const LoginRequest& request) override;

  private:
    GuiMainWindow& window_;
    GatewayProcessState& process_;
    PreLoginUpdate* preLoginUpdate_;
};

class GuiTimers final : public PeriodicTimers {
  public:
    explicit GuiTimers(GuiMainWindow& window) : window_(window) {}
    void start() override;

  private:
    GuiMainWindow& window_;
};

}  // namespace vantrel::ui
