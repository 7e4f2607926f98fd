#include "client/execution/tasks/task_commands.h"

#include <type_traits>

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

template <class Task, class State>
TaskView viewOf(CatalogueTaskKind kind, const Task& stored, const std::optional<State>& state,
                std::string fileName) {
    const Task& task = state ? state->task : stored;
    TaskView view;
    view.kind = kind;
    view.plan = task;
    view.fileName = std::move(fileName);
    view.scheduleText = execution::ScheduleText(task);
    if (state) {
        view.running = state->running;
        view.stopping = state->stopping;
        view.done = state->done;
        view.files = state->files;
    }
    return view;
}

CatalogueTaskKind kindOf(const AnyTask& task) {
    if (std::holds_alternative<DownloadTask>(task)) return CatalogueTaskKind::Download;
    if (std::holds_alternative<UploadTask>(task)) return CatalogueTaskKind::Upload;
    return CatalogueTaskKind::AutoSync;
}

}  // namespace

std::string UnknownTaskText(const std::string& taskId) {
    return "计划[" + taskId + "]不存在或未在运行！";
}

bool TaskCommandAllowed(TaskCommand command, CatalogueTaskKind kind, bool running) {
    switch (command) {
        case TaskCommand::ToggleSchedule:
            return true;
        case TaskCommand::RunNow:
            return !running;
        case TaskCommand::DownloadAgain:
            // An upload has nothing to fetch again; a run is stopped before it starts afresh.
            return kind != CatalogueTaskKind::Upload && !running;
        case TaskCommand::Stop:
            return running;
        case TaskCommand::Delete:
            return !running;
    }
    return false;
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
    if (found && TaskCommandAllowed(command, found->kind, found->running)) return true;
    error = UnknownTaskText(taskId);
    return false;
}

std::optional<AnyTask> TaskCommands::find(const std::string& taskId) const {
    if (auto t = findIgnoringCase(catalogue().DownloadTasks(), taskId)) return AnyTask(*t);
    if (auto t = findIgnoringCase(catalogue().UploadTasks(), taskId)) return AnyTask(*t);
    if (auto t = findIgnoringCase(catalogue().AutoSyncTasks(), taskId); t && t->plantype != 2)
        return AnyTask(*t);
    return std::nullopt;
}

// The owning model takes the stored tables afresh: at once when its threads run here, else
// at its next start; a client elsewhere is told to do the same.
void TaskCommands::reloadKind(CatalogueTaskKind kind) {
    if (threadsRunning()) {
        switch (kind) {
            case CatalogueTaskKind::Download:
                scheduler_->downloads().queueLoad();
                break;
            case CatalogueTaskKind::Upload:
                scheduler_->uploads().queueLoad();
                break;
            case CatalogueTaskKind::AutoSync:
                scheduler_->autoSyncs().queueLoad();
                break;
        }
        return;
    }
    if (notifyOthers_) notifyOthers_();
}

SaveOutcome TaskCommands::save(const execution::DownloadForm& form, const std::string& editedTaskId,
                               UserPrompt& prompt) {
    const execution::FormScope scope{&catalogue_, &prompt, editedTaskId};
    SaveOutcome outcome = execution::SaveDownloadTask(form, scope, clock_, operatorCode_());
    if (outcome.result == SaveResult::Saved) reloadKind(CatalogueTaskKind::Download);
    return outcome;
}

SaveOutcome TaskCommands::save(const execution::UploadForm& form, const std::string& editedTaskId,
                               UserPrompt& prompt) {
    const execution::FormScope scope{&catalogue_, &prompt, editedTaskId};
    SaveOutcome outcome = execution::SaveUploadTask(form, scope, clock_, operatorCode_());
    if (outcome.result == SaveResult::Saved) reloadKind(CatalogueTaskKind::Upload);
    return outcome;
}

