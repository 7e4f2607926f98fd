#include "client/ui/task_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "client/catalogue/dbf_table.h"
#include "client/execution/runs/download_listing.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/qt_text.h"

namespace vantrel::ui {

using execution::FormField;
using execution::SaveOutcome;
using execution::SaveResult;
using execution::TimeOfDay;

const char* const kFileNameHelp =
    "“文件名”配置规则\r\n"
    "前缀（.之前）\r\n"
    "  1）支持通配符“？”和“*”，其中“？”指代1个任意字符，“*”指代1 ～ n个任意字符。\r\n"
    "后缀（.之后）\r\n"
    "  1）后缀名为%或者[%]：表示用户下载的任务文件后缀名为当天时间。如当天时间为1月21日，"
    "则用户下载文件后缀为：.121的文件。\r\n"
    "  2）后缀名为[%-n]：表示用户下载的任务文件后缀名为当天时间前n天的文件,且n必须是数字，"
    "否则视为无效。\r\n"
    "  3）后缀名为[%+n]：表示用户下载的任务文件后缀名为当天时间后n天的文件,且n必须是数字，"
    "否则视为无效。\r\n"
    "  4）“%”前加“！”，表示后缀名中的字母大写。如欲下载后缀为：.A21的文件，需要使用“！”。"
    "\r\n\r\n"
    "  示例：如欲下载信箱内当日所有文件，配置为“*.%”";

const char* const kKeywordHelp =
    "公告的关键字配置\r\n"
    "  1)公告的自动下载只能下载当日的公告(历史的公告可以通过公告界面手工下载)。\r\n"
    "  2)输入的关键字为公告名中出现的字符,如doc,则会下载各种doc文件和含有doc字符的其他公告文件;"
    "如若只下载doc的公告，则可输入关键字*.doc。\r\n"
    "  3)如若下载任意公告,则输入关键字*即可。";

namespace {

// The mailboxes by display name, the code as data; an empty first choice for a new task.
void fillMailboxes(QComboBox* box, const std::vector<execution::TaskMailbox>& mailboxes,
                   const std::string& code) {
    box->clear();
    box->addItem(QString(), QString());
    for (const execution::TaskMailbox& m : mailboxes) box->addItem(qs(m.name), qs(m.code));
    const int at = box->findData(qs(code), Qt::UserRole, Qt::MatchFixedString);
    box->setCurrentIndex(at < 0 ? 0 : at);
}

std::string mailboxOf(const QComboBox* box) {
    return u8(box->currentData().toString());
}

// A time box that takes typed digits as well as the arrow keys. A full section ("08")
// refuses another digit unless it is selected, so a digit typed into a full section first
// selects it and replaces it; a section being typed ("1") takes its second digit as usual.
class TypedTimeEdit final : public QTimeEdit {
  public:
    using QTimeEdit::QTimeEdit;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString typed = event->text();
        if (typed.size() == 1 && typed.front().isDigit() && !lineEdit()->hasSelectedText()) {
            // The boxes show "HH:mm": the separators before the cursor count the section.
            const QString text = lineEdit()->text();
            const int index = static_cast<int>(text.left(lineEdit()->cursorPosition()).count(':'));
            if (index < sectionCount() && text.split(':').value(index).size() >= 2) {
                setCurrentSectionIndex(index);
                setSelectedSection(currentSection());
            }
        }
        QTimeEdit::keyPressEvent(event);
    }
};

QTimeEdit* timeBox(TimeOfDay t, QWidget* parent) {
    auto* box = new TypedTimeEdit(QTime(t.hour, t.minute), parent);
    box->setDisplayFormat("HH:mm");
    return box;
}

TimeOfDay timeOf(const QTimeEdit* box) {
    return {box->time().hour(), box->time().minute()};
}

// A directory box with its browse button.
QHBoxLayout* directoryRow(QLineEdit* box, const std::string& path, QWidget* parent) {
    box->setText(qs(path));
    auto* browse = new QPushButton(qs("浏览..."), parent);
    QObject::connect(browse, &QPushButton::clicked, parent, [box, parent] {
        const QString dir = QFileDialog::getExistingDirectory(parent, qs("选择目录"), box->text());
        if (!dir.isEmpty()) box->setText(dir);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(box, 1);
    row->addWidget(browse);
    return row;
}

QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// Forwards to the window's prompt and remembers the last question, so a refusal that only
// repeats the question the operator has just answered No is not shown again.
class AskingPrompt final : public UserPrompt {
  public:
    explicit AskingPrompt(UserPrompt& inner) : inner_(inner) {}
    bool askYesNo(const std::string& caption, const std::string& text, Icon icon) override {
        asked = text;
        return inner_.askYesNo(caption, text, icon);
    }
    void show(const std::string& caption, const std::string& text, Icon icon) override {
        inner_.show(caption, text, icon);
    }
    std::string asked;

  private:
    UserPrompt& inner_;
};

// Saves through `save`; true when stored. A refusal is shown and focuses its field.
template <class Save, class FieldOf>
bool runSave(UserPrompt& prompt, Save save, FieldOf fieldOf, std::string& savedTaskId) {
    AskingPrompt asking(prompt);
    const SaveOutcome outcome = save(asking);
    if (outcome.result == SaveResult::Saved) {
        savedTaskId = outcome.taskId;
        return true;
    }
    if (!outcome.message.empty() && outcome.message != asking.asked) {
        prompt.show(kAppCaption, outcome.message,
                    outcome.result == SaveResult::Refused ? UserPrompt::Icon::Warning
                                                          : UserPrompt::Icon::Error);
    }
    if (QWidget* field = fieldOf(outcome.field)) field->setFocus();
    return false;
}

QPushButton* scheduleButton(QDialog* dialog, execution::ScheduleForm& schedule,
                            UserPrompt& prompt) {
    auto* button = new QPushButton(qs("计划..."), dialog);
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, &schedule, &prompt] {
        CScheduleDlg plan(schedule, prompt, dialog);
        if (plan.exec() == QDialog::Accepted) schedule = plan.form();
    });
    return button;
}

}  // namespace

