#include "client/ui/realtime_view.h"

#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "client/base/logs.h"
#include "client/execution/realtime/realtime_reports.h"
#include "client/ui/qt_text.h"

namespace vantrel::ui {

namespace {

enum ViewColumn { kColState, kColName, kColSize, kColRecords, kColTime, kColResult };

void setWidths(QTreeWidget* list, std::initializer_list<int> widths) {
    int column = 0;
    for (int width : widths) list->header()->resizeSection(column++, width);
}

QString dayText(const QDate& date) {
    return date.toString("yyyyMMdd");
}

// The manual receive's list: what a query found, with the result of its download.
void setUpQueryList(QTreeWidget* list) {
    list->setHeaderLabels({qs("发布状态"), qs("文件名称"), qs("本地文件大小(B)"), qs("消息记录数"),
                           qs("下载时间"), qs("下载结果")});
    list->setRootIsDecorated(false);
    list->setAllColumnsShowFocus(true);
    setWidths(list, {90, 260, 120, 90, 150, 160});
}

}  // namespace

CMsgFormView::CMsgFormView(std::function<std::filesystem::path()> directory, QWidget* parent)
    : QWidget(parent),
      directory_(std::move(directory)),
      title_(new QLabel(this)),
      list_(new QTreeWidget(this)),
      log_(new QListWidget(this)) {
    list_->setHeaderLabels({qs("发布状态"), qs("文件名称"), qs("本地文件大小(B)"), qs("消息记录数"),
                            qs("更新时间"), qs("更新结果")});
    list_->setRootIsDecorated(false);
    list_->setAllColumnsShowFocus(true);
    list_->setSortingEnabled(true);
    list_->sortByColumn(kColName, Qt::AscendingOrder);
    setWidths(list_, {90, 280, 120, 90, 150, 160});
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (directory_ && openFolder) openFolder(directory_());
    });

    auto* splitter = new QSplitter(Qt::Vertical, this);
    auto* top = new QWidget(splitter);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addWidget(title_);
    topLayout->addWidget(list_);
    splitter->addWidget(top);
    splitter->addWidget(log_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    updateTitle();
}

void CMsgFormView::reload(const RealtimeSnapshot& snapshot) {
    list_->clear();
    for (const RealtimeReportRecord& record : snapshot.records) showRecord(record);
    updateTitle();
}

bool CMsgFormView::apply(const NotifierEvent& event) {
    if (const auto* changed = std::get_if<RealtimeReportChanged>(&event)) {
        showRecord(changed->record);
        updateTitle();
        return true;
    }
    if (const auto* line = std::get_if<RealtimeLogRecord>(&event)) {
        // As in the real-time log file: the level tells a recovered drop from a failure.
        const std::string level(Logs::levelName(line->level));
        log_->addItem(
            qs(line->time + (level.empty() ? "" : "[" + level + "]") + "  " + line->message));
        while (log_->count() > kRealtimeLogLines) delete log_->takeItem(0);
        log_->scrollToBottom();
        return true;
    }
    return false;
}

void CMsgFormView::showRecord(const RealtimeReportRecord& record) {
    const QString name = qs(record.fileName);
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < list_->topLevelItemCount() && !row; ++i) {
        if (list_->topLevelItem(i)->text(kColName) == name) row = list_->topLevelItem(i);
    }
    if (!row) row = new QTreeWidgetItem(list_);
    row->setText(kColState, qs(record.state));
    row->setText(kColName, name);
    row->setText(kColSize, QString::number(record.localSize));
    row->setText(kColRecords, QString::number(record.recordCount));
    row->setText(kColTime, qs(record.downloadTime));
    row->setText(kColResult, qs(record.result));
}

void CMsgFormView::updateTitle() {
    title_->setText(qs("实时回报文件列表[") + QString::number(list_->topLevelItemCount()) + "]");
}

