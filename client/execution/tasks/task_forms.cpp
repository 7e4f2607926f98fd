#include "client/execution/tasks/task_forms.h"

#include <cstdio>
#include <filesystem>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/task_schedule.h"
#include "platform/disk_space.h"
#include "platform/text_codec.h"

namespace vantrel::execution {
namespace {

using catalogue::AutoSyncTask;
using catalogue::CPlanDir;
using catalogue::DownloadTask;
using catalogue::EqualsIgnoreCase;
using catalogue::TrimText;
using catalogue::UploadTask;

constexpr std::size_t kTextLimit = 40;   // descriptions, file names, keywords
constexpr std::size_t kPathLimit = 256;  // a directory must stay below this many bytes
constexpr int kShortestWindow = 10;      // minutes
constexpr int kLongestWindow = 24 * 60;  // minutes

constexpr const char* kDescriptionEmpty = "任务描述不能为空！";
constexpr const char* kUploadDescriptionEmpty = "任务描述不能为空";
constexpr const char* kDescriptionTooLong =
    "任务描述所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！";
constexpr const char* kMailboxEmpty = "信箱名称不能为空!";
constexpr const char* kFileNameEmpty = "文件名称不能为空!";
constexpr const char* kFileNameTooLong =
    "文件名所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！";
constexpr const char* kKeywordEmpty = "关键字不能为空!";
constexpr const char* kKeywordTooLong =
    "关键字所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！";
constexpr const char* kWindowTooShort = "开始时间必须在结束时间之前,且不能小于10分钟！";
constexpr const char* kWindowTooLong = "开始时间与结束时间间隔不能大于24小时!";
constexpr const char* kDirectoryTooLong = "该目录[%s]过长，为了正确下载文件，请重新选择下载目录！";
constexpr const char* kDirectoryInvalid = "该目录[%s]无效，请重新选择！";
constexpr const char* kDirectoryShared =
    "该目录[%s]已被其他任务使用，下载同名文件，将可能发生冲突，是否继续？";
constexpr const char* kDirectoryReadOnly =
    "该目录[%s]不能写入文件，任务运行时将无法保存或移动其中的文件，是否继续？";
constexpr const char* kUploadDirectoryEmpty = "上传目录不能为空,请重新选择！";
constexpr const char* kSentDirectoryEmpty = "已上传目录不能为空,请重新选择！";
constexpr const char* kUploadDirectoryTooLong = "该目录[%s]过长，请重新选择上传目录！";
constexpr const char* kSentDirectoryTooLong = "该目录[%s]过长，请重新选择已上传目录！";
constexpr const char* kSameDirectories = "上传目录和已上传目录不能相同，请重新选择";
constexpr const char* kUploadDirectoryUsed = "上传目录[%s]已被其他任务使用，请重新选择！";
constexpr const char* kSentDirectoryUsed = "已上传目录[%s]已被其他任务使用,请重新选择！";
constexpr const char* kIntervalOutOfRange = "请输入 3 至 60 之间的整数。";
constexpr const char* kDuplicateAutoSyncDescription = "已存在任务描述对应的自动同步任务！";
constexpr const char* kDuplicateAutoSyncMailbox = "已存在对应自动同步任务！";

std::string withPath(const char* pattern, const std::string& path) {
    const std::string text(pattern);
    const std::size_t at = text.find("%s");
    return text.substr(0, at) + path + text.substr(at + 2);
}

FormCheck refuse(FormField field, std::string message) {
    return {false, field, std::move(message)};
}
FormCheck accept() {
    return {true, FormField::None, {}};
}

std::optional<FormCheck> checkText(const std::string& text, FormField field, const char* empty,
                                   const char* tooLong) {
    const std::string trimmed = TrimText(text);
    if (trimmed.empty()) return refuse(field, empty);
    if (platform::gbkLength(trimmed) > kTextLimit) return refuse(field, tooLong);
    return std::nullopt;
}

std::optional<FormCheck> checkInterval(int minutes) {
    if (minutes < 3 || minutes > 60) return refuse(FormField::Interval, kIntervalOutOfRange);
    return std::nullopt;
}

int minutesOf(TimeOfDay t) {
    return t.hour * 60 + t.minute;
}

std::optional<FormCheck> checkWindow(TimeOfDay begin, TimeOfDay end, bool nextDay,
                                     bool limitToOneDay) {
    const int span = minutesOf(end) + (nextDay ? kLongestWindow : 0) - minutesOf(begin);
    if (span < kShortestWindow) return refuse(FormField::Times, kWindowTooShort);
    if (limitToOneDay && span > kLongestWindow) return refuse(FormField::Times, kWindowTooLong);
    return std::nullopt;
}

// A directory text after the dated-subdirectory handling.
struct DirectoryText {
    std::string path;
    bool datedBySuffix = false;
};

DirectoryText splitDatedSuffix(const std::string& text) {
    const std::string trimmed = TrimText(text);
    const std::string suffix = kDatedDirectorySuffix;
    if (trimmed.size() < suffix.size() ||
        trimmed.compare(trimmed.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return {trimmed, false};
    }
    // Nothing but the suffix: the root keeps its separator.
    if (trimmed.size() == suffix.size()) return {"/", true};
    return {trimmed.substr(0, trimmed.size() - suffix.size()), true};
}

// The length and existence rules of one directory. Besides the dialog's rules, a
// directory must be absolute (a relative one would depend on the running program's
// working directory) and representable in the tables' GBK, or the stored path would name
// another directory.
std::optional<FormCheck> checkDirectory(const std::string& path, FormField field,
                                        const char* tooLong) {
    if (platform::gbkLength(path) >= kPathLimit) return refuse(field, withPath(tooLong, path));
    std::error_code ec;
    const std::filesystem::path p(path);
    if (!p.is_absolute() || !platform::utf8ToGbk(path) || !std::filesystem::is_directory(p, ec)) {
        return refuse(field, withPath(kDirectoryInvalid, path));
    }
    return std::nullopt;
}

// A directory the task could not write to fails every run: the operator is warned and
// decides (it may be made writable before the task runs).
std::optional<FormCheck> checkWritable(const std::string& path, FormField field,
                                       const FormScope& scope) {
    if (platform::directoryTakesFiles(path)) return std::nullopt;
    const std::string question = withPath(kDirectoryReadOnly, path);
    if (scope.prompt != nullptr &&
        scope.prompt->askYesNo(kAppCaption, question, UserPrompt::Icon::Warning)) {
        return std::nullopt;
    }
    return refuse(field, question);
}

// The registry compares without one trailing separator and ignoring case.
std::string comparable(std::string path) {
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return catalogue::ToLowerAscii(path);
}

// Asks whether a download directory another task writes to may be shared.
std::optional<FormCheck> checkSharedReceiveDirectory(const std::string& path,
                                                     const FormScope& scope) {
    if (!scope.module->planDir().IsDirectoryInUse(CPlanDir::Kind::Receive, path,
                                                  scope.editedTaskId)) {
        return std::nullopt;
    }
    const std::string question = withPath(kDirectoryShared, path);
    if (scope.prompt != nullptr &&
        scope.prompt->askYesNo(kAppCaption, question, UserPrompt::Icon::Question)) {
        return std::nullopt;
    }
    return refuse(FormField::Directory, question);
}

std::string weekMask(const std::array<bool, 7>& days) {
    std::string mask;
    for (bool d : days) mask += d ? '1' : '0';
    return mask;
}

std::array<bool, 7> daysOf(const std::string& mask) {
    std::array<bool, 7> days{};
    for (std::size_t i = 0; i < days.size(); ++i) days[i] = i < mask.size() && mask[i] == '1';
    return days;
}

// weektype 1 is "每日", 2 "自定义"; tmpweek keeps the day boxes so that switching back to
// "自定义" shows them again.
template <class Task>
void applySchedule(const ScheduleForm& s, Task& task) {
    task.weektype = s.everyDay ? 1 : 2;
    task.tmpweek = weekMask(s.days);
    task.curweek = s.everyDay ? "1111111" : task.tmpweek;
    task.timespace = s.intervalMinutes;
}

template <class Task>
ScheduleForm scheduleOf(const Task& task) {
    ScheduleForm s;
    s.everyDay = task.weektype == 1;
    s.days = daysOf(s.everyDay && task.tmpweek.size() == 7 ? task.tmpweek : task.curweek);
    s.intervalMinutes = task.timespace;
    return s;
}

TimeOfDay timeOrMidnight(const std::string& text) {
    return ParseTimeOfDay(text).value_or(TimeOfDay{});
}

std::string today(const platform::Clock& clock) {
    const platform::LocalTime t = clock.localNow();
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", t.year, t.month, t.day);
    return date;
}

template <class Task>
Task newTask(const platform::Clock& clock, const std::string& operatorCode) {
    Task task;
    task.planid = catalogue::MakeTaskId(clock);
    task.right = operatorCode;
    task.begindate = today(clock);
    task.planstate = 1;
    return task;
}

SaveOutcome refused(const FormCheck& check) {
    return {SaveResult::Refused, check.field, check.message, {}};
}

catalogue::TaskSchedule scheduleFor(const DownloadTask& t) {
    return {t.planstate, t.begindate, t.begintime, t.endtime, t.curweek, t.nextday != 0};
}
catalogue::TaskSchedule scheduleFor(const UploadTask& t) {
    return {t.planstate, t.begindate, t.begintime, t.endtime, t.curweek, false};
}
catalogue::TaskSchedule scheduleFor(const AutoSyncTask& t) {
    return {t.planstate, t.begindate, t.begintime, t.endtime, std::string(), false};
}

// Adds or modifies the checked record, then mirrors it, with its next run, in the
// catalogue's memory.
template <class Task>
SaveOutcome store(Task& task, const FormScope& scope, const platform::Clock& clock) {
    std::string message;
    catalogue::CModule& module = *scope.module;
    const int written = scope.editedTaskId.empty() ? module.Add<Task>(task, message)
                                                   : module.Modify<Task>(task, message);
    if (written != 1) return {SaveResult::Failed, FormField::None, message, task.planid};
    task.nextRun = catalogue::FirstNextRun(scheduleFor(task), clock.now());
    module.Put<Task>(task);
    return {SaveResult::Saved, FormField::None, {}, task.planid};
}

// The record the form is applied to: a new one, or the loaded task being edited.
template <class Task>
std::optional<Task> baseRecord(const FormScope& scope, const platform::Clock& clock,
                               const std::string& operatorCode,
                               Task (*make)(const platform::Clock&, const std::string&)) {
    if (scope.editedTaskId.empty()) return make(clock, operatorCode);
    return scope.module->Find<Task>(scope.editedTaskId);
}

SaveOutcome notLoaded(const std::string& taskId) {
    return {SaveResult::Failed, FormField::None, "计划[" + taskId + "]不存在！", taskId};
}

const char* kWeekdayNames[] = {"一", "二", "三", "四", "五", "六", "日"};

std::string scheduleText(const std::string& begindate, const std::string& begintime,
                         const std::string& endtime, const std::string& curweek, bool nextDay) {
    const std::string end = (nextDay ? "次日" : "") + endtime;
    if (curweek.empty() || curweek == "1111111")
        return "从" + begindate + "起,每天" + begintime + "--" + end;
    std::string days;
    for (std::size_t i = 0; i < 7 && i < curweek.size(); ++i) {
        if (curweek[i] != '1') continue;
        if (!days.empty()) days += "、";
        days += kWeekdayNames[i];
    }
    return "从" + begindate + "起,每周" + days + " " + begintime + "--" + end;
}

}  // namespace

const std::vector<TaskMailbox>& TaskMailboxes() {
    static const std::vector<TaskMailbox> mailboxes = {
        {"FTP_A_QS", "A股信箱"}, {"FTP_B_QS", "B股信箱"}, {"FTP_SG", "上市公司信箱"}};
    return mailboxes;
}

const std::vector<TaskMailbox>& BulletinMailboxes() {
    static const std::vector<TaskMailbox> bulletins = {{"FTP_A_BULLET", "A股公告"},
                                                       {"FTP_B_BULLET", "B股公告"},
                                                       {"FTP_SG_BULLET", "上市公司公告"},
                                                       {"FTP_TZ_BULLET", "投资人公告"}};
    return bulletins;
}

const std::vector<TaskMailbox>& AutoSyncMailboxes() {
    static const std::vector<TaskMailbox> mailboxes = {{"FTP_A_QS", "A股信箱"},
                                                       {"FTP_B_QS", "B股信箱"}};
    return mailboxes;
}

std::optional<std::string> MailboxCode(const std::vector<TaskMailbox>& mailboxes,
                                       const std::string& codeOrName) {
    for (const TaskMailbox& m : mailboxes) {
        if (EqualsIgnoreCase(codeOrName, m.code) || codeOrName == m.name)
            return std::string(m.code);
    }
    return std::nullopt;
}

std::optional<TimeOfDay> ParseTimeOfDay(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon > 2 || text.size() != colon + 3)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != colon && (text[i] < '0' || text[i] > '9')) return std::nullopt;
    }
    TimeOfDay t;
    t.hour = std::stoi(text.substr(0, colon));
    t.minute = std::stoi(text.substr(colon + 1));
    if (t.hour > 23 || t.minute > 59) return std::nullopt;
    return t;
}