int intervalOf(const std::string& text) {
    bool ok = false;
    const int value = qs(text).trimmed().toInt(&ok);
    return ok ? value : -1;
}

// --- schedule ---------------------------------------------------------------------------

CScheduleDlg::CScheduleDlg(const execution::ScheduleForm& form, UserPrompt& prompt,
                           QWidget* parent)
    : QDialog(parent),
      prompt_(prompt),
      everyDay_(new QRadioButton(qs("每日"), this)),
      custom_(new QRadioButton(qs("自定义"), this)),
      interval_(new QLineEdit(QString::number(form.intervalMinutes), this)) {
    setWindowTitle(qs("计划"));
    const char* names[7] = {"周一", "周二", "周三", "周四", "周五", "周六", "周日"};
    auto* dayRow = new QHBoxLayout;
    for (int d = 0; d < 7; ++d) {
        days_[d] = new QCheckBox(qs(names[d]), this);
        days_[d]->setChecked(form.days[d]);
        dayRow->addWidget(days_[d]);
    }
    everyDay_->setChecked(form.everyDay);
    custom_->setChecked(!form.everyDay);
    auto enableDays = [this] {
        for (QCheckBox* box : days_) box->setEnabled(custom_->isChecked());
    };
    connect(custom_, &QRadioButton::toggled, this, enableDays);
    enableDays();
    // A plain box: a spin box would quietly put a value of its own for one out of range.
    interval_->setMaximumWidth(60);

    auto* kinds = new QHBoxLayout;
    kinds->addWidget(everyDay_);
    kinds->addWidget(custom_);
    kinds->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(kinds);
    layout->addLayout(dayRow);
    auto* minutes = new QHBoxLayout;
    minutes->addWidget(interval_);
    minutes->addWidget(new QLabel(qs("分钟"), this));
    minutes->addStretch();
    auto* intervalRow = new QFormLayout;
    intervalRow->addRow(qs("重复执行时间间隔:"), minutes);
    layout->addLayout(intervalRow);
    QDialogButtonBox* buttons = okCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CScheduleDlg::submit);
    layout->addWidget(buttons);
}

void CScheduleDlg::submit() {
    const execution::FormCheck check = execution::CheckScheduleForm(form());
    if (!check.accepted) {
        prompt_.show(kAppCaption, check.message, UserPrompt::Icon::Warning);
        interval_->setFocus();
        interval_->selectAll();
        return;
    }
    accept();
}

