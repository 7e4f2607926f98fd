#include "client/execution/tasks/task_commands.h"

#include <type_traits>
#include <variant>

#include "client/catalogue/catalogue_text.h"
#include "client/execution/tasks/task_scheduler.h"

namespace vantrel {

namespace {

using catalogue::AutoSyncTask;
using catalogue::DownloadTask;
using catalogue::UploadTask;
using execution::SaveOutcome;
using execution::SaveResult;

template <class Task>
std::optional<Task> findIgnoringCase(const std::vector<Task>& tasks, const std::string& taskId) {
    for (const Task& task : tasks) {
        if (catalogue::EqualsIgnoreCase(task.planid, taskId)) return task;
    }
    return std::nullopt;
}

// What the task list's "文件名" shows of each record type.
const std::string& fileNameOf(const DownloadTask& task) {
    return task.filename;
}
const std::string& fileNameOf(const UploadTask& task) {
    return task.sendpath;
}
const std::string& fileNameOf(const AutoSyncTask& task) {
    return task.mailname;
}

execution::TaskForm formOf(const DownloadTask& task) {
    return execution::DownloadFormOf(task);
}
execution::TaskForm formOf(const UploadTask& task) {
    return execution::UploadFormOf(task);
}
execution::TaskForm formOf(const AutoSyncTask& task) {
    return execution::AutoSyncFormOf(task);
}

// A form's save, and the table it writes.
SaveOutcome saveForm(const execution::DownloadForm& form, const execution::FormScope& scope,
                     const platform::Clock& clock, const std::string& operatorCode) {
    return execution::SaveDownloadTask(form, scope, clock, operatorCode);
}
SaveOutcome saveForm(const execution::UploadForm& form, const execution::FormScope& scope,
                     const platform::Clock& clock, const std::string& operatorCode) {
    return execution::SaveUploadTask(form, scope, clock, operatorCode);
}
SaveOutcome saveForm(const execution::AutoSyncForm& form, const execution::FormScope& scope,
                     const platform::Clock& clock, const std::string& operatorCode) {
    return execution::SaveAutoSyncTask(form, scope, clock, operatorCode);
}
CatalogueTaskKind tableOf(const execution::DownloadForm&) {
    return CatalogueTaskKind::Download;
}
CatalogueTaskKind tableOf(const execution::UploadForm&) {
    return CatalogueTaskKind::Upload;
}
CatalogueTaskKind tableOf(const execution::AutoSyncForm&) {
    return CatalogueTaskKind::AutoSync;
}

template <class Task, class State>
TaskView viewOf(const Task& stored, const std::optional<State>& state) {
    const Task& task = state ? state->task : stored;
    TaskView view;
    view.kind = &TaskKindOf(task);
    view.plan = task;
    view.fileName = fileNameOf(task);
    view.scheduleText = execution::ScheduleText(task);
    if (state) {
        view.running = state->running;
        view.stopping = state->stopping;
        view.done = state->done;
        view.files = state->files;
    }
    return view;
}

const std::string& idOf(const AnyTask& task) {
    return std::visit([](const auto& t) -> const std::string& { return t.planid; }, task);
}

}  // namespace

std::string UnknownTaskText(const std::string& taskId) {
    return "计划[" + taskId + "]不存在或未在运行！";
}

TaskCommands::TaskCommands(TaskScheduler& scheduler, const platform::Clock& clock,
                           std::function<std::string()> operatorCode)
    : scheduler_(&scheduler),
      catalogue_(scheduler.catalogue()),
      clock_(clock),
      operatorCode_(std::move(operatorCode)) {}

TaskCommands::TaskCommands(catalogue::CModule& catalogue, const platform::Clock& clock,
                           std::function<std::string()> operatorCode,
                           std::function<void()> notifyOthers,
                           std::function<std::vector<std::string>()> runningElsewhere)
    : catalogue_(catalogue),
      clock_(clock),
      operatorCode_(std::move(operatorCode)),
      notifyOthers_(std::move(notifyOthers)),
      runningElsewhere_(std::move(runningElsewhere)) {}

bool TaskCommands::threadsRunning() const {
    return scheduler_ && scheduler_->started();
}

bool TaskCommands::allowed(TaskCommand command, const std::string& taskId,
                           std::string& error) const {
    const std::optional<TaskView> found = view(taskId);
    if (found && found->kind->offers(command, found->running)) return true;
    error = UnknownTaskText(taskId);
    return false;
}

std::optional<AnyTask> TaskCommands::find(const std::string& taskId) const {
    if (auto t = findIgnoringCase(catalogue().Tasks<catalogue::DownloadTask>(), taskId)) return AnyTask(*t);
    if (auto t = findIgnoringCase(catalogue().Tasks<catalogue::UploadTask>(), taskId)) return AnyTask(*t);
    if (auto t = findIgnoringCase(catalogue().Tasks<catalogue::AutoSyncTask>(), taskId);
        t && TaskKindOf(*t).managed)
        return AnyTask(*t);
    return std::nullopt;
}

std::optional<execution::TaskForm> TaskCommands::form(const std::string& taskId) const {
    const std::optional<AnyTask> found = find(taskId);
    if (!found) return std::nullopt;
    return std::visit([](const auto& task) { return formOf(task); }, *found);
}

// The owning model takes the stored tables afresh: at once when its threads run here, else
// at its next start; a client elsewhere is told to do the same.
void TaskCommands::reloadKind(CatalogueTaskKind kind) {
    if (threadsRunning()) {
        scheduler_->model(kind).queueLoad();
        return;
    }
    if (notifyOthers_) notifyOthers_();
}

SaveOutcome TaskCommands::save(const execution::TaskForm& form, const std::string& editedTaskId,
                               UserPrompt& prompt) {
    const execution::FormScope scope{&catalogue_, &prompt, editedTaskId};
    return std::visit(
        [&](const auto& typed) {
            SaveOutcome outcome = saveForm(typed, scope, clock_, operatorCode_());
            if (outcome.result == SaveResult::Saved) reloadKind(tableOf(typed));
            return outcome;
        },
        form);
}

bool TaskCommands::remove(const std::string& taskId, std::string& error) {
    if (!allowed(TaskCommand::Delete, taskId, error)) return false;
    const std::optional<AnyTask> found = find(taskId);
    if (!found) {
        error = UnknownTaskText(taskId);
        return false;
    }
    if (threadsRunning()) {
        // The plan monitor deletes the row; a run of the task stops and the task leaves.
        std::visit([&](const auto& task) {
            scheduler_->modelOf(task).queueCommand(TableCommand::Delete, task);
        }, *found);
        return true;
    }
    std::string message;
    const int deleted = std::visit(
        [&](const auto& task) {
            const auto& table = CatalogueTableOf<std::decay_t<decltype(task)>>();
            const int done = (catalogue_.*table.remove)(task, message);
            if (done == 1) (catalogue_.*table.forget)(task.planid);
            return done;
        },
        *found);
    if (deleted != 1) {
        error = message.empty() ? UnknownTaskText(taskId) : message;
        return false;
    }
    if (notifyOthers_) notifyOthers_();
    return true;
}

template <class Action>
bool TaskCommands::onModel(const std::string& taskId, std::string& error, Action&& action) {
    const std::optional<AnyTask> found = find(taskId);
    int done = 0;
    if (found && scheduler_) {
        done = std::visit(
            [&](const auto& task) { return action(scheduler_->modelOf(task), idOf(*found)); },
            *found);
    }
    if (done != 1) error = UnknownTaskText(taskId);
    return done == 1;
}

bool TaskCommands::setScheduled(const std::string& taskId, bool scheduled, std::string& error) {
    if (!allowed(TaskCommand::ToggleSchedule, taskId, error)) return false;
    const std::optional<AnyTask> found = find(taskId);
    if (!found) {
        error = UnknownTaskText(taskId);
        return false;
    }
    if (threadsRunning()) {
        return onModel(taskId, error,
                       [scheduled](auto& model, const std::string& id) {
                           return model.setScheduled(id, scheduled);
                       });
    }
    const int state = scheduled ? 1 : 0;
    const int updated = std::visit(
        [&](auto task) {
            const auto& table = CatalogueTableOf<decltype(task)>();
            task.planstate = state;
            const int done = (catalogue_.*table.updateRow)(task.planid, "", "", "", state);
            if (done == 1) (catalogue_.*table.put)(task);
            return done;
        },
        *found);
    if (updated != 1) {
        error = "the task table could not be updated (see the system log)";
        return false;
    }
    if (notifyOthers_) notifyOthers_();
    return true;
}

bool TaskCommands::runNow(const std::string& taskId, std::string& error) {
    if (!allowed(TaskCommand::RunNow, taskId, error)) return false;
    return onModel(taskId, error,
                   [](auto& model, const std::string& id) { return model.startNow(id); });
}

bool TaskCommands::stop(const std::string& taskId, std::string& error) {
    if (!allowed(TaskCommand::Stop, taskId, error)) return false;
    return onModel(taskId, error,
                   [](auto& model, const std::string& id) { return model.stop(id); });
}

bool TaskCommands::again(const std::string& taskId, std::string& error) {
    if (!allowed(TaskCommand::DownloadAgain, taskId, error)) return false;
    return onModel(taskId, error,
                   [](auto& model, const std::string& id) { return model.again(id); });
}

std::vector<TaskView> TaskCommands::views() const {
    std::vector<TaskView> views;
    // The models' copies carry the run state; a task they have not loaded yet shows its
    // catalogue record.
    const auto add = [&](const auto& stored) {
        for (const auto& task : stored) {
            if (!TaskKindOf(task).managed) continue;
            const auto state = scheduler_ ? scheduler_->modelOf(task).find(task.planid)
                                          : std::nullopt;
            views.push_back(viewOf(task, state));
        }
    };
    add(catalogue().Tasks<catalogue::DownloadTask>());
    add(catalogue().Tasks<catalogue::UploadTask>());
    add(catalogue().Tasks<catalogue::AutoSyncTask>());
    // Without threads here, a client in another process may run some of them.
    if (!scheduler_ && runningElsewhere_) {
        for (const std::string& id : runningElsewhere_()) {
            for (TaskView& view : views) {
                if (catalogue::EqualsIgnoreCase(id, view.plan.planid)) view.running = true;
            }
        }
    }
    return views;
}

std::map<std::string, std::string> TaskCommands::taskNames() const {
    std::map<std::string, std::string> names;
    for (const TaskView& v : views()) names[v.plan.planid] = v.plan.plandes;
    // A history entry is a copy of its task's record under an id of its own.
    for (const AutoSyncTask& stored : catalogue().Tasks<catalogue::AutoSyncTask>()) {
        if (!TaskKindOf(stored).managed) names[stored.planid] = stored.plandes;
    }
    return names;
}

std::optional<TaskView> TaskCommands::view(const std::string& taskId) const {
    for (TaskView& v : views()) {
        if (catalogue::EqualsIgnoreCase(v.plan.planid, taskId)) return std::move(v);
    }
    return std::nullopt;
}

}  // namespace vantrel
