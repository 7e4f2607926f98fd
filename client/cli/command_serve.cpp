// vantrel-cli serve: the scheduled work without a window, until SIGTERM or SIGINT; a run
// that fails starts the program of Client.ini's [alert] Command. Each night it updates the
// flag model at 02:00 and checks the version at 03:00 without asking anything: what the
// server offers is logged, and installed only with Client.ini's [update] ServeInstall=1.
// Under systemd (NOTIFY_SOCKET) it reports readiness, a status line, a watchdog heartbeat
// from the plan monitor's tick and its stop; it writes its status into data/ once a second
// and, with Client.ini's [serve] MetricsPort, serves Prometheus metrics.
// vantrel-cli tasks run|stop|again ID: handed to a running serve, or, when none runs,
// carried out here (run and again wait for the run's end).

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "client/app/app_core.h"
#include "client/app/failure_alerts.h"
#include "client/base/logs.h"
#include "client/cli/cli.h"
#include "client/cli/login_seam.h"
#include "client/execution/tasks/command_inbox.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/gateway/interactive_gateway.h"
#include "client/service/metrics_server.h"
#include "client/service/serve_events.h"
#include "client/service/serve_monitor.h"
#include "client/update/headless_update.h"
#include "client/update/update_checks.h"
#include "platform/files.h"

namespace vantrel::cli {
namespace {

// Every thread started from here on inherits the blocked stop signals; the main thread
// alone takes them, with sigtimedwait, between its other duties.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    // True when a stop signal arrived within a second.
    bool waitSecond() {
        const timespec second{1, 0};
        return sigtimedwait(&set_, nullptr, &second) > 0;
    }

