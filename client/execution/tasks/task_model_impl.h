#pragma once
// The definitions of TaskModel<Kind>; included by each kind's source file only, which
// instantiates the template for its kind.

#include <cstdio>
#include <utility>

#include "client/catalogue/catalogue_text.h"
#include "client/base/logs.h"
#include "client/catalogue/task_schedule.h"
#include "client/execution/tasks/task_model.h"
#include "client/execution/runs/transfer_queue.h"

namespace vantrel {

// ---- helpers for the kinds ----------------------------------------------------------------

template <class Kind>
void TaskModel<Kind>::sysLog(const std::string& line) const {
    if (context_.logs) (void)context_.logs->writeSysLog(line);
}

template <class Kind>
void TaskModel<Kind>::writeTaskLog(const std::filesystem::path& path, const std::string& line,
                                   int level) const {
    if (context_.logs && !path.empty()) (void)context_.logs->writeTaskLog(line, level, path);
}

template <class Kind>
void TaskModel<Kind>::post(const NotifierEvent& event) const {
    if (context_.notifier) context_.notifier->post(event);
}

template <class Kind>
std::string TaskModel<Kind>::nowText() const {
    return catalogue::FormatDateTime(context_.clock->localNow());
}

template <class Kind>
std::vector<typename Kind::Task> TaskModel<Kind>::tasks() const {
    std::vector<Task> out;
    std::lock_guard lock(mutex_);
    for (const auto& [id, entry] : tasks_) out.push_back(entry.task);
    return out;
}

// ---- the map ----------------------------------------------------------------------------

template <class Kind>
typename TaskModel<Kind>::Entry* TaskModel<Kind>::findLocked(std::string_view taskId) {
    if (auto it = tasks_.find(std::string(taskId)); it != tasks_.end()) return &it->second;
    for (auto& [id, entry] : tasks_) {
        if (catalogue::EqualsIgnoreCase(id, taskId)) return &entry;
    }
    return nullptr;
}

template <class Kind>
const typename TaskModel<Kind>::Entry* TaskModel<Kind>::findLocked(std::string_view taskId) const {
    return const_cast<TaskModel*>(this)->findLocked(taskId);
}

template <class Kind>
bool TaskModel<Kind>::moveLocked(Entry& entry, RunPhase to) {
    if (!RunPhaseMoveAllowed(entry.phase, to)) {
        sysLog("任务[" + entry.task.planid + "]运行状态不能从[" + RunPhaseName(entry.phase) +
               "]转为[" + RunPhaseName(to) + "]");
        return false;
    }
    entry.phase = to;
    entry.task.running = to != RunPhase::Idle;
    // A run that starts has no next run until it ends; the catalogue computes that one.
    if (to == RunPhase::Due) entry.task.nextRun.reset();
    return true;
}

template <class Kind>
NotifierEvent TaskModel<Kind>::runStateOf(const Entry& entry) const {
    return TaskRunStateChanged{kind_, entry.task.planid, entry.phase != RunPhase::Idle,
                               entry.task.planstate};
}

template <class Kind>
typename TaskModel<Kind>::State TaskModel<Kind>::stateOf(const Entry& entry) const {
    State state;
    state.task = entry.task;
    state.phase = entry.phase;
    state.running = entry.phase != RunPhase::Idle;
    state.stopping = entry.phase == RunPhase::Stopping;
    state.files = entry.lastFiles;
    state.done = entry.lastDone;
    state.extra = entry.extra;
    return state;
}

template <class Kind>
std::shared_ptr<typename Kind::Run> TaskModel<Kind>::runOf(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    const Entry* entry = findLocked(taskId);
    return entry ? entry->run : nullptr;
}

template <class Kind>
std::vector<typename TaskModel<Kind>::State> TaskModel<Kind>::snapshot() const {
    std::vector<std::pair<State, std::shared_ptr<Run>>> copies;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : tasks_) copies.emplace_back(stateOf(entry), entry.run);
    }
    std::vector<State> out;
    // The runs are asked outside the lock, which they never take.
    for (auto& [state, run] : copies) {
        if (run) {
            state.files = run->fileCount();
            state.done = run->doneCount();
        }
        out.push_back(std::move(state));
    }
    return out;
}

