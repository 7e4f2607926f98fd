#include "client/execution/down_plan_model.h"

#include <cstdio>
#include <system_error>

#include "client/catalogue/catalogue_text.h"
#include "client/config/logs.h"
#include "client/execution/download_run.h"
#include "client/execution/download_schedule.h"
#include "client/execution/model_tasks.h"

namespace vantrel {
namespace {

constexpr CatalogueTable<catalogue::DownloadTask> kDownloadTable{
    &catalogue::CModule::LoadDownloadTasks, &catalogue::CModule::AddDownloadTask,
    &catalogue::CModule::ModifyDownloadTask, &catalogue::CModule::DeleteDownloadTask};

namespace fs = std::filesystem;
using catalogue::DownloadTask;

std::string nowText(const platform::Clock& clock) {
    return catalogue::FormatDateTime(clock.localNow());
}

std::string nextRunText(const catalogue::NextRunTime& t) {
    return t ? catalogue::FormatDateTime(platform::toLocalTime(*t)) : std::string();
}

}  // namespace

CDownPlanModel::CDownPlanModel(const Context& context, DownloadModelOptions options)
    : context_(context), options_(std::move(options)) {}

CDownPlanModel::~CDownPlanModel() = default;

void CDownPlanModel::sysLog(const std::string& line) const {
    if (context_.logs) (void)context_.logs->writeSysLog(line);
}

void CDownPlanModel::post(const std::optional<NotifierEvent>& event) {
    if (event && context_.notifier) context_.notifier->post(*event);
}

void CDownPlanModel::postNextRun(const DownloadTask& task) {
    post(TaskNextRunChanged{CatalogueTaskKind::Download, task.planid, nextRunText(task.nextRun)});
}

std::optional<NotifierEvent> CDownPlanModel::applyLocked(Entry& entry, int code) {
    entry.lastCommand = code;
    switch (code) {
        case kRunDisable:
        case kRunEnable:
        case kRunDisabledByStop:
            entry.running = false;
            entry.runStarted = false;
            entry.deliverPending = false;
            entry.task.planstate = code;
            break;
        case kRunStart:
            entry.running = true;
            entry.deliverPending = false;
            entry.task.nextRun.reset();
            break;
        case kRunDeliver:
            entry.deliverPending = true;
            break;
        case kRunEnd:
            entry.running = false;
            entry.runStarted = false;
            entry.deliverPending = false;
            return std::nullopt;
        default:
            sysLog("未知的任务运行状态代码：" + std::to_string(code));
            return std::nullopt;
    }
    entry.task.running = entry.running;
    return TaskRunStateChanged{CatalogueTaskKind::Download, entry.task.planid, entry.running,
                               entry.task.planstate};
}

// ---- commands -------------------------------------------------------------------------

void CDownPlanModel::queueCommand(TableCommand command, const DownloadTask& task) {
    commands_.push(command, task);
}

void CDownPlanModel::processCommands() {
    while (const std::optional<Command> command = commands_.take()) execute(*command);
}

void CDownPlanModel::execute(const Command& command) {
    applyTableCommand(*options_.catalogue, kDownloadTable, command,
                      [this](const std::string& message) { sysLog(message); });
    reloadFromCatalogue();
}

void CDownPlanModel::reloadFromCatalogue() {
    const auto tasks = options_.catalogue->DownloadTasks();
    std::lock_guard lock(mutex_);
    MergeCatalogueTasks(tasks_, tasks);
}

int CDownPlanModel::startNow(const std::string& taskId) {
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

int CDownPlanModel::stop(const std::string& taskId) {
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(taskId);
    if (it == tasks_.end() || !it->second.running) return 0;
    it->second.stopping = true;
    return 1;
}

int CDownPlanModel::setScheduled(const std::string& taskId, bool scheduled) {
    std::optional<NotifierEvent> event;
    DownloadTask copy;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return 0;
        Entry& entry = it->second;
        if (entry.running) {
            // The run goes on; only the stored state changes.
            entry.task.planstate = scheduled ? 1 : 0;
        } else {
            event = applyLocked(entry, scheduled ? kRunEnable : kRunDisable);
        }
        copy = entry.task;
    }
    options_.catalogue->UpdateDownloadRow(taskId, "", "", "", scheduled ? 1 : 0);
    // The catalogue computes the next run of a newly enabled task.
    options_.catalogue->PutDownloadTask(copy);
    post(event);
    return 1;
}

int CDownPlanModel::downloadAgain(const std::string& taskId) {
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(taskId);
    if (it == tasks_.end()) return 0;
    it->second.againRequested = true;
    if (it->second.running) it->second.stopping = true;
    return 1;
}

std::vector<DownloadTaskState> CDownPlanModel::snapshot() const {
    std::vector<std::pair<DownloadTaskState, std::shared_ptr<Run>>> copies;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : tasks_) copies.emplace_back(stateOf(entry), entry.run);
    }
    std::vector<DownloadTaskState> out;
    for (auto& [state, run] : copies) out.push_back(withRunCounts(std::move(state), run.get()));
    return out;
}

