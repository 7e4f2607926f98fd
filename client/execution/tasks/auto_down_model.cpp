#include "client/execution/tasks/auto_down_model.h"

#include <cstdio>
#include <system_error>

#include "client/base/logs.h"
#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/task_schedule.h"
#include "client/config/config.h"
#include "client/execution/housekeeping/history_cleanup.h"
#include "client/execution/runs/remote_listing.h"
#include "client/execution/tasks/auto_sync_rules.h"
#include "client/execution/tasks/download_schedule.h"
#include "client/execution/tasks/task_kind.h"
#include "client/execution/tasks/task_model_impl.h"
#include "client/gateway/gateway_process.h"
#include "client/transfer/file_services.h"

namespace vantrel {

template class TaskModel<AutoSyncKind>;

namespace {

namespace fs = std::filesystem;
using catalogue::AutoSyncTask;
using execution::AsDownloadTask;

std::string printfText(const char* pattern, const std::string& text) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, pattern, text.c_str());
    return buffer;
}

bool isHistory(const catalogue::AutoSyncTask& task) {
    return catalogue::IsHistoryEntry(task);
}

const RunEndTexts& kEnd = TaskKindOf(TaskKindId::AutoSync).runEnd;

}  // namespace

CAutoDownModel::CAutoDownModel(const Context& context, AutoSyncModelOptions options)
    : TaskModel(context, *options.catalogue, *options.blocks, CatalogueTaskKind::AutoSync,
                CatalogueTableOf<AutoSyncTask>(),
                // A run that found nothing to do ends with the start failure's line.
                {kEnd.startFailed, kEnd.startFailed, kEnd.stopped, true}),
      options_(std::move(options)) {}

CAutoDownModel::~CAutoDownModel() = default;

std::string CAutoDownModel::historyKey(const AutoSyncTask& task) const {
    return catalogue::EqualsIgnoreCase(task.mailname, "FTP_A_QS") ? "syncHisDate_A"
                                                                  : "syncHisDate_B";
}

// ---- plan monitor ---------------------------------------------------------------------

void CAutoDownModel::beforeScheduleCheck() {
    scheduleBusinessDate_ = options_.process->lastLogin().businessDate;
    const CConfig config(context_.installation);
    scheduleNextDay_ = {
        {"syncHisDate_A", catalogue::TrimText(config.readSyncHisDate("syncHisDate_A"))},
        {"syncHisDate_B", catalogue::TrimText(config.readSyncHisDate("syncHisDate_B"))}};
}

CAutoDownModel::Admission CAutoDownModel::admitStart(const AutoSyncTask& task,
                                                     platform::WallTime now,
                                                     catalogue::NextRunTime& nextRun) {
    // A history entry that has caught up waits for the next business date.
    if (isHistory(task) && !scheduleBusinessDate_.empty() &&
        execution::HistoryCaughtUp(scheduleNextDay_[historyKey(task)], scheduleBusinessDate_)) {
        nextRun = catalogue::NextRunAfterRun(
            {task.planstate, task.begindate, task.begintime, task.endtime, "", false}, now,
            task.timespace);
        return Admission::Wait;
    }
    return Admission::Start;
}

void CAutoDownModel::leaveRun(const std::string&, const Entry& entry, const RunEnd& end) {
    if (end.how != Ending::Finished || !isHistory(entry.task) || !end.ok || !end.hadRun) return;
    // The next day still to synchronise; never moved back by a slower run.
    const std::string key = historyKey(entry.task);
    const std::string& syncDate = entry.extra.syncDate;
    const CConfig config(context_.installation);
    const std::string stored = catalogue::TrimText(config.readSyncHisDate(key));
    const std::string next = execution::AddDays(syncDate, 1);
    if (!next.empty() && !(stored > syncDate && stored.size() == 8)) {
        if (Status written = config.writeSyncHisDate(key, next); !written) sysLog(written.text());
    }
}

void AutoSyncExtra::end(const AutoSyncTask& task, bool tookAll) {
    // The version is taken only by a run that delivered everything it listed.
    if (tookAll && !isHistory(task)) version = pendingVersion;
    pendingVersion.clear();
}

