#include "client/service/serve_monitor.h"

#include <unistd.h>

#include "client/base/logs.h"
#include "client/config/config.h"
#include "client/service/metrics_text.h"

namespace vantrel::service {
namespace {

std::string nextRunText(const catalogue::NextRunTime& next) {
    return next ? localText(*next) : std::string();
}

// Every task of a model as the status shows it.
template <class Model>
void addTasks(const Model& model, const char* kind, std::vector<TaskStatus>& out) {
    for (const auto& state : model.snapshot()) {
        TaskStatus t;
        t.kind = kind;
        t.id = state.task.planid;
        t.description = state.task.plandes;
        t.mailbox = state.task.mailname;
        t.phase = RunPhaseName(state.phase);
        t.nextRun = nextRunText(state.task.nextRun);
        t.lastRunTime = state.task.laruntime;
        t.lastResult = state.task.lastresult;
        t.lastDescription = state.task.lastdes;
        t.files = state.files;
        t.filesDone = state.done;
        out.push_back(std::move(t));
    }
}

}  // namespace

ServeMonitor::ServeMonitor(const Context& context, Parts parts)
    : context_(context),
      parts_(std::move(parts)),
      ledger_(parts_.scheduler->days()),
      startedAt_(context.clock->now()) {
    parts_.scheduler->blocks().setCloseObserver(
        [this](const FileBlockMap::Closed& file) { ledger_.fileClosed(file); });
}

ServeMonitor::~ServeMonitor() {
    parts_.scheduler->blocks().setCloseObserver({});
}

void ServeMonitor::started() {
    loggedIn_ = true;
    second();
}

void ServeMonitor::ticked() {
    lastTickEpoch_ = epochSeconds(context_.clock->now());
    manager_.heartbeat();
}

void ServeMonitor::trackGateway(platform::WallTime now) {
    const std::int64_t logins = parts_.process->logins;
    const std::int64_t failures = parts_.process->loginFailures;
    if (logins != loginsSeen_) {
        unreachableSince_ = 0;
    } else if (failures != failuresSeen_ && unreachableSince_ == 0) {
        unreachableSince_ = epochSeconds(now);
    }
    loginsSeen_ = logins;
    failuresSeen_ = failures;
}

void ServeMonitor::checkDisks(ServeStatus& status) {
    const platform::Tick tick = context_.clock->tick();
    // The targets are known once the task tables are loaded.
    const CPlanThreadMgr* threads = parts_.scheduler->threadManager();
    const bool loaded = threads && threads->plansLoaded();
    if (!loaded || (diskChecked_ && tick - lastDiskCheck_ < parts_.diskPeriod)) {
        status.disks = disks_;
        return;
    }
    diskChecked_ = true;
    lastDiskCheck_ = tick;
    disks_.clear();
    const std::vector<DiskSpaceWatch::Finding> findings =
        parts_.disk.check(parts_.scheduler->diskTargets(), status.minimumFreeMegabytes);
    std::set<std::string> low;
    for (const DiskSpaceWatch::Finding& f : findings) {
        const std::string path = f.target.directory.string();
        disks_.push_back({path, f.target.taskId, f.freeMegabytes, f.low});
        if (!f.low) continue;
        low.insert(path);
        // Told once while it stays low; told again after it was freed and ran low anew.
        if (lowAlerted_.count(path)) continue;
        if (context_.logs) (void)context_.logs->writeSysLog(f.message);
        parts_.events->recordFailure("disk", f.target.taskId, f.message);
        if (parts_.alerts) parts_.alerts->raise(f.target.taskId, "disk", f.message);
    }
    lowAlerted_ = std::move(low);
    status.disks = disks_;
}

ServeStatus ServeMonitor::collect() {
    const platform::WallTime now = context_.clock->now();
    ServeStatus s;
    s.pid = static_cast<int>(getpid());
    s.startedAt = localText(startedAt_);
    s.startedEpoch = epochSeconds(startedAt_);
    s.writtenAt = localText(now);
    s.writtenEpoch = epochSeconds(now);
    s.version = VANTREL_VERSION;
    const LoginFacts login = parts_.process->lastLogin();
    if (parts_.loggedIn) s.loggedIn = parts_.loggedIn();
    if (parts_.gateway) s.gateway = parts_.gateway();
    s.businessDay = login.businessDate;
    trackGateway(now);
    s.unreachableSinceEpoch = unreachableSince_;
    s.lastTickEpoch = lastTickEpoch_;
    if (s.lastTickEpoch > 0)
        s.lastTick = localText(platform::WallTime(std::chrono::seconds(s.lastTickEpoch)));
    CConfig config(context_.installation);
    s.minimumFreeMegabytes = config.readDiskSpace();

    TaskScheduler& scheduler = *parts_.scheduler;
    addTasks(scheduler.downloads(), "download", s.tasks);
    addTasks(scheduler.uploads(), "upload", s.tasks);
    addTasks(scheduler.autoSyncs(), "autosync", s.tasks);
    const auto today = ledger_.today();
    for (TaskStatus& t : s.tasks) {
        for (const bool upload : {false, true}) {
            if (auto it = today.find({t.id, upload}); it != today.end()) {
                t.filesToday += static_cast<int>(it->second.files);
                t.bytesToday += it->second.bytes;
            }
        }
    }
    s.transfers = ledger_.sample(scheduler.blocks().openFiles());
    const RealtimeSnapshot realtime = scheduler.realtime().snapshot();
    s.realtime.running = realtime.running;
    s.realtime.statusText = realtime.statusText;
    s.realtime.reports = static_cast<int>(realtime.records.size());
    s.realtime.pending = static_cast<int>(realtime.pending.size());
    checkDisks(s);
    s.failures = parts_.events->failures();
    return s;
}

void ServeMonitor::second() {
    ServeStatus status = collect();
    // Ready once logged in and the threads run with the task tables loaded, so the first
    // status line counts the tasks.
    const CPlanThreadMgr* threads = parts_.scheduler->threadManager();
    const bool ready = loggedIn_ && threads && threads->plansLoaded();
    // A snapshot that cannot be written is retried next second; status says it is stale.
    (void)writeStatusFile(context_.installation, status);
    int running = 0;
    for (const TaskStatus& t : status.tasks)
        if (t.phase != RunPhaseName(RunPhase::Idle)) ++running;
    const std::string line =
        statusLine(static_cast<int>(status.tasks.size()), running,
                   status.failures.empty() ? "" : status.failures.back().reason);
    if (ready && !readySaid_) {
        manager_.ready(line);
        readySaid_ = true;
        lastStatusLine_ = line;
    } else if (readySaid_ && line != lastStatusLine_) {
        manager_.status(line);
        lastStatusLine_ = line;
    }
    std::lock_guard lock(mutex_);
    latest_ = std::move(status);
}

void ServeMonitor::stopping() {
    manager_.stopping();
}

void ServeMonitor::stoppingForUpdate() {
    manager_.stoppingForUpdate();
}

ServeStatus ServeMonitor::status() const {
    std::lock_guard lock(mutex_);
    return latest_;
}

std::string ServeMonitor::metricsText() const {
    MetricsInputs in;
    in.status = status();
    in.events = parts_.events->counters();
    in.transfers = ledger_.sinceStart();
    in.logins = parts_.process->logins;
    in.loginFailures = parts_.process->loginFailures;
    in.failovers = parts_.process->failovers;
    return renderMetrics(in);
}

}  // namespace vantrel::service
