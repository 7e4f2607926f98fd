#pragma once
// The task dialogs' forms and their checks, toolkit-free, so that the GUI's dialogs and
// `vantrel-cli tasks add|edit` refuse the same things with the same texts. A form holds what
// the operator typed; a check runs every rule in the dialog's order, stops at the first
// refusal and only then fills the task record handed to the catalogue.
//
// Byte limits count the text as GBK (ASCII 1 byte, a Chinese character 2), the encoding the
// task tables store. A directory text ending in kDatedDirectorySuffix asks for a dated
// subdirectory: the suffix is cut off (a text that is nothing but the suffix stands for the
// root "/") and the dated flag set.

#include <array>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "client/base/user_prompt.h"
#include "client/catalogue/task_catalogue.h"
#include "client/catalogue/task_records.h"
#include "platform/clock.h"

namespace vantrel::execution {

inline constexpr const char* kDatedDirectorySuffix = "/\"YYYYMMDD\"";

// The mailboxes a task may name, by code and display name.
struct TaskMailbox {
    const char* code;
    const char* name;
};
// Download, bulletin and upload tasks: every mailbox.
const std::vector<TaskMailbox>& TaskMailboxes();
// Bulletin tasks' folders ("信箱名称" of a bulletin task).
const std::vector<TaskMailbox>& BulletinMailboxes();
// Auto-sync tasks: the A-share and B-share mailboxes only.
const std::vector<TaskMailbox>& AutoSyncMailboxes();
// The code for a code or display name of `mailboxes` (codes compared ignoring case);
// nothing when it is not one of them.
std::optional<std::string> MailboxCode(const std::vector<TaskMailbox>& mailboxes,
                                       const std::string& codeOrName);

struct TimeOfDay {
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
};
// "HH:MM" (or "H:MM") with the parts in range; nothing for any other text.
std::optional<TimeOfDay> ParseTimeOfDay(const std::string& text);
// "%02d:%02d".
std::string FormatTimeOfDay(TimeOfDay t);

// The schedule dialog "计划".
struct ScheduleForm {
    bool everyDay = true;  // "每日"; false: "自定义" with `days`
    // The seven day boxes, Monday first.
    std::array<bool, 7> days{true, true, true, true, true, true, true};
    int intervalMinutes = 10;  // "重复执行时间间隔", 3..60
};

enum class DownloadSource { Mailbox = 1, Bulletin = 2 };

struct DownloadForm {
    DownloadSource source = DownloadSource::Mailbox;
    std::string description;
    std::string mailbox;   // "所属信箱": mailbox code (`mailname`)
    std::string bulletin;  // bulletin task: the bulletin folder's code (`opertype`)
    std::string fileName;  // file-name rule (mailbox task) or keyword (bulletin task)
    TimeOfDay begin;
    TimeOfDay end;
    bool nextDay = false;  // "次日": the end time is on the following day
    std::string directory;
    bool dated = false;
    bool resume = true;
    ScheduleForm schedule;
};

// What an upload does when the server already has the file ("覆盖" / "更名").
enum class ExistingRemoteFile { Overwrite = 1, Rename = 2 };

struct UploadForm {
    std::string description;
    std::string mailbox;
    ExistingRemoteFile existing = ExistingRemoteFile::Overwrite;
    TimeOfDay begin;
    TimeOfDay end;
    std::string uploadDirectory;
    bool uploadDated = false;
    std::string sentDirectory;
    bool sentDated = false;
    bool resume = true;
    ScheduleForm schedule;
};

struct AutoSyncForm {
    std::string mailbox;  // FTP_A_QS or FTP_B_QS
    std::string description;
    int intervalMinutes = 5;  // "执行间隔", 3..60
    std::string directory;
    bool resume = true;
    bool datedByFileDate = false;
};

// The form of a task of any kind.
using TaskForm = std::variant<DownloadForm, UploadForm, AutoSyncForm>;

// The field a refusal puts the focus on.
enum class FormField {
    None,
    Description,
    Mailbox,
    Bulletin,
    FileName,
    Times,
    Directory,
    SentDirectory,
    Interval,
};

struct FormCheck {
    bool accepted = false;
    FormField field = FormField::None;
    std::string message;  // the refusal shown to the operator; empty when accepted
};

// What a check needs besides the form. `module` (required) supplies the directory
// registry and the auto-sync tasks for the duplicate refusals; `prompt` asks, on the
// calling thread, whether a download directory another task uses may be shared (No, or no
// prompt, refuses with the question as the message). `editedTaskId` is empty for a new task.
struct FormScope {
    catalogue::CModule* module = nullptr;
    UserPrompt* prompt = nullptr;
    std::string editedTaskId;
};

// Each check runs the rules in the dialog's order. On acceptance it writes the form's
// fields into `task` and leaves the other fields (id, owner, first day, state, results)
// as they are; on refusal `task` is untouched.
// The schedule dialog's own OK: the repeat interval, 3 to 60 minutes.
FormCheck CheckScheduleForm(const ScheduleForm& form);
FormCheck CheckDownloadForm(const DownloadForm& form, const FormScope& scope,
                            catalogue::DownloadTask& task);
FormCheck CheckUploadForm(const UploadForm& form, const FormScope& scope,
                          catalogue::UploadTask& task);
FormCheck CheckAutoSyncForm(const AutoSyncForm& form, const FormScope& scope,
                            catalogue::AutoSyncTask& task);

// The form of a stored task, for editing.
DownloadForm DownloadFormOf(const catalogue::DownloadTask& task);
UploadForm UploadFormOf(const catalogue::UploadTask& task);
AutoSyncForm AutoSyncFormOf(const catalogue::AutoSyncTask& task);

// A new task's record before its form is applied: a fresh id, the owner, today as the
// first day and the scheduled state.
catalogue::DownloadTask NewDownloadTask(const platform::Clock& clock,
                                        const std::string& operatorCode);
catalogue::UploadTask NewUploadTask(const platform::Clock& clock, const std::string& operatorCode);
// An auto-sync task runs all day: its window is 00:00-23:59.
catalogue::AutoSyncTask NewAutoSyncTask(const platform::Clock& clock,
                                        const std::string& operatorCode);

// Checks the form and writes the task: a new task when `scope.editedTaskId` is empty (added
// to the table, then to the catalogue's memory), else the edited one, which must be loaded.
enum class SaveResult { Saved, Refused, Failed };
struct SaveOutcome {
    SaveResult result = SaveResult::Failed;
    FormField field = FormField::None;
    std::string message;  // the refusal or the catalogue's failure text
    std::string taskId;
};
SaveOutcome SaveDownloadTask(const DownloadForm& form, const FormScope& scope,
                             const platform::Clock& clock, const std::string& operatorCode);
SaveOutcome SaveUploadTask(const UploadForm& form, const FormScope& scope,
                           const platform::Clock& clock, const std::string& operatorCode);
SaveOutcome SaveAutoSyncTask(const AutoSyncForm& form, const FormScope& scope,
                             const platform::Clock& clock, const std::string& operatorCode);

// The task list's schedule text: "从%s起,每天%s--%s", "从%s起,每周%s%s--%s" and their
// "次日" forms; auto-sync tasks use the every-day form.
std::string ScheduleText(const catalogue::DownloadTask& task);
std::string ScheduleText(const catalogue::UploadTask& task);
std::string ScheduleText(const catalogue::AutoSyncTask& task);

}  // namespace vantrel::execution
