#pragma once
// The task list's seam to the scheduled work: the rows of the core's task views in the task
// list's columns, and the task menu's commands handed to the core's task commands.
// Toolkit-free; the views only show what it returns.
//
// Thread: GUI thread (the models and the catalogue guard themselves).

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "client/base/events.h"
#include "client/base/installation.h"
#include "client/base/user_prompt.h"
#include "client/execution/tasks/task_commands.h"
#include "client/execution/tasks/task_forms.h"

namespace vantrel::ui {

// The task list's twelve columns, in order.
enum TaskColumn {
    kColDescription,
    kColKind,
    kColFileName,
    kColFilesDone,
    kColFilesTotal,
    kColSchedule,
    kColNextRun,
    kColLastRun,
    kColLastResult,
    kColLastError,
    kColState,
    kColTaskId,
    kTaskColumnCount
};

struct TaskColumnTitle {
    const char* title;
    int width;  // pixels
};
inline constexpr TaskColumnTitle kTaskColumns[kTaskColumnCount] = {
    {"任务描述", 80},     {"任务类别", 100}, {"文件名", 80},       {"文件成功数量", 100},
    {"文件总数量", 80},   {"计划", 150},     {"下次运行时间", 130}, {"上次运行时间", 130},
    {"上次结果", 80},     {"错误描述", 80},  {"任务状态", 80},     {"任务ID", 150}};

struct TaskRow {
    const TaskKindInfo* kind = &TaskKindOf(TaskKindId::Mailbox);
    std::array<std::string, kTaskColumnCount> texts;
    bool running = false;
    bool scheduled = false;
    const std::string& id() const { return texts[kColTaskId]; }
};

class TaskBoard {
  public:
    virtual ~TaskBoard() = default;
    // Every task, downloads and bulletins first, then uploads, then auto-sync tasks.
    virtual std::vector<TaskRow> rows() = 0;
    // Today's file list of `taskId` (it may not exist yet).
    virtual std::filesystem::path listFile(const std::string& taskId) = 0;
    // Hands `command` for `taskId` to the scheduled work; false with `error` when it was
    // refused (unknown task, not offered in its state: the menu greys what
    // `row.kind->offers(command, row.running)` refuses).
    virtual bool command(TaskCommand command, const std::string& taskId, std::string& error) = 0;
    // Task id -> description, for naming the tasks' files (history entries included).
    virtual std::map<std::string, std::string> taskNames();
    // False while the tasks are still to be loaded (before and while the threads load the
    // tables): their names are not known yet.
    virtual bool tasksLoaded() { return true; }

    // The task dialogs: the stored form of a task, and the save of a checked form (a new task
    // when `editedTaskId` is empty). `prompt` asks the directory-in-use questions.
    virtual std::optional<execution::TaskForm> form(const std::string& taskId) = 0;
    virtual execution::SaveOutcome save(const execution::TaskForm& form,
                                        const std::string& editedTaskId, UserPrompt& prompt) = 0;
};

// The board over the client's TaskScheduler.
class SchedulerTaskBoard final : public TaskBoard {
  public:
    // `scheduler` and `clock` must outlive the board; `operatorCode` names the owner of new
    // tasks and is asked afresh each time (it is known only after the login).
    SchedulerTaskBoard(TaskScheduler& scheduler, const Installation& installation,
                       const platform::Clock& clock, std::function<std::string()> operatorCode)
        : scheduler_(scheduler),
          commands_(scheduler, clock, std::move(operatorCode)),
          installation_(installation),
          clock_(clock) {}

    std::vector<TaskRow> rows() override;
    std::filesystem::path listFile(const std::string& taskId) override;
    bool command(TaskCommand command, const std::string& taskId, std::string& error) override;
    std::map<std::string, std::string> taskNames() override { return commands_.taskNames(); }
    bool tasksLoaded() override;
    std::optional<execution::TaskForm> form(const std::string& taskId) override {
        return commands_.form(taskId);
    }
    execution::SaveOutcome save(const execution::TaskForm& form, const std::string& editedTaskId,
                                UserPrompt& prompt) override {
        return commands_.save(form, editedTaskId, prompt);
    }

  private:
    TaskScheduler& scheduler_;
    TaskCommands commands_;
    const Installation installation_;
    const platform::Clock& clock_;
};

}  // namespace vantrel::ui