execution::ScheduleForm CScheduleDlg::form() const {
    execution::ScheduleForm form;
    form.everyDay = everyDay_->isChecked();
    for (int d = 0; d < 7; ++d) form.days[d] = days_[d]->isChecked();
    form.intervalMinutes = intervalOf(u8(interval_->text()));
    return form;
}

// --- download ---------------------------------------------------------------------------

CDownTaskDlg::CDownTaskDlg(TaskBoard& board, UserPrompt& prompt, execution::DownloadForm form,
                           std::string editedTaskId, QWidget* parent)
    : QDialog(parent),
      board_(board),
      prompt_(prompt),
      original_(std::move(form)),
      editedTaskId_(std::move(editedTaskId)),
      mailboxSource_(new QRadioButton(qs("信箱"), this)),
      bulletinSource_(new QRadioButton(qs("公告"), this)),
      description_(new QLineEdit(qs(original_.description), this)),
      mailbox_(new QComboBox(this)),
      fileName_(new QLineEdit(qs(original_.fileName), this)),
      fileNameLabel_(new QLabel(this)),
      help_(new QPlainTextEdit(this)),
      begin_(timeBox(original_.begin, this)),
      end_(timeBox(original_.end, this)),
      nextDay_(new QCheckBox(qs("次日"), this)),
      directory_(new QLineEdit(this)),
      resume_(new QCheckBox(qs("断点续传"), this)),
      dated_(new QCheckBox(qs("是否使用日期目录(当前日期作为目录)"), this)),
      bulletin_(new QComboBox(this)),
      preview_(new QTreeWidget(this)),
      refresh_(new QPushButton(qs("刷新"), this)),
      previewStatus_(new QLabel(this)),
      schedule_(original_.schedule) {
    const bool bulletin = original_.source == execution::DownloadSource::Bulletin;
    (bulletin ? bulletinSource_ : mailboxSource_)->setChecked(true);
    // The kind of a stored task stays what it is.
    mailboxSource_->setEnabled(editedTaskId_.empty());
    bulletinSource_->setEnabled(editedTaskId_.empty());
    nextDay_->setChecked(original_.nextDay);
    resume_->setChecked(original_.resume);
    dated_->setChecked(original_.dated);
    help_->setReadOnly(true);
    help_->setMinimumHeight(150);
    fillMailboxes(mailbox_, execution::TaskMailboxes(), original_.mailbox);
    fillMailboxes(bulletin_, execution::BulletinMailboxes(), original_.bulletin);
    preview_->setHeaderLabels({qs("文件名"), qs("大小(B)"), qs("创建日期")});
    preview_->setRootIsDecorated(false);
    preview_->header()->resizeSection(0, 260);
    preview_->setMinimumHeight(110);
    refresh_->setEnabled(false);
    connect(refresh_, &QPushButton::clicked, this, &CDownTaskDlg::refreshPreview);

    auto* sources = new QHBoxLayout;
    sources->addWidget(mailboxSource_);
    sources->addWidget(bulletinSource_);
    sources->addStretch();
    auto* times = new QHBoxLayout;
    times->addWidget(begin_);
    times->addWidget(new QLabel(qs("--"), this));
    times->addWidget(end_);
    times->addWidget(nextDay_);
    times->addStretch();
    times->addWidget(scheduleButton(this, schedule_, prompt_));
    auto* previewHead = new QHBoxLayout;
    previewHead->addWidget(previewStatus_, 1);
    previewHead->addWidget(refresh_);
    auto* fields = new QFormLayout;
    fields_ = fields;
    fields->addRow(qs("任务类型:"), sources);
    fields->addRow(qs("任务描述:"), description_);
    fields->addRow(qs("所属信箱:"), mailbox_);
    fields->addRow(qs("信箱名称:"), bulletin_);
    fields->addRow(fileNameLabel_, fileName_);
    fields->addRow(QString(), help_);
    fields->addRow(qs("匹配文件:"), previewHead);
    fields->addRow(QString(), preview_);
    fields->addRow(qs("运行时间:"), times);
    fields->addRow(qs("保存到:"), directoryRow(directory_, original_.directory, this));
    fields->addRow(QString(), resume_);
    fields->addRow(QString(), dated_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    QDialogButtonBox* buttons = okCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDownTaskDlg::submit);
    layout->addWidget(buttons);
    connect(bulletinSource_, &QRadioButton::toggled, this, &CDownTaskDlg::sourceChanged);
    setMinimumWidth(560);
    sourceChanged();
}

