// vantrel-cli tasks list | show ID | add KIND [options] | edit ID [options]
//                   | delete ID | enable ID | disable ID        (each also takes --operator CODE)
// The scheduled tasks of the operator (and the public ones), edited in the task tables
// without a gateway session. add and edit apply the task dialogs' checks; a refusal prints
// the check's text.
//
// Exit codes: 0 done, 1 failed, 2 usage, 4 refused by a check.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <variant>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/task_catalogue.h"
#include "client/cli/cli.h"
#include "client/config/config.h"
#include "client/execution/tasks/task_commands.h"
#include "client/execution/tasks/task_forms.h"
#include "client/execution/tasks/task_model.h"
#include "client/service/serve_status.h"
#include "platform/files.h"

namespace vantrel::cli {
namespace {

using catalogue::AutoSyncTask;
using catalogue::CModule;
using catalogue::DownloadTask;
using catalogue::UploadTask;
using execution::SaveOutcome;
using execution::SaveResult;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kRefused = 4;

// The directory-in-use question: --yes answers Yes; otherwise the answer is No and the
// question comes back as the refusal.
class AnsweringPrompt final : public UserPrompt {
  public:
    explicit AnsweringPrompt(bool yes) : yes_(yes) {}
    bool askYesNo(const std::string& caption, const std::string& text, Icon) override {
        answeredNo_ = !yes_;
        if (yes_) {
            std::fprintf(stderr, "%s: %s [answered: yes (--yes)]\n", caption.c_str(), text.c_str());
        }
        return yes_;
    }
    void show(const std::string& caption, const std::string& text, Icon) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }
    bool answeredNo() const { return answeredNo_; }

  private:
    const bool yes_;
    bool answeredNo_ = false;
};

// The options of one tasks command line: positional words and "--name value" pairs. A
// yes/no option may stand alone, meaning yes.
struct TaskArguments {
    std::vector<std::string> positional;
    std::map<std::string, std::string> options;
    bool yes = false;
    std::string operatorCode;

    const std::string* get(const std::string& name) const {
        auto it = options.find(name);
        return it == options.end() ? nullptr : &it->second;
    }
};

const std::set<std::string> kSwitches = {"--next-day", "--dated", "--sent-dated", "--resume"};
const std::set<std::string> kValued = {"--desc", "--mailbox",  "--file",     "--keyword",
                                       "--dir",  "--sent-dir", "--begin",    "--end",
                                       "--days", "--interval", "--if-exists", "--bulletin"};

void complain(const char* command, const std::string& text) {
    std::fprintf(stderr, "vantrel-cli tasks %s: %s\n", command, text.c_str());
}

int usageFault(const char* command, const std::string& text) {
    complain(command, text);
    return kUsage;
}

bool parseArguments(const char* command, const std::vector<std::string>& arguments,
                    TaskArguments& out) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        const bool hasNext = i + 1 < arguments.size();
        if (a == "--yes") {
            out.yes = true;
        } else if (a == "--operator" && hasNext) {
            out.operatorCode = arguments[++i];
        } else if (kSwitches.count(a) != 0) {
            const bool explicitValue =
                hasNext && (arguments[i + 1] == "yes" || arguments[i + 1] == "no");
            out.options[a] = explicitValue ? arguments[++i] : "yes";
        } else if (kValued.count(a) != 0 && hasNext) {
            out.options[a] = arguments[++i];
        } else if (a.rfind("--", 0) == 0) {
            complain(command, "unknown argument or missing value '" + a + "'");
            return false;
        } else {
            out.positional.push_back(a);
        }
    }
    return true;
}

// The tasks a serve of this installation runs, as its last snapshot shows them; none when no
// client runs or it writes no snapshot (the window).
std::vector<std::string> tasksRunningElsewhere(Environment& environment) {
    std::vector<std::string> ids;
    if (!clientRunning(environment)) return ids;
    const Result<std::string> text =
        platform::readFile(service::statusFilePath(environment.installation()));
    if (!text) return ids;
    const std::optional<service::ServeStatus> status = service::fromJson(text.value());
    if (!status) return ids;
    for (const service::TaskStatus& task : status->tasks) {
        if (task.phase != RunPhaseName(RunPhase::Idle)) ids.push_back(task.id);
    }
    return ids;
}

