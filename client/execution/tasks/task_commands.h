#pragma once
// TaskCommands: the task commands of every front end (the window's task board,
// `vantrel-cli tasks`, the command inbox) in one place: add and save, enable and disable,
// delete, run now, stop, again, which of them a task's run state allows, and the rows the
// task views show.
//
// It decides in one place where an edit goes. While the scheduler's threads run in this
// process, a table edit goes to the owning model's queue, and the plan monitor carries it
// out; otherwise it goes straight to the catalogue, and a client running in another process
// is told to reload its tables.
//
// Thread: the front end's (the models and the catalogue guard themselves).

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "client/base/events.h"
#include "client/base/user_prompt.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/tasks/task_forms.h"
#include "client/execution/tasks/task_kind.h"

namespace vantrel {

class TaskScheduler;

// One task of any kind. History entries of auto-sync tasks are not tasks the operator
// manages and are never found.
using AnyTask = std::variant<catalogue::DownloadTask, catalogue::UploadTask, catalogue::AutoSyncTask>;

// A task as the task views show it: its kind, its record (the model's copy while it has
// one) and its run state.
struct TaskView {
    const TaskKindInfo* kind = &TaskKindOf(TaskKindId::Mailbox);
    catalogue::TaskPlan plan;
    std::string fileName;      // the rule, the send directory or the mailbox
    std::string scheduleText;  // ScheduleText()
    bool running = false;
    bool stopping = false;
    int done = 0;   // files delivered or sent
    int files = 0;  // files of the day's list
};

class TaskCommands {
  public:
    // In a client process. `scheduler` and `clock` must outlive the service; `operatorCode`
    // names the owner of new tasks and is asked afresh each time (known after the login).
    TaskCommands(TaskScheduler& scheduler, const platform::Clock& clock,
                 std::function<std::string()> operatorCode);
    // Without a client in this process: edits go to `catalogue`; `notifyOthers` tells a
    // client that runs elsewhere to reload, `runningElsewhere` names the tasks it runs (both
    // may be empty).
    TaskCommands(catalogue::CModule& catalogue, const platform::Clock& clock,
                 std::function<std::string()> operatorCode, std::function<void()> notifyOthers,
                 std::function<std::vector<std::string>()> runningElsewhere = {});

    std::optional<AnyTask> find(const std::string& taskId) const;
    // The stored form of a task, for editing; empty when the task is unknown.
    std::optional<execution::TaskForm> form(const std::string& taskId) const;

    // The dialogs' save of a checked form (a new task when `editedTaskId` is empty).
    execution::SaveOutcome save(const execution::TaskForm& form, const std::string& editedTaskId,
                                UserPrompt& prompt);

    // Each returns false with `error` set when the task is unknown or its kind does not offer
    // the command in its run state (TaskKindInfo::offers).
    bool remove(const std::string& taskId, std::string& error);
    bool setScheduled(const std::string& taskId, bool scheduled, std::string& error);
    // These need the scheduler (a client in this process).
    bool runNow(const std::string& taskId, std::string& error);
    bool stop(const std::string& taskId, std::string& error);
    bool again(const std::string& taskId, std::string& error);

    // Every task, downloads and bulletins first, then uploads, then auto-sync tasks.
    std::vector<TaskView> views() const;
    std::optional<TaskView> view(const std::string& taskId) const;
    // Task id -> description of every task, and of each auto-sync task's history entry
    // (whose logs are kept under the entry's own id) the description of its task.
    std::map<std::string, std::string> taskNames() const;

  private:
    bool threadsRunning() const;
    // False with `error` set when `taskId` is unknown or its state does not offer `command`.
    bool allowed(TaskCommand command, const std::string& taskId, std::string& error) const;
    catalogue::CModule& catalogue() const { return catalogue_; }
    void reloadKind(CatalogueTaskKind kind);
    template <class Action>
    bool onModel(const std::string& taskId, std::string& error, Action&& action);

    TaskScheduler* scheduler_ = nullptr;
    catalogue::CModule& catalogue_;
    const platform::Clock& clock_;
    std::function<std::string()> operatorCode_;
    std::function<void()> notifyOthers_;
    std::function<std::vector<std::string>()> runningElsewhere_;
};

// "计划[<id>]不存在或未在运行！"
std::string UnknownTaskText(const std::string& taskId);

}  // namespace vantrel
