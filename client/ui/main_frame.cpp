#include "client/ui/main_frame.h"

#include "client/app/desktop_open.h"
#include "client/config/config.h"
#include "client/ui/desktop_opener.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>
#include <set>

#include "client/ui/bulletin_view.h"
#include "client/ui/log_views.h"
#include "client/ui/login_dialog.h"
#include "client/ui/logon_setting_dialog.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/qt_text.h"
#include "client/ui/realtime_view.h"
#include "client/ui/system_setting_dialog.h"
#include "client/ui/task_dialogs.h"
#include "client/ui/task_view.h"

namespace vantrel::ui {

namespace {

struct CommandCode {
    const char* display;
    const char* code;
};
constexpr CommandCode kBulletins[] = {{"A股公告", "FTP_A_BULLET"},
                                      {"B股公告", "FTP_B_BULLET"},
                                      {"上市公司公告", "FTP_SG_BULLET"},
                                      {"投资人公告", "FTP_TZ_BULLET"}};

struct MenuItem {
    const char* text;  // nullptr: a separator
    int id;
};

QMenu* buildMenu(const char* title, std::initializer_list<MenuItem> items, QWidget* parent) {
    auto* menu = new QMenu(qs(title), parent);
    for (const MenuItem& item : items) {
        if (!item.text) {
            menu->addSeparator();
            continue;
        }
        menu->addAction(qs(item.text))->setData(item.id);
    }
    return menu;
}

QWidget* newPanel(QTabWidget* ribbon, const char* title) {
    auto* panel = new QWidget(ribbon);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addStretch();
    ribbon->addTab(panel, qs(title));
    return panel;
}

}  // namespace

CMainFrame::CMainFrame(const Services& services, QWidget* parent)
    : QMainWindow(parent),
      services_(services),
      progress_(new ProgressPopup(this)),
      ribbon_(new QTabWidget(this)),
      work_(new QStackedWidget(this)),
      mailView_(nullptr),
      bulletinView_(nullptr),
      logView_(nullptr),
      flagView_(nullptr),
      mailboxCategory_(nullptr),
      bulletinCategory_(nullptr),
      clock_(new QTimer(this)),
      diskTimer_(new QTimer(this)),
      diskTip_(new QLabel(this, Qt::ToolTip)),
      trayMenu_(buildMenu("托盘菜单", {{"显示", kCmdTrayShow}, {"退出", kCmdTrayExit}}, this)),
      taskMenu_(buildMenu("任务菜单",
                          {{"计划运行", kCmdTaskSchedule},
                           {"立刻运行", kCmdTaskRunNow},
                           {"重新下载", kCmdTaskDownloadAgain},
                           {"停止运行", kCmdTaskStop},
                           {nullptr, 0},
                           {"任务属性", kCmdTaskProperties},
                           {"新建任务", kCmdTaskNew},
                           {"删除任务", kCmdTaskDelete}},
                          this)) {
    setWindowTitle(qs(kAppCaption));
    resize(1100, 700);
    buildRibbon();
    buildWorkArea();
    buildStatusBar();
    buildTray();
    restoreWindowPlacement();

    diskTip_->setWordWrap(true);
    diskTip_->setMaximumWidth(420);
    diskTip_->setMargin(8);

    services_.notifier->addListener(this, [this](const NotifierEvent& event) { onEvent(event); });
    connect(clock_, &QTimer::timeout, this, &CMainFrame::refreshClock);
    connect(diskTimer_, &QTimer::timeout, this, &CMainFrame::checkDiskSpace);
    completeServices();
    bulletinView_->openFile = services_.openFile;
    today_ = services_.days->today();
    logsSoon_ = new QTimer(this);
    logsSoon_->setSingleShot(true);
    logsSoon_->setInterval(500);
    connect(logsSoon_, &QTimer::timeout, this, [this] {
        refreshTaskTree();
        if (work_->currentWidget() == logView_) logView_->reload();
    });
    refreshTaskTree();
    clock_->start(kClockTimerMs);
    refreshClock();
    onLoginState(services_.session->isLoggedIn());
}

void CMainFrame::completeServices() {
    if (!services_.clock) services_.clock = &platform::RealClock::instance();
    if (!services_.openFile)
        services_.openFile = [](const std::filesystem::path& target) {
            return OpenOnDesktop(target);
        };
    if (!services_.days) {
        ownDays_ = std::make_unique<DayClock>(*services_.clock);
        services_.days = ownDays_.get();
    }
}

void CMainFrame::onEvent(const NotifierEvent& event) {
    if (const auto* state = std::get_if<LoginStateChanged>(&event)) {
        onLoginState(state->loggedIn);
    } else if (const auto* failed = std::get_if<TaskFailed>(&event)) {
        trayMessage(*failed);
        if (taskView_) taskView_->refreshSoon();
        logsSoon_->start();
    } else if (const auto* switched = std::get_if<RealtimeServiceSwitched>(&event)) {
        showRealtimeState(switched->running, switched->statusText);
    } else if (const auto* began = std::get_if<DayBegan>(&event)) {
        startDay(began->day);
    } else if (const auto* due = std::get_if<NightlyCheckDue>(&event)) {
        const auto& check = due->check == NightlyCheckDue::Check::FlagModel
                                ? services_.configUpdate
                                : services_.versionCheck;
        if (check) check();
    } else if (flagView_->apply(event)) {
        return;
    } else if (realtimeView_ && realtimeView_->apply(event)) {
        return;
    } else if (CTaskView::concernsTasks(event)) {
        // A run writes its log and list as it goes: the tree follows the tasks.
        if (taskView_) taskView_->refreshSoon();
        logsSoon_->start();
    }
}

void CMainFrame::trayMessage(const TaskFailed& failed) {
    std::string name = failed.taskId;
    if (taskView_) {
        if (const auto row = taskView_->shownTask(failed.taskId))
            name = row->texts[kColDescription];
    }
    lastTrayMessage_ = qs("任务[" + name + "]运行失败:" + failed.reason);
    if (tray_) tray_->showMessage(qs(kAppCaption), lastTrayMessage_, QSystemTrayIcon::Warning);
}

CMainFrame::~CMainFrame() {
    services_.notifier->removeListeners(this);
}

QToolButton* CMainFrame::addCommand(QWidget* panel, const QString& text, const std::string& code) {
    auto* button = new QToolButton(panel);
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIcon(
        style()->standardIcon(code.empty() ? QStyle::SP_ComputerIcon : QStyle::SP_DirIcon));
    button->setIconSize(QSize(32, 32));
    button->setMinimumWidth(72);
    auto* layout = static_cast<QHBoxLayout*>(panel->layout());
    layout->insertWidget(layout->count() - 1, button);
    if (!code.empty()) codeButtons_[code] = button;
    return button;
}

void CMainFrame::buildRibbon() {
    QWidget* system = newPanel(ribbon_, "系统");
    reloginButton_ = addCommand(system, qs("重新登录"), {});
    connect(reloginButton_, &QToolButton::clicked, this, &CMainFrame::relogin);
    connect(addCommand(system, qs("登录设置"), {}), &QToolButton::clicked, this,
            &CMainFrame::showLogonSettings);
    connect(addCommand(system, qs("系统设置"), {}), &QToolButton::clicked, this,
            &CMainFrame::showSystemSettings);
    connect(addCommand(system, qs("用户手册"), {}), &QToolButton::clicked, this,
            &CMainFrame::openManual);
    connect(addCommand(system, qs("退出"), {}), &QToolButton::clicked, this, &QWidget::close);

    QWidget* views = newPanel(ribbon_, "视图");
    connect(addCommand(views, qs("任务列表"), {}), &QToolButton::clicked, this,
            &CMainFrame::showTasks);
    connect(addCommand(views, qs("标志文件"), {}), &QToolButton::clicked, this,
            [this] { work_->setCurrentWidget(flagView_); });
    connect(addCommand(views, qs("刷新日志"), {}), &QToolButton::clicked, this,
            [this] { refreshTaskTree(); });

    if (services_.realtime) {
        QWidget* realtime = newPanel(ribbon_, "实时回报");
        connect(addCommand(realtime, qs("实时回报"), {}), &QToolButton::clicked, this,
                &CMainFrame::showRealtime);
        realtimeSwitch_ = addCommand(realtime, {}, {});
        realtimeSwitch_->setCheckable(true);
        connect(realtimeSwitch_, &QToolButton::clicked, this, &CMainFrame::toggleRealtime);
        if (services_.realtimeReceive) {
            connect(addCommand(realtime, qs("手动接收"), {}), &QToolButton::clicked, this,
                    &CMainFrame::showManualReceive);
        }
    }

    mailboxCategory_ = newPanel(ribbon_, "信箱");
    for (const MailboxName& m : kBrowsableMailboxes) {
        const std::string code = m.code;
        connect(addCommand(mailboxCategory_, qs(m.display), code), &QToolButton::clicked, this,
                [this, code] {
                    work_->setCurrentWidget(mailView_);
                    mailView_->openMailbox(code);
                });
    }
    bulletinCategory_ = newPanel(ribbon_, "公告");
    for (const CommandCode& b : kBulletins) {
        const std::string code = b.code;
        const std::string title = b.display;
        connect(addCommand(bulletinCategory_, qs(b.display), b.code), &QToolButton::clicked, this,
                [this, code, title] {
                    work_->setCurrentWidget(bulletinView_);
                    bulletinView_->openFolder(code, title);
                });
    }

    ribbon_->setFixedHeight(ribbon_->sizeHint().height());
    setMenuWidget(ribbon_);
}

void CMainFrame::buildWorkArea() {
    CMailFormView::Services view;
    static_cast<MailboxPorts&>(view) = services_;
    view.notifier = services_.notifier;
    view.progress = progress_;
    mailView_ = new CMailFormView(view, work_);
    work_->addWidget(mailView_);
    setCentralWidget(work_);

    CBulletinView::Services bulletin;
    static_cast<MailboxPorts&>(bulletin) = services_;
    bulletin.notifier = services_.notifier;
    bulletinView_ = new CBulletinView(bulletin, work_);
    work_->addWidget(bulletinView_);
    logView_ = new CTaskLogView(work_);
    work_->addWidget(logView_);
    flagView_ = new CFlagStatusView(work_);
    work_->addWidget(flagView_);
    if (RealtimeReports* realtime = services_.realtime) {
        realtimeView_ = new CMsgFormView([realtime] { return realtime->receiveDirectory(); }, work_);
        realtimeView_->openFolder = [this](const std::filesystem::path& folder) {
            openOnDesktop(this, folder, services_.openFile,
                          [this, folder](const std::string& reason) {
                              services_.prompt->show(
                                  kAppCaption, "打开目录" + folder.string() + "失败. \n\r原因:" + reason,
                                  UserPrompt::Icon::Error);
                          });
        };
        realtimeView_->reload(realtime->snapshot());
        work_->addWidget(realtimeView_);
    }
    for (QAction* action : taskMenu_->actions()) action->setEnabled(false);
    if (services_.board) {
        taskView_ = new CTaskView(*services_.board, *services_.prompt, taskMenu_, work_);
        work_->addWidget(taskView_);
        connect(taskView_, &CTaskView::dialogRequested, this, [this](int commandId) {
            if (commandId == kCmdTaskProperties) {
                if (const auto row = taskView_->selectedTask()) openTaskDialog(*row->kind, row->id());
                return;
            }
            QMenu kinds;
            for (const TaskKindInfo& kind : TaskKinds()) {
                if (kind.newForm)
                    kinds.addAction(qs(kind.name))->setData(static_cast<int>(kind.id));
            }
            if (QAction* chosen = kinds.exec(QCursor::pos()))
                openTaskDialog(TaskKindOf(static_cast<TaskKindId>(chosen->data().toInt())), {});
        });
    }

    // The task tree: a kind shows its tasks in the task list.
    auto* tasks = new QDockWidget(qs("任务列表"), this);
    tasks->setObjectName("taskTree");
    tasks->setFeatures(QDockWidget::DockWidgetMovable);
    auto* tree = new QTreeWidget(tasks);
    tree->setHeaderHidden(true);
    auto* all = new QTreeWidgetItem(tree, {qs("全部任务")});
    // One branch per task table, holding the kinds the operator manages in it.
    const std::pair<const char*, CatalogueTaskKind> tables[] = {
        {"下载任务", CatalogueTaskKind::Download},
        {"上传任务", CatalogueTaskKind::Upload},
        {"自动同步任务", CatalogueTaskKind::AutoSync}};
    for (const auto& [title, table] : tables) {
        auto* item = new QTreeWidgetItem(all, {qs(title)});
        QVariantList list;
        for (const TaskKindInfo& kind : TaskKinds()) {
            if (kind.managed && kind.table == table) list << static_cast<int>(kind.id);
        }
        item->setData(0, Qt::UserRole, list);
    }
    tree->expandAll();
    if (taskView_) {
        connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
            std::set<TaskKindId> members;
            for (const QVariant& k : item->data(0, Qt::UserRole).toList())
                members.insert(static_cast<TaskKindId>(k.toInt()));
            taskView_->setKinds(members);
            showTasks();
        });
    }
    tasks->setWidget(tree);
    addDockWidget(Qt::LeftDockWidgetArea, tasks);
    resizeDocks({tasks}, {180}, Qt::Horizontal);

    if (services_.installation) {
        auto* logs = new QDockWidget(qs("任务日志"), this);
        logs->setObjectName("taskLogTree");
        logs->setFeatures(QDockWidget::DockWidgetMovable);
        taskTree_ = new CTaskTreeView(*services_.installation, logs);
        taskTree_->descriptions = [this]() -> std::optional<std::map<std::string, std::string>> {
            if (!services_.board) return std::map<std::string, std::string>();
            if (!services_.board->tasksLoaded()) return std::nullopt;
            return services_.board->taskNames();
        };
        connect(taskTree_, &CTaskTreeView::fileChosen, this,
                [this](const std::filesystem::path& file) {
                    logView_->showFile(file, taskTree_->shownName(file));
                    work_->setCurrentWidget(logView_);
                });
        logs->setWidget(taskTree_);
        addDockWidget(Qt::LeftDockWidgetArea, logs);
    }
}

