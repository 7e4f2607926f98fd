#include "client/ui/task_board.h"

#include "client/catalogue/catalogue_text.h"
#include "client/execution/task_scheduler.h"

namespace vantrel::ui {

namespace {

using execution::SaveOutcome;

std::string timeText(const catalogue::NextRunTime& t) {
    return t ? catalogue::FormatDateTime(platform::toLocalTime(*t)) : std::string();
}

std::string stateText(bool running, bool stopping, int planstate) {
    if (stopping) return "正在停止";
    if (running) return "正在运行";
    return planstate >= 1 ? "计划运行" : "停止";
}

template <class Task>
TaskRow rowOf(TaskRowKind kind, const Task& task, const std::string& fileName, bool running,
              bool stopping, int done, int total) {
    TaskRow row;
    row.kind = kind;
    row.running = running;
    row.scheduled = task.planstate >= 1;
    auto& t = row.texts;
    t[kColDescription] = task.plandes;
    t[kColKind] = taskRowKindText(kind);
    t[kColFileName] = fileName;
    t[kColFilesDone] = std::to_string(done);
    t[kColFilesTotal] = std::to_string(total);
    t[kColSchedule] = execution::ScheduleText(task);
    t[kColNextRun] = timeText(task.nextRun);
    t[kColLastRun] = task.laruntime;
    t[kColLastResult] = task.lastresult;
    t[kColLastError] = task.lastdes;
    t[kColState] = stateText(running, stopping, task.planstate);
    t[kColTaskId] = task.planid;
    return row;
}

std::string unknownTask(const std::string& taskId) {
    return "计划[" + taskId + "]不存在或未在运行！";
}

}  // namespace

const char* taskRowKindText(TaskRowKind kind) {
    switch (kind) {
        case TaskRowKind::Bulletin:
            return "公告任务";
        case TaskRowKind::Upload:
            return "上传任务";
        case TaskRowKind::AutoSync:
            return "自动同步任务";
        case TaskRowKind::Mailbox:
            break;
    }
    return "信箱任务";
}

bool taskCommandOffered(TaskCommand command, const TaskRow& row) {
    switch (command) {
        case TaskCommand::ToggleSchedule:
            return true;
        case TaskCommand::RunNow:
            return !row.running;
        case TaskCommand::DownloadAgain:
            // An upload has nothing to fetch again.
            return row.kind != TaskRowKind::Upload && !row.running;
        case TaskCommand::Stop:
            return row.running;
        case TaskCommand::Delete:
            return !row.running;
    }
    return false;
}

std::vector<TaskRow> SchedulerTaskBoard::rows() {
    std::vector<TaskRow> rows;
    catalogue::CModule& catalogue = scheduler_.catalogue();
    // The models' copies carry the run state; a task they have not loaded yet shows its
    // catalogue record.
    for (const catalogue::DownloadTask& stored : catalogue.DownloadTasks()) {
        const auto state = scheduler_.downloads().find(stored.planid);
        const catalogue::DownloadTask& task = state ? state->task : stored;
        rows.push_back(rowOf(task.plantype == 2 ? TaskRowKind::Bulletin : TaskRowKind::Mailbox,
                             task, task.filename, state && state->running,
                             state && state->stopping, state ? state->delivered : 0,
                             state ? state->files : 0));
    }
    for (const catalogue::UploadTask& stored : catalogue.UploadTasks()) {
        const auto state = scheduler_.uploads().find(stored.planid);
        const catalogue::UploadTask& task = state ? state->task : stored;
        rows.push_back(rowOf(TaskRowKind::Upload, task, task.sendpath, state && state->running,
                             state && state->stopping, state ? state->sent : 0,
                             state ? state->files : 0));
    }
    for (const catalogue::AutoSyncTask& stored : catalogue.AutoSyncTasks()) {
        if (stored.plantype == 2) continue;  // the history entries of a sync
        const auto state = scheduler_.autoSyncs().find(stored.planid);
        rows.push_back(rowOf(TaskRowKind::AutoSync, stored, stored.mailname,
                             state ? state->running : stored.running, state && state->stopping,
                             state ? state->delivered : 0, state ? state->files : 0));
    }
    return rows;
}

std::filesystem::path SchedulerTaskBoard::listFile(const std::string& taskId) {
    return catalogue::DailyTaskFile(installation_.data(), taskId, clock_.localNow(), ".dat");
}

bool SchedulerTaskBoard::command(TaskCommand command, const std::string& taskId,
                                 std::string& error) {
    std::optional<TaskRow> found;
    for (TaskRow& row : rows()) {
        if (row.id() == taskId) found = std::move(row);
    }
    if (!found || !taskCommandOffered(command, *found)) {
        error = unknownTask(taskId);
        return false;
    }
    catalogue::CModule& catalogue = scheduler_.catalogue();
    CDownPlanModel& downloads = scheduler_.downloads();
    CSendPlanModel& uploads = scheduler_.uploads();
    CAutoDownModel& autoSyncs = scheduler_.autoSyncs();
    const bool upload = found->kind == TaskRowKind::Upload;
    const bool autoSync = found->kind == TaskRowKind::AutoSync;
    int done = 0;
    switch (command) {
        case TaskCommand::ToggleSchedule: {
            const int state = found->scheduled ? 0 : 1;
            if (autoSync) {
                done = catalogue.UpdateAutoSyncRow(taskId, "", "", "", state);
                if (done == 1) catalogue.LoadAutoSyncTasks();
            } else if (upload) {
                // The upload model takes the new state from the table on its next load.
                done = catalogue.UpdateUploadRow(taskId, "", "", "", state);
                if (done == 1) uploads.queueLoad();
            } else {
                done = downloads.setScheduled(taskId, state == 1);
            }
            break;
        }
        case TaskCommand::RunNow:
            done = autoSync ? autoSyncs.startNow(taskId)
                   : upload ? uploads.startNow(taskId)
                            : downloads.startNow(taskId);
            break;
        case TaskCommand::DownloadAgain:
            done = autoSync ? autoSyncs.syncAgain(taskId) : downloads.downloadAgain(taskId);
            break;
        case TaskCommand::Stop:
            done = autoSync ? autoSyncs.stop(taskId)
                   : upload ? uploads.stop(taskId)
                            : downloads.stop(taskId);
            break;
        case TaskCommand::Delete:
            if (autoSync) {
                std::string message;
                const auto task = catalogue.FindAutoSyncTask(taskId);
                done = task ? catalogue.DeleteAutoSyncTask(*task, message) : 0;
                if (done == 1) {
                    catalogue.RemoveAutoSyncTask(taskId);
                } else if (!message.empty()) {
                    error = message;
                    return false;
                }
            } else if (upload) {
                if (const auto task = catalogue.FindUploadTask(taskId)) {
                    uploads.queueCommand(TableCommand::Delete, *task);
                    done = 1;
                }
            } else if (const auto task = catalogue.FindDownloadTask(taskId)) {
                downloads.queueCommand(TableCommand::Delete, *task);
                done = 1;
            }
            break;
    }
    if (done != 1) error = unknownTask(taskId);
    return done == 1;
}

std::optional<execution::DownloadForm> SchedulerTaskBoard::downloadForm(const std::string& taskId) {
    const auto task = scheduler_.catalogue().FindDownloadTask(taskId);
    if (!task) return std::nullopt;
    return execution::DownloadFormOf(*task);
}

std::optional<execution::UploadForm> SchedulerTaskBoard::uploadForm(const std::string& taskId) {
    const auto task = scheduler_.catalogue().FindUploadTask(taskId);
    if (!task) return std::nullopt;
    return execution::UploadFormOf(*task);
}

std::optional<execution::AutoSyncForm> SchedulerTaskBoard::autoSyncForm(
    const std::string& taskId) {
    const auto task = scheduler_.catalogue().FindAutoSyncTask(taskId);
    if (!task) return std::nullopt;
    return execution::AutoSyncFormOf(*task);
}

SaveOutcome SchedulerTaskBoard::save(const execution::DownloadForm& form,
                                     const std::string& editedTaskId, UserPrompt& prompt) {
    const execution::FormScope scope{&scheduler_.catalogue(), &prompt, editedTaskId};
    SaveOutcome outcome = execution::SaveDownloadTask(form, scope, clock_, operatorCode_());
    // The model takes the stored task from the table on its next command pass.
    if (outcome.result == execution::SaveResult::Saved) scheduler_.downloads().queueLoad();
    return outcome;
}

SaveOutcome SchedulerTaskBoard::save(const execution::UploadForm& form,
                                     const std::string& editedTaskId, UserPrompt& prompt) {
    const execution::FormScope scope{&scheduler_.catalogue(), &prompt, editedTaskId};
    SaveOutcome outcome = execution::SaveUploadTask(form, scope, clock_, operatorCode_());
    if (outcome.result == execution::SaveResult::Saved) scheduler_.uploads().queueLoad();
    return outcome;
}

SaveOutcome SchedulerTaskBoard::save(const execution::AutoSyncForm& form,
                                     const std::string& editedTaskId, UserPrompt& prompt) {
    const execution::FormScope scope{&scheduler_.catalogue(), &prompt, editedTaskId};
    return execution::SaveAutoSyncTask(form, scope, clock_, operatorCode_());
}

}  // namespace vantrel::ui
