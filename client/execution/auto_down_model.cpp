#include "client/execution/auto_down_model.h"

#include <cstdio>
#include <system_error>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/task_schedule.h"
#include "client/config/config.h"
#include "client/config/logs.h"
#include "client/execution/auto_sync_rules.h"
#include "client/execution/download_run.h"
#include "client/execution/download_schedule.h"
#include "client/execution/model_tasks.h"
#include "client/gateway/gateway_process.h"
#include "client/transfer/file_services.h"
#include "platform/ini_file.h"
#include "platform/thread_id.h"

namespace vantrel {
namespace {

constexpr CatalogueTable<catalogue::AutoSyncTask> kAutoSyncTable{
    &catalogue::CModule::LoadAutoSyncTasks, &catalogue::CModule::AddAutoSyncTask,
    &catalogue::CModule::ModifyAutoSyncTask, &catalogue::CModule::DeleteAutoSyncTask};

namespace fs = std::filesystem;
using catalogue::AutoSyncTask;
using execution::AsDownloadTask;

std::string nowText(const platform::Clock& clock) {
    return catalogue::FormatDateTime(clock.localNow());
}

std::string printfText(const char* pattern, const std::string& text) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, pattern, text.c_str());
    return buffer;
}

std::vector<catalogue::RemoteFileEntry> filesOf(const std::vector<filesvc::ListEntry>& listed) {
    std::vector<catalogue::RemoteFileEntry> files;
    for (const filesvc::ListEntry& e : listed) {
        if (!e.isDirectory()) files.push_back({e.name, e.size, e.date, e.time});
    }
    return files;
}

}  // namespace

CAutoDownModel::CAutoDownModel(const Context& context, AutoSyncModelOptions options)
    : context_(context), options_(std::move(options)) {}

CAutoDownModel::~CAutoDownModel() = default;

void CAutoDownModel::sysLog(const std::string& line) const {
    if (context_.logs) (void)context_.logs->writeSysLog(line);
}

void CAutoDownModel::taskLog(const fs::path& path, const std::string& line, int level) const {
    if (context_.logs && !path.empty()) (void)context_.logs->writeTaskLog(line, level, path);
}

void CAutoDownModel::post(const NotifierEvent& event) {
    if (context_.notifier) context_.notifier->post(event);
}

void CAutoDownModel::setRunning(Entry& entry, bool running) {
    entry.running = running;
    entry.task.running = running;
    if (running) {
        entry.task.nextRun.reset();
    } else {
        entry.runStarted = false;
    }
}

std::string CAutoDownModel::historyKey(const AutoSyncTask& task) const {
    return catalogue::EqualsIgnoreCase(task.mailname, "FTP_A_QS") ? "syncHisDate_A"
                                                                  : "syncHisDate_B";
}

// ---- commands -------------------------------------------------------------------------

void CAutoDownModel::queueCommand(TableCommand command, const AutoSyncTask& task) {
    commands_.push(command, task);
}

void CAutoDownModel::processCommands() {
    while (const std::optional<Command> command = commands_.take()) execute(*command);
}

void CAutoDownModel::execute(const Command& command) {
    applyTableCommand(*options_.catalogue, kAutoSyncTable, command,
                      [this](const std::string& message) { sysLog(message); });
    reloadFromCatalogue();
}

void CAutoDownModel::reloadFromCatalogue() {
    const auto tasks = options_.catalogue->AutoSyncTasks();
    std::lock_guard lock(mutex_);
    MergeCatalogueTasks(tasks_, tasks);
}

int CAutoDownModel::startNow(const std::string& taskId) {
    std::optional<NotifierEvent> event;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return 0;
        if (it->second.running) return 1;
        setRunning(it->second, true);
        event = TaskRunStateChanged{CatalogueTaskKind::AutoSync, taskId, true,
                                    it->second.task.planstate};
    }
    post(*event);
    return 1;
}

int CAutoDownModel::stop(const std::string& taskId) {
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(taskId);
    if (it == tasks_.end() || !it->second.running) return 0;
    it->second.stopping = true;
    return 1;
}

