#pragma once
// TaskKindInfo: a task kind as a value. Each kind (mailbox download, bulletin download,
// upload, auto-sync and the auto-sync history entry) is described once here: its table, its
// day list, its texts, its defaults for a new task and the commands it offers, so the
// command service, the catalogue's users and every front end loop over the kinds instead of
// branching on them.

#include <span>
#include <string>
#include <string_view>

#include "client/base/events.h"
#include "client/catalogue/task_catalogue.h"
#include "client/catalogue/task_records.h"
#include "client/execution/tasks/table_commands.h"
#include "client/execution/tasks/task_forms.h"

namespace vantrel {

enum class TaskKindId { Mailbox, Bulletin, Upload, AutoSync, AutoSyncHistory };

// The commands the operator gives a task.
enum class TaskCommand { ToggleSchedule, RunNow, DownloadAgain, Stop, Delete };

// Which of a day's lists a task keeps: the download list or the upload list.
enum class DayListKind { Download, Upload };

// The task-log lines of a run's end, each followed by the result where it has one.
struct RunEndTexts {
    const char* ended;        // a finished run that listed files
    const char* startFailed;  // a run that could not start
    const char* stopped;      // a run the operator stopped
};

struct TaskKindInfo {
    TaskKindId id;
    CatalogueTaskKind table;  // the task table, and the model that runs the kind
    int storedPlanType;       // `plantype` of its rows; 0 where the table has none
    const char* name;         // the task list's "任务类别"
    const char* word;         // vantrel-cli's name of the kind
    // Whether the operator lists and commands it; a history entry belongs to its sync.
    bool managed;
    DayListKind dayList;
    const char* runningRefusal;  // why the window does not close while one runs
    RunEndTexts runEnd;
    // A new task's form with the kind's defaults (a window of 08:00-18:00, the configured
    // `receiveDirectory` where the kind receives); null for a kind the operator does not add.
    execution::TaskForm (*newForm)(const std::string& receiveDirectory);
    // The commands offered while no run is (idle) and while one is; one bit per TaskCommand.
    unsigned idleCommands;
    unsigned runningCommands;

    bool offers(TaskCommand command, bool running) const {
        return ((running ? runningCommands : idleCommands) >> static_cast<unsigned>(command)) & 1u;
    }
};

// Every kind, in the order the task views list them (the history entry last).
std::span<const TaskKindInfo> TaskKinds();
const TaskKindInfo& TaskKindOf(TaskKindId id);
// The kind of a stored record.
const TaskKindInfo& TaskKindOf(const catalogue::DownloadTask& task);
const TaskKindInfo& TaskKindOf(const catalogue::UploadTask& task);
const TaskKindInfo& TaskKindOf(const catalogue::AutoSyncTask& task);
// The managed kind vantrel-cli calls `word`; null for any other word.
const TaskKindInfo* TaskKindNamed(std::string_view word);

// The catalogue's operations on the table of a record type.
template <class Task>
const CatalogueTable<Task>& CatalogueTableOf() {
    using catalogue::CModule;
    static constexpr CatalogueTable<Task> table{
        &CModule::Load<Task>,   &CModule::Add<Task>,  &CModule::Modify<Task>,
        &CModule::Delete<Task>, &CModule::Remove<Task>, &CModule::Put<Task>,
        &CModule::Tasks<Task>,  &CModule::Find<Task>, &CModule::UpdateRow<Task>,
        &CModule::RecordRun<Task>};
    return table;
}

}  // namespace vantrel