SaveOutcome TaskCommands::save(const execution::AutoSyncForm& form,
                               const std::string& editedTaskId, UserPrompt& prompt) {
    const execution::FormScope scope{&catalogue_, &prompt, editedTaskId};
    SaveOutcome outcome = execution::SaveAutoSyncTask(form, scope, clock_, operatorCode_());
    if (outcome.result == SaveResult::Saved) reloadKind(CatalogueTaskKind::AutoSync);
    return outcome;
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
        if (const auto* t = std::get_if<DownloadTask>(&*found)) {
            scheduler_->downloads().queueCommand(TableCommand::Delete, *t);
        } else if (const auto* t = std::get_if<UploadTask>(&*found)) {
            scheduler_->uploads().queueCommand(TableCommand::Delete, *t);
        } else {
            scheduler_->autoSyncs().queueCommand(TableCommand::Delete, std::get<AutoSyncTask>(*found));
        }
        return true;
    }
    std::string message;
    int deleted = 0;
    if (const auto* t = std::get_if<DownloadTask>(&*found)) {
        deleted = catalogue_.DeleteDownloadTask(*t, message);
        if (deleted == 1) catalogue_.RemoveDownloadTask(t->planid);
    } else if (const auto* t = std::get_if<UploadTask>(&*found)) {
        deleted = catalogue_.DeleteUploadTask(*t, message);
        if (deleted == 1) catalogue_.RemoveUploadTask(t->planid);
    } else {
        const AutoSyncTask& a = std::get<AutoSyncTask>(*found);
        deleted = catalogue_.DeleteAutoSyncTask(a, message);
        if (deleted == 1) catalogue_.RemoveAutoSyncTask(a.planid);
    }
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
        const std::string id = std::visit([](const auto& t) { return t.planid; }, *found);
        switch (kindOf(*found)) {
            case CatalogueTaskKind::Download:
                done = action(scheduler_->downloads(), id);
                break;
            case CatalogueTaskKind::Upload:
                done = action(scheduler_->uploads(), id);
                break;
            case CatalogueTaskKind::AutoSync:
                done = action(scheduler_->autoSyncs(), id);
                break;
        }
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
    int updated = 0;
    std::visit(
        [&](auto task) {
            using Task = decltype(task);
            task.planstate = state;
            if constexpr (std::is_same_v<Task, DownloadTask>) {
                updated = catalogue_.UpdateDownloadRow(task.planid, "", "", "", state);
                if (updated == 1) catalogue_.PutDownloadTask(task);
            } else if constexpr (std::is_same_v<Task, UploadTask>) {
                updated = catalogue_.UpdateUploadRow(task.planid, "", "", "", state);
                if (updated == 1) catalogue_.PutUploadTask(task);
            } else {
                updated = catalogue_.UpdateAutoSyncRow(task.planid, "", "", "", state);
                if (updated == 1) catalogue_.PutAutoSyncTask(task);
            }
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
    for (const DownloadTask& stored : catalogue().DownloadTasks()) {
        const auto state = scheduler_ ? scheduler_->downloads().find(stored.planid) : std::nullopt;
        TaskView view = viewOf(CatalogueTaskKind::Download, stored, state,
                               state ? state->task.filename : stored.filename);
        view.bulletin = (state ? state->task : stored).plantype == 2;
        views.push_back(std::move(view));
    }
    for (const UploadTask& stored : catalogue().UploadTasks()) {
        const auto state = scheduler_ ? scheduler_->uploads().find(stored.planid) : std::nullopt;
        views.push_back(viewOf(CatalogueTaskKind::Upload, stored, state,
                               state ? state->task.sendpath : stored.sendpath));
    }
    for (const AutoSyncTask& stored : catalogue().AutoSyncTasks()) {
        if (stored.plantype == 2) continue;  // the history entries of a sync
        const auto state = scheduler_ ? scheduler_->autoSyncs().find(stored.planid) : std::nullopt;
        views.push_back(viewOf(CatalogueTaskKind::AutoSync, stored, state, stored.mailname));
    }
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
    for (const AutoSyncTask& stored : catalogue().AutoSyncTasks()) {
        if (stored.plantype == 2) names[stored.planid] = stored.plandes;
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