DownloadTaskState CDownPlanModel::stateOf(const Entry& entry) {
    DownloadTaskState state;
    state.task = entry.task;
    state.running = entry.running;
    state.stopping = entry.stopping;
    state.runStarted = entry.runStarted;
    return state;
}

DownloadTaskState CDownPlanModel::withRunCounts(DownloadTaskState state, const Run* run) {
    // Asked of the run outside the model's lock, which the run never takes.
    if (run) {
        state.files = run->fileCount();
        state.delivered = run->deliveredCount();
    }
    return state;
}

std::optional<DownloadTaskState> CDownPlanModel::find(const std::string& taskId) const {
    DownloadTaskState state;
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

bool CDownPlanModel::anyRunning() const {
    std::lock_guard lock(mutex_);
    return AnyTaskRunning(tasks_);
}

bool CDownPlanModel::ownsTask(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    return FindTaskIgnoringCase(tasks_, taskId) != nullptr;
}

std::shared_ptr<DownloadRun> CDownPlanModel::runOf(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    const Entry* entry = FindTaskIgnoringCase(tasks_, taskId);
    return entry ? entry->run : nullptr;
}

// ---- plan monitor ---------------------------------------------------------------------

void CDownPlanModel::scheduleCheck() {
    const platform::WallTime now = context_.clock->now();
    std::vector<std::optional<NotifierEvent>> events;
    std::vector<DownloadTask> recomputed;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.running) {
                options_.blocks->clearStop(id);
            } else {
                options_.blocks->requestStop(id);
            }
            switch (CheckDownloadSchedule(entry.task, entry.running, now)) {
                case ScheduleDecision::Start:
                    events.push_back(applyLocked(entry, kRunStart));
                    break;
                case ScheduleDecision::Recompute:
                    entry.task.nextRun = NextRunAfterMissedStart(entry.task, now);
                    recomputed.push_back(entry.task);
                    break;
                case ScheduleDecision::Idle:
                    break;
            }
        }
    }
    for (const auto& event : events) post(event);
    for (const DownloadTask& task : recomputed) postNextRun(task);
}

