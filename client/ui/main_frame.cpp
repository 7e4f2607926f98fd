#include "client/ui/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
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
#include <QUrl>
#include <cerrno>
#include <cstring>

#include "client/ui/login_dialog.h"
#include "client/ui/logon_setting_dialog.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/qt_text.h"

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

    diskTip_->setWordWrap(true);
    diskTip_->setMaximumWidth(420);
    diskTip_->setMargin(8);

    services_.notifier->addListener(this, [this](const NotifierEvent& event) {
        if (const auto* state = std::get_if<LoginStateChanged>(&event))
            onLoginState(state->loggedIn);
    });
    connect(clock_, &QTimer::timeout, this, &CMainFrame::refreshClock);
    connect(diskTimer_, &QTimer::timeout, this, &CMainFrame::checkDiskSpace);
    clock_->start(kClockTimerMs);
    refreshClock();
    onLoginState(services_.session->isLoggedIn());
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
    connect(addCommand(system, qs("用户手册"), {}), &QToolButton::clicked, this,
            &CMainFrame::openManual);
    connect(addCommand(system, qs("退出"), {}), &QToolButton::clicked, this, &QWidget::close);

    mailboxCategory_ = newPanel(ribbon_, "信箱");
    for (const MailboxName& m : kBrowsableMailboxes) {
        const std::string code = m.code;
        connect(addCommand(mailboxCategory_, qs(m.display), code), &QToolButton::clicked, this,
                [this, code] {
                    work_->setCurrentWidget(mailView_);
                    mailView_->openMailbox(code);
                });
    }
    // The bulletin views come with the task and view windows; the category already follows
    // the permissions.
    bulletinCategory_ = newPanel(ribbon_, "公告");
    for (const CommandCode& b : kBulletins)
        addCommand(bulletinCategory_, qs(b.display), b.code)->setEnabled(false);

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

    // The task tree; its tasks come with the task catalogue's views.
    auto* tasks = new QDockWidget(qs("任务列表"), this);
    tasks->setObjectName("taskTree");
    tasks->setFeatures(QDockWidget::DockWidgetMovable);
    auto* tree = new QTreeWidget(tasks);
    tree->setHeaderHidden(true);
    for (const char* kind : {"下载任务", "上传任务", "自动同步任务"})
        new QTreeWidgetItem(tree, {qs(kind)});
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    for (QAction* action : taskMenu_->actions()) action->setEnabled(false);
    connect(tree, &QTreeWidget::customContextMenuRequested, this,
            [this, tree](const QPoint& at) { taskMenu_->exec(tree->viewport()->mapToGlobal(at)); });
    tasks->setWidget(tree);
    addDockWidget(Qt::LeftDockWidgetArea, tasks);
    resizeDocks({tasks}, {180}, Qt::Horizontal);
}

void CMainFrame::buildStatusBar() {
    for (auto& element : status_) {
        element = new QLabel(this);
        element->setContentsMargins(6, 0, 6, 0);
    }
    statusBar()->addWidget(status_[kClock]);
    for (int i = kOperator; i < kElementCount; ++i) statusBar()->addPermanentWidget(status_[i]);
    status_[kRealtime]->setText(qs(services_.tasks && services_.tasks->realtimeServiceRunning()
                                       ? "实时回报服务状态:运行"
                                       : "实时回报服务状态:停止"));
}

void CMainFrame::buildTray() {
    connect(trayMenu_, &QMenu::triggered, this, [this](QAction* action) {
        if (action->data().toInt() == kCmdTrayShow) {
            showNormal();
            activateWindow();
        } else if (action->data().toInt() == kCmdTrayExit) {
            close();
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
    if (services_.session->isLoggedIn()) return;
    CLogin::Services login;
    login.session = services_.session;
    login.settings = services_.settings;
    login.prompt = services_.prompt;
    login.notifier = services_.notifier;
    login.progress = progress_;
    CLogin dialog(login, services_.settings->loadLogin(), true, this);
    dialog.exec();
}

void CMainFrame::showLogonSettings() {
    CLogonSetting dialog(*services_.settings, this);
    dialog.exec();
}

void CMainFrame::openManual() {
    const QString path = qs(services_.manual.string());
    std::error_code ec;
    std::string reason;
    if (!std::filesystem::exists(services_.manual, ec)) {
        reason = std::strerror(ENOENT);
    } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        reason = "没有可以打开此文件的程序";
    }
    if (!reason.empty()) {
        services_.prompt->show(
            kAppCaption, "打开用户手册" + services_.manual.string() + "失败. \n\r原因:" + reason,
            UserPrompt::Icon::Error);
    }
}

bool CMainFrame::confirmClose() {
    TaskActivity* tasks = services_.tasks;
    if (tasks && tasks->shuttingDown()) return true;
    if (!services_.prompt->askYesNo(kAppCaption, "是否确认关闭程序？", UserPrompt::Icon::Question))
        return false;
    // Gives a task that was just stopped a moment to report it.
    QThread::msleep(100);
    if (tasks) {
        const char* refusal = tasks->downloadTaskRunning() ? "下载任务正在运行,请先停止!"
                              : tasks->autoSyncTaskRunning() ? "自动同步任务正在运行,请先停止!"
                              : tasks->uploadTaskRunning() ? "上传任务正在运行,请先停止!"
                                                           : nullptr;
        if (refusal) {
            services_.prompt->show(kAppCaption, refusal, UserPrompt::Icon::Warning);
            return false;
        }
        QApplication::setOverrideCursor(Qt::WaitCursor);
        tasks->stopForExit();
        QApplication::restoreOverrideCursor();
    }
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    lastCloseAccepted_ = confirmClose();
    if (!lastCloseAccepted_) {
        event->ignore();
        return;
    }
    diskTip_->hide();
    progress_->hide();
    if (tray_) tray_->hide();
    event->accept();
}

}  // namespace vantrel::ui