// The catalogue of the operator's tasks, loaded from the tables.
class TaskSession {
  public:
    TaskSession(Environment& environment, std::string operatorCode)
        : context_(environment.context()),
          module_(context_, planDir_),
          operatorCode_(std::move(operatorCode)),
          // A client running meanwhile reloads the tables it has in memory.
          commands_(module_, *context_.clock, [this] { return operatorCode_; },
                    [&environment] { notifyRunningClient(environment); },
                    [&environment] { return tasksRunningElsewhere(environment); }) {
        module_.SetOperator(operatorCode_);
        module_.Load<catalogue::UploadTask>();
        module_.Load<catalogue::DownloadTask>();
        module_.Load<catalogue::AutoSyncTask>();
    }

    TaskCommands& commands() { return commands_; }
    const Installation& installation() const { return context_.installation; }

  private:
    Context context_;
    catalogue::CPlanDir planDir_;
    CModule module_;
    std::string operatorCode_;
    TaskCommands commands_;
};

std::optional<std::string> operatorOf(Environment& environment, const TaskArguments& args) {
    if (!args.operatorCode.empty()) return args.operatorCode;
    if (const char* code = std::getenv("VANTREL_OPERATOR"); code != nullptr && *code != '\0')
        return std::string(code);
    CConfig config(environment.installation());
    config.load();
    if (!config.operatorCode.empty()) return config.operatorCode;
    return std::nullopt;
}

using FoundTask = AnyTask;

// --- applying options to forms ------------------------------------------------------

// Applies the options to a form; a usage fault leaves its text in `error`.
struct Apply {
    const TaskArguments& args;
    std::string error;

    bool yesNo(const char* name, bool& target) {
        const std::string* v = args.get(name);
        if (v) target = *v == "yes";
        return true;
    }
    void text(const char* name, std::string& target) {
        if (const std::string* v = args.get(name)) target = *v;
    }
    bool directory(const char* name, std::string& target) {
        const std::string* v = args.get(name);
        if (!v) return true;
        // A relative directory is taken from where the command runs, as a file dialog would.
        const std::filesystem::path p(*v);
        target = p.is_relative() && !v->empty()
                     ? (std::filesystem::current_path() / p).lexically_normal().string()
                     : *v;
        return true;
    }
    bool time(const char* name, execution::TimeOfDay& target) {
        const std::string* v = args.get(name);
        if (!v) return true;
        auto t = execution::ParseTimeOfDay(*v);
        if (!t) return fail(std::string(name) + " wants HH:MM, not '" + *v + "'");
        target = *t;
        return true;
    }
    // Not a whole number gives 0, which the range check refuses with its own text.
    void interval(int& target) {
        const std::string* v = args.get("--interval");
        if (!v) return;
        char* end = nullptr;
        const long n = std::strtol(v->c_str(), &end, 10);
        target = (!v->empty() && *end == '\0' && n >= 0 && n < 100000) ? static_cast<int>(n) : 0;
    }
    bool mailbox(const std::vector<execution::TaskMailbox>& allowed, std::string& target,
                 const std::string& option = "--mailbox") {
        const std::string* v = args.get(option);
        if (!v) return true;
        if (v->empty()) {
            target.clear();
            return true;
        }
        if (auto code = execution::MailboxCode(allowed, *v)) {
            target = *code;
            return true;
        }
        std::string list;
        for (const auto& m : allowed) list += std::string(list.empty() ? "" : ", ") + m.code;
        return fail(option + " must be one of " + list);
    }
    bool schedule(execution::ScheduleForm& s) {
        interval(s.intervalMinutes);
        const std::string* v = args.get("--days");
        if (!v) return true;
        if (*v == "daily") {
            s.everyDay = true;
            return true;
        }
        if (v->size() != 7 || v->find_first_not_of("01") != std::string::npos) {
            return fail("--days wants 'daily' or seven 0/1 characters, Monday first");
        }
        s.everyDay = false;
        for (std::size_t i = 0; i < 7; ++i) s.days[i] = (*v)[i] == '1';
        return true;
    }
    bool fail(std::string text) {
        error = std::move(text);
        return false;
    }
    // Options that the task's kind does not have are a usage fault.
    bool only(const std::set<std::string>& allowed) {
        for (const auto& [name, value] : args.options) {
            if (allowed.count(name) == 0)
                return fail(name + " does not apply to this kind of task");
        }
        return true;
    }
};

