#include "client/execution/send_plan_model.h"

#include "client/catalogue/catalogue_text.h"
#include "client/config/logs.h"
#include "client/execution/download_schedule.h"
#include "client/execution/model_tasks.h"
#include "client/execution/upload_run.h"

namespace vantrel {
namespace {

constexpr CatalogueTable<catalogue::UploadTask> kUploadTable{
    &catalogue::CModule::LoadUploadTasks, &catalogue::CModule::AddUploadTask,
    &catalogue::CModule::ModifyUploadTask, &catalogue::CModule::DeleteUploadTask};

namespace fs = std::filesystem;
using catalogue::UploadTask;

constexpr const char* kQueueFull = "上传任务队列已满,稍候执行!";

std::string nowText(const platform::Clock& clock) {
    return catalogue::FormatDateTime(clock.localNow());
}

// An upload window never crosses midnight: the download schedule without the shift.
catalogue::DownloadTask windowOf(const UploadTask& task) {
    catalogue::DownloadTask w;
    w.planstate = task.planstate;
    w.curweek = task.curweek;
    w.begintime = task.begintime;
    w.endtime = task.endtime;
    w.nextRun = task.nextRun;
    return w;
}

}  // namespace

bool AcceptsUploads(const std::string& mailbox) {
    const std::string m = catalogue::TrimText(mailbox);
    return catalogue::EqualsIgnoreCase(m, "FTP_A_QS") ||
           catalogue::EqualsIgnoreCase(m, "FTP_B_QS") || catalogue::EqualsIgnoreCase(m, "FTP_SG");
}

CSendPlanModel::CSendPlanModel(const Context& context, UploadModelOptions options)
    : context_(context), options_(options) {}

CSendPlanModel::~CSendPlanModel() = default;

void CSendPlanModel::sysLog(const std::string& line) const {
    if (context_.logs) (void)context_.logs->writeSysLog(line);
}

void CSendPlanModel::post(const std::optional<NotifierEvent>& event) {
    if (event && context_.notifier) context_.notifier->post(*event);
}

std::optional<NotifierEvent> CSendPlanModel::applyLocked(Entry& entry, int code) {
    entry.lastCommand = code;
    switch (code) {
        case kRunDisable:
        case kRunEnable:
        case kRunDisabledByStop:
            entry.running = false;
            entry.runStarted = false;
            entry.task.planstate = code;
            break;
        case kRunStart:
            entry.running = true;
            entry.task.nextRun.reset();
            break;
        case kRunEnd:
            entry.running = false;
            entry.runStarted = false;
            break;
        default:
            return std::nullopt;
    }
    entry.task.running = entry.running;
    return TaskRunStateChanged{CatalogueTaskKind::Upload, entry.task.planid, entry.running,
                               entry.task.planstate};
}

// ---- commands -------------------------------------------------------------------------

void CSendPlanModel::queueCommand(TableCommand command, const UploadTask& task) {
    commands_.push(command, task);
}

void CSendPlanModel::processCommands() {
    while (const std::optional<Command> command = commands_.take()) {
        applyTableCommand(*options_.catalogue, kUploadTable, *command,
                          [this](const std::string& message) { sysLog(message); });
        reloadFromCatalogue();
    }
}

void CSendPlanModel::reloadFromCatalogue() {
    const auto tasks = options_.catalogue->UploadTasks();
    std::lock_guard lock(mutex_);
    MergeCatalogueTasks(tasks_, tasks);
}

int CSendPlanModel::startNow(const std::string& taskId) {
    std::optional<NotifierEvent> event;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return 0;
        if (it->second.running) return 1;
        event = applyLocked(it->second, kRunStart);
    }
    post(event);
    return 1;
}

int CSendPlanModel::stop(const std::string& taskId) {
    if (taskQueue_) taskQueue_->remove(taskId);
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(taskId);
    if (it == tasks_.end() || !it->second.running) return 0;
    it->second.stopping = true;
    return 1;
}

std::vector<UploadTaskState> CSendPlanModel::snapshot() const {
    std::vector<std::pair<UploadTaskState, std::shared_ptr<Run>>> copies;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : tasks_) copies.emplace_back(stateOf(entry), entry.run);
    }
    std::vector<UploadTaskState> out;
    for (auto& [state, run] : copies) out.push_back(withRunCounts(std::move(state), run.get()));
    return out;
}

