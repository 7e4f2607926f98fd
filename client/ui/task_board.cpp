#include "client/ui/task_board.h"

#include "client/catalogue/catalogue_text.h"
#include "client/execution/tasks/task_scheduler.h"

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

TaskRow rowOf(const TaskView& view) {
    TaskRow row;
    row.kind = view.kind == CatalogueTaskKind::Upload     ? TaskRowKind::Upload
               : view.kind == CatalogueTaskKind::AutoSync ? TaskRowKind::AutoSync
               : view.bulletin                            ? TaskRowKind::Bulletin
                                                          : TaskRowKind::Mailbox;
    row.running = view.running;
    row.scheduled = view.plan.planstate >= 1;
    auto& t = row.texts;
    t[kColDescription] = view.plan.plandes;
    t[kColKind] = taskRowKindText(row.kind);
    t[kColFileName] = view.fileName;
    t[kColFilesDone] = std::to_string(view.done);
    t[kColFilesTotal] = std::to_string(view.files);
    t[kColSchedule] = view.scheduleText;
    t[kColNextRun] = timeText(view.plan.nextRun);
    t[kColLastRun] = view.plan.laruntime;
    t[kColLastResult] = view.plan.lastresult;
    t[kColLastError] = view.plan.lastdes;
    t[kColState] = stateText(view.running, view.stopping, view.plan.planstate);
    t[kColTaskId] = view.plan.planid;
    return row;
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
    const CatalogueTaskKind kind = row.kind == TaskRowKind::Upload     ? CatalogueTaskKind::Upload
                                   : row.kind == TaskRowKind::AutoSync ? CatalogueTaskKind::AutoSync
                                                                       : CatalogueTaskKind::Download;
    return TaskCommandAllowed(command, kind, row.running);
}

std::vector<TaskRow> SchedulerTaskBoard::rows() {
    std::vector<TaskRow> rows;
    for (const TaskView& view : commands_.views()) rows.push_back(rowOf(view));
    return rows;
}

std::map<std::string, std::string> TaskBoard::taskNames() {
    std::map<std::string, std::string> names;
    for (const TaskRow& row : rows()) names[row.id()] = row.texts[kColDescription];
    return names;
}

bool SchedulerTaskBoard::tasksLoaded() {
    // The threads load the tables when they start; before that only tasks saved in this
    // process are known, and an empty catalogue is one not loaded yet.
    const CPlanThreadMgr* threads = scheduler_.threadManager();
    if (!threads) return !commands_.views().empty();
    return threads->plansLoaded();
}

std::filesystem::path SchedulerTaskBoard::listFile(const std::string& taskId) {
    return catalogue::DailyTaskFile(installation_.data(), taskId, clock_.localNow(), ".dat");
}

bool SchedulerTaskBoard::command(TaskCommand command, const std::string& taskId,
                                 std::string& error) {
    // The core refuses what the task's run state does not allow.
    switch (command) {
        case TaskCommand::ToggleSchedule: {
            const std::optional<TaskView> view = commands_.view(taskId);
            if (!view) {
                error = UnknownTaskText(taskId);
                return false;
            }
            return commands_.setScheduled(taskId, view->plan.planstate < 1, error);
        }
        case TaskCommand::RunNow:
            return commands_.runNow(taskId, error);
        case TaskCommand::DownloadAgain:
            return commands_.again(taskId, error);
        case TaskCommand::Stop:
            return commands_.stop(taskId, error);
        case TaskCommand::Delete:
            return commands_.remove(taskId, error);
    }
    return false;
}

std::optional<execution::DownloadForm> SchedulerTaskBoard::downloadForm(const std::string& taskId) {
    const auto task = commands_.find(taskId);
    if (!task || !std::holds_alternative<catalogue::DownloadTask>(*task)) return std::nullopt;
    return execution::DownloadFormOf(std::get<catalogue::DownloadTask>(*task));
}

std::optional<execution::UploadForm> SchedulerTaskBoard::uploadForm(const std::string& taskId) {
    const auto task = commands_.find(taskId);
    if (!task || !std::holds_alternative<catalogue::UploadTask>(*task)) return std::nullopt;
    return execution::UploadFormOf(std::get<catalogue::UploadTask>(*task));
}

std::optional<execution::AutoSyncForm> SchedulerTaskBoard::autoSyncForm(
    const std::string& taskId) {
    const auto task = commands_.find(taskId);
    if (!task || !std::holds_alternative<catalogue::AutoSyncTask>(*task)) return std::nullopt;
    return execution::AutoSyncFormOf(std::get<catalogue::AutoSyncTask>(*task));
}

SaveOutcome SchedulerTaskBoard::save(const execution::DownloadForm& form,
                                     const std::string& editedTaskId, UserPrompt& prompt) {
    return commands_.save(form, editedTaskId, prompt);
}

SaveOutcome SchedulerTaskBoard::save(const execution::UploadForm& form,
                                     const std::string& editedTaskId, UserPrompt& prompt) {
    return commands_.save(form, editedTaskId, prompt);
}

SaveOutcome SchedulerTaskBoard::save(const execution::AutoSyncForm& form,
                                     const std::string& editedTaskId, UserPrompt& prompt) {
    return commands_.save(form, editedTaskId, prompt);
}

}  // namespace vantrel::ui