std::string CMainFrame::openTaskDialog(const TaskKindInfo& kind, const std::string& taskId) {
    TaskBoard* board = services_.board;
    if (!board) return {};
    std::optional<execution::TaskForm> form;
    if (!taskId.empty()) {
        form = board->form(taskId);
    } else if (kind.newForm) {
        form = kind.newForm(services_.settings->receiveDirectory().string());
    }
    if (!form) return {};
    const std::string saved =
        std::visit([&](const auto& typed) { return execTaskDialog(typed, taskId); }, *form);
    if (!saved.empty() && taskView_) {
        taskView_->refresh();
        taskView_->selectTask(saved);
    }
    return saved;
}

std::string CMainFrame::execTaskDialog(const execution::DownloadForm& form,
                                       const std::string& taskId) {
    CDownTaskDlg dialog(*services_.board, *services_.prompt, form, taskId, this);
    dialog.setPreview(services_.mailbox, services_.clock);
    return dialog.exec() == QDialog::Accepted ? dialog.savedTaskId() : std::string();
}

std::string CMainFrame::execTaskDialog(const execution::UploadForm& form,
                                       const std::string& taskId) {
    CUpTaskDlg dialog(*services_.board, *services_.prompt, form, taskId, this);
    return dialog.exec() == QDialog::Accepted ? dialog.savedTaskId() : std::string();
}

