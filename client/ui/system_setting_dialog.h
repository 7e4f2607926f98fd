#pragma once
// CSystemSettingDlg "系统设置": history retention, the flag-file suffix, what the close
// button does, the disk-space minimum (applied on its own with "应用" after a question) and
// the real-time report service's settings. OK runs the checks of system_settings.h in
// order; a refusal is shown, focuses its field and keeps the dialog open. GUI thread.

#include <QDialog>
#include <QLayout>

#include "client/base/user_prompt.h"
#include "client/ui/ports.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace vantrel::ui {

class CSystemSettingDlg final : public QDialog {
    Q_OBJECT
  public:
    // `settings` and `prompt` must outlive the dialog.
    CSystemSettingDlg(SettingsStore& settings, UserPrompt& prompt, QWidget* parent = nullptr);

    SystemSettings form() const;
    // OK: checks, then writes; closes only when written.
    void submit();
    // The disk-space "应用" button.
    void applyDiskSpace();

    QLineEdit* historyDaysBox() const { return historyDays_; }
    QLineEdit* flagSuffixBox() const { return flagSuffix_; }
    QLineEdit* diskSpaceBox() const { return diskSpace_; }
    QLineEdit* savePathBox() const { return savePath_; }

  private:
    QLayout* diskSpaceRow();
    QLayout* realtimeRows();

    SettingsStore& settings_;
    UserPrompt& prompt_;
    SystemSettings loaded_;
    QLineEdit* historyDays_;
    QLineEdit* flagSuffix_;
    QRadioButton* minimize_;
    QRadioButton* exit_;
    QLineEdit* diskSpace_;
    QCheckBox* realtimeAtStart_;
    QLineEdit* savePath_;
    QCheckBox* addDate_;
};

}  // namespace vantrel::ui