int CAutoDownModel::syncAgain(const std::string& taskId) {
    std::lock_guard lock(mutex_);
    auto it = tasks_.find(taskId);
    if (it == tasks_.end()) return 0;
    it->second.againRequested = true;
    if (it->second.running) it->second.stopping = true;
    return 1;
}

std::vector<AutoSyncTaskState> CAutoDownModel::snapshot() const {
    std::vector<AutoSyncTaskState> out;
    std::vector<std::shared_ptr<DownloadRun>> runs;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : tasks_) {
            out.push_back({entry.task, entry.running, entry.stopping, 0, 0, entry.version});
            runs.push_back(entry.run);
        }
    }
    // Asked of the runs outside the model's lock.
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (runs[i]) {
            out[i].files = runs[i]->fileCount();
            out[i].delivered = runs[i]->deliveredCount();
        }
    }
    return out;
}

std::optional<AutoSyncTaskState> CAutoDownModel::find(const std::string& taskId) const {
    AutoSyncTaskState state;
    std::shared_ptr<DownloadRun> run;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return std::nullopt;
        const Entry& e = it->second;
        state = {e.task, e.running, e.stopping, 0, 0, e.version};
        run = e.run;
    }
    if (run) {
        state.files = run->fileCount();
        state.delivered = run->deliveredCount();
    }
    return state;
}

bool CAutoDownModel::anyRunning() const {
    std::lock_guard lock(mutex_);
    return AnyTaskRunning(tasks_);
}

bool CAutoDownModel::ownsTask(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    return FindTaskIgnoringCase(tasks_, taskId) != nullptr;
}

std::shared_ptr<DownloadRun> CAutoDownModel::runOf(std::string_view taskId) const {
    std::lock_guard lock(mutex_);
    const Entry* entry = FindTaskIgnoringCase(tasks_, taskId);
    return entry ? entry->run : nullptr;
}

// ---- plan monitor ---------------------------------------------------------------------

void CAutoDownModel::scheduleCheck() {
    const platform::WallTime now = context_.clock->now();
    const std::string businessDate = options_.process->lastLogin().businessDate;
    // Read before the lock: the next history day of each mailbox key.
    const platform::IniFile ini(context_.installation.clientIni());
    const std::map<std::string, std::string> nextDay = {
        {"syncHisDate_A", catalogue::TrimText(ini.getString("system", "syncHisDate_A", ""))},
        {"syncHisDate_B", catalogue::TrimText(ini.getString("system", "syncHisDate_B", ""))}};
    std::vector<NotifierEvent> events;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.running) {
                options_.blocks->clearStop(id);
            } else {
                options_.blocks->requestStop(id);
            }
            const catalogue::DownloadTask shape = AsDownloadTask(entry.task);
            switch (CheckDownloadSchedule(shape, entry.running, now)) {
                case ScheduleDecision::Start:
                    // A history entry that has caught up waits for the next business date.
                    if (isHistory(entry.task) && !businessDate.empty() &&
                        execution::HistoryCaughtUp(nextDay.at(historyKey(entry.task)),
                                                   businessDate)) {
                        entry.task.nextRun = catalogue::NextRunAfterRun(
                            {entry.task.planstate, entry.task.begindate, entry.task.begintime,
                             entry.task.endtime, "", false},
                            now, entry.task.timespace);
                        break;
                    }
                    setRunning(entry, true);
                    events.push_back(TaskRunStateChanged{CatalogueTaskKind::AutoSync, id, true,
                                                         entry.task.planstate});
                    break;
                case ScheduleDecision::Recompute:
                    entry.task.nextRun = NextRunAfterMissedStart(shape, now);
                    events.push_back(TaskNextRunChanged{
                        CatalogueTaskKind::AutoSync, id,
                        entry.task.nextRun
                            ? catalogue::FormatDateTime(platform::toLocalTime(*entry.task.nextRun))
                            : std::string()});
                    break;
                case ScheduleDecision::Idle:
                    break;
            }
        }
    }
    for (const auto& event : events) post(event);
}

