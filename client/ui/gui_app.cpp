#include "client/ui/gui_app.h"

#include <QApplication>
#include <filesystem>

#include "client/app/app_core.h"
#include "client/execution/housekeeping/disk_space_watch.h"
#include "client/base/logs.h"
#include "client/ui/gui_parts.h"
#include "client/ui/qt_chinese.h"
#include "client/ui/qt_text.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/qt_user_prompt.h"
#include "client/ui/update_dialog.h"
#include "client/update/update_checks.h"

namespace vantrel::ui {

bool installQtTranslations(QApplication& app) {
    return installChineseQt(app);
}

namespace {

// The installation this program runs from: two levels above the executable.
Installation installationOf(const char* argv0) {
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) program = argv0;
    return Installation::fromExecutable(program);
}

CMainFrame::Services windowServices(GuiPorts& ports, QtNotifier& notifier, DiskSpaceWatch& disk,
                                    TaskScheduler& scheduler, const Installation& installation,
                                    const platform::Clock& clock) {
    CMainFrame::Services services = ports.frameServices(notifier);
    // The same check as serve's: the root and every task's target; the tip names the first
    // that runs low.
    services.diskSpaceEnough = [&disk, &scheduler](int minimum, std::string& message) {
        for (const DiskSpaceWatch::Finding& finding :
             disk.check(scheduler.diskTargets(), minimum)) {
            if (!finding.low) continue;
            message = finding.message;
            return false;
        }
        return true;
    };
    services.manual = installation.userManual();
    services.clock = &clock;
    services.days = &scheduler.days();
    services.installation = installation;
    return services;
}

}  // namespace

int runGuiApp(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);
    installQtTranslations(app);

    const Installation installation = installationOf(argv[0]);
    const platform::Clock& clock = platform::RealClock::instance();

    // Everything below lives until the exit sequence has run.
    QtNotifier notifier;
    Logs logs(installation, clock, notifier);
    Context context;
    context.installation = installation;
    context.clock = &clock;
    context.notifier = &notifier;
    context.logs = &logs;
    InteractiveGateway gateway(context);
    QtUserPrompt prompt([&gateway] { return gateway.process().shouldStop(); });
    context.prompt = &prompt;

    TaskScheduler::Options schedulerOptions;
    schedulerOptions.loginSource = &gateway.handle();
    TaskScheduler scheduler(context, gateway.process(), schedulerOptions);
    GuiPorts ports(gateway, context, &scheduler);
    DiskSpaceWatch disk;

    const CMainFrame::Services services =
        windowServices(ports, notifier, disk, scheduler, installation, clock);
    // The core says when; the checks run on the GUI thread, where the offer and the
    // install question are shown.
    scheduler.daily().setNightly(
        {[&notifier] { notifier.post(NightlyCheckDue{NightlyCheckDue::Check::FlagModel}); },
         [&notifier] { notifier.post(NightlyCheckDue{NightlyCheckDue::Check::Version}); }});

    update::UpdateChecker checker(context, update::updateSettingsFor(installation),
                                  &scheduler.flags());
    GuiMainWindow window(services);
    GuiUpdate updates(checker, [&window] { return window.frame(); });
    window.setNightlyWork([&updates] { updates.configUpdate(); },
                          [&updates] { updates.nightCheck(); });
    GuiLoginStep login(window, gateway.process(), &updates);
    GuiTimers timers(window);

    StartupParts parts;
    parts.window = &window;
    parts.login = &login;
    parts.session = &gateway;
    parts.timers = &timers;
    parts.blockStates = &scheduler;
    parts.threads = &scheduler;
    parts.flagFiles = &scheduler;

    AppCore core(context, parts);
    const AppCore::Start started = core.start();
    if (started == AppCore::Start::SecondInstance) return 0;
    const int code = started == AppCore::Start::Started ? app.exec() : 0;
    scheduler.stop();
    core.exit();
    return code;
}

}  // namespace vantrel::ui