std::string CMainFrame::execTaskDialog(const execution::AutoSyncForm& form,
                                       const std::string& taskId) {
    CAutoSyncTaskDlg dialog(*services_.board, *services_.prompt, form, taskId, this);
    return dialog.exec() == QDialog::Accepted ? dialog.savedTaskId() : std::string();
}

void CMainFrame::showTasks() {
    if (taskView_) work_->setCurrentWidget(taskView_);
}

void CMainFrame::buildStatusBar() {
    for (auto& element : status_) {
        element = new QLabel(this);
        element->setContentsMargins(6, 0, 6, 0);
    }
    statusBar()->addWidget(status_[kClock]);
    for (int i = kOperator; i < kElementCount; ++i) statusBar()->addPermanentWidget(status_[i]);
    const bool running = services_.tasks && services_.tasks->realtimeServiceRunning();
    showRealtimeState(running, RealtimeService::statusText(running));
}

void CMainFrame::showRealtimeState(bool running, const std::string& statusText) {
    status_[kRealtime]->setText(qs(statusText));
    if (!realtimeSwitch_) return;
    realtimeSwitch_->setChecked(running);
    realtimeSwitch_->setText(qs(running ? "停止服务" : "启动服务"));
    realtimeSwitch_->setIcon(
        style()->standardIcon(running ? QStyle::SP_MediaStop : QStyle::SP_MediaPlay));
}