void CAutoDownModel::endOfRunCheck() {
    struct Ending {
        std::string taskId;
        std::shared_ptr<DownloadRun> run;
        bool history;
        std::string syncDate;
        std::string mailKey;
        fs::path taskLog;
    };
    std::vector<Ending> ending;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (!entry.running || !entry.runStarted || !entry.run || entry.stopping) continue;
            if (!entry.run->finished()) continue;
            ending.push_back({id, entry.run, isHistory(entry.task), entry.syncDate,
                              historyKey(entry.task), entry.taskLog});
            entry.run.reset();
        }
    }
    for (const Ending& e : ending) {
        std::string description;
        const std::string result = e.run->result(description);
        e.run->release(false);
        const bool ok = result == "成功";
        if (e.history && ok) {
            // The next day still to synchronise; never moved back by a slower run.
            platform::IniFile ini(context_.installation.clientIni());
            const std::string stored = catalogue::TrimText(ini.getString("system", e.mailKey, ""));
            const std::string next = execution::AddDays(e.syncDate, 1);
            if (!next.empty() && !(stored > e.syncDate && stored.size() == 8)) {
                if (Status written = ini.setString("system", e.mailKey, next); !written)
                    sysLog(written.text());
            }
        }
        options_.catalogue->RecordAutoSyncRun(e.taskId, result,
                                              description.empty() ? " " : description,
                                              nowText(*context_.clock), false);
        taskLog(e.taskLog,
                (e.history ? "自动同步历史任务结束运行，运行结果："
                           : "下载自动同步任务结束运行，运行结果：") +
                    result,
                ok ? 0 : 2);
        taskLog(e.taskLog, "", 0);
        if (!ok) post(TaskFailed{CatalogueTaskKind::AutoSync, e.taskId, description});
        const auto task = options_.catalogue->FindAutoSyncTask(e.taskId);
        std::optional<NotifierEvent> ended;
        {
            std::lock_guard lock(mutex_);
            if (auto it = tasks_.find(e.taskId); it != tasks_.end()) {
                Entry& entry = it->second;
                // The version is taken only by a run that delivered everything it listed.
                if (ok && !e.history) entry.version = entry.pendingVersion;
                entry.pendingVersion.clear();
                setRunning(entry, false);
                if (task) {
                    entry.task.nextRun = task->nextRun;
                    entry.task.lastresult = task->lastresult;
                    entry.task.lastdes = task->lastdes;
                    entry.task.laruntime = task->laruntime;
                }
                ended = TaskRunStateChanged{CatalogueTaskKind::AutoSync, e.taskId, false,
                                            entry.task.planstate};
            }
        }
        if (ended) post(*ended);
    }
    cleanLocalHistory();
}