template <class Kind>
std::optional<TaskRunView> TaskModel<Kind>::runView(std::string_view taskId) const {
    const std::optional<State> state = find(taskId);
    if (!state) return std::nullopt;
    return TaskRunView{state->running, state->task.laruntime, state->task.lastresult,
                       state->task.lastdes};
}

template <class Kind>
void TaskModel<Kind>::addWriteTargets(std::vector<DiskSpaceWatch::Target>& targets) const {
    for (const State& state : snapshot()) {
        const std::string& directory = WrittenDirectoryOf(state.task);
        if (!directory.empty()) targets.push_back({directory, state.task.planid});
    }
}

template <class Kind>
std::optional<typename TaskModel<Kind>::State> TaskModel<Kind>::find(std::string_view taskId) const {
    State state;
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(mutex_);
        const Entry* entry = findLocked(taskId);
        if (!entry) return std::nullopt;
        state = stateOf(*entry);
        run = entry->run;
    }
    if (run) {
        state.files = run->fileCount();
        state.done = run->doneCount();
    }
    return state;
}

template <class Kind>
bool TaskModel<Kind>::ownsTask(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    return findLocked(taskId) != nullptr;
}

template <class Kind>
bool TaskModel<Kind>::anyRunning() const {
    std::lock_guard lock(mutex_);
    for (const auto& [id, entry] : tasks_) {
        if (entry.phase != RunPhase::Idle) return true;
    }
    return false;
}

// ---- commands -----------------------------------------------------------------------------

template <class Kind>
int TaskModel<Kind>::startNow(std::string_view taskId) {
    std::optional<NotifierEvent> event;
    {
        std::lock_guard lock(mutex_);
        Entry* entry = findLocked(taskId);
        if (!entry) return 0;
        if (entry->phase != RunPhase::Idle) return 1;
        if (moveLocked(*entry, RunPhase::Due)) event = runStateOf(*entry);
    }
    if (event) post(*event);
    return 1;
}

template <class Kind>
int TaskModel<Kind>::stop(std::string_view taskId) {
    std::lock_guard lock(mutex_);
    Entry* entry = findLocked(taskId);
    if (!entry || entry->phase == RunPhase::Idle) return 0;
    if (entry->phase != RunPhase::Stopping && entry->phase != RunPhase::Ending)
        moveLocked(*entry, RunPhase::Stopping);
    return 1;
}

template <class Kind>
int TaskModel<Kind>::again(std::string_view taskId) {
    if (!texts_.offersAgain) return 0;
    std::lock_guard lock(mutex_);
    Entry* entry = findLocked(taskId);
    if (!entry) return 0;
    entry->againRequested = true;
    // A run of the task stops first; the dispatcher then forgets the day and starts anew.
    if (entry->phase != RunPhase::Idle && entry->phase != RunPhase::Stopping &&
        entry->phase != RunPhase::Ending)
        moveLocked(*entry, RunPhase::Stopping);
    return 1;
}

template <class Kind>
int TaskModel<Kind>::setScheduled(std::string_view taskId, bool scheduled) {
    std::optional<NotifierEvent> event;
    Task copy;
    {
        std::lock_guard lock(mutex_);
        Entry* entry = findLocked(taskId);
        if (!entry) return 0;
        // A run goes on; only the stored state changes.
        entry->task.planstate = scheduled ? 1 : 0;
        if (entry->phase == RunPhase::Idle) event = runStateOf(*entry);
        copy = entry->task;
    }
    if ((catalogue_.*table_.updateRow)(copy.planid, "", "", "", scheduled ? 1 : 0) != 1) return 0;
    // The catalogue computes the next run of a task it is given.
    (catalogue_.*table_.put)(copy);
    if (const auto stored = (catalogue_.*table_.find)(copy.planid)) {
        std::lock_guard lock(mutex_);
        if (Entry* entry = findLocked(copy.planid); entry && entry->phase == RunPhase::Idle) {
            entry->task.nextRun = stored->nextRun;
            // Enabled again after a start that found it disabled: it had no next run.
            settleNextRunLocked(*entry, context_.clock->now(), false);
        }
    }
    if (event) post(*event);
    return 1;
}