void CMainFrame::showRealtime() {
    if (realtimeView_) work_->setCurrentWidget(realtimeView_);
}

void CMainFrame::toggleRealtime() {
    if (!services_.realtime) return;
    // The button shows the service's state, which the switch event brings back.
    const bool on = !services_.realtime->running();
    realtimeSwitch_->setChecked(!on);
    services_.realtime->setRunning(on);
}

void CMainFrame::showManualReceive() {
    if (!services_.realtimeReceive) return;
    CMsgHandRev dialog(*services_.realtimeReceive, *services_.prompt, this);
    dialog.exec();
}

void CMainFrame::closeOnItsOwn() {
    endingOnItsOwn_ = true;
    exitRequested_ = true;
    close();
}

void CMainFrame::buildTray() {
    connect(trayMenu_, &QMenu::triggered, this, [this](QAction* action) {
        if (action->data().toInt() == kCmdTrayShow) {
            showNormal();
            activateWindow();
        } else if (action->data().toInt() == kCmdTrayExit) {
            exitRequested_ = true;
            close();
            exitRequested_ = false;
        }
    });
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_DriveNetIcon), this);
    tray_->setToolTip(qs(kAppCaption));
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick) {
                    showNormal();
                    activateWindow();
                }
            });
    tray_->show();
}

