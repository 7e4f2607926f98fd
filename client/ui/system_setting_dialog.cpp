#include "client/ui/system_setting_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "client/ui/qt_text.h"

namespace vantrel::ui {

namespace {
constexpr const char* kDiskCaption = "磁盘检测配置";

QGroupBox* group(const char* title, QLayout* content, QWidget* parent) {
    auto* box = new QGroupBox(qs(title), parent);
    box->setLayout(content);
    return box;
}
}  // namespace

CSystemSettingDlg::CSystemSettingDlg(SettingsStore& settings, UserPrompt& prompt, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      prompt_(prompt),
      loaded_(settings.loadSystem()),
      historyDays_(new QLineEdit(QString::number(loaded_.historyDays), this)),
      flagSuffix_(new QLineEdit(qs(loaded_.flagFileExtend), this)),
      minimize_(new QRadioButton(qs("最小化到托盘"), this)),
      exit_(new QRadioButton(qs("直接退出程序"), this)),
      diskSpace_(new QLineEdit(QString::number(settings.minimumFreeMegabytes()), this)),
      realtimeAtStart_(new QCheckBox(qs("程序启动运行实时回报服务"), this)),
      savePath_(new QLineEdit(qs(loaded_.realtime.receivePath), this)),
      addDate_(new QCheckBox(qs("文件保存路径自动添加日期[YYYYMMDD]"), this)) {
    setWindowTitle(qs("系统设置"));
    // A plain box: a spin box would quietly put a value of its own for one out of range.
    historyDays_->setMaximumWidth(60);
    (loaded_.closeAction == CloseAction::MinimizeToTray ? minimize_ : exit_)->setChecked(true);
    realtimeAtStart_->setChecked(!loaded_.realtime.stopped);
    addDate_->setChecked(loaded_.realtime.addDate);

    auto* history = new QHBoxLayout;
    history->addWidget(new QLabel(qs("历史文件保留天数"), this));
    history->addWidget(historyDays_);
    history->addWidget(new QLabel(qs("(7-60天)"), this));
    history->addStretch();
    auto* flag = new QFormLayout;
    flag->addRow(qs("单标志文件后缀:"), flagSuffix_);
    auto* close = new QHBoxLayout;
    close->addWidget(minimize_);
    close->addWidget(exit_);
    close->addStretch();
    QLayout* disk = diskSpaceRow();
    QLayout* realtime = realtimeRows();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group("历史文件", history, this));
    layout->addWidget(group("自动上传标志文件命名规则", flag, this));
    layout->addWidget(group("关闭按钮配置", close, this));
    layout->addWidget(group("磁盘空间检测配置", disk, this));
    layout->addWidget(group("实时回报服务配置", realtime, this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSystemSettingDlg::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setMinimumWidth(480);
}

// The free-space threshold, applied at once with 应用.
QLayout* CSystemSettingDlg::diskSpaceRow() {
    auto* apply = new QPushButton(qs("应用"), this);
    connect(apply, &QPushButton::clicked, this, &CSystemSettingDlg::applyDiskSpace);
    auto* disk = new QHBoxLayout;
    disk->addWidget(new QLabel(qs("可使用的磁盘空间至少"), this));
    disk->addWidget(diskSpace_);
    disk->addWidget(new QLabel(qs("MB"), this));
    disk->addWidget(apply);
    return disk;
}

// Whether the real-time service starts with the program, and where it saves.
QLayout* CSystemSettingDlg::realtimeRows() {
    auto* browse = new QPushButton(qs("浏览..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir =
            QFileDialog::getExistingDirectory(this, qs("文件保存路径"), savePath_->text());
        if (!dir.isEmpty()) savePath_->setText(dir);
    });
    auto* path = new QHBoxLayout;
    path->addWidget(new QLabel(qs("文件保存路径:"), this));
    path->addWidget(savePath_, 1);
    path->addWidget(browse);
    auto* realtime = new QVBoxLayout;
    realtime->addWidget(realtimeAtStart_);
    realtime->addLayout(path);
    realtime->addWidget(addDate_);

    return realtime;
}

SystemSettings CSystemSettingDlg::form() const {
    SystemSettings s = loaded_;
    bool number = false;
    const int days = historyDays_->text().trimmed().toInt(&number);
    s.historyDays = number ? days : -1;
    s.flagFileExtend = u8(flagSuffix_->text().trimmed());
    s.closeAction = minimize_->isChecked() ? CloseAction::MinimizeToTray : CloseAction::Exit;
    s.realtime.stopped = !realtimeAtStart_->isChecked();
    s.realtime.receivePath = u8(savePath_->text().trimmed());
    s.realtime.addDate = addDate_->isChecked();
    return s;
}

void CSystemSettingDlg::submit() {
    const SystemSettings s = form();
    if (const std::string refusal = checkSystemSettings(s); !refusal.empty()) {
        prompt_.show(kAppCaption, refusal, UserPrompt::Icon::Warning);
        QLineEdit* field = refusal == checkFlagFileExtend(s.flagFileExtend) ? flagSuffix_
                           : refusal == checkHistoryDays(s.historyDays)     ? historyDays_
                                                                            : savePath_;
        field->setFocus();
        field->selectAll();
        return;
    }
    if (const Status saved = settings_.saveSystem(s); !saved) {
        prompt_.show(kAppCaption, saved.text(), UserPrompt::Icon::Error);
        return;
    }
    accept();
}

void CSystemSettingDlg::applyDiskSpace() {
    bool ok = false;
    const qlonglong megabytes = diskSpace_->text().trimmed().toLongLong(&ok);
    if (const std::string refusal = checkDiskSpace(ok ? megabytes : -1); !refusal.empty()) {
        prompt_.show(kDiskCaption, refusal, UserPrompt::Icon::Warning);
        diskSpace_->setFocus();
        return;
    }
    if (!prompt_.askYesNo(kDiskCaption, "是否确认修改?", UserPrompt::Icon::Question)) return;
    if (const Status saved = settings_.saveMinimumFreeMegabytes(static_cast<int>(megabytes));
        !saved) {
        prompt_.show(kDiskCaption, saved.text(), UserPrompt::Icon::Error);
    }
}

}  // namespace vantrel::ui