void CDownPlanModel::endOfRunCheck() {
    struct Ending {
        std::string taskId;
        std::shared_ptr<DownloadRun> run;
        int planstate;
    };
    std::vector<Ending> ending;
    std::vector<std::optional<NotifierEvent>> events;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (!entry.running) continue;
            if (!entry.deliverPending) events.push_back(applyLocked(entry, kRunDeliver));
            if (entry.runStarted && entry.run && !entry.stopping && entry.run->finished()) {
                // The task counts as running until its result is recorded, so whoever
                // waits for the end reads this run's result.
                ending.push_back({id, entry.run, entry.task.planstate});
                entry.run.reset();
            }
        }
    }
    for (const auto& event : events) post(event);
    for (const Ending& e : ending) {
        std::string description;
        const std::string result = e.run->result(description);
        e.run->release(false);
        options_.catalogue->RecordDownloadRun(e.taskId, result,
                                              description.empty() ? " " : description,
                                              nowText(*context_.clock), false);
        e.run->taskLog("下载任务结束运行，运行结果：" + result, result == "成功" ? 0 : 2);
        e.run->taskLog("", 0);
        if (result != "成功") post(TaskFailed{CatalogueTaskKind::Download, e.taskId, description});
        // The catalogue has computed the next run.
        const auto task = options_.catalogue->FindDownloadTask(e.taskId);
        std::optional<NotifierEvent> ended;
        {
            std::lock_guard lock(mutex_);
            if (auto it = tasks_.find(e.taskId); it != tasks_.end()) {
                ended = applyLocked(it->second, it->second.task.planstate);
                if (task) {
                    it->second.task.nextRun = task->nextRun;
                    it->second.task.lastresult = task->lastresult;
                    it->second.task.lastdes = task->lastdes;
                    it->second.task.laruntime = task->laruntime;
                }
            }
        }
        post(ended);
    }
}

// ---- transfer manager -----------------------------------------------------------------

void CDownPlanModel::perSecondStep() {
    std::vector<std::shared_ptr<DownloadRun>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && entry.runStarted) runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->perSecond();
}

void CDownPlanModel::continuousStep() {
    std::vector<std::shared_ptr<DownloadRun>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && entry.runStarted && entry.deliverPending && !entry.stopping)
                runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->deliver();
}

void CDownPlanModel::failRunStart(const std::string& taskId, const fs::path& taskLog,
                                  const std::string& error) {
    options_.catalogue->RecordDownloadRun(taskId, "失败", error, nowText(*context_.clock), false);
    if (context_.logs && !taskLog.empty()) {
        context_.logs->writeTaskLog(error, 2, taskLog);
        context_.logs->writeTaskLog("下载任务运行结束，运行结果：失败", 2, taskLog);
        context_.logs->writeTaskLog("", 0, taskLog);
    }
    {
        std::lock_guard lock(mutex_);
        if (auto it = tasks_.find(taskId); it != tasks_.end()) {
            applyLocked(it->second, kRunEnd);
            it->second.run.reset();
            if (auto task = options_.catalogue->FindDownloadTask(taskId))
                it->second.task.nextRun = task->nextRun;
        }
    }
    post(TaskFailed{CatalogueTaskKind::Download, taskId, error});
}

bool CDownPlanModel::beginRun(const std::string& taskId) {
    DownloadTask task;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return false;
        task = it->second.task;
    }
    DownloadRunSetup setup;
    setup.blocks = options_.blocks;
    setup.flags = options_.flags;
    setup.transferClock = options_.transferClock;
    setup.unzipProgram = options_.unzipProgram;
    setup.noUnzipFileTypes = options_.noUnzipFileTypes;
    auto run = std::make_shared<DownloadRun>(context_, std::move(setup), task);
    std::string error;
    bool ok = run->openList(error);
    run->taskLog("下载任务开始运行", 0);
    if (ok && task.plantype != 1 && task.plantype != 2) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    if (ok) {
        std::unique_ptr<CVornFtp> session = options_.makeSession();
        ok = run->start(*session, error);
    }
    if (!ok) {
        failRunStart(taskId, run->taskLogPath(), error);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it != tasks_.end()) {
            it->second.run = std::move(run);
            it->second.runStarted = true;
            return true;
        }
    }
    // Deleted meanwhile (failRunStart takes the lock itself).
    failRunStart(taskId, run->taskLogPath(), "计划[" + taskId + "]不存在！");
    return false;
}