void CDownTaskDlg::sourceChanged() {
    const bool bulletin = bulletinSource_->isChecked();
    const bool isNew = editedTaskId_.empty();
    setWindowTitle(qs(bulletin ? (isNew ? "新建公告下载任务" : "公告下载任务属性")
                               : (isNew ? "新建信箱下载任务" : "信箱下载任务属性")));
    fileNameLabel_->setText(qs(bulletin ? "关键字:" : "文件名:"));
    help_->setPlainText(qs(bulletin ? kKeywordHelp : kFileNameHelp));
    // A mailbox task's mailbox is its own name; a bulletin task names its folder besides.
    fields_->setRowVisible(bulletin_, bulletin);
    preview_->clear();
    previewStatus_->clear();
}

void CDownTaskDlg::setPreview(MailboxService* mailbox, const platform::Clock* clock) {
    previewMailbox_ = mailbox;
    previewClock_ = clock;
    refresh_->setEnabled(mailbox != nullptr && clock != nullptr);
}

void CDownTaskDlg::refreshPreview() {
    if (previewMailbox_ == nullptr || previewClock_ == nullptr || job_.busy()) return;
    const execution::DownloadForm f = form();
    catalogue::DownloadTask task;
    task.plantype = static_cast<int>(f.source);
    task.mailname = catalogue::TrimText(f.mailbox);
    task.opertype = catalogue::TrimText(f.bulletin);
    task.filename = catalogue::TrimText(f.fileName);
    const bool bulletin = f.source == execution::DownloadSource::Bulletin;
    if (task.mailname.empty() || (bulletin && task.opertype.empty())) {
        showPreview({std::nullopt, "信箱名称不能为空!", {}});
        return;
    }
    Result<std::string> pattern = execution::DownloadListPattern(task, previewClock_->localNow());
    if (!pattern) {
        showPreview({std::nullopt, pattern.status().text(), {}});
        return;
    }
    refresh_->setEnabled(false);
    previewStatus_->setText(qs("正在读取远程文件列表, 请稍候......"));
    MailboxService* mailbox = previewMailbox_;
    job_.start(
        this,
        [mailbox, service = execution::DownloadService(task), pattern = *pattern, bulletin] {
            Preview preview;
            preview.text = pattern;
            std::string error;
            preview.result =
                mailbox->listPattern(service, pattern, bulletin, preview.entries, error);
            if (preview.result != GatewayOutcome::Ok) preview.text = error;
            return preview;
        },
        [this](Preview preview) {
            refresh_->setEnabled(true);
            showPreview(preview);
            emit previewIdle();
        });
}

void CDownTaskDlg::showPreview(const Preview& preview) {
    preview_->clear();
    if (!preview.result) {
        previewStatus_->setText(qs(preview.text));
        return;
    }
    if (*preview.result != GatewayOutcome::Ok) {
        previewStatus_->setText(qs(connectionLost(*preview.result)
                                       ? std::string(kLostConnection)
                                       : "获取远程目录失败!(" + preview.text + ")"));
        return;
    }
    int count = 0;
    for (const RemoteEntry& entry : preview.entries) {
        if (entry.isDirectory) continue;
        auto* item = new QTreeWidgetItem(preview_);
        item->setText(0, qs(entry.name));
        item->setText(1, QString::number(static_cast<qulonglong>(entry.size)));
        item->setText(2, qs(remoteDateText(entry.date, entry.time)));
        ++count;
    }
    previewStatus_->setText(qs("共" + std::to_string(count) + "个文件 (" + preview.text + ")"));
}