const std::set<std::string> kDownloadOptions = {"--desc",   "--mailbox",  "--file",    "--begin",
                                                "--end",    "--next-day", "--dir",     "--dated",
                                                "--resume", "--days",     "--interval"};
const std::set<std::string> kBulletinOptions = {
    "--desc", "--mailbox", "--bulletin", "--keyword", "--begin",   "--end",
    "--next-day", "--dir", "--dated",    "--resume",  "--days",    "--interval"};
const std::set<std::string> kUploadOptions = {
    "--desc",  "--mailbox",  "--if-exists",  "--begin",  "--end",  "--dir",
    "--dated", "--sent-dir", "--sent-dated", "--resume", "--days", "--interval"};
const std::set<std::string> kAutoSyncOptions = {"--desc", "--mailbox", "--interval",
                                                "--dir",  "--dated",   "--resume"};

bool applyDownload(Apply& a, execution::DownloadForm& f) {
    const bool bulletin = f.source == execution::DownloadSource::Bulletin;
    if (!a.only(bulletin ? kBulletinOptions : kDownloadOptions)) return false;
    a.text("--desc", f.description);
    a.text(bulletin ? "--keyword" : "--file", f.fileName);
    if (bulletin && !a.mailbox(execution::BulletinMailboxes(), f.bulletin, "--bulletin"))
        return false;
    return a.mailbox(execution::TaskMailboxes(), f.mailbox) && a.time("--begin", f.begin) &&
           a.time("--end", f.end) && a.yesNo("--next-day", f.nextDay) &&
           a.directory("--dir", f.directory) && a.yesNo("--dated", f.dated) &&
           a.yesNo("--resume", f.resume) && a.schedule(f.schedule);
}

bool applyUpload(Apply& a, execution::UploadForm& f) {
    if (!a.only(kUploadOptions)) return false;
    a.text("--desc", f.description);
    if (const std::string* v = a.args.get("--if-exists")) {
        if (*v == "overwrite") {
            f.existing = execution::ExistingRemoteFile::Overwrite;
        } else if (*v == "rename") {
            f.existing = execution::ExistingRemoteFile::Rename;
        } else {
            return a.fail("--if-exists wants overwrite or rename");
        }
    }
    return a.mailbox(execution::TaskMailboxes(), f.mailbox) && a.time("--begin", f.begin) &&
           a.time("--end", f.end) && a.directory("--dir", f.uploadDirectory) &&
           a.yesNo("--dated", f.uploadDated) && a.directory("--sent-dir", f.sentDirectory) &&
           a.yesNo("--sent-dated", f.sentDated) && a.yesNo("--resume", f.resume) &&
           a.schedule(f.schedule);
}

bool applyAutoSync(Apply& a, execution::AutoSyncForm& f) {
    if (!a.only(kAutoSyncOptions)) return false;
    a.text("--desc", f.description);
    a.interval(f.intervalMinutes);
    return a.mailbox(execution::AutoSyncMailboxes(), f.mailbox) &&
           a.directory("--dir", f.directory) && a.yesNo("--dated", f.datedByFileDate) &&
           a.yesNo("--resume", f.resume);
}

