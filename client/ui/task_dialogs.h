#pragma once
// The task dialogs: download (mailbox and bulletin), upload and auto-sync tasks, and the
// schedule dialog "计划". Each collects a form of client/execution/task_forms.h; OK hands it
// to the task board, which runs every check in the dialog's order (asking the
// directory-in-use question through the prompt) and stores the task. A refusal is shown,
// puts the focus on the field it names and keeps the dialog open; nothing is written.
// GUI thread.

#include <QDialog>
#include <optional>
#include <string>

#include "client/base/user_prompt.h"
#include "client/execution/tasks/task_forms.h"
#include "client/ui/background_job.h"
#include "client/ui/ports.h"
#include "client/ui/task_board.h"
#include "platform/clock.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QPlainTextEdit;
class QLineEdit;
class QRadioButton;
class QTimeEdit;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace vantrel::ui {

// The file-name and keyword rules shown beside the file-name field.
extern const char* const kFileNameHelp;
extern const char* const kKeywordHelp;

class CScheduleDlg final : public QDialog {
    Q_OBJECT
  public:
    // `prompt` shows the interval's refusal.
    CScheduleDlg(const execution::ScheduleForm& form, UserPrompt& prompt,
                 QWidget* parent = nullptr);
    // The interval (not a number: -1).
    execution::ScheduleForm form() const;
    // OK: an interval outside 3..60 is refused and keeps the dialog open.
    void submit();

    QRadioButton* everyDayBox() const { return everyDay_; }
    QCheckBox* dayBox(int monday0) const { return days_[monday0]; }
    QLineEdit* intervalBox() const { return interval_; }

  private:
    UserPrompt& prompt_;
    QRadioButton* everyDay_;
    QRadioButton* custom_;
    QCheckBox* days_[7];
    QLineEdit* interval_;
};

// Download and upload dialogs share the time and directory rows; each is one class.
class CDownTaskDlg final : public QDialog {
    Q_OBJECT
  public:
    // `editedTaskId` empty: a new task of `source`; else the stored task's form.
    CDownTaskDlg(TaskBoard& board, UserPrompt& prompt, execution::DownloadForm form,
                 std::string editedTaskId, QWidget* parent = nullptr);

    execution::DownloadForm form() const;
    // OK: checks and saves; the dialog closes only when the task was stored.
    void submit();
    const std::string& savedTaskId() const { return savedTaskId_; }

    QLineEdit* descriptionBox() const { return description_; }
    QComboBox* mailboxBox() const { return mailbox_; }
    QLineEdit* fileNameBox() const { return fileName_; }
    QTimeEdit* beginBox() const { return begin_; }
    QTimeEdit* endBox() const { return end_; }
    QCheckBox* nextDayBox() const { return nextDay_; }
    QLineEdit* directoryBox() const { return directory_; }
    QComboBox* bulletinBox() const { return bulletin_; }
    QTreeWidget* previewList() const { return preview_; }
    QPushButton* refreshButton() const { return refresh_; }
    QLabel* previewStatus() const { return previewStatus_; }

    // The preview's source: the remote files that today's run of the form would fetch
    // are listed through `mailbox` on 刷新, "today" read from `clock`. Without one the
    // refresh button is disabled. Both must outlive the dialog.
    void setPreview(MailboxService* mailbox, const platform::Clock* clock);
    // 刷新: lists in the background; previewIdle() once the list is shown.
    void refreshPreview();
    bool previewBusy() const { return job_.busy(); }

  signals:
    void previewIdle();

  private:
    struct Preview {
        // Empty when the form names nothing to list yet (no mailbox, no file name): `text`
        // says why.
        std::optional<GatewayOutcome> result;
        std::string text;  // the failure, or the pattern asked for
        std::vector<RemoteEntry> entries;
    };
    void sourceChanged();
    void showPreview(const Preview& preview);
    QWidget* fieldOf(execution::FormField field) const;

    TaskBoard& board_;
    UserPrompt& prompt_;
    execution::DownloadForm original_;
    const std::string editedTaskId_;
    std::string savedTaskId_;
    QRadioButton* mailboxSource_;
    QRadioButton* bulletinSource_;
    QLineEdit* description_;
    QComboBox* mailbox_;
    QLineEdit* fileName_;
    QLabel* fileNameLabel_;
    QPlainTextEdit* help_;
    QTimeEdit* begin_;
    QTimeEdit* end_;
    QCheckBox* nextDay_;
    QLineEdit* directory_;
    QCheckBox* resume_;
    QCheckBox* dated_;
    QComboBox* bulletin_;
    QTreeWidget* preview_;
    QPushButton* refresh_;
    QLabel* previewStatus_;
    QFormLayout* fields_ = nullptr;
    execution::ScheduleForm schedule_;
    MailboxService* previewMailbox_ = nullptr;
    const platform::Clock* previewClock_ = nullptr;
    BackgroundJob job_;  // last: joined before the members its work reads
};

class CUpTaskDlg final : public QDialog {
    Q_OBJECT
  public:
    CUpTaskDlg(TaskBoard& board, UserPrompt& prompt, execution::UploadForm form,
               std::string editedTaskId, QWidget* parent = nullptr);

    execution::UploadForm form() const;
    void submit();
    const std::string& savedTaskId() const { return savedTaskId_; }

    QLineEdit* descriptionBox() const { return description_; }
    QComboBox* mailboxBox() const { return mailbox_; }
    QTimeEdit* beginBox() const { return begin_; }
    QTimeEdit* endBox() const { return end_; }
    QLineEdit* uploadDirectoryBox() const { return upload_; }
    QLineEdit* sentDirectoryBox() const { return sent_; }

  private:
    QWidget* fieldOf(execution::FormField field) const;

    TaskBoard& board_;
    UserPrompt& prompt_;
    execution::UploadForm original_;
    const std::string editedTaskId_;
    std::string savedTaskId_;
    QLineEdit* description_;
    QComboBox* mailbox_;
    QRadioButton* overwrite_;
    QTimeEdit* begin_;
    QTimeEdit* end_;
    QLineEdit* upload_;
    QCheckBox* uploadDated_;
    QLineEdit* sent_;
    QCheckBox* sentDated_;
    QCheckBox* resume_;
    execution::ScheduleForm schedule_;
};

class CAutoSyncTaskDlg final : public QDialog {
    Q_OBJECT
  public:
    CAutoSyncTaskDlg(TaskBoard& board, UserPrompt& prompt, execution::AutoSyncForm form,
                     std::string editedTaskId, QWidget* parent = nullptr);

    execution::AutoSyncForm form() const;
    void submit();
    const std::string& savedTaskId() const { return savedTaskId_; }

    QLineEdit* descriptionBox() const { return description_; }
    QLineEdit* intervalBox() const { return interval_; }
    QLineEdit* directoryBox() const { return directory_; }

  private:
    QWidget* fieldOf(execution::FormField field) const;

    TaskBoard& board_;
    UserPrompt& prompt_;
    const std::string editedTaskId_;
    std::string savedTaskId_;
    QComboBox* mailbox_;
    QLineEdit* description_;
    QLineEdit* interval_;
    QLineEdit* directory_;
    QCheckBox* resume_;
    QCheckBox* datedByFileDate_;
};

// The interval text of the auto-sync dialog: its integer, or -1 when it is not one (the
// check then refuses it as out of range).
int intervalOf(const std::string& text);

}  // namespace vantrel::ui