execution::DownloadForm CDownTaskDlg::form() const {
    execution::DownloadForm form = original_;
    form.source = bulletinSource_->isChecked() ? execution::DownloadSource::Bulletin
                                               : execution::DownloadSource::Mailbox;
    form.description = u8(description_->text());
    form.mailbox = mailboxOf(mailbox_);
    form.bulletin = form.source == execution::DownloadSource::Bulletin ? mailboxOf(bulletin_)
                                                                       : std::string();
    form.fileName = u8(fileName_->text());
    form.begin = timeOf(begin_);
    form.end = timeOf(end_);
    form.nextDay = nextDay_->isChecked();
    form.directory = u8(directory_->text());
    form.dated = dated_->isChecked();
    form.resume = resume_->isChecked();
    form.schedule = schedule_;
    return form;
}

QWidget* CDownTaskDlg::fieldOf(FormField field) const {
    switch (field) {
        case FormField::Description:
            return description_;
        case FormField::Mailbox:
            return mailbox_;
        case FormField::Bulletin:
            return bulletin_;
        case FormField::FileName:
            return fileName_;
        case FormField::Times:
            return begin_;
        case FormField::Directory:
            return directory_;
        default:
            return nullptr;
    }
}

void CDownTaskDlg::submit() {
    const execution::DownloadForm checked = form();
    if (runSave(
            prompt_,
            [&](UserPrompt& asking) { return board_.save(checked, editedTaskId_, asking); },
            [this](FormField f) { return fieldOf(f); }, savedTaskId_)) {
        accept();
    }
}

// --- upload -----------------------------------------------------------------------------

CUpTaskDlg::CUpTaskDlg(TaskBoard& board, UserPrompt& prompt, execution::UploadForm form,
                       std::string editedTaskId, QWidget* parent)
    : QDialog(parent),
      board_(board),
      prompt_(prompt),
      original_(std::move(form)),
      editedTaskId_(std::move(editedTaskId)),
      description_(new QLineEdit(qs(original_.description), this)),
      mailbox_(new QComboBox(this)),
      overwrite_(new QRadioButton(qs("覆盖"), this)),
      begin_(timeBox(original_.begin, this)),
      end_(timeBox(original_.end, this)),
      upload_(new QLineEdit(this)),
      uploadDated_(new QCheckBox(qs("是否使用日期目录(当前日期作为目录)"), this)),
      sent_(new QLineEdit(this)),
      sentDated_(new QCheckBox(qs("是否使用日期目录(当前日期作为目录)"), this)),
      resume_(new QCheckBox(qs("断点续传"), this)),
      schedule_(original_.schedule) {
    setWindowTitle(qs(editedTaskId_.empty() ? "新建上传任务" : "上传任务属性"));
    fillMailboxes(mailbox_, execution::TaskMailboxes(), original_.mailbox);
    auto* rename = new QRadioButton(qs("更名"), this);
    (original_.existing == execution::ExistingRemoteFile::Overwrite ? overwrite_ : rename)
        ->setChecked(true);
    uploadDated_->setChecked(original_.uploadDated);
    sentDated_->setChecked(original_.sentDated);
    resume_->setChecked(original_.resume);

    auto* existing = new QHBoxLayout;
    existing->addWidget(overwrite_);
    existing->addWidget(rename);
    existing->addStretch();
    auto* times = new QHBoxLayout;
    times->addWidget(begin_);
    times->addWidget(new QLabel(qs("--"), this));
    times->addWidget(end_);
    times->addStretch();
    times->addWidget(scheduleButton(this, schedule_, prompt_));
    auto* fields = new QFormLayout;
    fields->addRow(qs("任务描述:"), description_);
    fields->addRow(qs("信箱名称:"), mailbox_);
    fields->addRow(qs("服务器文件存在:"), existing);
    fields->addRow(qs("运行时间:"), times);
    fields->addRow(qs("上传目录:"), directoryRow(upload_, original_.uploadDirectory, this));
    fields->addRow(QString(), uploadDated_);
    fields->addRow(qs("已上传目录:"), directoryRow(sent_, original_.sentDirectory, this));
    fields->addRow(QString(), sentDated_);
    fields->addRow(QString(), resume_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    QDialogButtonBox* buttons = okCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CUpTaskDlg::submit);
    layout->addWidget(buttons);
    setMinimumWidth(560);
}

