#include "client/ui/task_view.h"

#include <QHeaderView>
#include <QMenu>
#include <QSplitter>
#include <QTreeWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "client/ui/main_frame.h"
#include "client/ui/qt_text.h"
#include "client/ui/task_file_rows.h"

namespace vantrel::ui {

namespace {

// The widest a task column grows by itself.
constexpr int kTaskColumnMaxWidth = 360;

std::optional<TaskCommand> commandOf(int commandId) {
    switch (commandId) {
        case kCmdTaskSchedule:
            return TaskCommand::ToggleSchedule;
        case kCmdTaskRunNow:
            return TaskCommand::RunNow;
        case kCmdTaskDownloadAgain:
            return TaskCommand::DownloadAgain;
        case kCmdTaskStop:
            return TaskCommand::Stop;
        case kCmdTaskDelete:
            return TaskCommand::Delete;
        default:
            return std::nullopt;
    }
}

}  // namespace

CTaskView::CTaskView(TaskBoard& board, UserPrompt& prompt, QMenu* menu, QWidget* parent)
    : QWidget(parent),
      board_(board),
      prompt_(prompt),
      menu_(menu),
      table_(new QTableWidget(0, kTaskColumnCount, this)),
      files_(new QTreeWidget(this)),
      soon_(new QTimer(this)),
      filePoll_(new QTimer(this)) {
    QStringList titles;
    for (const TaskColumnTitle& column : kTaskColumns) titles << qs(column.title);
    table_->setHorizontalHeaderLabels(titles);
    for (int c = 0; c < kTaskColumnCount; ++c) table_->setColumnWidth(c, kTaskColumns[c].width);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setShowGrid(true);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->setSortingEnabled(false);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table_, &QTableWidget::customContextMenuRequested, this, &CTaskView::showMenu);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &CTaskView::updateMenu);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &CTaskView::refreshFiles);
    files_->setRootIsDecorated(false);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(table_);
    split->addWidget(files_);
    split->setSizes({380, 200});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    soon_->setSingleShot(true);
    soon_->setInterval(0);
    connect(soon_, &QTimer::timeout, this, &CTaskView::refresh);
    filePoll_->setInterval(kFilePollMs);
    connect(filePoll_, &QTimer::timeout, this, &CTaskView::refreshFiles);
    refresh();
}

bool CTaskView::concernsTasks(const NotifierEvent& event) {
    return std::holds_alternative<TaskRecordChanged>(event) ||
           std::holds_alternative<TaskRunRecorded>(event) ||
           std::holds_alternative<TaskRunStateChanged>(event) ||
           std::holds_alternative<TaskNextRunChanged>(event) ||
           std::holds_alternative<UploadTasksReloading>(event) ||
           std::holds_alternative<ThreadsStarted>(event);
}

void CTaskView::setKinds(std::set<TaskKindId> kinds) {
    kinds_ = std::move(kinds);
    refresh();
}

void CTaskView::refreshSoon() {
    if (!soon_->isActive()) soon_->start();
}

void CTaskView::refresh() {
    const std::optional<TaskRow> selected = selectedTask();
    shown_.clear();
    for (TaskRow& row : board_.rows()) {
        if (kinds_.empty() || kinds_.count(row.kind->id)) shown_.push_back(std::move(row));
    }
    table_->setRowCount(static_cast<int>(shown_.size()));
    for (int r = 0; r < static_cast<int>(shown_.size()); ++r) {
        for (int c = 0; c < kTaskColumnCount; ++c) {
            QTableWidgetItem* item = table_->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                table_->setItem(r, c, item);
            }
            item->setText(qs(shown_[r].texts[c]));
        }
    }
    // A column grows to show its longest text (up to a limit); it never shrinks, so the
    // operator's own widening stays.
    for (int c = 0; c < kTaskColumnCount; ++c) {
        const int shown = table_->columnWidth(c);
        table_->resizeColumnToContents(c);
        table_->setColumnWidth(c,
                               std::max(shown, std::min(table_->columnWidth(c), kTaskColumnMaxWidth)));
    }
    if (selected) selectTask(selected->id());
    updateMenu();
    refreshFiles();
}