std::string FormatTimeOfDay(TimeOfDay t) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", t.hour % 100, t.minute % 100);
    return text;
}

FormCheck CheckScheduleForm(const ScheduleForm& form) {
    if (auto r = checkInterval(form.intervalMinutes)) return *r;
    return accept();
}

FormCheck CheckDownloadForm(const DownloadForm& form, const FormScope& scope, DownloadTask& task) {
    // The schedule dialog is closed, and so checked, before the task dialog's OK.
    if (auto r = checkInterval(form.schedule.intervalMinutes)) return *r;
    if (auto r = checkText(form.description, FormField::Description, kDescriptionEmpty,
                           kDescriptionTooLong))
        return *r;
    if (TrimText(form.mailbox).empty()) return refuse(FormField::Mailbox, kMailboxEmpty);
    const bool bulletin = form.source == DownloadSource::Bulletin;
    // The run asks the gateway for this folder: only a known one is a usable service.
    const std::optional<std::string> folder =
        bulletin ? MailboxCode(BulletinMailboxes(), TrimText(form.bulletin)) : std::nullopt;
    if (bulletin && !folder) return refuse(FormField::Bulletin, kMailboxEmpty);
    if (auto r =
            checkText(form.fileName, FormField::FileName, bulletin ? kKeywordEmpty : kFileNameEmpty,
                      bulletin ? kKeywordTooLong : kFileNameTooLong)) {
        return *r;
    }
    if (auto r = checkWindow(form.begin, form.end, form.nextDay, true)) return *r;
    const DirectoryText dir = splitDatedSuffix(form.directory);
    if (auto r = checkDirectory(dir.path, FormField::Directory, kDirectoryTooLong)) return *r;
    if (auto r = checkWritable(dir.path, FormField::Directory, scope)) return *r;
    if (auto r = checkSharedReceiveDirectory(dir.path, scope)) return *r;

    task.plantype = static_cast<int>(form.source);
    task.plandes = TrimText(form.description);
    task.mailname = TrimText(form.mailbox);
    if (bulletin) task.opertype = *folder;
    task.filename = TrimText(form.fileName);
    task.begintime = FormatTimeOfDay(form.begin);
    task.endtime = FormatTimeOfDay(form.end);
    task.nextday = form.nextDay ? 1 : 0;
    task.recvpath = dir.path;
    task.hasrecvdir = form.dated || dir.datedBySuffix ? 1 : 0;
    task.hastrans = form.resume ? 1 : 0;
    applySchedule(form.schedule, task);
    return accept();
}

