#include "client/ui/task_board.h"

#include "client/catalogue/catalogue_text.h"
#include "client/execution/tasks/task_scheduler.h"

namespace vantrel::ui {

namespace {

std::string timeText(const catalogue::NextRunTime& t) {
    return t ? catalogue::FormatDateTime(platform::toLocalTime(*t)) : std::string();
}

std::string stateText(const TaskView& view) {
    if (view.stopping) return "正在停止";
    if (view.running) return "正在运行";
    return catalogue::IsScheduled(view.plan) ? "计划运行" : "停止";
}

TaskRow rowOf(const TaskView& view) {
    TaskRow row;
    row.kind = view.kind;
    row.running = view.running;
    row.scheduled = catalogue::IsScheduled(view.plan);
    auto& t = row.texts;
    t[kColDescription] = view.plan.plandes;
    t[kColKind] = row.kind->name;
    t[kColFileName] = view.fileName;
    t[kColFilesDone] = std::to_string(view.done);
    t[kColFilesTotal] = std::to_string(view.files);
    t[kColSchedule] = view.scheduleText;
    t[kColNextRun] = timeText(view.plan.nextRun);
    t[kColLastRun] = view.plan.laruntime;
    t[kColLastResult] = view.plan.lastresult;
    t[kColLastError] = view.plan.lastdes;
    t[kColState] = stateText(view);
    t[kColTaskId] = view.plan.planid;
    return row;
}

}  // namespace

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
            return commands_.setScheduled(taskId, !catalogue::IsScheduled(view->plan), error);
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

}  // namespace vantrel::ui
