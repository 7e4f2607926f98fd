#pragma once
// CMainFrame: the client's only top-level window. A ribbon-style tabbed command bar whose
// mailbox and bulletin categories follow the operator's permissions, the mailbox browser in
// the work area (with room for the task tree and the task, log, flag and real-time views),
// the status bar with its 1-second clock, the tray icon, the disk-space check and the
// close questions. Everything here runs on the GUI thread.

#include <QLabel>
#include <QMainWindow>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "client/base/events.h"
#include "client/base/installation.h"
#include "client/base/user_prompt.h"
#include "client/execution/housekeeping/day_clock.h"
#include "platform/clock.h"
#include "client/ui/ports.h"
#include "client/ui/task_board.h"

class QMenu;
class QStackedWidget;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
class QToolButton;
class QWidget;

namespace vantrel::ui {

class CMailFormView;
class CMsgFormView;
class CBulletinView;
class CFlagStatusView;
class CTaskLogView;
class CTaskTreeView;
class CTaskView;
class ProgressPopup;
class QtNotifier;

// Command ids of the menus.
enum FrameCommand {
    kCmdTrayShow = 32793,
    kCmdTrayExit = 32794,
    kCmdBulletinOpen = 32825,
    kCmdBulletinSaveAs = 32826,
    kCmdTaskSchedule = 32835,
    kCmdTaskRunNow = 32837,
    kCmdTaskDownloadAgain = 32861,
    kCmdTaskStop = 32836,
    kCmdTaskProperties = 32838,
    kCmdTaskNew = 32857,
    kCmdTaskDelete = 32839,
};

// Periods of the window's timers.
inline constexpr int kClockTimerMs = 1000;
inline constexpr int kDiskSpaceTimerMs = 60000;

class CMainFrame final : public QMainWindow {
    Q_OBJECT
  public:
    struct Services : MailboxPorts {
        QtNotifier* notifier = nullptr;
        TaskActivity* tasks = nullptr;
        // The scheduled tasks of the task list; null: no task list (nothing scheduled runs).
        TaskBoard* board = nullptr;
        // The disk-space check: true when enough, else `message` explains.
        std::function<bool(int minimumMegabytes, std::string& message)> diskSpaceEnough;
        // The user manual, "<bin>/vorn.pdf".
        std::filesystem::path manual;
        // Opens the manual or a folder with the desktop's program (worker thread): empty
        // on success, else the reason. Empty: xdg-open.
        std::function<std::string(const std::filesystem::path&)> openFile;
        // The folders the task log tree reads; none: no task log tree.
        std::optional<Installation> installation;
        // The clock of the status bar; null: the machine's.
        const platform::Clock* clock = nullptr;
        // The day the core works in (the task list's day until the next DayBegan); null:
        // the day by the status bar's clock.
        const DayClock* days = nullptr;
        // The nightly configuration-file update (02:00) and version check (03:00), run when
        // the core says one is due (NightlyCheckDue). Empty: not in this build.
        std::function<void()> configUpdate;
        std::function<void()> versionCheck;
        // The real-time report service and its manual receive; null: no real-time view.
        RealtimeReports* realtime = nullptr;
        RealtimeReceive* realtimeReceive = nullptr;
    };

    explicit CMainFrame(const Services& services, QWidget* parent = nullptr);
    ~CMainFrame() override;

    const Services& services() const { return services_; }
    ProgressPopup* progress() const { return progress_; }
    CMailFormView* mailView() const { return mailView_; }
    CTaskView* taskView() const { return taskView_; }
    CTaskTreeView* taskTree() const { return taskTree_; }
    CTaskLogView* logView() const { return logView_; }
    CBulletinView* bulletinView() const { return bulletinView_; }
    CFlagStatusView* flagView() const { return flagView_; }
    CMsgFormView* realtimeView() const { return realtimeView_; }
    // The real-time category's on/off switch; null without a service.
    QToolButton* realtimeSwitch() const { return realtimeSwitch_; }
    // Brings the real-time report view to the front.
    void showRealtime();
    // The operator's switch of the real-time report service.
    void toggleRealtime();
    // The manual receive dialog, modal.
    void showManualReceive();
    // The client ends on its own (the updater takes over): no questions, no tray.
    void closeOnItsOwn();
    // Brings the task list to the front.
    void showTasks();
    // The task dialog of `kind`: a new task when `taskId` is empty, else the stored task's
    // properties. The id of the stored task, empty when cancelled.
    std::string openTaskDialog(const TaskKindInfo& kind, const std::string& taskId);
    // The dialog of a form's kind; the id of the saved task, empty when cancelled.
    std::string execTaskDialog(const execution::DownloadForm& form, const std::string& taskId);
    std::string execTaskDialog(const execution::UploadForm& form, const std::string& taskId);
    std::string execTaskDialog(const execution::AutoSyncForm& form, const std::string& taskId);