UploadTaskState CSendPlanModel::stateOf(const Entry& entry) {
    UploadTaskState state;
    state.task = entry.task;
    state.running = entry.running;
    state.stopping = entry.stopping;
    state.runStarted = entry.runStarted;
    return state;
}

UploadTaskState CSendPlanModel::withRunCounts(UploadTaskState state, const Run* run) {
    // Asked of the run outside the model's lock, which the run never takes.
    if (run) {
        state.files = run->fileCount();
        state.sent = run->sentCount();
    }
    return state;
}

std::optional<UploadTaskState> CSendPlanModel::find(const std::string& taskId) const {
    UploadTaskState state;
    std::shared_ptr<Run> run;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return std::nullopt;
        state = stateOf(it->second);
        run = it->second.run;
    }
    return withRunCounts(std::move(state), run.get());
}

bool CSendPlanModel::anyRunning() const {
    std::lock_guard lock(mutex_);
    return AnyTaskRunning(tasks_);
}

bool CSendPlanModel::ownsTask(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    return FindTaskIgnoringCase(tasks_, taskId) != nullptr;
}

std::shared_ptr<UploadRun> CSendPlanModel::runOf(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    const Entry* entry = FindTaskIgnoringCase(tasks_, taskId);
    return entry ? entry->run : nullptr;
}

// Copies the result the catalogue recorded (and the next run it computed) into the entry.
void CSendPlanModel::refreshResult(const std::string& taskId) {
    auto task = options_.catalogue->FindUploadTask(taskId);
    if (!task) return;
    std::lock_guard lock(mutex_);
    if (auto it = tasks_.find(taskId); it != tasks_.end() && !it->second.running) {
        it->second.task.nextRun = task->nextRun;
        it->second.task.lastresult = task->lastresult;
        it->second.task.lastdes = task->lastdes;
        it->second.task.laruntime = task->laruntime;
    }
}

// ---- plan monitor ---------------------------------------------------------------------

void CSendPlanModel::scheduleCheck() {
    const platform::WallTime now = context_.clock->now();
    std::vector<std::optional<NotifierEvent>> events;
    std::vector<std::string> refused;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.running) {
                options_.blocks->clearStop(id);
            } else {
                options_.blocks->requestStop(id);
            }
            const ScheduleDecision decision =
                CheckDownloadSchedule(windowOf(entry.task), entry.running, now);
            if (decision == ScheduleDecision::Recompute) {
                entry.task.nextRun = NextRunAfterMissedStart(windowOf(entry.task), now);
            } else if (decision == ScheduleDecision::Start) {
                if (taskQueue_ && taskQueue_->add(id) != 1) {
                    // Later tasks wait for the next tick.
                    entry.task.nextRun.reset();
                    refused.push_back(id);
                    break;
                }
                events.push_back(applyLocked(entry, kRunStart));
            }
        }
    }
    for (const auto& event : events) post(event);
    for (const std::string& id : refused) {
        options_.catalogue->RecordUploadRun(id, "失败", kQueueFull, nowText(*context_.clock),
                                            false);
        refreshResult(id);
        post(TaskFailed{CatalogueTaskKind::Upload, id, kQueueFull});
    }
}

void CSendPlanModel::endOfRunCheck() {
    struct Ending {
        std::string taskId;
        std::shared_ptr<UploadRun> run;
    };
    std::vector<Ending> ending;
    std::vector<std::optional<NotifierEvent>> events;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (!entry.running || !entry.runStarted || !entry.run || entry.stopping ||
                !entry.run->finished())
                continue;
            // Running until the result is recorded, so whoever waits for the end reads it.
            ending.push_back({id, entry.run});
            entry.run.reset();
        }
    }
    for (const Ending& e : ending) {
        if (taskQueue_) taskQueue_->remove(e.taskId);
        std::string description;
        const std::string result = e.run->result(description);
        e.run->release(false);
        options_.catalogue->RecordUploadRun(e.taskId, result,
                                            description.empty() ? " " : description,
                                            nowText(*context_.clock), false);
        e.run->taskLog("上传任务结束运行，运行结果：" + result, result == "成功" ? 0 : 2);
        e.run->taskLog("", 0);
        {
            std::lock_guard lock(mutex_);
            if (auto it = tasks_.find(e.taskId); it != tasks_.end()) {
                events.push_back(applyLocked(it->second, it->second.task.planstate));
            }
        }
        refreshResult(e.taskId);
        if (result != "成功") post(TaskFailed{CatalogueTaskKind::Upload, e.taskId, description});
    }
    for (const auto& event : events) post(event);
}

