#pragma once
// CMsgFormView: the real-time report view. The report files of the day with their
// publication state (filled from the service's snapshot, then line by line from
// RealtimeReportChanged) above CMsgLogView, the real-time log lines as the service writes
// them. Copies only: nothing here points into the service. GUI thread.
//
// CMsgHandRev: the manual receive dialog. Queries the reports of a range of days and fetches
// the chosen ones into a directory of their own; the network work runs off the GUI thread
// and the dialog cannot be closed meanwhile.

#include <QDialog>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "client/base/events.h"
#include "client/base/user_prompt.h"
#include "client/ui/background_job.h"
#include "client/ui/ports.h"

class QDateEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace vantrel::ui {

// The real-time log lines kept in the view.
inline constexpr int kRealtimeLogLines = 500;

class CMsgFormView final : public QWidget {
    Q_OBJECT
  public:
    // `directory` gives the folder the double-click opens; may be empty.
    explicit CMsgFormView(std::function<std::filesystem::path()> directory = {},
                          QWidget* parent = nullptr);
    // Opens the folder a double click names (and tells of a failure); empty: nothing.
    std::function<void(const std::filesystem::path&)> openFolder;

    // Shows the snapshot's lines instead of the current ones.
    void reload(const RealtimeSnapshot& snapshot);
    // True when `event` was a report line or a real-time log record (and has been applied).
    bool apply(const NotifierEvent& event);

    QLabel* title() const { return title_; }
    QTreeWidget* list() const { return list_; }
    QListWidget* log() const { return log_; }

  private:
    void showRecord(const RealtimeReportRecord& record);
    void updateTitle();

    std::function<std::filesystem::path()> directory_;
    QLabel* title_;
    QTreeWidget* list_;
    QListWidget* log_;  // CMsgLogView
};

class CMsgHandRev final : public QDialog {
    Q_OBJECT
  public:
    // `receive` and `prompt` must outlive the dialog.
    CMsgHandRev(RealtimeReceive& receive, UserPrompt& prompt, QWidget* parent = nullptr);

    void setRange(const std::string& from, const std::string& to);  // "YYYYMMDD"
    // Starts the query of the chosen days; false when refused at once (told in a box).
    bool query();
    // Starts the fetch of the checked files; false when refused at once (told in a box).
    bool download();
    void checkAll(bool checked);
    bool busy() const { return job_.busy(); }

    QTreeWidget* list() const { return list_; }
    QLineEdit* directory() const { return directory_; }
    QLabel* state() const { return state_; }

  public slots:
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void setBusy(bool busy, const QString& text);
    bool refuseWhileBusy();
    void showListed();

    RealtimeReceive& receive_;
    UserPrompt& prompt_;
    QDateEdit* from_;
    QDateEdit* to_;
    QLineEdit* directory_;
    QPushButton* browse_;
    QPushButton* queryButton_;
    QPushButton* downloadButton_;
    QPushButton* closeButton_;
    QTreeWidget* list_;
    QLabel* state_;
    std::vector<ManualReport> listed_;
    BackgroundJob job_;  // last: joined before the members above go
};

}  // namespace vantrel::ui