int report(const char* command, const SaveOutcome& outcome, const AnsweringPrompt& prompt,
           bool printId) {
    switch (outcome.result) {
        case SaveResult::Saved:
            if (printId) std::printf("%s\n", outcome.taskId.c_str());
            return kDone;
        case SaveResult::Refused:
            std::fprintf(stderr, "%s\n", outcome.message.c_str());
            if (prompt.answeredNo()) complain(command, "answered No; --yes answers Yes");
            return kRefused;
        case SaveResult::Failed:
            break;
    }
    std::fprintf(stderr, "%s\n", outcome.message.c_str());
    return kFailed;
}

// --- subcommands ----------------------------------------------------------------------

const char* onOff(const catalogue::TaskPlan& t) {
    return catalogue::IsScheduled(t) ? "enabled" : "disabled";
}
std::string orDash(const std::string& text) {
    return text.empty() ? "-" : text;
}
std::string nextRunText(const catalogue::NextRunTime& t) {
    return t ? catalogue::FormatDateTime(platform::toLocalTime(*t)) : "-";
}

void printLine(const char* kind, const catalogue::TaskPlan& t, const std::string& schedule) {
    std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", kind, t.planid.c_str(), onOff(t),
                orDash(t.mailname).c_str(), orDash(t.plandes).c_str(), schedule.c_str(),
                orDash(t.lastresult).c_str(), orDash(t.laruntime).c_str(),
                nextRunText(t.nextRun).c_str());
}

int list(TaskSession& session, const TaskArguments& args) {
    if (!args.positional.empty() || !args.options.empty()) return kUsage;
    std::printf(
        "kind\tid\tstate\tmailbox\tdescription\tschedule\tlast result\tlast run\tnext run\n");
    for (const TaskView& view : session.commands().views())
        printLine(view.kind->word, view.plan, view.scheduleText);
    return kDone;
}

void field(const char* name, const std::string& value) {
    std::printf("%-11s %s\n", name, value.c_str());
}
void field(const char* name, int value) {
    field(name, std::to_string(value));
}

void showCommon(const catalogue::TaskPlan& t) {
    field("planid", t.planid);
    field("plandes", t.plandes);
    field("right", t.right);
    field("mailname", t.mailname);
    field("opertype", t.opertype);
    field("begindate", t.begindate);
    field("begintime", t.begintime);
    field("endtime", t.endtime);
    field("timespace", t.timespace);
    field("hastrans", t.hastrans);
    field("planstate", std::to_string(t.planstate) + " (" + onOff(t) + ")");
    field("lastresult", t.lastresult);
    field("lastdes", t.lastdes);
    field("laruntime", t.laruntime);
    field("nextrun", nextRunText(t.nextRun));
}

// The fields a kind's table has besides the common ones.
void showOwn(const DownloadTask& t) {
    field("plantype", t.plantype);
    field("filename", t.filename);
    field("recvpath", t.recvpath);
    field("hasrecvdir", t.hasrecvdir);
    field("nextday", t.nextday);
    field("curweek", t.curweek);
    field("tmpweek", t.tmpweek);
    field("weektype", t.weektype);
}
void showOwn(const UploadTask& t) {
    field("loadtype", t.loadtype);
    field("sendpath", t.sendpath);
    field("hassenddir", t.hassenddir);
    field("sentpath", t.sentpath);
    field("hassentdir", t.hassentdir);
    field("curweek", t.curweek);
    field("tmpweek", t.tmpweek);
    field("weektype", t.weektype);
}
void showOwn(const AutoSyncTask& t) {
    field("plantype", t.plantype);
    field("recvpath", t.recvpath);
    field("hasrecvdir", t.hasrecvdir);
}

int show(TaskSession& session, const TaskArguments& args) {
    if (args.positional.size() != 1 || !args.options.empty()) return kUsage;
    const std::string& id = args.positional[0];
    const auto found = session.commands().find(id);
    if (!found) {
        std::fprintf(stderr, "计划[%s]不存在！\n", id.c_str());
        return kFailed;
    }
    std::visit(
        [](const auto& t) {
            field("kind", TaskKindOf(t).word);
            showCommon(t);
            showOwn(t);
            field("schedule", execution::ScheduleText(t));
        },
        *found);
    return kDone;
}