CMsgHandRev::CMsgHandRev(RealtimeReceive& receive, UserPrompt& prompt, QWidget* parent)
    : QDialog(parent),
      receive_(receive),
      prompt_(prompt),
      from_(new QDateEdit(QDate::currentDate(), this)),
      to_(new QDateEdit(QDate::currentDate(), this)),
      directory_(new QLineEdit(qs(receive.defaultDirectory().string()), this)),
      browse_(new QPushButton(qs("浏览..."), this)),
      queryButton_(new QPushButton(qs("查询"), this)),
      downloadButton_(new QPushButton(qs("下载"), this)),
      closeButton_(new QPushButton(qs("关闭"), this)),
      list_(new QTreeWidget(this)),
      state_(new QLabel(this)) {
    setWindowTitle(qs("实时回报手动接收"));
    for (QDateEdit* edit : {from_, to_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat("yyyy-MM-dd");
    }
    setUpQueryList(list_);

    auto* range = new QHBoxLayout;
    range->addWidget(new QLabel(qs("开始日期:"), this));
    range->addWidget(from_);
    range->addWidget(new QLabel(qs("结束日期:"), this));
    range->addWidget(to_);
    range->addWidget(queryButton_);
    range->addStretch();
    auto* target = new QHBoxLayout;
    target->addWidget(new QLabel(qs("保存目录:"), this));
    target->addWidget(directory_, 1);
    target->addWidget(browse_);
    auto* select = new QPushButton(qs("全选"), this);
    auto* none = new QPushButton(qs("全不选"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(select);
    buttons->addWidget(none);
    buttons->addWidget(state_, 1);
    buttons->addWidget(downloadButton_);
    buttons->addWidget(closeButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(range);
    layout->addLayout(target);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(900, 520);

    connect(queryButton_, &QPushButton::clicked, this, [this] { query(); });
    connect(downloadButton_, &QPushButton::clicked, this, [this] { download(); });
    connect(closeButton_, &QPushButton::clicked, this, &CMsgHandRev::reject);
    connect(select, &QPushButton::clicked, this, [this] { checkAll(true); });
    connect(none, &QPushButton::clicked, this, [this] { checkAll(false); });
    connect(browse_, &QPushButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getExistingDirectory(this, qs("选择保存目录"), directory_->text());
        if (!chosen.isEmpty()) directory_->setText(chosen);
    });
}

void CMsgHandRev::setRange(const std::string& from, const std::string& to) {
    from_->setDate(QDate::fromString(qs(from), "yyyyMMdd"));
    to_->setDate(QDate::fromString(qs(to), "yyyyMMdd"));
}

void CMsgHandRev::setBusy(bool busy, const QString& text) {
    for (QWidget* w : {static_cast<QWidget*>(from_), static_cast<QWidget*>(to_),
                       static_cast<QWidget*>(directory_), static_cast<QWidget*>(browse_),
                       static_cast<QWidget*>(queryButton_), static_cast<QWidget*>(downloadButton_)})
        w->setEnabled(!busy);
    state_->setText(text);
}

bool CMsgHandRev::query() {
    if (job_.busy()) return false;
    if (from_->date() > to_->date()) {
        prompt_.show(kAppCaption, "开始时间不能大于结束时间！", UserPrompt::Icon::Warning);
        return false;
    }
    const std::string from = u8(dayText(from_->date()));
    const std::string to = u8(dayText(to_->date()));
    list_->clear();
    listed_.clear();
    setBusy(true, qs("正在查询实时回报文件..."));
    RealtimeReceive* receive = &receive_;
    struct Answer {
        int count = -1;
        std::vector<ManualReport> reports;
        std::string error;
    };
    job_.start(
        this,
        [receive, from, to] {
            Answer answer;
            answer.count = receive->query(from, to, answer.reports, answer.error);
            return answer;
        },
        [this](Answer answer) {
            setBusy(false, {});
            if (answer.count < 0) {
                prompt_.show(kAppCaption, answer.error, UserPrompt::Icon::Warning);
                return;
            }
            listed_ = std::move(answer.reports);
            showListed();
        });
    return true;
}

void CMsgHandRev::showListed() {
    list_->clear();
    for (const ManualReport& report : listed_) {
        auto* row = new QTreeWidgetItem(list_);
        row->setCheckState(kColState, Qt::Unchecked);
        row->setText(kColState, qs(report.entry.complete() ? "完成推送" : "正在推送"));
        row->setText(kColName, qs(report.entry.name));
        // Size, records and time are the local file's, known once it is fetched.
    }
}

void CMsgHandRev::checkAll(bool checked) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        list_->topLevelItem(i)->setCheckState(kColState, checked ? Qt::Checked : Qt::Unchecked);
}

bool CMsgHandRev::download() {
    if (job_.busy()) return false;
    // Rows are in the order of listed_, one per report.
    std::vector<std::size_t> chosen;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        if (list_->topLevelItem(i)->checkState(kColState) == Qt::Checked)
            chosen.push_back(static_cast<std::size_t>(i));
    }
    if (chosen.empty()) {
        prompt_.show(kAppCaption, "请选择需要下载的文件！", UserPrompt::Icon::Warning);
        return false;
    }
    const std::filesystem::path directory = u8(directory_->text().trimmed());
    setBusy(true, qs("正在下载文件..."));
    RealtimeReceive* receive = &receive_;
    job_.start(
        this,
        [receive, chosen, listed = listed_, directory] {
            return receive->fetch(chosen, listed, directory);
        },
        [this](Result<std::vector<ManualFetchResult>> fetched) {
            setBusy(false, {});
            if (!fetched) {
                prompt_.show(kAppCaption, fetched.status().text(), UserPrompt::Icon::Warning);
                return;
            }
            for (const ManualFetchResult& r : *fetched) {
                QTreeWidgetItem* row = list_->topLevelItem(static_cast<int>(r.position));
                if (!row) continue;
                row->setText(kColResult, qs(r.error.empty() ? r.result : r.result + ":" + r.error));
                if (r.result != "下载成功") continue;
                std::error_code ec;
                const auto size = std::filesystem::file_size(r.file, ec);
                if (!ec) row->setText(kColSize, QString::number(size));
                row->setText(kColRecords, QString::number(realtime::recordCountOf(r.file)));
                row->setText(kColTime,
                             QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss"));
            }
        });
    return true;
}

bool CMsgHandRev::refuseWhileBusy() {
    if (!job_.busy()) return false;
    prompt_.show(kAppCaption, "正在查询文件或下载文件,请操作结束后再退出",
                 UserPrompt::Icon::Warning);
    return true;
}

void CMsgHandRev::reject() {
    if (refuseWhileBusy()) return;
    QDialog::reject();
}

void CMsgHandRev::closeEvent(QCloseEvent* event) {
    if (refuseWhileBusy()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace vantrel::ui
