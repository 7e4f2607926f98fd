#pragma once
// CTaskView: the task list, one row per task in the twelve columns of the task board, with
// full-row selection and grid lines. It only shows copies the board returns and hands the
// task menu's commands to the board; it refreshes when the core reports a change of a task
// (refreshSoon() coalesces a burst of events into one read). GUI thread.

#include <QWidget>
#include <optional>
#include <set>
#include <string>

#include "client/base/events.h"
#include "client/base/user_prompt.h"
#include "client/ui/task_board.h"

class QMenu;
class QTableWidget;
class QTreeWidget;
class QTimer;

namespace vantrel::ui {

class CTaskView final : public QWidget {
    Q_OBJECT
  public:
    // `board` and `prompt` must outlive the view. `menu` is the frame's task menu, whose
    // actions carry the command ids as data.
    CTaskView(TaskBoard& board, UserPrompt& prompt, QMenu* menu, QWidget* parent = nullptr);

    // Shows only the tasks of `kinds` (all when empty).
    void setKinds(std::set<TaskKindId> kinds);
    // Reads the board again now, keeping the selected task selected.
    void refresh();
    // Reads the board once the current burst of events has been handled.
    void refreshSoon();
    // True when `event` is a change of a task the list shows.
    static bool concernsTasks(const NotifierEvent& event);

    // The selected task, if any.
    std::optional<TaskRow> selectedTask() const;
    bool selectTask(const std::string& taskId);
    // The row of `taskId` as shown, if listed.
    std::optional<TaskRow> shownTask(const std::string& taskId) const;

    // A task-menu command on the selected task. kCmdTaskNew and kCmdTaskProperties are the
    // frame's (they open dialogs) and are passed on through the signal.
    void runMenuCommand(int commandId);
    // Enables the menu's actions for the selected task.
    void updateMenu();
    QTableWidget* table() const { return table_; }
    // The selected task's file list of today, under the task list.
    QTreeWidget* fileList() const { return files_; }
    // Reads the selected task's file list again. While that task runs, the list is read
    // again every kFilePollMs: its run writes each file's row as the file is listed, fetched
    // (the received size, once a second) and delivered.
    void refreshFiles();
    static constexpr int kFilePollMs = 1000;

  signals:
    void dialogRequested(int commandId);

  private:
    void showMenu(const QPoint& at);

    TaskBoard& board_;
    UserPrompt& prompt_;
    QMenu* menu_;
    QTableWidget* table_;
    QTreeWidget* files_;
    QTimer* soon_;
    QTimer* filePoll_;
    std::string filesTaskId_;  // whose list files_ shows
    std::set<TaskKindId> kinds_;
    std::vector<TaskRow> shown_;
};

}  // namespace vantrel::ui