// The options of a form's kind applied to it.
bool applyForm(Apply& a, execution::DownloadForm& f) {
    return applyDownload(a, f);
}
bool applyForm(Apply& a, execution::UploadForm& f) {
    return applyUpload(a, f);
}
bool applyForm(Apply& a, execution::AutoSyncForm& f) {
    return applyAutoSync(a, f);
}

// Applies the options to `form` and saves it as `taskId` (a new task when empty).
int saveWith(TaskSession& session, const TaskArguments& args, execution::TaskForm form,
             const std::string& taskId, const char* command) {
    AnsweringPrompt prompt(args.yes);
    Apply apply{args, {}};
    if (!std::visit([&](auto& typed) { return applyForm(apply, typed); }, form))
        return usageFault(command, apply.error);
    const SaveOutcome outcome = session.commands().save(form, taskId, prompt);
    return report(command, outcome, prompt, taskId.empty());
}

std::string receiveDirectory(TaskSession& session) {
    CConfig config(session.installation());
    config.readPaths();
    return config.recvPath.string();
}

int add(TaskSession& session, const TaskArguments& args) {
    if (args.positional.size() != 1) return kUsage;
    const std::string& word = args.positional[0];
    const TaskKindInfo* kind = TaskKindNamed(word);
    if (!kind || !kind->newForm) {
        complain("add", "the kind is download, bulletin, upload or autosync, not '" + word + "'");
        return kUsage;
    }
    // A new task starts from the window's defaults for its kind.
    return saveWith(session, args, kind->newForm(receiveDirectory(session)), {}, "add");
}

int edit(TaskSession& session, const TaskArguments& args) {
    if (args.positional.size() != 1) return kUsage;
    const std::string& id = args.positional[0];
    std::optional<execution::TaskForm> form = session.commands().form(id);
    if (!form) {
        std::fprintf(stderr, "计划[%s]不存在！\n", id.c_str());
        return kFailed;
    }
    return saveWith(session, args, std::move(*form), id, "edit");
}

// delete, enable and disable name one task and take no options.
std::optional<FoundTask> theTask(TaskSession& session, const TaskArguments& args, int& exitCode) {
    if (args.positional.size() != 1 || !args.options.empty()) {
        exitCode = kUsage;
        return std::nullopt;
    }
    auto found = session.commands().find(args.positional[0]);
    if (!found) {
        std::fprintf(stderr, "计划[%s]不存在！\n", args.positional[0].c_str());
        exitCode = kFailed;
    }
    return found;
}

int remove(TaskSession& session, const TaskArguments& args) {
    int exitCode = kDone;
    if (!theTask(session, args, exitCode)) return exitCode;
    std::string error;
    if (session.commands().remove(args.positional[0], error)) return kDone;
    std::fprintf(stderr, "%s\n", error.c_str());
    return kFailed;
}

int setState(TaskSession& session, const TaskArguments& args, int state) {
    int exitCode = kDone;
    if (!theTask(session, args, exitCode)) return exitCode;
    std::string error;
    if (session.commands().setScheduled(args.positional[0], state == 1, error)) return kDone;
    complain(state == 1 ? "enable" : "disable", error);
    return kFailed;
}

int enable(TaskSession& session, const TaskArguments& args) {
    return setState(session, args, 1);
}
int disable(TaskSession& session, const TaskArguments& args) {
    return setState(session, args, 0);
}

// The subcommands, by name. Commands that act on a task's runs (through the thread
// manager) join this table with the same signature.
struct TaskSubcommand {
    const char* name;
    int (*run)(TaskSession& session, const TaskArguments& args);
};

constexpr TaskSubcommand kSubcommands[] = {
    {"list", list},     {"show", show},     {"add", add},         {"edit", edit},
    {"delete", remove}, {"enable", enable}, {"disable", disable},
};

