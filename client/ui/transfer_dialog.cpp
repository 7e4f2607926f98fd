#include "client/ui/transfer_dialog.h"

#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "client/ui/qt_text.h"

namespace vantrel::ui {

namespace {
constexpr int kPollMilliseconds = 500;
}

CTransferDlg::CTransferDlg(TransferDirection direction, std::vector<TransferItem> items,
                           MailboxService& service, UserPrompt& prompt, QWidget* parent)
    : QDialog(parent),
      direction_(direction),
      items_(std::move(items)),
      service_(service),
      prompt_(prompt),
      fileLabel_(new QLabel(this)),
      speedLabel_(new QLabel(this)),
      remainingLabel_(new QLabel(this)),
      statusLabel_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      stopButton_(new QPushButton(qs("停止"), this)),
      poll_(new QTimer(this)) {
    setWindowTitle(qs(direction_ == TransferDirection::Download ? "下载文件" : "上传文件"));
    setMinimumWidth(480);
    auto* form = new QFormLayout;
    form->addRow(qs("文件:"), fileLabel_);
    form->addRow(qs("速度:"), speedLabel_);
    form->addRow(qs("剩余时间:"), remainingLabel_);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    statusLabel_->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(bar_);
    layout->addWidget(statusLabel_);
    layout->addWidget(stopButton_, 0, Qt::AlignRight);

    connect(stopButton_, &QPushButton::clicked, this, &CTransferDlg::pressStop);
    connect(poll_, &QTimer::timeout, this, &CTransferDlg::refresh);
    QTimer::singleShot(0, this, &CTransferDlg::start);
}

void CTransferDlg::start() {
    poll_->start(kPollMilliseconds);
    job_.start(
        this,
        [this] {
            return runTransferQueue(items_, [this](const TransferItem& item) {
                return direction_ == TransferDirection::Download
                           ? service_.download(item, progress_)
                           : service_.upload(item, progress_);
            });
        },
        [this](std::vector<TransferOutcome> outcomes) { finish(std::move(outcomes)); });
}

void CTransferDlg::refresh() {
    if (progress_.resumed.exchange(false)) stopButton_->setEnabled(true);
    const TransferSnapshot now = progress_.snapshot();
    fileLabel_->setText(qs(now.fileName));
    speedLabel_->setText(qs(now.speed).trimmed() + qs("/s"));
    remainingLabel_->setText(qs(now.remaining));
    statusLabel_->setText(qs(now.statusLine));
    bar_->setValue(now.fileSize == 0 ? 0 : static_cast<int>(now.bytesDone * 100 / now.fileSize));
}

QString CTransferDlg::statusLine() const {
    return statusLabel_->text();
}
int CTransferDlg::percent() const {
    return bar_->value();
}

void CTransferDlg::pressStop() {
    if (!job_.busy() || !stopButton_->isEnabled()) return;
    // The transfer asks the question and goes on while it is open.
    stopButton_->setEnabled(false);
    progress_.stopPressed = true;
}

void CTransferDlg::reject() {
    if (job_.busy()) {
        pressStop();
        return;
    }
    QDialog::reject();
}

void CTransferDlg::finish(std::vector<TransferOutcome> outcomes) {
    poll_->stop();
    refresh();
    outcomes_ = std::move(outcomes);
    for (const TransferOutcome& outcome : outcomes_) {
        if (outcome.outcome == GatewayOutcome::Cancelled) {
            cancelled_ = true;
        } else if (connectionLost(outcome.outcome)) {
            // Said once, whatever the transfer's text: after a dropped connection the failed
            // re-login's text would blame the password.
            if (!lostConnection_) prompt_.show(kAppCaption, kLostConnection, UserPrompt::Icon::Error);
            lostConnection_ = true;
        } else if (outcome.outcome != GatewayOutcome::Ok) {
            prompt_.show(kAppCaption, outcome.text, UserPrompt::Icon::Error);
        }
    }
    accept();
}

}  // namespace vantrel::ui
