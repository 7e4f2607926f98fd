// vantrel-cli run [--offline]: start the client headlessly, then shut it down.

#include <chrono>
#include <cstdio>
#include <thread>

#include "client/app/app_core.h"
#include "client/cli/cli.h"
#include "client/cli/login_seam.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/gateway/interactive_gateway.h"

namespace vantrel::cli {
namespace {

// --offline: start-up goes on without any gateway session, and says so.
class OfflineLogin final : public LoginStep {
  public:
    LoginOutcome run(const LoginRequest&) override {
        std::fprintf(
            stderr, "vantrel-cli: offline: no gateway login, start-up goes on without a session\n");
        return LoginOutcome::Offline;
    }
};

void reportSkippedSteps(const AppCore& core) {
    for (const StepReport& step : core.steps()) {
        if (step.outcome == StepOutcome::NotInstalled) {
            std::fprintf(stderr, "vantrel-cli: %s: %s (skipped)\n", step.name.c_str(),
                         step.detail.c_str());
        }
    }
}

int run(Environment& environment, const std::vector<std::string>& arguments) {
    bool offline = false;
    for (const std::string& a : arguments) {
        if (a == "--offline") {
            offline = true;
        } else {
            std::fprintf(stderr, "vantrel-cli run: unknown argument '%s'\n", a.c_str());
            return 2;
        }
    }

    HeadlessWindow window;
    OfflineLogin offlineLogin;
    InteractiveLogin interactive = makeInteractiveLogin(environment);
    auto& gateway = dynamic_cast<InteractiveGateway&>(*interactive.session);
    TaskScheduler::Options schedulerOptions;
    // Offline, the workers have no operator to log in as; nothing is fetched.
    if (!offline) schedulerOptions.loginSource = &gateway.handle();
    TaskScheduler scheduler(environment.context(), gateway.process(), schedulerOptions);

    StartupParts parts;
    parts.window = &window;
    parts.login = offline ? static_cast<LoginStep*>(&offlineLogin) : interactive.login.get();
    parts.session = interactive.session.get();
    parts.blockStates = &scheduler;
    parts.threads = &scheduler;
    parts.flagFiles = &scheduler;

    AppCore core(environment.context(), parts);
    const AppCore::Start started = core.start();
    // A second client ends at once, as the running one must be left alone.
    if (started == AppCore::Start::SecondInstance) return 0;
    // The day's start and the history clean-up follow the table loads on the plan
    // monitor: give them a few seconds before the shutdown.
    for (int i = 0; i < 100 && scheduler.started() && scheduler.daily().dayStarted().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    scheduler.stop();
    core.exit();
    reportSkippedSteps(core);
    if (started != AppCore::Start::Started) return 1;
    std::fprintf(stderr, "vantrel-cli: started and shut down; system log in %s\n",
                 environment.installation().log().string().c_str());
    return 0;
}

}  // namespace

std::vector<Command> runCommands() {
    return {{"run", "[--offline]",
             "start the client (single instance, settings, disk check, login, directories, "
             "background work), then shut it down; --offline starts without a gateway login",
             run}};
}

}  // namespace vantrel::cli