const char* const kUsageText =
    "list | show ID | add KIND [options] | edit ID [options] | delete ID | enable ID | disable ID\n"
    "      | run ID | stop ID | again ID   (start now, stop, download again: handed to a running\n"
    "        client; without one, run and again run the task here and wait for its end)\n"
    "      [--operator CODE] (default: VANTREL_OPERATOR, then OpertID of Client.ini)\n"
    "      KIND: download | bulletin | upload | autosync. Options (edit changes only those "
    "given):\n"
    "        --desc TEXT            task description (at most 40 bytes, a Chinese character counts "
    "2)\n"
    "        --mailbox CODE         FTP_A_QS, FTP_B_QS or FTP_SG (autosync: FTP_A_QS or FTP_B_QS)\n"
    "        --file RULE            download: file-name rule, e.g. \"*.%\"\n"
    "        --bulletin CODE        bulletin: FTP_A_BULLET, FTP_B_BULLET, FTP_SG_BULLET or\n"
    "                               FTP_TZ_BULLET\n"
    "        --keyword TEXT         bulletin: keyword of the bulletin names\n"
    "        --begin HH:MM --end HH:MM   daily window (download, bulletin, upload)\n"
    "        --next-day [yes|no]    download, bulletin: the window ends on the next day (default "
    "no)\n"
    "        --dir DIR              target directory (upload: the directory uploaded from); a\n"
    "                               trailing /\"YYYYMMDD\" is the same as --dated\n"
    "        --dated [yes|no]       files go to a dated subdirectory (autosync: by file date; "
    "default no)\n"
    "        --sent-dir DIR --sent-dated [yes|no]   upload: where uploaded files are moved\n"
    "        --if-exists overwrite|rename           upload: a file the server has (default "
    "overwrite)\n"
    "        --resume [yes|no]      resume interrupted transfers (default yes)\n"
    "        --days daily|MASK      run every day (default) or on the days of seven 0/1, Monday "
    "first\n"
    "        --interval N           minutes between runs, 3 to 60 (default 10; autosync 5)\n"
    "        --yes                  answer Yes when the directory is used by another task\n"
    "      exit codes: 0 done, 1 failed, 2 usage, 4 refused by a check (its text is printed)";

// The subcommands that act on a task's run rather than on the tables.
bool isRunCommand(const std::string& name) {
    return name == "run" || name == "stop" || name == "again";
}

int tasks(Environment& environment, const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        std::fprintf(stderr, "usage: vantrel-cli tasks %s\n", kUsageText);
        return kUsage;
    }
    if (isRunCommand(arguments[0])) {
        if (arguments.size() != 2) {
            std::fprintf(stderr, "usage: vantrel-cli tasks %s\n", kUsageText);
            return kUsage;
        }
        return taskRunCommand(environment, arguments[0], arguments[1]);
    }
    const TaskSubcommand* sub = nullptr;
    for (const TaskSubcommand& s : kSubcommands) {
        if (arguments[0] == s.name) sub = &s;
    }
    if (sub == nullptr) {
        std::fprintf(stderr,
                     "vantrel-cli tasks: unknown subcommand '%s'\nusage: vantrel-cli tasks %s\n",
                     arguments[0].c_str(), kUsageText);
        return kUsage;
    }
    TaskArguments args;
    if (!parseArguments(sub->name, std::vector<std::string>(arguments.begin() + 1, arguments.end()),
                        args)) {
        return kUsage;
    }
    const auto operatorCode = operatorOf(environment, args);
    if (!operatorCode) {
        complain(sub->name,
                 "请输入操作员！ (--operator, VANTREL_OPERATOR or OpertID in Client.ini)");
        return kFailed;
    }
    int rc = kDone;
    {
        TaskSession session(environment, *operatorCode);
        rc = sub->run(session, args);
    }
    if (rc == kUsage) std::fprintf(stderr, "usage: vantrel-cli tasks %s\n", kUsageText);
    return rc;
}

}  // namespace

std::vector<Command> taskCommands() {
    return {
        {"tasks", kUsageText,
         "the scheduled tasks: list, show, add, edit, delete, enable, disable, run, stop, again",
         tasks}};
}

}  // namespace vantrel::cli