  private:
    sigset_t set_;
    sigset_t previous_;
};

// Tests only: while the file VANTREL_TEST_HOLD_TICK names exists, the plan monitor's tick
// waits (at most two minutes), as a hung scheduler would.
void holdTickForTests() {
    const char* hold = std::getenv("VANTREL_TEST_HOLD_TICK");
    if (!hold || !*hold) return;
    for (int i = 0; i < 1200 && platform::readFile(hold); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

TaskScheduler::Options schedulerOptions(InteractiveGateway& gateway, std::function<void()> onTick) {
    TaskScheduler::Options options;
    options.loginSource = &gateway.handle();
    options.onTick = std::move(onTick);
    return options;
}

// The environment's context whose events go through `events`.
Context observed(Environment& environment, Notifier& events) {
    Context context = environment.context();
    context.notifier = &events;
    return context;
}

// The client started headless with its scheduled work; a failed run starts the operator's
// alert program.
class HeadlessClient {
  public:
    explicit HeadlessClient(Environment& environment)
        : environment_(environment),
          alerts_(environment.installation(), *environment.context().notifier, &environment.logs()),
          events_(alerts_, *environment.context().clock),
          interactive_(makeInteractiveLogin(environment)),
          gateway_(dynamic_cast<InteractiveGateway&>(*interactive_.session)),
          scheduler_(observed(environment, events_), gateway_.process(),
                     schedulerOptions(gateway_,
                                      [this] {
                                          holdTickForTests();
                                          monitor_.ticked();
                                      })),
          updates_(environment.context(), update::updateSettingsFor(environment.installation()),
                   &scheduler_.flags()),
          headlessUpdate_(environment.context(), updates_),
          monitor_(environment.context(), monitorParts()),
          metrics_([this] { return monitor_.metricsText(); }) {
        // On the plan monitor: nothing here may wait for an answer.
        scheduler_.daily().setNightly({[this] { (void)updates_.updateConfigFile(); },
                                       [this] { headlessUpdate_.nightCheck(); }});
    }

    // The threads that call into the monitor and the metrics end before either goes.
    ~HeadlessClient() {
        metrics_.stop();
        scheduler_.stop();
    }
    HeadlessClient(const HeadlessClient&) = delete;
    HeadlessClient& operator=(const HeadlessClient&) = delete;

    AppCore::Start start() {
        StartupParts parts;
        parts.window = &window_;
        parts.login = interactive_.login.get();
        parts.session = interactive_.session.get();
        parts.blockStates = &scheduler_;
        parts.threads = &scheduler_;
        parts.flagFiles = &scheduler_;
        core_ = std::make_unique<AppCore>(environment_.context(), parts);
        return core_->start();
    }
    void exit() {
        metrics_.stop();
        scheduler_.stop();
        if (core_) core_->exit();
    }
    TaskScheduler& scheduler() { return scheduler_; }
    service::ServeMonitor& monitor() { return monitor_; }

    // The metrics listener when Client.ini asks for it; a port that cannot be bound is
    // logged and serve runs on without it.
    void startMetrics() {
        const service::MetricsSettings settings =
            service::metricsSettingsFor(environment_.installation());
        if (settings.port == 0) return;
        const Status started = metrics_.start(settings);
        const std::string line = started ? "指标服务已启动[" + settings.address + ":" +
                                               std::to_string(settings.port) + "]"
                                         : started.text();
        (void)environment_.logs().writeSysLog(line);
        std::fprintf(stderr, "vantrel-cli serve: %s\n", line.c_str());
    }

    // Whether the night check found something to install and Client.ini allows it.
    bool updateWaiting() const { return headlessUpdate_.waiting(); }
    // Stops every thread in order, runs the updater and waits for it, then exits the
    // client → the exit code that has the service manager start it again.
    int installUpdate() {
        const int code = headlessUpdate_.install([this] { scheduler_.stop(); });
        if (core_) core_->exit();
        return code;
    }

  private:
    service::ServeMonitor::Parts monitorParts() {
        service::ServeMonitor::Parts parts;
        parts.scheduler = &scheduler_;
        parts.process = &gateway_.process();
        parts.events = &events_;
        parts.alerts = &alerts_;
        parts.loggedIn = [this] { return gateway_.handle().IsLoggedIn(); };
        parts.gateway = [this] {
            const GatewayEntry& entry = gateway_.handle().CurrentGateway();
            return entry.address + ":" + entry.port;
        };
        return parts;
    }

    Environment& environment_;
    FailureAlerts alerts_;
    service::ServeEvents events_;
    HeadlessWindow window_;
    InteractiveLogin interactive_;
    InteractiveGateway& gateway_;
    TaskScheduler scheduler_;
    update::UpdateChecker updates_;
    update::HeadlessUpdate headlessUpdate_;
    service::ServeMonitor monitor_;
    service::MetricsServer metrics_;
    std::unique_ptr<AppCore> core_;
};

int serve(Environment& environment, const std::vector<std::string>& arguments) {
    if (!arguments.empty()) {
        std::fprintf(stderr, "vantrel-cli serve: unknown argument '%s'\n", arguments[0].c_str());
        return 2;
    }
    StopSignals signals;
    HeadlessClient client(environment);
    const AppCore::Start started = client.start();
    if (started == AppCore::Start::SecondInstance) return 1;
    if (started != AppCore::Start::Started) {
        client.exit();
        return 1;
    }
    std::fprintf(stderr, "vantrel-cli serve: running; SIGTERM or SIGINT stops it\n");
    client.startMetrics();
    client.monitor().started();
    bool deferralSaid = false;
    while (!signals.waitSecond()) {
        client.monitor().second();
        if (!client.updateWaiting()) continue;
        // A running task is never cut off by an update; it is installed once none runs.
        if (!client.scheduler().closeRefusal().empty()) {
            if (!deferralSaid)
                (void)environment.logs().writeSysLog("系统更新：有任务正在运行，稍后再启动升级");
            deferralSaid = true;
            continue;
        }
        std::fprintf(stderr, "vantrel-cli serve: installing an update, then restarting\n");
        client.monitor().stoppingForUpdate();
        return client.installUpdate();
    }
    std::fprintf(stderr, "vantrel-cli serve: stopping\n");
    client.monitor().stopping();
    client.exit();
    return 0;
}

// Runs the task in this process and waits for its run to end; 0 when it succeeded.
int runHere(Environment& environment, const std::string& verb, const std::string& taskId) {
    StopSignals signals;
    HeadlessClient client(environment);
    const AppCore::Start started = client.start();
    if (started == AppCore::Start::SecondInstance) return 1;
    TaskScheduler& scheduler = client.scheduler();
    // The task tables are loaded by the plan monitor: wait for them, briefly.
    for (int i = 0; i < 100 && started == AppCore::Start::Started && !scheduler.runView(taskId);
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::string error;
    if (started != AppCore::Start::Started || !scheduler.runView(taskId) ||
        !scheduler.execute({verb, taskId}, error)) {
        if (started == AppCore::Start::Started)
            std::fprintf(stderr, "计划[%s]不存在！\n", taskId.c_str());
        client.exit();
        return 1;
    }
    bool interrupted = false;
    bool sawRunning = false;
    std::optional<TaskScheduler::RunView> state;
    for (;;) {
        state = scheduler.runView(taskId);
        if (!state) break;
        sawRunning = sawRunning || state->running;
        if (sawRunning && !state->running) break;
        if (signals.waitSecond() && !interrupted) {
            interrupted = true;
            (void)scheduler.execute({"stop", taskId}, error);
        }
    }
    client.exit();
    if (!state) return 1;
    std::printf("%s %s %s\n", state->lastRunTime.c_str(), state->lastResult.c_str(),
                state->lastDescription.c_str());
    return state->lastResult == "成功" ? 0 : 1;
}

}  // namespace

bool clientRunning(Environment& environment) {
    SingleInstance probe;
    std::string error;
    return probe.acquire(environment.installation().runtimeDirectory(), error) ==
           SingleInstance::Outcome::AlreadyRunning;
}

int taskRunCommand(Environment& environment, const std::string& verb, const std::string& taskId) {
    if (clientRunning(environment)) {
        const Status posted = CommandInbox(environment.installation()).post({verb, taskId});
        if (!posted) {
            std::fprintf(stderr, "%s\n", posted.text().c_str());
            return 1;
        }
        std::fprintf(stderr, "vantrel-cli tasks %s: handed to the running client\n", verb.c_str());
        return 0;
    }
    if (verb == "stop") {
        std::fprintf(stderr, "计划[%s]未在运行！\n", taskId.c_str());
        return 1;
    }
    return runHere(environment, verb, taskId);
}

void notifyRunningClient(Environment& environment) {
    if (clientRunning(environment))
        (void)CommandInbox(environment.installation()).post({"reload", ""});
}

std::vector<Command> serveCommands() {
    return {{"serve", "",
             "start the client headless and run its scheduled tasks until SIGTERM or SIGINT",
             serve}};
}

}  // namespace vantrel::cli