    // After login: show the categories and buttons of the mailboxes and bulletins the
    // operator may list; also fills the operator and branch elements.
    void applyPermissions();
    // The timers started at the end of start-up (the disk-space check).
    void startTimers();

    // Runs the disk-space check once (also the 60-second timer).
    void checkDiskSpace();
    // Re-login when the interactive handle is not logged in.
    void relogin();
    void showLogonSettings();
    void showSystemSettings();
    void openManual();

    // The status bar texts, for tests and the tray tooltip.
    QString statusText(int element) const;
    enum StatusElement { kClock, kOperator, kBranch, kConnection, kRealtime, kElementCount };
    bool categoryVisible(const QString& title) const;
    // Brings the category titled `title` to the front.
    void showCategory(const QString& title);
    bool commandVisible(const std::string& code) const;
    QLabel* diskSpaceTip() const { return diskTip_; }
    QToolButton* reloginButton() const { return reloginButton_; }
    QMenu* trayMenu() const { return trayMenu_; }
    QMenu* taskMenu() const { return taskMenu_; }

    // For the tests: the answer of the last close attempt.
    bool lastCloseAccepted() const { return lastCloseAccepted_; }
    // The last tray message (also kept where the desktop has no tray).
    QString lastTrayMessage() const { return lastTrayMessage_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    // The size, position and docks of the last start (Client.ini [window]); none without an
    // installation.
    void restoreWindowPlacement();
    void saveWindowPlacement();

  private:
    void buildRibbon();
    void buildWorkArea();
    void buildStatusBar();
    void buildTray();
    QToolButton* addCommand(QWidget* panel, const QString& text, const std::string& code);
    void refreshClock();
    void onLoginState(bool loggedIn);
    void onEvent(const NotifierEvent& event);
    // A failed task run, told in the tray.
    void trayMessage(const TaskFailed& failed);
    void showRealtimeState(bool running, const std::string& statusText);
    // The core began `day` ("YYYYMMDD"): the views that show one day move to it.
    void startDay(const std::string& day);
    // What the services leave out: the machine's clock, the desktop's opener, the day by
    // that clock.
    void completeServices();
    // Reads the log tree again; while the tasks are still loading it tries again shortly,
    // so that no file shows by its task id.
    void refreshTaskTree();
    bool confirmClose();

    Services services_;
    ProgressPopup* progress_;
    QTabWidget* ribbon_;
    QStackedWidget* work_;
    CMailFormView* mailView_;
    CTaskView* taskView_ = nullptr;
    CTaskTreeView* taskTree_ = nullptr;
    // Coalesces the task events into one reread of the task log tree.
    QTimer* logsSoon_ = nullptr;
    CBulletinView* bulletinView_;
    CTaskLogView* logView_;
    CFlagStatusView* flagView_;
    CMsgFormView* realtimeView_ = nullptr;
    QToolButton* realtimeSwitch_ = nullptr;
    QWidget* mailboxCategory_;
    QWidget* bulletinCategory_;
    std::map<std::string, QToolButton*> codeButtons_;
    QToolButton* reloginButton_ = nullptr;
    std::array<QLabel*, kElementCount> status_{};
    QTimer* clock_;
    QTimer* diskTimer_;
    std::unique_ptr<DayClock> ownDays_;  // when the services bring none
    std::string today_;  // "%Y%m%d" of the day the views show
    QLabel* diskTip_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_;
    QMenu* taskMenu_;
    bool lastCloseAccepted_ = false;
    bool exitRequested_ = false;  // the tray's 退出 is closing the window
    bool endingOnItsOwn_ = false;
    QString lastTrayMessage_;
};

}  // namespace vantrel::ui
