#include "client/ui/gui_parts.h"

#include "client/ui/login_dialog.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_notifier.h"

namespace vantrel::ui {

GuiPorts::GuiPorts(InteractiveGateway& gateway, const Context& context, TaskScheduler* scheduler)
    : prompt_(*context.prompt),
      session_(gateway),
      settings_(context.installation),
      mailbox_(session_, context, gateway.process(), prompt_),
      tableExport_(*context.clock),
      tasks_(scheduler),
      realtimeReceive_(session_, context) {
    if (scheduler) {
        realtime_ = std::make_unique<SchedulerRealtime>(scheduler->realtime());
        board_ = std::make_unique<SchedulerTaskBoard>(*scheduler, context.installation,
                                                      *context.clock,
                                                      [this] { return session_.operatorCode(); });
    }
}

CMainFrame::Services GuiPorts::frameServices(QtNotifier& notifier) {
    CMainFrame::Services services;
    services.session = &session_;
    services.mailbox = &mailbox_;
    services.settings = &settings_;
    services.prompt = &prompt_;
    services.notifier = &notifier;
    services.tableExport = &tableExport_;
    services.tasks = &tasks_;
    services.board = board_.get();
    services.realtime = realtime_.get();
    services.realtimeReceive = &realtimeReceive_;
    return services;
}

bool GuiMainWindow::create() {
    frame_ = std::make_unique<CMainFrame>(services_);
    frame_->show();
    return true;
}

void GuiMainWindow::applyPermissions() {
    if (frame_) frame_->applyPermissions();
}

void GuiMainWindow::hideProgress() {
    if (frame_) frame_->progress()->showText({});
}

void GuiMainWindow::destroyProgress() {
    if (frame_) frame_->progress()->hide();
}

LoginOutcome GuiLoginStep::run(const LoginRequest& request) {
    process_.setProduct(request.productId, request.clientVersion);
    CMainFrame* frame = window_.frame();
    const CMainFrame::Services& s = frame->services();
    CLogin::Services services;
    services.session = s.session;
    services.settings = s.settings;
    services.prompt = s.prompt;
    services.notifier = s.notifier;
    services.progress = frame->progress();
    services.preLoginUpdate = preLoginUpdate_;
    LoginSettings given;
    given.gateways = request.gateways;
    given.order = request.gateType == 0 ? GatewayOrder::InOrder : GatewayOrder::Random;
    given.operatorCode = request.operatorCode;
    CLogin dialog(services, given, false, frame);
    return dialog.exec() == QDialog::Accepted ? LoginOutcome::LoggedIn : LoginOutcome::NotLoggedIn;
}

void GuiTimers::start() {
    if (window_.frame()) window_.frame()->startTimers();
}

}  // namespace vantrel::ui