FormCheck CheckUploadForm(const UploadForm& form, const FormScope& scope, UploadTask& task) {
    if (auto r = checkInterval(form.schedule.intervalMinutes)) return *r;
    if (auto r = checkText(form.description, FormField::Description, kUploadDescriptionEmpty,
                           kDescriptionTooLong)) {
        return *r;
    }
    if (TrimText(form.mailbox).empty()) return refuse(FormField::Mailbox, kMailboxEmpty);
    // An upload window never crosses midnight.
    if (auto r = checkWindow(form.begin, form.end, false, false)) return *r;
    const DirectoryText send = splitDatedSuffix(form.uploadDirectory);
    const DirectoryText sent = splitDatedSuffix(form.sentDirectory);
    if (TrimText(form.uploadDirectory).empty())
        return refuse(FormField::Directory, kUploadDirectoryEmpty);
    if (TrimText(form.sentDirectory).empty())
        return refuse(FormField::SentDirectory, kSentDirectoryEmpty);
    if (auto r = checkDirectory(send.path, FormField::Directory, kUploadDirectoryTooLong))
        return *r;
    if (auto r = checkDirectory(sent.path, FormField::SentDirectory, kSentDirectoryTooLong))
        return *r;
    if (comparable(send.path) == comparable(sent.path))
        return refuse(FormField::SentDirectory, kSameDirectories);
    if (auto r = checkWritable(send.path, FormField::Directory, scope)) return *r;
    if (auto r = checkWritable(sent.path, FormField::SentDirectory, scope)) return *r;
    // Two upload tasks on one directory would send and move the same files, so a
    // directory in use is refused outright rather than asked about.
    const CPlanDir& planDir = scope.module->planDir();
    if (planDir.IsDirectoryInUse(CPlanDir::Kind::Send, send.path, scope.editedTaskId)) {
        return refuse(FormField::Directory, withPath(kUploadDirectoryUsed, send.path));
    }
    if (planDir.IsDirectoryInUse(CPlanDir::Kind::Sent, sent.path, scope.editedTaskId)) {
        return refuse(FormField::SentDirectory, withPath(kSentDirectoryUsed, sent.path));
    }

    task.plandes = TrimText(form.description);
    task.mailname = TrimText(form.mailbox);
    task.loadtype = static_cast<int>(form.existing);
    task.begintime = FormatTimeOfDay(form.begin);
    task.endtime = FormatTimeOfDay(form.end);
    task.sendpath = send.path;
    task.hassenddir = form.uploadDated || send.datedBySuffix ? 1 : 0;
    task.sentpath = sent.path;
    task.hassentdir = form.sentDated || sent.datedBySuffix ? 1 : 0;
    task.hastrans = form.resume ? 1 : 0;
    applySchedule(form.schedule, task);
    return accept();
}