void CAutoDownModel::cleanLocalHistory() {
    const LoginFacts facts = options_.process->lastLogin();
    const platform::WallTime now = context_.clock->now();
    if (facts.businessDate != seenBusinessDate_ || facts.gatewayTime != seenGatewayTime_) {
        seenBusinessDate_ = facts.businessDate;
        seenGatewayTime_ = facts.gatewayTime;
        seenAt_ = now;
    }
    // The time a login reported goes on with the clock until the next login reports anew.
    const std::string gatewayTime = execution::GatewayTimeNow(
        facts.gatewayTime, std::chrono::duration_cast<std::chrono::seconds>(now - seenAt_));
    CConfig config(context_.installation);
    if (!execution::CleanupDue(facts.businessDate, gatewayTime, config.readCleanHisDate())) return;

    std::vector<AutoSyncTask> daily;
    std::vector<std::string> ids;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entry] : tasks_) {
            ids.push_back(id);
            if (!isHistory(entry.task)) daily.push_back(entry.task);
        }
    }
    const std::string cutoff = execution::AddDays(facts.businessDate, -config.readAutoSyncDay());
    // "<id>-YYYYMMDD..." of a day before the cut-off.
    auto old = [&cutoff](const std::string& name, const std::string& id) {
        if (name.size() < id.size() + 9 || name.compare(0, id.size(), id) != 0 ||
            name[id.size()] != '-')
            return false;
        const std::string day = name.substr(id.size() + 1, 8);
        return execution::ParseDay(day).has_value() && day < cutoff;
    };
    for (const AutoSyncTask& task : daily) {
        const fs::path log = catalogue::DailyTaskFile(context_.installation.log(), task.planid,
                                                      context_.clock->localNow(), ".log");
        taskLog(log, "开始本地历史文件清理", 0);
        int mine = 0;
        struct Place {
            fs::path directory;
            const char* failure;
        };
        const Place places[] = {
            {context_.installation.data(), "本地历史文件清单清理-删除文件[%s]失败"},
            {context_.installation.log(), "本地历史文件日志清理-删除文件[%s]失败"}};
        for (const Place& place : places) {
            std::error_code ec;
            for (const auto& file : fs::directory_iterator(place.directory, ec)) {
                const std::string name = file.path().filename().string();
                bool match = false;
                // The task's own files and those of its history entries, which share the
                // task's mailbox and directory.
                for (const std::string& id : ids) match = match || old(name, id);
                if (!match || !file.is_regular_file(ec)) continue;
                if (fs::remove(file.path(), ec)) {
                    ++mine;
                } else {
                    taskLog(log, printfText(place.failure, file.path().string()), 1);
                }
            }
        }
        char line[128];
        std::snprintf(line, sizeof line, "自动同步-本地历史文件清理完成，共清理文件[%d]个", mine);
        taskLog(log, line, 0);
    }
    if (Status written = config.writeCleanHisDate(facts.businessDate); !written)
        sysLog(written.text());
}

// ---- auto-sync manager ----------------------------------------------------------------

void CAutoDownModel::perSecondStep() {
    std::vector<std::shared_ptr<DownloadRun>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && entry.runStarted) runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->perSecond();
}

void CAutoDownModel::continuousStep() {
    std::vector<std::shared_ptr<DownloadRun>> runs;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : tasks_) {
            if (entry.run && entry.runStarted && !entry.stopping) runs.push_back(entry.run);
        }
    }
    for (auto& run : runs) run->deliver();
}

bool CAutoDownModel::login(CVornFtp& session, std::string& error) {
    if (session.LoginToGateway() == 1 || session.LoginToGateway() == 1) return true;
    char prefix[128];
    std::snprintf(prefix, sizeof prefix,
                  "管理线程[0x%08x]登陆失败！失败原因:", platform::currentThreadId());
    error = prefix + session.LastError();
    sysLog(error);
    return false;
}

std::shared_ptr<DownloadRun> CAutoDownModel::makeRun(const AutoSyncTask& task,
                                                     const std::string& listDay,
                                                     const fs::path& taskLog,
                                                     const std::string& remoteDirectory) {
    DownloadRunSetup setup;
    setup.blocks = options_.blocks;
    setup.flags = options_.flags;
    setup.transferClock = options_.transferClock;
    setup.unzipProgram = options_.unzipProgram;
    setup.noUnzipFileTypes = options_.noUnzipFileTypes;
    setup.listDay = execution::ParseDay(listDay);
    setup.taskLogPath = taskLog;
    setup.remoteDirectory = remoteDirectory;
    setup.datedByFileDate = task.hasrecvdir != 0;
    return std::make_shared<DownloadRun>(context_, std::move(setup), AsDownloadTask(task));
}