execution::UploadForm CUpTaskDlg::form() const {
    execution::UploadForm form = original_;
    form.description = u8(description_->text());
    form.mailbox = mailboxOf(mailbox_);
    form.existing = overwrite_->isChecked() ? execution::ExistingRemoteFile::Overwrite
                                            : execution::ExistingRemoteFile::Rename;
    form.begin = timeOf(begin_);
    form.end = timeOf(end_);
    form.uploadDirectory = u8(upload_->text());
    form.uploadDated = uploadDated_->isChecked();
    form.sentDirectory = u8(sent_->text());
    form.sentDated = sentDated_->isChecked();
    form.resume = resume_->isChecked();
    form.schedule = schedule_;
    return form;
}

QWidget* CUpTaskDlg::fieldOf(FormField field) const {
    switch (field) {
        case FormField::Description:
            return description_;
        case FormField::Mailbox:
            return mailbox_;
        case FormField::Times:
            return begin_;
        case FormField::Directory:
            return upload_;
        case FormField::SentDirectory:
            return sent_;
        default:
            return nullptr;
    }
}

void CUpTaskDlg::submit() {
    const execution::UploadForm checked = form();
    if (runSave(
            prompt_,
            [&](UserPrompt& asking) { return board_.save(checked, editedTaskId_, asking); },
            [this](FormField f) { return fieldOf(f); }, savedTaskId_)) {
        accept();
    }
}

// --- auto-sync --------------------------------------------------------------------------

CAutoSyncTaskDlg::CAutoSyncTaskDlg(TaskBoard& board, UserPrompt& prompt,
                                   execution::AutoSyncForm form, std::string editedTaskId,
                                   QWidget* parent)
    : QDialog(parent),
      board_(board),
      prompt_(prompt),
      editedTaskId_(std::move(editedTaskId)),
      mailbox_(new QComboBox(this)),
      description_(new QLineEdit(qs(form.description), this)),
      interval_(new QLineEdit(QString::number(form.intervalMinutes), this)),
      directory_(new QLineEdit(this)),
      resume_(new QCheckBox(qs("断点续传"), this)),
      datedByFileDate_(new QCheckBox(qs("使用日期子目录（按文件生成日期存放）"), this)) {
    setWindowTitle(qs(editedTaskId_.empty() ? "新建自动同步任务" : "自动同步任务属性"));
    fillMailboxes(mailbox_, execution::AutoSyncMailboxes(), form.mailbox);
    resume_->setChecked(form.resume);
    datedByFileDate_->setChecked(form.datedByFileDate);
    auto* interval = new QHBoxLayout;
    interval->addWidget(interval_);
    interval->addWidget(new QLabel(qs("分钟"), this));
    interval->addStretch();
    auto* fields = new QFormLayout;
    fields->addRow(qs("信箱名称:"), mailbox_);
    fields->addRow(qs("任务描述:"), description_);
    fields->addRow(qs("执行间隔:"), interval);
    fields->addRow(qs("文件保存:"), directoryRow(directory_, form.directory, this));
    fields->addRow(QString(), resume_);
    fields->addRow(QString(), datedByFileDate_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    QDialogButtonBox* buttons = okCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAutoSyncTaskDlg::submit);
    layout->addWidget(buttons);
    setMinimumWidth(520);
}

execution::AutoSyncForm CAutoSyncTaskDlg::form() const {
    execution::AutoSyncForm form;
    form.mailbox = mailboxOf(mailbox_);
    form.description = u8(description_->text());
    form.intervalMinutes = intervalOf(u8(interval_->text()));
    form.directory = u8(directory_->text());
    form.resume = resume_->isChecked();
    form.datedByFileDate = datedByFileDate_->isChecked();
    return form;
}

QWidget* CAutoSyncTaskDlg::fieldOf(FormField field) const {
    switch (field) {
        case FormField::Description:
            return description_;
        case FormField::Mailbox:
            return mailbox_;
        case FormField::Interval:
            return interval_;
        case FormField::Directory:
            return directory_;
        default:
            return nullptr;
    }
}

void CAutoSyncTaskDlg::submit() {
    const execution::AutoSyncForm checked = form();
    if (runSave(
            prompt_,
            [&](UserPrompt& asking) { return board_.save(checked, editedTaskId_, asking); },
            [this](FormField f) { return fieldOf(f); }, savedTaskId_)) {
        accept();
    }
}

}  // namespace vantrel::ui
