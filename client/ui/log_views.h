#pragma once
// The read-only views beside the task list. GUI thread.
//  - CTaskTreeView: the tree "任务日志" with the day's list files, today's task logs and the
//    earlier ones; choosing a file names it through fileChosen().
//  - CTaskLogView: one task log, a page of its 200-byte records at a time.
//  - CFlagStatusView: the day's expected flag files, arrived ones with their time, kept
//    from the flag events (refill, clear, one flag), under a legend of the two states.

#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "client/base/events.h"
#include "client/base/installation.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantrel::ui {

class CTaskTreeView final : public QWidget {
    Q_OBJECT
  public:
    explicit CTaskTreeView(Installation installation, QWidget* parent = nullptr);
    // Reads the folders again for the day `yyyymmdd`. A task's file is named by the task's
    // description (from `descriptions`) and its date, the file name itself in the tooltip;
    // the groups opened and the file chosen stay so.
    void refresh(const std::string& yyyymmdd);
    QTreeWidget* tree() const { return tree_; }
    // True when the last refresh found the tasks still loading (the groups are empty).
    bool waitingForTasks() const { return waiting_; }
    // How the tree names `file` (its file name when the tree does not hold it).
    QString shownName(const std::filesystem::path& file) const;
    // Task id -> description, asked at every refresh; empty: files by their names. None
    // while the tasks are still loading: the groups wait empty rather than show task ids.
    std::function<std::optional<std::map<std::string, std::string>>()> descriptions;

  signals:
    void fileChosen(const std::filesystem::path& file);

  private:
    Installation installation_;
    QTreeWidget* tree_;
    bool waiting_ = false;
};

class CTaskLogView final : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPageRecords = 100;

    explicit CTaskLogView(QWidget* parent = nullptr);
    // Shows the last page of `file` (the latest records), titled `name` (empty: the file
    // name).
    void showFile(const std::filesystem::path& file, const QString& name = {});
    void showPage(std::int64_t page);
    // Reads the shown file again, on the page shown.
    void reload();
    std::int64_t page() const { return page_; }
    std::int64_t pageCount() const;
    QListWidget* lines() const { return lines_; }
    // A day's file list (".dat") is shown as its table here instead of the lines.
    QTreeWidget* table() const { return table_; }

  private:
    void showTable();

    std::filesystem::path file_;
    QString name_;
    std::int64_t page_ = 0;
    QLabel* title_;
    QListWidget* lines_;
    QTreeWidget* table_;
    QPushButton* previous_;
    QPushButton* next_;
};

class CFlagStatusView final : public QWidget {
    Q_OBJECT
  public:
    explicit CFlagStatusView(QWidget* parent = nullptr);
    // True when `event` was a flag event (and has been applied).
    bool apply(const NotifierEvent& event);
    QTreeWidget* list() const { return list_; }
    // A row's state as the legend names it.
    static bool arrived(const QTreeWidgetItem* row);

  private:
    QTreeWidget* list_;
};

}  // namespace vantrel::ui