void CMainFrame::refreshClock() {
    status_[kClock]->setText(qs("当前时间:") +
                             QDateTime::currentDateTime().toString("yyyy-MM-dd  HH:mm:ss"));
}

void CMainFrame::onLoginState(bool loggedIn) {
    const std::string operatorCode = loggedIn ? services_.session->operatorCode() : std::string();
    const std::string branch = loggedIn ? services_.session->branchCode() : std::string();
    status_[kOperator]->setText(qs("操作员:") + qs(loggedIn ? operatorCode : "--------"));
    status_[kBranch]->setText(qs("网点代码:") + qs(loggedIn ? branch : "--------"));
    status_[kConnection]->setText(qs(loggedIn ? "连接状态:在线" : "连接状态:离线"));
    reloginButton_->setEnabled(!loggedIn);
}

QString CMainFrame::statusText(int element) const {
    return status_.at(element)->text();
}

void CMainFrame::applyPermissions() {
    const char* const list = mailboxFunctionCode(MailboxFunction::List);
    bool anyMailbox = false;
    for (const MailboxName& m : kBrowsableMailboxes) {
        // Browsing needs the file services as well as the permission.
        const bool allowed = services_.mailbox && services_.session->checkPermission(m.code, list);
        codeButtons_.at(m.code)->setVisible(allowed);
        anyMailbox = anyMailbox || allowed;
    }
    bool anyBulletin = false;
    for (const CommandCode& b : kBulletins) {
        const bool allowed = services_.session->checkPermission(b.code, list);
        codeButtons_.at(b.code)->setVisible(allowed);
        anyBulletin = anyBulletin || allowed;
    }
    ribbon_->setTabVisible(ribbon_->indexOf(mailboxCategory_), anyMailbox);
    ribbon_->setTabVisible(ribbon_->indexOf(bulletinCategory_), anyBulletin);
    onLoginState(services_.session->isLoggedIn());
}

bool CMainFrame::categoryVisible(const QString& title) const {
    for (int i = 0; i < ribbon_->count(); ++i) {
        if (ribbon_->tabText(i) == title) return ribbon_->isTabVisible(i);
    }
    return false;
}

void CMainFrame::showCategory(const QString& title) {
    for (int i = 0; i < ribbon_->count(); ++i) {
        if (ribbon_->tabText(i) == title) ribbon_->setCurrentIndex(i);
    }
}

bool CMainFrame::commandVisible(const std::string& code) const {
    const auto it = codeButtons_.find(code);
    return it != codeButtons_.end() && !it->second->isHidden();
}

void CMainFrame::startTimers() {
    diskTimer_->start(kDiskSpaceTimerMs);
}

