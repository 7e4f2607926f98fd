#include "client/ui/update_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "client/ui/main_frame.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_text.h"

namespace vantrel::ui {

CUpdateDlg::CUpdateDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      version_(new QLabel(this)),
      package_(new QLabel(this)) {
    setWindowTitle(qs(kAppCaption));
    auto* text = new QLabel(qs("系统版本更新,请点击[更新]更新系统"), this);
    text->setWordWrap(true);
    package_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(qs("更新"), QDialogButtonBox::AcceptRole);
    buttons->addButton(qs("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(version_);
    layout->addWidget(package_);
    layout->addWidget(text);
    layout->addStretch();
    layout->addWidget(buttons);
    setFixedSize(250, 190);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void CUpdateDlg::setOffer(const std::string& version, const std::string& packageName) {
    version_->setText(qs("新版本:") + qs(version));
    package_->setText(qs("安装包:") + qs(packageName));
}

GuiUpdate::GuiUpdate(update::UpdateChecker& checker, std::function<CMainFrame*()> frame)
    : checker_(checker), frame_(std::move(frame)), retry_(new QTimer(this)) {
    retry_->setSingleShot(true);
    retry_->setInterval(kHandOverRetryMs);
    connect(retry_, &QTimer::timeout, this, &GuiUpdate::handOver);
}

GuiUpdate::~GuiUpdate() = default;

int GuiUpdate::runBeforeLogin(std::string& text) {
    checker_.updateConfigFile();
    CMainFrame* frame = frame_();
    if (frame) frame->progress()->showText(qs("正在检测更新，请稍等..."));
    using R = update::StartupResult;
    const R result = checker_.startupCheck();
    switch (result) {
        case R::kLoginFailed:
            text = "系统更新：登录升级服务器失败";
            break;
        case R::kNoServerVersion:
        case R::kUpdateIncomplete:
            text = checker_.failureText();
            break;
        case R::kUpdaterFailed:
            text = "系统更新：启动升级进程失败！";
            break;
        default:
            break;
    }
    return static_cast<int>(result);
}

void GuiUpdate::configUpdate() {
    checker_.updateConfigFile();
}

void GuiUpdate::nightCheck() {
    // The offer on screen or the question open already waits for the operator.
    if ((dialog_ && dialog_->isVisible()) || checker_.questionOpen()) return;
    after(checker_.nightCheck(*this));
}

void GuiUpdate::handOver() {
    after(checker_.handOver(*this));
}

bool GuiUpdate::retryPending() const {
    return retry_->isActive();
}

void GuiUpdate::after(update::NightResult result) {
    using R = update::NightResult;
    if (result == R::kDeferred) {
        retry_->start();
        return;
    }
    retry_->stop();
    if (result != R::kNewerOffered) return;
    if (!dialog_) {
        dialog_ = new CUpdateDlg(frame_());
        connect(dialog_.data(), &QDialog::accepted, this, &GuiUpdate::handOver);
    }
    dialog_->setOffer(checker_.offer().version, checker_.offer().packageName);
    dialog_->show();
    dialog_->raise();
    dialog_->activateWindow();
}

bool GuiUpdate::tasksRunning() {
    CMainFrame* frame = frame_();
    TaskActivity* tasks = frame ? frame->services().tasks : nullptr;
    return tasks && !tasks->closeRefusal().empty();
}

void GuiUpdate::stopThreads() {
    CMainFrame* frame = frame_();
    if (TaskActivity* tasks = frame ? frame->services().tasks : nullptr) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        tasks->stopForExit();
        QApplication::restoreOverrideCursor();
    }
}

void GuiUpdate::closeMainWindow() {
    if (CMainFrame* frame = frame_()) frame->closeOnItsOwn();
}

}  // namespace vantrel::ui