void CDownPlanModel::handleStop(TransferQueue& queue, const std::string& taskId) {
    queue.removeTask(taskId);
    std::shared_ptr<DownloadRun> run = runOf(taskId);
    if (run && run->anyTaken()) return;  // a worker still holds a block: next pass
    fs::path taskLog;
    if (run) {
        run->release(true);
        taskLog = run->taskLogPath();
        options_.catalogue->RecordDownloadRun(taskId, "失败", "用户停止任务!",
                                              nowText(*context_.clock), false);
    }
    const bool stillDefined = options_.catalogue->FindDownloadTask(taskId).has_value();
    std::optional<NotifierEvent> event;
    bool disable = false;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return;
        Entry& entry = it->second;
        entry.run.reset();
        entry.stopping = false;
        // "Download again" starts the task afresh and leaves its schedule alone; a plain
        // stop takes the task off the schedule until the user enables it again.
        disable = !entry.againRequested && stillDefined;
        event = applyLocked(entry, entry.againRequested ? kRunEnd : kRunDisabledByStop);
        if (!stillDefined) tasks_.erase(it);
    }
    if (disable) options_.catalogue->UpdateDownloadRow(taskId, "", "", "", kRunDisabledByStop);
    if (run && context_.logs)
        context_.logs->writeTaskLog("下载任务结束运行，用户停止任务！", 1, taskLog);
    post(event);
}

void CDownPlanModel::handleAgain(TransferQueue&, const std::string& taskId) {
    DownloadTask task;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return;
        it->second.againRequested = false;
        task = it->second.task;
    }
    // The list the run really uses: a window that crosses midnight keeps the day it began.
    catalogue::CDownLoadFile list(context_, nullptr, nullptr);
    list.Init(taskId, catalogue::CDownLoadFile::TaskKind::Download, WindowShift(task));
    const fs::path listPath = list.ListPath();
    // Every partial file of the day goes with the list, so every file is fetched afresh.
    list.SetReceiveDirectory(task.plantype == 2 ? fs::path(task.recvpath) / "Bullet"
                                                : fs::path(task.recvpath));
    if (list.LoadWorkItems()) {
        for (const auto& item : list.Items()) {
            std::error_code ec;
            fs::remove(item.partialFile(), ec);
            fs::remove(item.partialFile().string() + ".~block", ec);
        }
    }
    const int deleted = list.DeleteList();
    char line[1024];
    if (deleted == 1) {
        std::snprintf(line, sizeof line, "删除[%s]任务清单成功,清单文件为:%s", taskId.c_str(),
                      listPath.string().c_str());
        sysLog(line);
        startNow(taskId);
    } else {
        std::snprintf(line, sizeof line, "重新下载[%s]任务失败,失败原因为:%s", taskId.c_str(),
                      list.LastError().c_str());
        sysLog(line);
        if (context_.prompt)
            context_.prompt->show("DRAV信箱文件交换工具", line, UserPrompt::Icon::Error);
    }
}

int CDownPlanModel::dispatch(TransferQueue& queue) {
    struct Work {
        std::string taskId;
        bool stopping;
        bool again;
        bool runStarted;
        std::shared_ptr<DownloadRun> run;
    };
    std::vector<Work> work;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.stopping || entry.againRequested || entry.running) {
                work.push_back(
                    {id, entry.stopping, entry.againRequested, entry.runStarted, entry.run});
            }
        }
    }
    int queued = 0;
    for (Work& w : work) {
        if (w.stopping) {
            handleStop(queue, w.taskId);
            continue;
        }
        if (w.again) {
            handleAgain(queue, w.taskId);
            continue;
        }
        if (!w.runStarted) {
            if (!beginRun(w.taskId)) continue;
            w.run = runOf(w.taskId);
        }
        if (!w.run) continue;
        bool front = false;
        if (BlockTask* block = w.run->nextBlock(front)) {
            queued += front ? queue.pushFront(block) : queue.pushBack(block);
        }
    }
    return queued;
}

// ---- workers --------------------------------------------------------------------------

void CDownPlanModel::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    std::shared_ptr<DownloadRun> owner = runOf(block.file().taskId());
    if (!owner) {
        // The run was released meanwhile: the block waits for the next run.
        block.setState(kBlockIdle);
        return;
    }
    owner->runBlock(block, handle, run);
}

}  // namespace vantrel