FormCheck CheckAutoSyncForm(const AutoSyncForm& form, const FormScope& scope, AutoSyncTask& task) {
    if (auto r = checkInterval(form.intervalMinutes)) return *r;
    if (auto r = checkText(form.description, FormField::Description, kDescriptionEmpty,
                           kDescriptionTooLong))
        return *r;
    if (TrimText(form.mailbox).empty()) return refuse(FormField::Mailbox, kMailboxEmpty);
    const DirectoryText dir = splitDatedSuffix(form.directory);
    if (auto r = checkDirectory(dir.path, FormField::Directory, kDirectoryTooLong)) return *r;
    if (auto r = checkWritable(dir.path, FormField::Directory, scope)) return *r;
    if (auto r = checkSharedReceiveDirectory(dir.path, scope)) return *r;
    // One auto-sync task per description and per mailbox; history entries are the
    // daily tasks' shadows and the edited task does not count against itself.
    const std::string description = TrimText(form.description);
    const std::string mailbox = TrimText(form.mailbox);
    std::vector<AutoSyncTask> others = scope.module->Tasks<catalogue::AutoSyncTask>();
    std::erase_if(others, [&](const AutoSyncTask& t) {
        return catalogue::IsHistoryEntry(t) || t.planid == scope.editedTaskId;
    });
    for (const AutoSyncTask& t : others) {
        if (t.plandes == description)
            return refuse(FormField::Description, kDuplicateAutoSyncDescription);
    }
    for (const AutoSyncTask& t : others) {
        if (EqualsIgnoreCase(t.mailname, mailbox))
            return refuse(FormField::Mailbox, kDuplicateAutoSyncMailbox);
    }

    task.plandes = description;
    task.mailname = mailbox;
    task.timespace = form.intervalMinutes;
    task.recvpath = dir.path;
    task.hasrecvdir = form.datedByFileDate || dir.datedBySuffix ? 1 : 0;
    task.hastrans = form.resume ? 1 : 0;
    return accept();
}