template <class Kind>
void TaskModel<Kind>::processCommands() {
    while (const auto command = commands_.take()) {
        applyTableCommand(catalogue_, table_, *command,
                          [this](const std::string& message) { sysLog(message); });
        reloadFromCatalogue();
    }
}

template <class Kind>
void TaskModel<Kind>::reloadFromCatalogue() {
    const std::vector<Task> fresh = (catalogue_.*table_.all)();
    // A task new to the model (all of them at start) shows what today's list already says.
    std::map<std::string, DayCount> counts;
    {
        std::lock_guard lock(mutex_);
        for (const Task& task : fresh) {
            if (tasks_.count(task.planid) == 0) counts[task.planid];
        }
    }
    for (const Task& task : fresh) {
        if (auto it = counts.find(task.planid); it != counts.end())
            it->second = CountToday(context_, task);
    }
    std::lock_guard lock(mutex_);
    mergeLocked(fresh, counts);
}

template <class Kind>
void TaskModel<Kind>::settleNextRunLocked(Entry& entry, platform::WallTime now, bool fromLastRun) {
    if (entry.phase != RunPhase::Idle) return;
    if (!catalogue::IsScheduled(entry.task)) {
        entry.task.nextRun.reset();
        return;
    }
    const catalogue::TaskSchedule schedule = catalogue::ScheduleOf(entry.task);
    // At start the next run follows the last run as it did before; one the restart made
    // the task miss stays the catalogue's, which comes at once.
    if (const auto last = catalogue::ParseDateTime(entry.task.laruntime); fromLastRun && last) {
        const catalogue::NextRunTime after = catalogue::NextRunAfterRun(
            schedule, platform::fromLocalTime(*last), entry.task.timespace);
        if (after && *after > now) entry.task.nextRun = after;
    }
    if (!entry.task.nextRun) entry.task.nextRun = catalogue::FirstNextRun(schedule, now);
}

template <class Kind>
void TaskModel<Kind>::mergeLocked(const std::vector<Task>& fresh,
                                  const std::map<std::string, DayCount>& counts) {
    const platform::WallTime now = context_.clock->now();
    // Whether a reload leaves a task's schedule as it was: its next run then stays the one
    // the model has, rather than the catalogue's load-time guess.
    auto sameSchedule = [](const Task& a, const Task& b) {
        return catalogue::ScheduleOf(a) == catalogue::ScheduleOf(b) && a.timespace == b.timespace;
    };
    std::map<std::string, Entry> next;
    for (const Task& task : fresh) {
        Entry entry;
        bool known = false;
        if (auto it = tasks_.find(task.planid); it != tasks_.end()) {
            entry = std::move(it->second);
            tasks_.erase(it);
            known = true;
        }
        const catalogue::NextRunTime kept = entry.task.nextRun;
        const bool keepNextRun =
            known && (entry.phase != RunPhase::Idle || sameSchedule(entry.task, task));
        entry.task = task;
        if (keepNextRun) entry.task.nextRun = kept;
        entry.task.running = entry.phase != RunPhase::Idle;
        const auto count = counts.find(task.planid);
        const bool newToModel = count != counts.end() && !entry.run;
        if (newToModel) {
            entry.lastFiles = count->second.files;
            entry.lastDone = count->second.done;
        }
        settleNextRunLocked(entry, now, newToModel);
        next.emplace(task.planid, std::move(entry));
    }
    // A deleted task whose run goes on stops; handleStop then lets it go.
    for (auto& [id, entry] : tasks_) {
        if (!entry.run) continue;
        if (entry.phase != RunPhase::Stopping && entry.phase != RunPhase::Ending)
            moveLocked(entry, RunPhase::Stopping);
        next.emplace(id, std::move(entry));
    }
    tasks_ = std::move(next);
}

// ---- plan monitor -------------------------------------------------------------------------

template <class Kind>
void TaskModel<Kind>::scheduleCheck() {
    const platform::WallTime now = context_.clock->now();
    beforeScheduleCheck();
    std::vector<NotifierEvent> events;
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : tasks_) ids.push_back(id);
    }
    std::string refused;
    for (const std::string& id : ids) {
        bool due = false;
        {
            std::lock_guard lock(mutex_);
            auto it = tasks_.find(id);
            if (it == tasks_.end()) continue;
            due = checkScheduleLocked(id, it->second, now, events);
        }
        if (due && !admit(id, now, events)) {
            refused = id;
            break;
        }
    }
    for (const NotifierEvent& event : events) post(event);
    if (!refused.empty()) {
        startRefused(refused);
        refreshFromCatalogue(refused);
    }
}

