#include "updater/travex_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace vantrel::updater {

namespace {
QString q(const std::string& text) {
    return QString::fromStdString(text);
}
}  // namespace

TravexDialog::TravexDialog(Arguments arguments)
    : run_(std::move(arguments), *this),
      caption_(new QLabel(q("说明"))),
      text_(
          new QLabel(q("欢迎使用DRAV升级更新工具。\r\n\r\n本工具将可帮您更新到最新的DRAV产品。"))),
      status_(new QLabel),
      bar_(new QProgressBar),
      start_(new QPushButton(q("开始"))),
      cancel_(new QPushButton(q("取消"))) {
    setWindowTitle(q("系统更新"));
    setStyleSheet("background: white;");
    setFont(QFont(q("宋体")));
    text_->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(start_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(caption_);
    layout->addWidget(text_, 1);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addLayout(buttons);
    connect(start_, &QPushButton::clicked, this, [this] {
        if (done_) {
            accept();
        } else {
            start();
        }
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (worker_.joinable()) {
            run_.cancel();
        } else {
            reject();
        }
    });
    resize(420, 260);
}

TravexDialog::~TravexDialog() {
    run_.cancel();
    if (worker_.joinable()) worker_.join();
}

void TravexDialog::start() {
    start_->setEnabled(false);
    if (worker_.joinable()) worker_.join();
    worker_ = std::thread([this] {
        const int result = run_.run();
        QMetaObject::invokeMethod(
            this, [this, result] { finished(result); }, Qt::QueuedConnection);
    });
}

void TravexDialog::finished(int result) {
    if (worker_.joinable()) worker_.join();
    start_->setEnabled(true);
    if (result == 0) {
        done_ = true;
        start_->setText(q("完成"));
        return;
    }
    if (result == UpdateRun::kCancelled) {
        reject();
        return;
    }
    bar_->reset();
    QMessageBox::critical(this, q("系统更新"), q(run_.errorText()));
}

void TravexDialog::caption(const std::string& text) {
    QMetaObject::invokeMethod(
        caption_, [this, t = q(text)] { caption_->setText(t); }, Qt::QueuedConnection);
}

void TravexDialog::text(const std::string& text) {
    QMetaObject::invokeMethod(
        text_, [this, t = q(text)] { text_->setText(t); }, Qt::QueuedConnection);
}

void TravexDialog::status(const std::string& text) {
    QMetaObject::invokeMethod(
        status_, [this, t = q(text)] { status_->setText(t); }, Qt::QueuedConnection);
}

void TravexDialog::progress(std::int64_t done, std::int64_t total) {
    const auto now = std::chrono::steady_clock::now();
    if (startedAt_ < 0 || done < startedAt_) {
        started_ = now;
        startedAt_ = done;
    }
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double rate = seconds > 0 ? static_cast<double>(done - startedAt_) / 1024 / seconds : 0;
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    const QString line =
        QString::asprintf("数据包:[%.0f K,%.0f K],速率:%.2f K/S", static_cast<double>(done) / 1024,
                          static_cast<double>(total) / 1024, rate);
    QMetaObject::invokeMethod(
        bar_,
        [this, percent, line] {
            bar_->setValue(percent);
            status_->setText(line);
        },
        Qt::QueuedConnection);
}

}  // namespace vantrel::updater