bool CAutoDownModel::beginDaily(const Entry& entry, Begun& begun, std::string& error) {
    const AutoSyncTask& task = entry.task;
    std::unique_ptr<CVornFtp> session = options_.makeSession();
    if (!login(*session, error)) return false;
    begun.businessDate = options_.process->lastLogin().businessDate;
    taskLog(begun.taskLog, printfText("自动同步任务开始运行：同步日期[%s]", begun.businessDate), 0);

    const std::string pattern = task.mailname + "\\*.*";
    VornFileService service(*session);
    session->SetRoute(kMailboxOrganisation, task.mailname, "00");
    std::string version;
    if (service.queryVersion(task.mailname, pattern, version) < 0) {
        taskLog(begun.taskLog, session->LastError(), 2);
        session->DropIfLoggedIn();
        error = "查询版本号失败";
        return false;
    }
    if (version.empty()) {
        session->DropIfLoggedIn();
        error = "查询版本号为空";
        return false;
    }
    const bool sameDay = entry.businessDate == begun.businessDate;
    const std::string known = sameDay ? entry.version : std::string();
    const platform::WallTime now = context_.clock->now();
    const int multi = CConfig(context_.installation).readForceTimeMulti();
    begun.fullList =
        known.empty() || execution::FullListDue(sameDay ? entry.lastFullList : std::nullopt, now,
                                                multi, task.timespace);
    begun.pendingVersion = version;
    if (!begun.fullList && version == known) {
        // Nothing changed since the last run took this version.
        session->DropIfLoggedIn();
        return true;
    }
    if (begun.fullList && !known.empty()) taskLog(begun.taskLog, "强制同步当日文件列表", 0);

    std::vector<filesvc::ListEntry> listed;
    const int rc = begun.fullList ? service.listToday(task.mailname, pattern, listed)
                                  : service.listChanges(task.mailname, pattern, known, listed);
    if (rc < 0) error = session->LastError();
    session->DropIfLoggedIn();
    if (rc < 0) return false;

    const std::vector<catalogue::RemoteFileEntry> files = filesOf(listed);
    auto run = makeRun(task, catalogue::FormatDate(context_.clock->localNow()), begun.taskLog,
                       task.mailname + "\\");
    if (!run->openList(error)) return false;
    char line[256];
    std::snprintf(line, sizeof line, "查询当日文件列表，文件总数为[%d]，版本号为[%s]",
                  static_cast<int>(files.size()), version.c_str());
    taskLog(begun.taskLog, line, 0);
    if (!run->adopt(files, error)) return false;
    begun.run = std::move(run);
    return true;
}

bool CAutoDownModel::beginHistory(const Entry& entry, Begun& begun, std::string& error) {
    const AutoSyncTask& task = entry.task;
    CConfig config(context_.installation);
    const int autoSyncDay = config.readAutoSyncDay();
    platform::IniFile ini(context_.installation.clientIni());
    const std::string key = historyKey(task);
    const std::string stored = catalogue::TrimText(ini.getString("system", key, ""));

    std::unique_ptr<CVornFtp> session = options_.makeSession();
    if (!login(*session, error)) return false;
    begun.businessDate = options_.process->lastLogin().businessDate;
    if (!execution::ParseDay(begun.businessDate)) {
        session->DropIfLoggedIn();
        error = "获取服务器日期失败";
        return false;
    }
    bool corrected = false;
    begun.syncDate = execution::HistorySyncDate(stored, begun.businessDate, autoSyncDay, corrected);
    if (corrected) {
        if (Status written = ini.setString("system", key, begun.syncDate); !written)
            sysLog(written.text());
    }
    if (execution::HistoryCaughtUp(begun.syncDate, begun.businessDate)) {
        session->DropIfLoggedIn();
        return true;
    }
    taskLog(begun.taskLog, printfText("自动同步历史任务开始运行：同步日期[%s]", begun.syncDate), 0);

    const std::string directory = task.mailname + "\\" + begun.syncDate + "\\";
    VornFileService service(*session);
    session->SetRoute(kMailboxOrganisation, task.mailname, std::string(filesvc::kHistory));
    std::vector<filesvc::ListEntry> listed;
    const int rc = service.listHistory(task.mailname, directory + "*.*", listed);
    if (rc < 0) error = session->LastError();
    session->DropIfLoggedIn();
    if (rc < 0) return false;

    const std::vector<catalogue::RemoteFileEntry> files = filesOf(listed);
    char line[256];
    std::snprintf(line, sizeof line, "查询历史文件列表，文件总数为[%d]，日期为[%s]",
                  static_cast<int>(files.size()), begun.syncDate.c_str());
    taskLog(begun.taskLog, line, 0);
    auto run = makeRun(task, begun.syncDate, begun.taskLog, directory);
    if (!run->openList(error)) return false;
    if (!run->adopt(files, error)) return false;
    begun.run = std::move(run);
    return true;
}