template <class Kind>
bool TaskModel<Kind>::checkScheduleLocked(const std::string& id, Entry& entry,
                                          platform::WallTime now,
                                          std::vector<NotifierEvent>& events) {
    const bool running = entry.phase != RunPhase::Idle;
    if (running) {
        blocks_.clearStop(id);
    } else {
        blocks_.requestStop(id);
    }
    const catalogue::TaskSchedule schedule = catalogue::ScheduleOf(entry.task);
    const ScheduleDecision decision = CheckDownloadSchedule(schedule, entry.task.nextRun, running, now);
    if (decision == ScheduleDecision::Recompute) {
        entry.task.nextRun = NextRunAfterMissedStart(schedule, now);
        events.push_back(TaskNextRunChanged{
            kind_, id,
            entry.task.nextRun ? catalogue::FormatDateTime(platform::toLocalTime(*entry.task.nextRun))
                               : std::string()});
    }
    return decision == ScheduleDecision::Start;
}

template <class Kind>
bool TaskModel<Kind>::admit(const std::string& id, platform::WallTime now,
                            std::vector<NotifierEvent>& events) {
    Task task;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(id);
        if (it == tasks_.end()) return true;
        task = it->second.task;
    }
    catalogue::NextRunTime nextRun = task.nextRun;
    const Admission admission = admitStart(task, now, nextRun);
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(id);
    // Started by a command meanwhile, or deleted: nothing of this check is left to apply.
    const bool idle = it != tasks_.end() && it->second.phase == RunPhase::Idle;
    if (admission == Admission::Refuse) {
        if (idle) it->second.task.nextRun.reset();
        return false;
    }
    if (!idle) return true;
    if (admission == Admission::Wait) {
        it->second.task.nextRun = nextRun;
    } else if (moveLocked(it->second, RunPhase::Due)) {
        events.push_back(runStateOf(it->second));
    }
    return true;
}

template <class Kind>
void TaskModel<Kind>::endOfRunCheck() {
    struct Finished {
        std::string taskId;
        std::shared_ptr<Run> run;
        std::filesystem::path taskLog;
    };
    std::vector<Finished> finished;
    std::vector<std::pair<std::string, std::shared_ptr<Run>>> active;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && (entry.phase == RunPhase::Running || entry.phase == RunPhase::Delivering))
                active.emplace_back(id, entry.run);
        }
    }
    for (auto& [id, run] : active) {
        const bool done = run->finished();
        std::lock_guard lock(mutex_);
        Entry* entry = findLocked(id);
        if (!entry || entry->run != run) continue;
        if (entry->phase == RunPhase::Running) moveLocked(*entry, RunPhase::Delivering);
        // The task counts as running until its result is recorded, so whoever waits for
        // the end reads this run's result.
        if (done && entry->phase == RunPhase::Delivering && moveLocked(*entry, RunPhase::Ending)) {
            finished.push_back({id, run, entry->taskLog});
            entry->run.reset();
        }
    }
    for (const Finished& f : finished) {
        std::string description;
        const std::string result = f.run->result(description);
        endRun(f.taskId, f.run, f.taskLog.empty() ? f.run->taskLogPath() : f.taskLog,
               Ending::Finished, result, description);
    }
    afterEndOfRunCheck();
}

// ---- transfer manager ---------------------------------------------------------------------

template <class Kind>
void TaskModel<Kind>::perSecondStep() {
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run) runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->perSecond();
}

template <class Kind>
void TaskModel<Kind>::continuousStep() {
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && entry.phase == RunPhase::Delivering) runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->deliverWhileEnding();
}