CAutoDownModel::EndRule CAutoDownModel::endRule(const AutoSyncTask& task) const {
    // A plain stop leaves a history entry's row alone.
    const char* ended = TaskKindOf(task).runEnd.ended;
    if (isHistory(task)) return {ended, false, "用户停止自动同步历史任务[%s]"};
    return {ended, true, "用户停止自动同步任务[%s]"};
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
    for (const AutoSyncTask& task : tasks()) {
        ids.push_back(task.planid);
        if (!isHistory(task)) daily.push_back(task);
    }
    const std::string cutoff = execution::AddDays(facts.businessDate, -config.readAutoSyncDay());
    for (const AutoSyncTask& task : daily) {
        const fs::path log = catalogue::DailyTaskFile(context_.installation.log(), task.planid,
                                                      context_.clock->localNow(), ".log");
        writeTaskLog(log, "开始本地历史文件清理", 0);
        const auto failed = [&](const char* pattern) {
            return [this, &log, pattern](const fs::path& file) {
                writeTaskLog(log, printfText(pattern, file.string()), 1);
            };
        };
        // The task's own files and those of its history entries, which share the task's
        // mailbox and directory.
        const int mine =
            RemoveTaskFilesBefore(context_.fileSystem(), context_.installation.data(), ids, cutoff,
                                  failed("本地历史文件清单清理-删除文件[%s]失败")) +
            RemoveTaskFilesBefore(context_.fileSystem(), context_.installation.log(), ids, cutoff,
                                  failed("本地历史文件日志清理-删除文件[%s]失败"));
        char line[128];
        std::snprintf(line, sizeof line, "自动同步-本地历史文件清理完成，共清理文件[%d]个", mine);
        writeTaskLog(log, line, 0);
    }
    if (Status written = config.writeCleanHisDate(facts.businessDate); !written)
        sysLog(written.text());
}

// ---- auto-sync manager ----------------------------------------------------------------

DownloadRunParts CAutoDownModel::makeRun(const AutoSyncTask& task, const std::string& listDay,
                                         const fs::path& taskLog,
                                         const std::string& remoteDirectory) {
    DownloadRunSetup setup = RunSetupOf(options_);
    setup.listDay = execution::ParseDay(listDay);
    setup.taskLogPath = taskLog;
    setup.remoteDirectory = remoteDirectory;
    setup.datedByFileDate = task.hasrecvdir != 0;
    return MakeDownloadRun(context_, std::move(setup), AsDownloadTask(task));
}

bool CAutoDownModel::beginDaily(const Entry& entry, Begun& begun, std::string& error) {
    const AutoSyncTask& task = entry.task;
    std::unique_ptr<CVornFtp> session = options_.makeSession();
    if (!execution::LogInToList(context_, *session, error)) return false;
    begun.extra.businessDate = options_.process->lastLogin().businessDate;
    writeTaskLog(begun.taskLog,
                 printfText("自动同步任务开始运行：同步日期[%s]", begun.extra.businessDate), 0);

    const std::string pattern = task.mailname + "\\*.*";
    VornFileService service(*session);
    session->SetRoute(kMailboxOrganisation, task.mailname, "00");
    std::string version;
    if (service.queryVersion(task.mailname, pattern, version) != GatewayOutcome::Ok) {
        writeTaskLog(begun.taskLog, session->LastError(), 2);
        session->DropIfLoggedIn();
        error = "查询版本号失败";
        return false;
    }
    if (version.empty()) {
        session->DropIfLoggedIn();
        error = "查询版本号为空";
        return false;
    }
    const bool sameDay = entry.extra.businessDate == begun.extra.businessDate;
    const std::string known = sameDay ? entry.extra.version : std::string();
    const platform::WallTime now = context_.clock->now();
    const int multi = CConfig(context_.installation).readForceTimeMulti();
    begun.extra.fullList =
        known.empty() || execution::FullListDue(sameDay ? entry.extra.lastFullList : std::nullopt,
                                                now, multi, task.timespace);
    begun.extra.pendingVersion = version;
    if (!begun.extra.fullList && version == known) {
        // Nothing changed since the last run took this version.
        session->DropIfLoggedIn();
        return true;
    }
    if (begun.extra.fullList && !known.empty())
        writeTaskLog(begun.taskLog, "强制同步当日文件列表", 0);

    // The protocol has no query of changes alone: a changed version is answered with the
    // day's list, which the rebuild merges with the day list kept here, so files already
    // delivered keep their rows and only new or rewritten ones are fetched.
    std::vector<catalogue::RemoteFileEntry> files;
    if (!execution::ListAndLogOut(
            *session,
            [&](VornFileService& lister, std::vector<filesvc::ListEntry>& out) {
                return lister.listToday(task.mailname, pattern, out);
            },
            files, error))
        return false;
    const DownloadRunParts parts = makeRun(task, catalogue::FormatDate(context_.clock->localNow()),
                                           begun.taskLog, task.mailname + "\\");
    begun.run = parts.run;
    if (!parts.download->openList(error)) return false;
    char line[256];
    std::snprintf(line, sizeof line, "查询当日文件列表，文件总数为[%d]，版本号为[%s]",
                  static_cast<int>(files.size()), version.c_str());
    writeTaskLog(begun.taskLog, line, 0);
    return parts.download->adopt(std::move(files), error);
}