// ---- transfer manager -----------------------------------------------------------------

void CSendPlanModel::perSecondStep() {
    std::vector<std::shared_ptr<UploadRun>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && entry.runStarted) runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->perSecond();
}

void CSendPlanModel::failRunStart(const std::string& taskId, const fs::path& taskLog,
                                  const std::string& error) {
    if (taskQueue_) taskQueue_->remove(taskId);
    options_.catalogue->RecordUploadRun(taskId, "失败", error, nowText(*context_.clock), false);
    if (context_.logs && !taskLog.empty()) {
        context_.logs->writeTaskLog(error, 2, taskLog);
        context_.logs->writeTaskLog("上传任务运行结束，运行结果：失败", 2, taskLog);
        context_.logs->writeTaskLog("", 0, taskLog);
    }
    {
        std::lock_guard lock(mutex_);
        if (auto it = tasks_.find(taskId); it != tasks_.end()) {
            applyLocked(it->second, kRunEnd);
            it->second.run.reset();
        }
    }
    refreshResult(taskId);
    post(TaskFailed{CatalogueTaskKind::Upload, taskId, error});
}

bool CSendPlanModel::beginRun(const std::string& taskId) {
    UploadTask task;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return false;
        task = it->second.task;
    }
    UploadRunSetup setup;
    setup.blocks = options_.blocks;
    setup.transferClock = options_.transferClock;
    auto run = std::make_shared<UploadRun>(context_, setup, task);
    std::string error;
    bool ok = run->openList(error);
    run->taskLog("上传任务开始运行", 0);
    if (ok && !AcceptsUploads(task.mailname)) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    if (ok) ok = run->start(error);
    if (!ok) {
        failRunStart(taskId, run->taskLogPath(), error);
        return false;
    }
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(taskId);
    if (it == tasks_.end()) return false;
    it->second.run = std::move(run);
    it->second.runStarted = true;
    return true;
}

void CSendPlanModel::handleStop(TransferQueue& queue, const std::string& taskId) {
    queue.removeTask(taskId);
    // A file is one block: the worker sending it gives up at its next packet (-97).
    options_.blocks->requestStop(taskId);
    std::shared_ptr<UploadRun> run = runOf(taskId);
    if (run && run->anyTaken()) return;  // a worker still holds a block: next pass
    fs::path taskLog;
    if (run) {
        run->release(true);
        taskLog = run->taskLogPath();
        options_.catalogue->RecordUploadRun(taskId, "失败", "用户停止任务!",
                                            nowText(*context_.clock), false);
    }
    const bool stillDefined = options_.catalogue->FindUploadTask(taskId).has_value();
    std::optional<NotifierEvent> event;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return;
        Entry& entry = it->second;
        entry.run.reset();
        entry.stopping = false;
        // A stopped task stays off the schedule until the user enables it again.
        event = applyLocked(entry, kRunDisabledByStop);
        if (!stillDefined) tasks_.erase(it);
    }
    if (stillDefined) options_.catalogue->UpdateUploadRow(taskId, "", "", "", kRunDisabledByStop);
    if (run && context_.logs)
        context_.logs->writeTaskLog("上传任务停止运行，用户停止任务！", 1, taskLog);
    refreshResult(taskId);
    post(event);
}

int CSendPlanModel::dispatch(TransferQueue& queue) {
    struct Work {
        std::string taskId;
        bool stopping;
        bool runStarted;
        std::shared_ptr<UploadRun> run;
    };
    std::vector<Work> work;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.stopping || entry.running)
                work.push_back({id, entry.stopping, entry.runStarted, entry.run});
        }
    }
    int queued = 0;
    for (Work& w : work) {
        if (w.stopping) {
            handleStop(queue, w.taskId);
            continue;
        }
        if (!w.runStarted) {
            if (!beginRun(w.taskId)) continue;
            w.run = runOf(w.taskId);
        }
        if (!w.run) continue;
        w.run->finishSent();
        // Upload blocks always wait at the tail.
        if (BlockTask* block = w.run->nextBlock()) queued += queue.pushBack(block);
    }
    return queued;
}

// ---- workers --------------------------------------------------------------------------

void CSendPlanModel::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    std::shared_ptr<UploadRun> owner = runOf(block.file().taskId());
    if (!owner) {
        block.setState(kBlockIdle);
        return;
    }
    owner->runBlock(block, handle, run);
}

}  // namespace vantrel