template <class Kind>
int TaskModel<Kind>::dispatch(TransferQueue& queue) {
    struct Work {
        std::string taskId;
        RunPhase phase;
        bool again;
        std::shared_ptr<Run> run;
    };
    std::vector<Work> work;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.phase != RunPhase::Idle || entry.againRequested)
                work.push_back({id, entry.phase, entry.againRequested, entry.run});
        }
    }
    int queued = 0;
    for (Work& w : work) {
        switch (w.phase) {
            case RunPhase::Stopping:
                handleStop(queue, w.taskId);
                continue;
            case RunPhase::Idle:
                if (w.again) handleAgain(w.taskId);
                continue;
            case RunPhase::Ending:
                continue;
            case RunPhase::Due:
                if (!begin(w.taskId)) continue;
                w.run = runOf(w.taskId);
                break;
            case RunPhase::Running:
            case RunPhase::Delivering:
                break;
        }
        if (w.run) queued += w.run->queueNext(queue);
    }
    return queued;
}

template <class Kind>
bool TaskModel<Kind>::begin(const std::string& taskId) {
    Entry copy;
    {
        std::lock_guard lock(mutex_);
        const Entry* entry = findLocked(taskId);
        if (!entry || entry->phase != RunPhase::Due) return false;
        copy = *entry;
    }
    Begun begun;
    std::string error;
    if (!beginRun(copy, begun, error)) {
        endRun(taskId, begun.run, begun.taskLog, Ending::StartFailed, "失败", error);
        return false;
    }
    bool found = false;
    bool started = false;
    {
        std::lock_guard lock(mutex_);
        if (Entry* entry = findLocked(taskId)) {
            found = true;
            entry->extra.begin(entry->task, begun.extra, begun.run != nullptr);
            entry->taskLog = begun.taskLog;
            // A stop asked meanwhile finds the run and releases it.
            entry->run = begun.run;
            if (begun.run && entry->phase == RunPhase::Due)
                started = moveLocked(*entry, RunPhase::Running);
        }
    }
    if (!found) {
        // Deleted while the run started: whatever it registered is released.
        endRun(taskId, begun.run, begun.taskLog, Ending::StartFailed, "失败",
               "计划[" + taskId + "]不存在！");
        return false;
    }
    if (!begun.run) endRun(taskId, nullptr, begun.taskLog, Ending::Finished, "成功", "");
    return started;
}

template <class Kind>
void TaskModel<Kind>::handleStop(TransferQueue& queue, const std::string& taskId) {
    queue.removeTask(taskId);
    stopping(taskId);
    std::shared_ptr<Run> run = runOf(taskId);
    if (run && run->anyTaken()) return;  // a worker still holds a block: next pass
    std::filesystem::path taskLog;
    {
        std::lock_guard lock(mutex_);
        if (const Entry* entry = findLocked(taskId)) taskLog = entry->taskLog;
    }
    if (run && taskLog.empty()) taskLog = run->taskLogPath();
    endRun(taskId, run, taskLog, Ending::Stopped, "失败", "用户停止任务!");
}

template <class Kind>
void TaskModel<Kind>::handleAgain(const std::string& taskId) {
    Entry copy;
    {
        std::lock_guard lock(mutex_);
        Entry* entry = findLocked(taskId);
        if (!entry) return;
        entry->againRequested = false;
        entry->extra.forget();
        copy = *entry;
    }
    if (forgetDay(copy)) startNow(taskId);
}

template <class Kind>
void TaskModel<Kind>::endRun(const std::string& taskId, const std::shared_ptr<Run>& run,
                             const std::filesystem::path& taskLog, Ending how,
                             const std::string& result, const std::string& description) {
    const RunEnd end{how, result == "成功", run != nullptr};
    const Counts counts = releaseRun(run, how);
    const Entry copy = copyOf(taskId);
    const EndRule rule = endRule(copy.task);
    leaveRun(taskId, copy, end);
    recordEnd(taskId, rule, end, taskLog, result, description);
    settleEnded(taskId, rule, end, counts);
}

template <class Kind>
typename TaskModel<Kind>::Counts TaskModel<Kind>::releaseRun(const std::shared_ptr<Run>& run,
                                                             Ending how) {
    Counts counts;
    if (!run) return counts;
    counts.files = run->fileCount();
    counts.done = run->doneCount();
    // Complete data of undelivered files stays for the next run.
    run->release(how == Ending::Stopped);
    return counts;
}