void CTaskView::refreshFiles() {
    const std::optional<TaskRow> row = selectedTask();
    // The run state is the row's as last read; the events of its start and end read it.
    if (row && row->running) {
        if (!filePoll_->isActive()) filePoll_->start();
    } else {
        filePoll_->stop();
    }
    // Before a row is chosen, a view of upload tasks only shows the upload list's columns.
    const auto uploadList = [](TaskKindId id) {
        return TaskKindOf(id).dayList == DayListKind::Upload;
    };
    const bool uploads = row ? uploadList(row->kind->id)
                             : !kinds_.empty() && std::all_of(kinds_.begin(), kinds_.end(), uploadList);
    const FileListKind kind = uploads ? FileListKind::Upload : FileListKind::Download;
    QStringList titles;
    for (const std::string& title : fileListTitles(kind)) titles << qs(title);
    const std::string taskId = row ? row->id() : std::string();
    if (taskId != filesTaskId_ || files_->columnCount() != titles.size() ||
        files_->headerItem()->text(2) != titles[2]) {
        filesTaskId_ = taskId;
        // Fewer titles than before would leave the old columns standing.
        files_->clear();
        files_->setColumnCount(titles.size());
        files_->setHeaderLabels(titles);
    }
    const auto rows = row ? readFileListRows(board_.listFile(row->id()), kind)
                          : std::vector<std::vector<std::string>>();
    // Rows are rewritten in place, so a list read again every second keeps the operator's
    // selection and scroll position.
    while (files_->topLevelItemCount() > static_cast<int>(rows.size()))
        delete files_->takeTopLevelItem(files_->topLevelItemCount() - 1);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        QTreeWidgetItem* item =
            r < files_->topLevelItemCount() ? files_->topLevelItem(r) : new QTreeWidgetItem(files_);
        for (int c = 0; c < static_cast<int>(rows[r].size()); ++c) {
            const QString text = qs(rows[r][c]);
            if (item->text(c) != text) item->setText(c, text);
        }
    }
}

std::optional<TaskRow> CTaskView::selectedTask() const {
    const auto rows = table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return std::nullopt;
    const int r = rows.front().row();
    if (r < 0 || r >= static_cast<int>(shown_.size())) return std::nullopt;
    return shown_[r];
}

bool CTaskView::selectTask(const std::string& taskId) {
    for (int r = 0; r < static_cast<int>(shown_.size()); ++r) {
        if (shown_[r].id() == taskId) {
            table_->selectRow(r);
            return true;
        }
    }
    table_->clearSelection();
    return false;
}

std::optional<TaskRow> CTaskView::shownTask(const std::string& taskId) const {
    for (const TaskRow& row : shown_) {
        if (row.id() == taskId) return row;
    }
    return std::nullopt;
}

void CTaskView::updateMenu() {
    if (!menu_) return;
    const std::optional<TaskRow> row = selectedTask();
    for (QAction* action : menu_->actions()) {
        const int id = action->data().toInt();
        if (id == kCmdTaskNew) {
            action->setEnabled(true);
        } else if (id == kCmdTaskProperties) {
            action->setEnabled(row && !row->running);
        } else if (const auto command = commandOf(id)) {
            action->setEnabled(row && row->kind->offers(*command, row->running));
        }
        if (id == kCmdTaskSchedule) {
            action->setCheckable(true);
            action->setChecked(row && row->scheduled);
        }
    }
}

void CTaskView::showMenu(const QPoint& at) {
    if (!menu_) return;
    updateMenu();
    if (QAction* chosen = menu_->exec(table_->viewport()->mapToGlobal(at)))
        runMenuCommand(chosen->data().toInt());
}

void CTaskView::runMenuCommand(int commandId) {
    if (commandId == kCmdTaskNew || commandId == kCmdTaskProperties) {
        emit dialogRequested(commandId);
        return;
    }
    const std::optional<TaskCommand> command = commandOf(commandId);
    const std::optional<TaskRow> row = selectedTask();
    if (!command || !row) return;
    if (*command == TaskCommand::Delete &&
        !prompt_.askYesNo(kAppCaption, "确实要删除任务[" + row->texts[kColDescription] + "]吗？",
                          UserPrompt::Icon::Question)) {
        return;
    }
    std::string error;
    if (!board_.command(*command, row->id(), error)) {
        prompt_.show(kAppCaption, error, UserPrompt::Icon::Warning);
        return;
    }
    // The models report the change; the list also reads it at once for the commands that
    // take effect without a report (a schedule toggle of a stopped upload task).
    refreshSoon();
}

}  // namespace vantrel::ui