void CMainFrame::startDay(const std::string& day) {
    if (day == today_) return;
    today_ = day;
    refreshTaskTree();
    if (realtimeView_) realtimeView_->reload(services_.realtime->snapshot());
}

void CMainFrame::refreshTaskTree() {
    if (!taskTree_) return;
    taskTree_->refresh(today_);
    if (taskTree_->waitingForTasks()) logsSoon_->start();
}

void CMainFrame::checkDiskSpace() {
    if (!services_.diskSpaceEnough) return;
    std::string message;
    if (services_.diskSpaceEnough(services_.settings->minimumFreeMegabytes(), message)) {
        diskTip_->hide();
        return;
    }
    // A tip, not a box: nothing waits for the operator, and it comes back every minute
    // until space is freed.
    diskTip_->setText(qs(message));
    diskTip_->adjustSize();
    const QRect area = frameGeometry();
    diskTip_->move(area.right() - diskTip_->width() - 16, area.bottom() - diskTip_->height() - 40);
    diskTip_->show();
}

void CMainFrame::relogin() {
    CLogin::Services login;
    login.session = services_.session;
    login.settings = services_.settings;
    login.prompt = services_.prompt;
    login.notifier = services_.notifier;
    login.progress = progress_;
    CLogin dialog(login, services_.settings->loadLogin(), true, this);
    dialog.exec();
}

void CMainFrame::showSystemSettings() {
    CSystemSettingDlg dialog(*services_.settings, *services_.prompt, this);
    dialog.exec();
}

void CMainFrame::showLogonSettings() {
    CLogonSetting dialog(*services_.settings, this);
    dialog.exec();
}

void CMainFrame::openManual() {
    const std::filesystem::path manual = services_.manual;
    openOnDesktop(this, manual, services_.openFile, [this, manual](const std::string& reason) {
        services_.prompt->show(kAppCaption,
                               "打开用户手册" + manual.string() + "失败. \n\r原因:" + reason,
                               UserPrompt::Icon::Error);
    });
}

bool CMainFrame::confirmClose() {
    TaskActivity* tasks = services_.tasks;
    if (endingOnItsOwn_ || (tasks && tasks->shuttingDown())) return true;
    if (tasks) {
        // Gives a task that was just stopped a moment to report it. A running task refuses
        // the close before anything is asked: there is nothing to confirm.
        QThread::msleep(100);
        if (const std::string refusal = tasks->closeRefusal(); !refusal.empty()) {
            services_.prompt->show(kAppCaption, refusal, UserPrompt::Icon::Warning);
            return false;
        }
    }
    if (!services_.prompt->askYesNo(kAppCaption, "是否确认关闭程序？", UserPrompt::Icon::Question))
        return false;
    if (tasks) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        tasks->stopForExit();
        QApplication::restoreOverrideCursor();
    }
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // With CloseFlag set to the tray, the window's close button only hides it; the tray's
    // 退出 ends the client.
    if (!exitRequested_ && tray_ && services_.settings &&
        services_.settings->loadSystem().closeAction == CloseAction::MinimizeToTray) {
        hide();
        event->ignore();
        return;
    }
    lastCloseAccepted_ = confirmClose();
    if (!lastCloseAccepted_) {
        event->ignore();
        return;
    }
    diskTip_->hide();
    progress_->hide();
    if (tray_) tray_->hide();
    saveWindowPlacement();
    event->accept();
}

// The window's size, position and docks are kept in Client.ini as Qt's own encoding in Base64.
void CMainFrame::restoreWindowPlacement() {
    if (!services_.installation) return;
    const auto [geometry, docks] = CConfig(*services_.installation).readWindowPlacement();
    if (!geometry.empty())
        restoreGeometry(QByteArray::fromBase64(QByteArray::fromStdString(geometry)));
    if (!docks.empty()) restoreState(QByteArray::fromBase64(QByteArray::fromStdString(docks)));
}

void CMainFrame::saveWindowPlacement() {
    if (!services_.installation) return;
    // A placement that cannot be kept only costs the next start its default size.
    (void)CConfig(*services_.installation)
        .writeWindowPlacement(
            {saveGeometry().toBase64().toStdString(), saveState().toBase64().toStdString()});
}

}  // namespace vantrel::ui