DownloadForm DownloadFormOf(const DownloadTask& task) {
    DownloadForm form;
    form.source = catalogue::IsBulletin(task) ? DownloadSource::Bulletin : DownloadSource::Mailbox;
    form.description = task.plandes;
    form.mailbox = task.mailname;
    if (catalogue::IsBulletin(task)) form.bulletin = task.opertype;
    form.fileName = task.filename;
    form.begin = timeOrMidnight(task.begintime);
    form.end = timeOrMidnight(task.endtime);
    form.nextDay = task.nextday != 0;
    form.directory = task.recvpath;
    form.dated = task.hasrecvdir != 0;
    form.resume = task.hastrans != 0;
    form.schedule = scheduleOf(task);
    return form;
}

UploadForm UploadFormOf(const UploadTask& task) {
    UploadForm form;
    form.description = task.plandes;
    form.mailbox = task.mailname;
    form.existing = task.loadtype == 1 ? ExistingRemoteFile::Overwrite : ExistingRemoteFile::Rename;
    form.begin = timeOrMidnight(task.begintime);
    form.end = timeOrMidnight(task.endtime);
    form.uploadDirectory = task.sendpath;
    form.uploadDated = task.hassenddir != 0;
    form.sentDirectory = task.sentpath;
    form.sentDated = task.hassentdir != 0;
    form.resume = task.hastrans != 0;
    form.schedule = scheduleOf(task);
    return form;
}