void CAutoDownModel::endAtOnce(const std::string& taskId, const fs::path& log,
                               const std::string& result, const std::string& error) {
    options_.catalogue->RecordAutoSyncRun(taskId, result, error.empty() ? " " : error,
                                          nowText(*context_.clock), false);
    if (result != "成功") taskLog(log, error, 2);
    taskLog(log, "下载任务运行结束，运行结果：" + result, result == "成功" ? 0 : 2);
    taskLog(log, "", 0);
    const auto task = options_.catalogue->FindAutoSyncTask(taskId);
    std::optional<NotifierEvent> ended;
    {
        std::lock_guard lock(mutex_);
        if (auto it = tasks_.find(taskId); it != tasks_.end()) {
            Entry& entry = it->second;
            entry.run.reset();
            entry.pendingVersion.clear();
            setRunning(entry, false);
            if (task) {
                entry.task.nextRun = task->nextRun;
                entry.task.lastresult = task->lastresult;
                entry.task.lastdes = task->lastdes;
                entry.task.laruntime = task->laruntime;
            }
            ended = TaskRunStateChanged{CatalogueTaskKind::AutoSync, taskId, false,
                                        entry.task.planstate};
        }
    }
    if (result != "成功") post(TaskFailed{CatalogueTaskKind::AutoSync, taskId, error});
    if (ended) post(*ended);
}

bool CAutoDownModel::beginRun(const std::string& taskId) {
    Entry copy;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return false;
        copy.task = it->second.task;
        copy.businessDate = it->second.businessDate;
        copy.version = it->second.version;
        copy.lastFullList = it->second.lastFullList;
    }
    const bool history = isHistory(copy.task);
    Begun begun;
    begun.taskLog =
        catalogue::DailyTaskFile(context_.installation.log(), taskId, context_.clock->localNow(),
                                 history ? "_his.log" : ".log");
    std::string error;
    const platform::WallTime listedAt = context_.clock->now();
    const bool ok = history ? beginHistory(copy, begun, error) : beginDaily(copy, begun, error);
    if (!ok) {
        endAtOnce(taskId, begun.taskLog, "失败", error);
        return false;
    }
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        if (auto it = tasks_.find(taskId); it != tasks_.end()) {
            found = true;
            Entry& entry = it->second;
            entry.taskLog = begun.taskLog;
            entry.syncDate = begun.syncDate;
            if (!history) {
                if (entry.businessDate != begun.businessDate) {
                    entry.businessDate = begun.businessDate;
                    entry.version.clear();
                    entry.lastFullList.reset();
                }
                entry.pendingVersion = begun.pendingVersion;
                if (begun.run && begun.fullList) entry.lastFullList = listedAt;
            }
            if (begun.run) {
                entry.run = begun.run;
                entry.runStarted = true;
            }
        }
    }
    if (!found) {
        endAtOnce(taskId, begun.taskLog, "失败", "计划[" + taskId + "]不存在！");
        return false;
    }
    // Nothing to list: the day's version was taken already, or the history is current.
    if (!begun.run) endAtOnce(taskId, begun.taskLog, "成功", "");
    return begun.run != nullptr;
}