bool CAutoDownModel::beginHistory(const Entry& entry, Begun& begun, std::string& error) {
    const AutoSyncTask& task = entry.task;
    CConfig config(context_.installation);
    const int autoSyncDay = config.readAutoSyncDay();
    const std::string key = historyKey(task);
    const std::string stored = catalogue::TrimText(config.readSyncHisDate(key));

    std::unique_ptr<CVornFtp> session = options_.makeSession();
    if (!execution::LogInToList(context_, *session, error)) return false;
    begun.extra.businessDate = options_.process->lastLogin().businessDate;
    if (!execution::ParseDay(begun.extra.businessDate)) {
        session->DropIfLoggedIn();
        error = "获取服务器日期失败";
        return false;
    }
    bool corrected = false;
    begun.extra.syncDate =
        execution::HistorySyncDate(stored, begun.extra.businessDate, autoSyncDay, corrected);
    if (corrected) {
        if (Status written = config.writeSyncHisDate(key, begun.extra.syncDate); !written)
            sysLog(written.text());
    }
    if (execution::HistoryCaughtUp(begun.extra.syncDate, begun.extra.businessDate)) {
        session->DropIfLoggedIn();
        return true;
    }
    writeTaskLog(begun.taskLog,
                 printfText("自动同步历史任务开始运行：同步日期[%s]", begun.extra.syncDate), 0);

    const std::string directory = task.mailname + "\\" + begun.extra.syncDate + "\\";
    session->SetRoute(kMailboxOrganisation, task.mailname, std::string(filesvc::kHistory));
    std::vector<catalogue::RemoteFileEntry> files;
    if (!execution::ListAndLogOut(
            *session,
            [&](VornFileService& lister, std::vector<filesvc::ListEntry>& out) {
                return lister.listHistory(task.mailname, directory + "*.*", out);
            },
            files, error))
        return false;
    char line[256];
    std::snprintf(line, sizeof line, "查询历史文件列表，文件总数为[%d]，日期为[%s]",
                  static_cast<int>(files.size()), begun.extra.syncDate.c_str());
    writeTaskLog(begun.taskLog, line, 0);
    const DownloadRunParts parts = makeRun(task, begun.extra.syncDate, begun.taskLog, directory);
    begun.run = parts.run;
    if (!parts.download->openList(error)) return false;
    return parts.download->adopt(std::move(files), error);
}

bool CAutoDownModel::beginRun(const Entry& entry, Begun& begun, std::string& error) {
    const bool history = isHistory(entry.task);
    begun.taskLog =
        catalogue::DailyTaskFile(context_.installation.log(), entry.task.planid,
                                 context_.clock->localNow(), history ? "_his.log" : ".log");
    const platform::WallTime listedAt = context_.clock->now();
    const bool ok = history ? beginHistory(entry, begun, error) : beginDaily(entry, begun, error);
    if (ok && begun.run && begun.extra.fullList) begun.extra.lastFullList = listedAt;
    return ok;
}

void AutoSyncExtra::begin(const AutoSyncTask& task, const AutoSyncExtra& begun, bool listed) {
    syncDate = begun.syncDate;
    if (isHistory(task)) return;
    if (businessDate != begun.businessDate) {
        businessDate = begun.businessDate;
        version.clear();
        lastFullList.reset();
    }
    pendingVersion = begun.pendingVersion;
    if (listed && begun.fullList) lastFullList = begun.lastFullList;
}

void AutoSyncExtra::forget() {
    version.clear();
    lastFullList.reset();
}

bool CAutoDownModel::forgetDay(const Entry& entry) {
    const AutoSyncTask& task = entry.task;
    std::string day = isHistory(task) ? entry.extra.syncDate : std::string();
    if (day.empty()) day = catalogue::FormatDate(context_.clock->localNow());
    // The list the runs use: the one of the day they synchronise.
    const auto listDay = execution::ParseDay(day);
    const auto offset = listDay ? std::chrono::duration_cast<std::chrono::seconds>(
                                      context_.clock->now() - platform::fromLocalTime(*listDay))
                                : std::chrono::seconds(0);
    std::string line;
    const bool forgotten = ForgetDownloadDay(context_, task.planid,
                                             offset.count() > 0 ? offset : std::chrono::seconds(0),
                                             task.recvpath, line);
    sysLog(line);
    return forgotten;
}

}  // namespace vantrel