template <class Kind>
typename TaskModel<Kind>::Entry TaskModel<Kind>::copyOf(const std::string& taskId) const {
    std::lock_guard lock(mutex_);
    const Entry* entry = findLocked(taskId);
    return entry ? *entry : Entry{};
}

template <class Kind>
void TaskModel<Kind>::recordEnd(const std::string& taskId, const EndRule& rule, const RunEnd& end,
                                const std::filesystem::path& taskLog, const std::string& result,
                                const std::string& description) {
    // A stop that found no run has nothing to record.
    if (end.how != Ending::Stopped || end.hadRun)
        (catalogue_.*table_.record)(taskId, result, description.empty() ? " " : description,
                                    nowText(), false);
    switch (end.how) {
        case Ending::Finished: {
            // A run that found nothing to do ends with the kind's common line.
            const char* line = end.hadRun && rule.listedEndLine ? rule.listedEndLine : texts_.ended;
            writeTaskLog(taskLog, line + result, end.ok ? 0 : 2);
            writeTaskLog(taskLog, "", 0);
            break;
        }
        case Ending::StartFailed:
            writeTaskLog(taskLog, description, 2);
            writeTaskLog(taskLog, texts_.startFailed + result, 2);
            writeTaskLog(taskLog, "", 0);
            break;
        case Ending::Stopped:
            if (end.hadRun) writeTaskLog(taskLog, texts_.stopped, 1);
            break;
    }
    if (end.how != Ending::Stopped && !end.ok) post(TaskFailed{kind_, taskId, description});
}

template <class Kind>
void TaskModel<Kind>::settleEnded(const std::string& taskId, const EndRule& rule,
                                  const RunEnd& end, const Counts& counts) {
    const bool stillDefined = (catalogue_.*table_.find)(taskId).has_value();
    bool disableRow = false;
    std::optional<std::string> stoppedPlainly;  // the task's own id
    std::optional<NotifierEvent> event;
    {
        std::lock_guard lock(mutex_);
        if (Entry* found = findLocked(taskId)) {
            Entry& entry = *found;
            entry.extra.end(entry.task, end.how == Ending::Finished && end.ok);
            entry.run.reset();
            if (end.hadRun) {
                entry.lastFiles = counts.files;
                entry.lastDone = counts.done;
            }
            moveLocked(entry, RunPhase::Idle);
            if (end.how == Ending::Stopped && !entry.againRequested) {
                // A plain stop takes the task off the schedule until the user enables it;
                // "again" starts it afresh and leaves its schedule alone.
                entry.task.planstate = kRunDisabledByStop;
                disableRow = stillDefined && rule.stopDisablesRow;
                stoppedPlainly = entry.task.planid;
            }
            event = runStateOf(entry);
            if (!stillDefined) tasks_.erase(std::string(entry.task.planid));
        }
    }
    if (disableRow) (catalogue_.*table_.updateRow)(taskId, "", "", "", kRunDisabledByStop);
    if (stoppedPlainly && rule.stopNotice) {
        char line[1024];
        std::snprintf(line, sizeof line, rule.stopNotice, stoppedPlainly->c_str());
        sysLog(line);
    }
    refreshFromCatalogue(taskId);
    if (event) post(*event);
}

template <class Kind>
void TaskModel<Kind>::refreshFromCatalogue(const std::string& taskId) {
    const std::optional<Task> stored = (catalogue_.*table_.find)(taskId);
    if (!stored) return;
    std::lock_guard lock(mutex_);
    Entry* entry = findLocked(taskId);
    if (!entry || entry->phase != RunPhase::Idle) return;
    // A task a stop took off the schedule has no next run to show.
    entry->task.nextRun = catalogue::IsScheduled(entry->task) ? stored->nextRun : std::nullopt;
    entry->task.lastresult = stored->lastresult;
    entry->task.lastdes = stored->lastdes;
    entry->task.laruntime = stored->laruntime;
}

// ---- workers ------------------------------------------------------------------------------

template <class Kind>
void TaskModel<Kind>::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    std::shared_ptr<Run> owner = runOf(block.file().taskId());
    if (!owner) {
        // The run was released meanwhile: the block waits for the next run.
        block.setState(kBlockIdle);
        return;
    }
    owner->runBlock(block, handle, run);
}

}  // namespace vantrel