void CAutoDownModel::handleStop(TransferQueue& queue, const std::string& taskId) {
    queue.removeTask(taskId);
    std::shared_ptr<DownloadRun> run = runOf(taskId);
    if (run && run->anyTaken()) return;  // a worker still holds a block: next pass
    fs::path log;
    bool history = false;
    bool again = false;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return;
        log = it->second.taskLog;
        history = isHistory(it->second.task);
        again = it->second.againRequested;
    }
    if (run) {
        run->release(true);
        options_.catalogue->RecordAutoSyncRun(taskId, "失败", "用户停止任务!",
                                              nowText(*context_.clock), false);
    }
    if (!again) {
        sysLog(printfText(history ? "用户停止自动同步历史任务[%s]" : "用户停止自动同步任务[%s]",
                          taskId));
    }
    const bool stillDefined = options_.catalogue->FindAutoSyncTask(taskId).has_value();
    std::optional<NotifierEvent> event;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return;
        Entry& entry = it->second;
        entry.run.reset();
        entry.stopping = false;
        entry.pendingVersion.clear();
        setRunning(entry, false);
        // "Sync again" starts afresh; a plain stop takes the task off the schedule.
        if (!again) entry.task.planstate = kRunDisabledByStop;
        event =
            TaskRunStateChanged{CatalogueTaskKind::AutoSync, taskId, false, entry.task.planstate};
        if (!stillDefined) tasks_.erase(it);
    }
    if (!again && stillDefined && !history)
        options_.catalogue->UpdateAutoSyncRow(taskId, "", "", "", kRunDisabledByStop);
    if (run) taskLog(log, "下载任务结束运行，用户停止任务！", 1);
    post(*event);
}

void CAutoDownModel::handleAgain(const std::string& taskId) {
    AutoSyncTask task;
    std::string day;
    {
        std::lock_guard lock(mutex_);
        auto it = tasks_.find(taskId);
        if (it == tasks_.end()) return;
        Entry& entry = it->second;
        entry.againRequested = false;
        entry.version.clear();
        entry.lastFullList.reset();
        task = entry.task;
        day = isHistory(task) ? entry.syncDate : std::string();
    }
    if (day.empty()) day = catalogue::FormatDate(context_.clock->localNow());
    // The list the runs use, with every partial file of it, so every file comes afresh.
    catalogue::CDownLoadFile list(context_, nullptr, nullptr);
    const auto listDay = execution::ParseDay(day);
    const auto offset = listDay ? std::chrono::duration_cast<std::chrono::seconds>(
                                      context_.clock->now() - platform::fromLocalTime(*listDay))
                                : std::chrono::seconds(0);
    list.Init(taskId, catalogue::CDownLoadFile::TaskKind::Download,
              offset.count() > 0 ? offset : std::chrono::seconds(0));
    const fs::path listPath = list.ListPath();
    list.SetReceiveDirectory(task.recvpath);
    if (list.LoadWorkItems()) {
        for (const auto& item : list.Items()) {
            std::error_code ec;
            fs::remove(item.partialFile(), ec);
            fs::remove(item.partialFile().string() + ".~block", ec);
        }
    }
    char line[1024];
    if (list.DeleteList() == 1) {
        std::snprintf(line, sizeof line, "删除[%s]任务清单成功,清单文件为:%s", taskId.c_str(),
                      listPath.string().c_str());
        sysLog(line);
        startNow(taskId);
    } else {
        std::snprintf(line, sizeof line, "重新下载[%s]任务失败,失败原因为:%s", taskId.c_str(),
                      list.LastError().c_str());
        sysLog(line);
    }
}

int CAutoDownModel::dispatch(TransferQueue& queue) {
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
            if (entry.stopping || entry.againRequested || entry.running)
                work.push_back(
                    {id, entry.stopping, entry.againRequested, entry.runStarted, entry.run});
        }
    }
    int queued = 0;
    for (Work& w : work) {
        if (w.stopping) {
            handleStop(queue, w.taskId);
            continue;
        }
        if (w.again) {
            handleAgain(w.taskId);
            continue;
        }
        if (!w.runStarted) {
            if (!beginRun(w.taskId)) continue;
            w.run = runOf(w.taskId);
        }
        if (!w.run) continue;
        bool front = false;
        // Completing blocks jump the queue, as the auto-sync runs ask.
        if (BlockTask* block = w.run->nextBlock(front))
            queued += front ? queue.pushFront(block) : queue.pushBack(block);
    }
    return queued;
}

// ---- workers --------------------------------------------------------------------------

void CAutoDownModel::runBlock(BlockTask& block, CVornFtp& handle, const BlockRun& run) {
    std::shared_ptr<DownloadRun> owner = runOf(block.file().taskId());
    if (!owner) {
        block.setState(kBlockIdle);
        return;
    }
    owner->runBlock(block, handle, run);
}

}  // namespace vantrel