AutoSyncForm AutoSyncFormOf(const AutoSyncTask& task) {
    AutoSyncForm form;
    form.mailbox = task.mailname;
    form.description = task.plandes;
    form.intervalMinutes = task.timespace;
    form.directory = task.recvpath;
    form.resume = task.hastrans != 0;
    form.datedByFileDate = task.hasrecvdir != 0;
    return form;
}

DownloadTask NewDownloadTask(const platform::Clock& clock, const std::string& operatorCode) {
    return newTask<DownloadTask>(clock, operatorCode);
}

UploadTask NewUploadTask(const platform::Clock& clock, const std::string& operatorCode) {
    return newTask<UploadTask>(clock, operatorCode);
}

AutoSyncTask NewAutoSyncTask(const platform::Clock& clock, const std::string& operatorCode) {
    AutoSyncTask task = newTask<AutoSyncTask>(clock, operatorCode);
    task.plantype = static_cast<int>(catalogue::AutoSyncPlanType::Task);
    task.begintime = "00:00";
    task.endtime = "23:59";
    return task;
}

SaveOutcome SaveDownloadTask(const DownloadForm& form, const FormScope& scope,
                             const platform::Clock& clock, const std::string& operatorCode) {
    auto task = baseRecord<DownloadTask>(scope, clock, operatorCode, NewDownloadTask);
    if (!task) return notLoaded(scope.editedTaskId);
    const FormCheck check = CheckDownloadForm(form, scope, *task);
    if (!check.accepted) return refused(check);
    return store(*task, scope, clock);
}

SaveOutcome SaveUploadTask(const UploadForm& form, const FormScope& scope,
                           const platform::Clock& clock, const std::string& operatorCode) {
    auto task = baseRecord<UploadTask>(scope, clock, operatorCode, NewUploadTask);
    if (!task) return notLoaded(scope.editedTaskId);
    const FormCheck check = CheckUploadForm(form, scope, *task);
    if (!check.accepted) return refused(check);
    return store(*task, scope, clock);
}

SaveOutcome SaveAutoSyncTask(const AutoSyncForm& form, const FormScope& scope,
                             const platform::Clock& clock, const std::string& operatorCode) {
    auto task = baseRecord<AutoSyncTask>(scope, clock, operatorCode, NewAutoSyncTask);
    if (!task) return notLoaded(scope.editedTaskId);
    const FormCheck check = CheckAutoSyncForm(form, scope, *task);
    if (!check.accepted) return refused(check);
    return store(*task, scope, clock);
}

std::string ScheduleText(const DownloadTask& task) {
    return scheduleText(task.begindate, task.begintime, task.endtime, task.curweek,
                        task.nextday != 0);
}

std::string ScheduleText(const UploadTask& task) {
    return scheduleText(task.begindate, task.begintime, task.endtime, task.curweek, false);
}

std::string ScheduleText(const AutoSyncTask& task) {
    return scheduleText(task.begindate, task.begintime, task.endtime, std::string(), false);
}

}  // namespace vantrel::execution
