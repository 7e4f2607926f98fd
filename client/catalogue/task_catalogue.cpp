#include "client/catalogue/task_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "client/base/logs.h"
#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/table_schema.h"
#include "client/catalogue/task_schedule.h"
#include "client/config/config.h"
#include "platform/files.h"

namespace vantrel::catalogue {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The rows of a table that are not marked deleted, in their order.
std::vector<DbfRow> liveRows(CDbfImpl& table) {
    std::vector<DbfRow> rows;
    rows.reserve(static_cast<std::size_t>(table.GetRecordCount()));
    DbfCursor cursor(table);
    DbfRow row;
    int r;
    while (cursor.Next(r, row)) {
        if (!row.deleted()) rows.push_back(row);
    }
    return rows;
}

std::string fmt(const char* pattern, const std::string& a = {}, const std::string& b = {},
                const std::string& c = {}) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, a.c_str(), b.c_str(), c.c_str());
    return buffer;
}

std::string fmtInt(const char* pattern, int value) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

std::string flag(int value) {
    return value ? "1" : " ";
}
int readFlag(const DbfRow& row, const char* name) {
    return row.trimmed(name).empty() ? 0 : 1;
}
int readInt(const DbfRow& row, const char* name) {
    return static_cast<int>(LeadingInteger(row.trimmed(name)));
}

std::string withoutTrailingSeparator(std::string path) {
    path = TrimText(path);
    if (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

std::vector<std::pair<std::string_view, std::string_view>> views(const Fields& fields) {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    out.reserve(fields.size());
    for (const auto& [name, text] : fields) out.emplace_back(name, text);
    return out;
}

// The texts one task kind logs and returns.
struct Texts {
    const char* loadOpenFailed;
    const char* loadCount;
    const char* loadEmpty;
    const char* addOpenFailed;
    const char* addAppendFailed;
    const char* addDone;
    const char* deleteOpenFailed;
    const char* deleteNotFound;
    const char* deleteDone;
    const char* modifyOpenFailed;
    const char* modifyNotFound;
    const char* modifyWriteFailed;
    const char* modifyDone;
    const char* updateOpenFailed;
    const char* updateNotFound;
};

const Texts kUploadTexts = {
    "初始化上传任务失败，失败原因：打开上传任务表[%s]失败！",
    "初始化上传任务成功,共初始化[%d]个任务",
    "初始化上传任务成功,任务表为空!",
    "新增上传任务失败! 任务ID：%s，失败原因：打开上传任务表[%s]失败！",
    "新增上传任务失败! 任务ID：%s，失败原因：上传任务表[%s]%s！",
    "新增上传任务成功! 任务ID：%s",
    "删除上传任务失败! 任务ID：%s，失败原因：打开上传任务表[%s]失败！",
    "删除上传任务失败! 任务ID：%s，失败原因：上传任务表[%s]中没有找到相应的记录！",
    "删除上传任务成功! 任务ID：%s",
    "修改上传任务失败! 任务ID：%s，失败原因：打开上传任务表[%s]失败！",
    "修改上传任务失败! 任务ID：%s，失败原因：上传任务表[%s]中没有找到相应的记录！",
    "修改上传任务失败! 任务ID：%s，失败原因：上传任务表[%s]%s！",
    "修改上传任务成功! 任务ID：%s",
    "更新[任务ID:%s]任务信息失败,失败原因:打开上传任务表[%s]失败！",
    "更新[任务ID:%s]任务信息失败,失败原因:上传任务表中没有找到该任务记录!",
};

const Texts kDownloadTexts = {
    "初始化下载任务失败，失败原因：打开下载任务表[%s]失败！",
    "初始化下载任务成功,共初始化[%d]个任务",
    "初始化下载任务成功,任务表为空!",
    "新增下载任务失败! 任务ID：%s，失败原因：打开下载任务表[%s]失败！",
    "新增下载任务失败! 任务ID：%s，失败原因：下载任务表[%s]%s！",
    "新增下载任务成功! 任务ID：%s",
    "删除下载任务失败! 任务ID：%s，失败原因：打开下载任务表[%s]失败！",
    "删除下载任务失败! 任务ID：%s，失败原因：下载任务表[%s]中没有找到相应的记录！",
    "删除下载任务成功! 任务ID：%s",
    "修改下载任务失败! 任务ID：%s，失败原因：打开下载任务表[%s]失败！",
    "修改下载任务失败! 任务ID：%s，失败原因：下载任务表[%s]中没有找到相应的记录！",
    "修改下载任务失败! 任务ID：%s，失败原因：下载任务表[%s]%s！",
    "修改下载任务成功! 任务ID：%s",
    "更新[任务ID:%s]任务信息失败,失败原因:打开下载任务表[%s]失败！",
    "更新[任务ID:%s]任务信息失败,失败原因:下载任务表中没有找到该任务记录!",
};

const Texts kAutoSyncTexts = {
    "初始化自动同步任务失败，失败原因：打开自动同步任务表[%s]失败！",
    "初始化自动同步任务成功,共初始化[%d]个任务",
    "初始化自动同步任务成功,任务表为空!",
    "新增自动同步任务失败! 任务ID：%s，失败原因：打开自动同步任务表[%s]失败！",
    "新增自动同步任务失败! 任务ID：%s，失败原因：自动同步任务表[%s]%s！",
    "新增自动同步任务成功! 任务ID：%s",
    "删除自动同步任务失败! 任务ID：%s，失败原因：打开自动同步任务表[%s]失败！",
    "删除自动同步任务失败! 任务ID：%s，失败原因：自动同步任务表[%s]中没有找到相应的记录！",
    "删除自动同步任务成功! 任务ID：%s",
    "修改自动同步任务失败! 任务ID：%s，失败原因：打开自动同步任务表[%s]失败！",
    "修改自动同步任务失败! 任务ID：%s，失败原因：自动同步任务表[%s]中没有找到相应的记录！",
    "修改自动同步任务失败! 任务ID：%s，失败原因：自动同步任务表[%s]%s！",
    "修改自动同步任务成功! 任务ID：%s",
    "更新任务ID:[%s]任务信息失败,失败原因:打开自动同步任务表[%s]失败！",
    "更新[任务ID:%s]任务信息失败,失败原因:自动同步任务表中没有找到该任务记录!",
};

// Row <-> record, per kind.
Fields toRow(const UploadTask& t) {
    return {{"plandes", TrimText(t.plandes)},
            {"planid", TrimText(t.planid)},
            {"right", TrimText(t.right)},
            {"opertype", TrimText(t.opertype)},
            {"mailname", TrimText(t.mailname)},
            {"loadtype", std::to_string(t.loadtype)},
            {"begindate", TrimText(t.begindate)},
            {"begintime", TrimText(t.begintime)},
            {"endtime", TrimText(t.endtime)},
            {"sendpath", withoutTrailingSeparator(t.sendpath)},
            {"hassenddir", flag(t.hassenddir)},
            {"sentpath", withoutTrailingSeparator(t.sentpath)},
            {"hassentdir", flag(t.hassentdir)},
            {"hastrans", flag(t.hastrans)},
            {"curweek", TrimText(t.curweek)},
            {"tmpweek", TrimText(t.tmpweek)},
            {"weektype", std::to_string(t.weektype)},
            {"timespace", std::to_string(t.timespace)},
            {"lastresult", TrimText(t.lastresult)},
            {"lastdes", TrimText(t.lastdes)},
            {"laruntime", TrimText(t.laruntime)},
            {"planstate", std::to_string(t.planstate)}};
}

Fields toRow(const DownloadTask& t) {
    return {{"plantype", std::to_string(t.plantype)},
            {"plandes", TrimText(t.plandes)},
            {"planid", TrimText(t.planid)},
            {"right", TrimText(t.right)},
            {"opertype", TrimText(t.opertype)},
            {"mailname", TrimText(t.mailname)},
            {"filename", TrimText(t.filename)},
            {"recvpath", withoutTrailingSeparator(t.recvpath)},
            {"hasrecvdir", flag(t.hasrecvdir)},
            {"hastrans", flag(t.hastrans)},
            {"begindate", TrimText(t.begindate)},
            {"begintime", TrimText(t.begintime)},
            {"endtime", TrimText(t.endtime)},
            {"nextday", flag(t.nextday)},
            {"curweek", TrimText(t.curweek)},
            {"tmpweek", TrimText(t.tmpweek)},
            {"weektype", std::to_string(t.weektype)},
            {"timespace", std::to_string(t.timespace)},
            {"lastresult", TrimText(t.lastresult)},
            {"lastdes", TrimText(t.lastdes)},
            {"laruntime", TrimText(t.laruntime)},
            {"planstate", std::to_string(t.planstate)}};
}

Fields toRow(const AutoSyncTask& t) {
    return {{"plantype", std::to_string(t.plantype)},
            {"plandes", TrimText(t.plandes)},
            {"planid", TrimText(t.planid)},
            {"right", TrimText(t.right)},
            {"opertype", TrimText(t.opertype)},
            {"mailname", TrimText(t.mailname)},
            {"recvpath", withoutTrailingSeparator(t.recvpath)},
            {"hasrecvdir", flag(t.hasrecvdir)},
            {"hastrans", flag(t.hastrans)},
            {"begindate", TrimText(t.begindate)},
            {"begintime", TrimText(t.begintime)},
            {"endtime", TrimText(t.endtime)},
            {"timespace", std::to_string(t.timespace)},
            {"lastresult", TrimText(t.lastresult)},
            {"lastdes", TrimText(t.lastdes)},
            {"laruntime", TrimText(t.laruntime)},
            {"planstate", std::to_string(t.planstate)}};
}

// Bulletin tasks saved before a bulletin task kept its folder in `opertype` hold the
// folder's code cut to the 8 characters of `mailname`; each such prefix names one folder.
// Sets `opertype` to the whole code in every such row; the log lines of what was mended.
std::vector<std::string> mendCutBulletinCodes(CDbfImpl& table) {
    static constexpr const char* kBulletins[] = {"FTP_A_BULLET", "FTP_B_BULLET", "FTP_SG_BULLET",
                                                 "FTP_TZ_BULLET"};
    std::vector<std::string> mended;
    DbfCursor cursor(table);
    DbfRow row;
    int r;
    while (cursor.Next(r, row)) {
        if (row.deleted() ||
            readInt(row, "plantype") != static_cast<int>(DownloadPlanType::Bulletin))
            continue;
        const std::string operType = row.trimmed("opertype");
        const std::string mailName = row.trimmed("mailname");
        if (std::any_of(std::begin(kBulletins), std::end(kBulletins),
                        [&](const char* code) { return EqualsIgnoreCase(operType, code); }))
            continue;
        for (const char* code : kBulletins) {
            if (mailName.size() != 8 || !EqualsIgnoreCase(mailName, std::string_view(code, 8)))
                continue;
            if (table.SetFieldValues(r, {{"opertype", code}}) == 0)
                mended.push_back("公告任务[" + row.trimmed("planid") + "]的公告类型[" + mailName +
                                 "]已更正为[" + code + "]");
        }
    }
    return mended;
}

void readCommonColumns(const DbfRow& r, TaskPlan& t) {
    t.plandes = r.trimmed("plandes");
    t.planid = r.trimmed("planid");
    t.opertype = r.trimmed("opertype");
    t.mailname = r.trimmed("mailname");
    t.hastrans = readFlag(r, "hastrans");
    t.begindate = r.trimmed("begindate");
    t.begintime = r.trimmed("begintime");
    t.endtime = r.trimmed("endtime");
    t.timespace = readInt(r, "timespace");
    t.lastresult = r.trimmed("lastresult");
    t.lastdes = r.trimmed("lastdes");
    t.laruntime = r.trimmed("laruntime");
    t.planstate = readInt(r, "planstate");
    t.right = r.trimmed("right");
}

void fromRow(const DbfRow& r, UploadTask& t) {
    readCommonColumns(r, t);
    t.loadtype = r.trimmed("loadtype") == "1" ? 1 : 2;
    t.sendpath = r.trimmed("sendpath");
    t.hassenddir = readFlag(r, "hassenddir");
    t.sentpath = r.trimmed("sentpath");
    t.hassentdir = readFlag(r, "hassentdir");
    t.curweek = r.trimmed("curweek");
    t.tmpweek = r.trimmed("tmpweek");
    t.weektype = r.trimmed("weektype") == "1" ? 1 : 2;
}

void fromRow(const DbfRow& r, DownloadTask& t) {
    readCommonColumns(r, t);
    t.plantype = readInt(r, "plantype");
    t.filename = r.trimmed("filename");
    t.recvpath = r.trimmed("recvpath");
    t.hasrecvdir = readFlag(r, "hasrecvdir");
    t.nextday = readFlag(r, "nextday");
    t.curweek = r.trimmed("curweek");
    t.tmpweek = r.trimmed("tmpweek");
    t.weektype = readInt(r, "weektype");
}

void fromRow(const DbfRow& r, AutoSyncTask& t) {
    readCommonColumns(r, t);
    t.plantype = readInt(r, "plantype");
    t.recvpath = r.trimmed("recvpath");
    t.hasrecvdir = readFlag(r, "hasrecvdir");
}

PlanDirectories directoriesOf(const UploadTask& t) {
    return {"", t.sendpath, t.sentpath};
}
PlanDirectories directoriesOf(const DownloadTask& t) {
    return {t.recvpath, "", ""};
}
PlanDirectories directoriesOf(const AutoSyncTask& t) {
    return {t.recvpath, "", ""};
}

// A history entry lives in memory only: it has no row of its own and shares its task's
// directories.
template <class Task>
bool inMemoryOnly(const Task&) {
    return false;
}
bool inMemoryOnly(const AutoSyncTask& task) {
    return IsHistoryEntry(task);
}

// The entry a loaded task brings with it (its id still to be given): an auto-sync task's
// history entry, which catches up the earlier days of the same mailbox.
template <class Task>
std::optional<Task> companionOf(const Task&) {
    return std::nullopt;
}
std::optional<AutoSyncTask> companionOf(const AutoSyncTask& task) {
    AutoSyncTask history = task;
    history.plantype = static_cast<int>(AutoSyncPlanType::History);
    return history;
}

NotifierEvent changed(CatalogueTaskKind kind, TaskRecordChanged::Change change,
                      const std::string& id) {
    TaskRecordChanged event;
    event.kind = kind;
    event.change = change;
    event.taskId = id;
    return event;
}

}  // namespace

std::string MakeTaskId(const platform::Clock& clock) {
    static std::mutex mutex;
    static std::minstd_rand random(
        static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
    const platform::LocalTime t = clock.localNow();
    int number;
    {
        std::lock_guard lock(mutex);
        number = static_cast<int>(random() % 32768);
    }
    char serial[16];
    std::snprintf(serial, sizeof serial, "-%05d", number);
    return (FormatStamp(t) + serial).substr(0, 20);
}

template <class Task>
struct CModule::Kind {
    CatalogueTaskKind kind;
    const char* table;
    const char* oldTable;  // null when nothing is migrated
    const TableSpec& spec;
    const Texts& texts;
    // What the table's kind does besides keeping its rows (null / false: nothing).
    std::vector<std::string> (*mendOnLoad)(CDbfImpl& table);  // the lines it logs
    bool rowsLastFirst;    // its rows are taken from the last to the first
    bool announcesReload;  // the views hear that its tasks are reloaded
    void (CModule::*placed)(const Task& task);  // after a load, an add or a change
    std::mutex mutex;
    std::map<std::string, Task> tasks;
};

CModule::CModule(const Context& context, CPlanDir& planDir)
    : context_(context),
      planDir_(planDir),
      upload_(new Kind<UploadTask>{CatalogueTaskKind::Upload,
                                   kUploadTaskTable,
                                   kOldUploadTaskTable,
                                   UploadTaskTableSpec(),
                                   kUploadTexts,
                                   nullptr,
                                   false,
                                   true,
                                   // The dated send and sent directories of a task due today.
                                   &CModule::createUploadDirectoriesIfDue,
                                   {},
                                   {}}),
      download_(new Kind<DownloadTask>{CatalogueTaskKind::Download,
                                       kDownloadTaskTable,
                                       kOldDownloadTaskTable,
                                       DownloadTaskTableSpec(),
                                       kDownloadTexts,
                                       &mendCutBulletinCodes,
                                       false,
                                       false,
                                       nullptr,
                                       {},
                                       {}}),
      autoSync_(new Kind<AutoSyncTask>{CatalogueTaskKind::AutoSync,
                                       kAutoSyncTaskTable,
                                       nullptr,
                                       AutoSyncTaskTableSpec(),
                                       kAutoSyncTexts,
                                       nullptr,
                                       true,
                                       false,
                                       nullptr,
                                       {},
                                       {}}) {}

CModule::~CModule() = default;

void CModule::SetOperator(const std::string& operatorCode) {
    std::lock_guard lock(sessionMutex_);
    operatorCode_ = operatorCode;
}

void CModule::SetTradingDate(const std::string& tradingDate) {
    std::lock_guard lock(sessionMutex_);
    tradingDate_ = tradingDate;
}

std::filesystem::path CModule::tablePath(const char* name) const {
    return context_.installation.localconfig() / name;
}

void CModule::sysLog(const std::string& message) {
    if (context_.logs != nullptr) context_.logs->writeSysLog(message);
}

void CModule::deliver(const std::vector<NotifierEvent>& events) {
    if (context_.notifier == nullptr) return;
    for (const NotifierEvent& event : events) {
        if (std::holds_alternative<TaskRunRecorded>(event)) {
            context_.notifier->post(event);
        } else {
            context_.notifier->send(event);
        }
    }
}

template <class Task>
void CModule::migrate(Kind<Task>& kind, CDbfImpl& table) {
    if (kind.oldTable == nullptr) return;
    const std::filesystem::path oldPath = tablePath(kind.oldTable);
    std::error_code ec;
    if (!std::filesystem::exists(oldPath, ec)) return;
    CDbfImpl old(*context_.clock, context_.fileSystem());
    if (old.Open(oldPath, 1) != 1) return;
    DbfRow row;
    for (int r = 0; r < old.GetRecordCount(); ++r) {
        if (!old.ReadRow(r, row)) break;
        // Rows already present (an earlier migration that could not remove the old
        // table) are not copied twice.
        const std::string id = row.trimmed("planid");
        if (FindRecordByPlanId(id, table) >= 0) continue;
        Fields fields;
        for (const FieldSpec& f : kind.spec.fields) {
            if (EqualsIgnoreCase(f.name, "right")) {
                fields.emplace_back("right", "public");
            } else if (old.FieldIndex(f.name) >= 0) {
                fields.emplace_back(f.name, row.trimmed(f.name));
            }
        }
        const int added = table.AppendRow(views(fields));
        if (added < 0) return;
        if (row.deleted()) MarkRecordDeleted(added, table);
    }
    old.Close();
    platform::FileSystem& files = context_.fileSystem();
    if (!files.remove(oldPath)) {
        // A table that cannot be removed is set aside, so the migration runs once.
        (void)files.rename(oldPath, oldPath.string() + ".migrated");
    }
}

template <class Task>
void CModule::load(Kind<Task>& kind) {
    std::vector<NotifierEvent> events;
    std::string firstTaskId;
    std::string operatorCode;
    {
        std::lock_guard session(sessionMutex_);
        operatorCode = operatorCode_;
    }
    {
        std::lock_guard lock(kind.mutex);
        for (const auto& [id, task] : kind.tasks) planDir_.Unregister(id);
        kind.tasks.clear();
        if (kind.announcesReload) events.push_back(UploadTasksReloading{});
        const std::filesystem::path path = tablePath(kind.table);
        CDbfImpl table(*context_.clock, context_.fileSystem());
        if (table.Open(path, 2) != 1) {
            sysLog(fmt(kind.texts.loadOpenFailed, path.string()));
            deliver(events);
            return;
        }
        migrate(kind, table);
        if (kind.mendOnLoad)
            for (const std::string& line : kind.mendOnLoad(table)) sysLog(line);

        std::vector<DbfRow> rows = liveRows(table);
        if (kind.rowsLastFirst) std::reverse(rows.begin(), rows.end());
        int kept = 0;
        const platform::WallTime now = context_.clock->now();
        for (const DbfRow& row : rows) {
            const std::string right = row.trimmed("right");
            if (!EqualsIgnoreCase(right, operatorCode) && !EqualsIgnoreCase(right, "public"))
                continue;
            Task task;
            fromRow(row, task);
            task.nextRun = FirstNextRun(ScheduleOf(task), now);
            if (kind.placed) (this->*kind.placed)(task);
            planDir_.Register(task.planid, directoriesOf(task));
            if (firstTaskId.empty()) firstTaskId = task.planid;
            events.push_back(changed(kind.kind, TaskRecordChanged::Change::Loaded, task.planid));
            if (std::optional<Task> companion = companionOf(task)) {
                do {
                    companion->planid = MakeTaskId(*context_.clock);
                } while (kind.tasks.count(companion->planid) != 0 ||
                         companion->planid == task.planid);
                kind.tasks[companion->planid] = *companion;
            }
            kind.tasks[task.planid] = std::move(task);
            ++kept;
        }
        table.Close();
        sysLog(kept > 0 ? fmtInt(kind.texts.loadCount, kept) : std::string(kind.texts.loadEmpty));
    }
    deliver(events);

    if (!firstTaskId.empty())
        announceFirstTask(kind.kind, firstTaskId);
}

// Until the window took one, each load offers its first task.
void CModule::announceFirstTask(CatalogueTaskKind table, const std::string& taskId) {
    std::lock_guard handshake(handshakeMutex_);
    if (handshakeAccepted_ && handshakeAccepted_->load()) return;
    auto accepted = std::make_shared<std::atomic<bool>>(false);
    FirstTaskLoaded event;
    event.kind = table;
    event.taskId = taskId;
    event.accepted = accepted;
    if (context_.notifier != nullptr) context_.notifier->send(event);
    handshakeAccepted_ = accepted;
}

void CModule::createUploadDirectoriesFor(const UploadTask& task) {
    const std::string today = FormatDate(context_.clock->localNow());
    auto make = [&](const std::string& base, int dated) {
        if (base.empty()) return;
        std::filesystem::path dir = base;
        if (dated) dir /= today;
        if (!platform::createDirectories(dir))
            sysLog(fmt("创建上传目录[%s]失败,任务ID：%s", dir.string(), task.planid));
    };
    make(task.sendpath, task.hassenddir);
    make(task.sentpath, task.hassentdir);
}

void CModule::createUploadDirectoriesIfDue(const UploadTask& task) {
    if (!task.curweek.empty() && WeekAllows(task.curweek, context_.clock->localNow()))
        createUploadDirectoriesFor(task);
}

void CModule::CreateUploadDirectories() {
    std::lock_guard lock(upload_->mutex);
    const platform::LocalTime today = context_.clock->localNow();
    for (const auto& [id, task] : upload_->tasks) {
        if (!task.curweek.empty() && WeekAllows(task.curweek, today))
            createUploadDirectoriesFor(task);
    }
}

template <class Task>
int CModule::add(Kind<Task>& kind, const Task& task, std::string& message) {
    const std::string id = TrimText(task.planid);
    {
        std::lock_guard lock(kind.mutex);
        const std::filesystem::path path = tablePath(kind.table);
        CDbfImpl table(*context_.clock, context_.fileSystem());
        if (table.Open(path, 2) != 1) {
            message = fmt(kind.texts.addOpenFailed, id, path.string());
            sysLog(message);
            return 0;
        }
        const int row = table.AppendBlank();
        if (row < 0 || table.SetFieldValues(row, views(toRow(task))) != 0) {
            message = fmt(kind.texts.addAppendFailed, id, path.string(), table.LastError());
            sysLog(message);
            return 0;
        }
        table.Close();
        if (kind.placed) (this->*kind.placed)(task);
        sysLog(fmt(kind.texts.addDone, id));
    }
    deliver({changed(kind.kind, TaskRecordChanged::Change::Added, id)});
    return 1;
}

template <class Task>
int CModule::remove(Kind<Task>& kind, const Task& task, std::string& message) {
    const std::string id = TrimText(task.planid);
    std::lock_guard lock(kind.mutex);
    const std::filesystem::path path = tablePath(kind.table);
    CDbfImpl table(*context_.clock, context_.fileSystem());
    if (table.Open(path, 2) != 1) {
        message = fmt(kind.texts.deleteOpenFailed, id, path.string());
        sysLog(message);
        return 0;
    }
    const int row = FindRecordByPlanId(id, table);
    if (row < 0) {
        message = fmt(kind.texts.deleteNotFound, id, path.string());
        sysLog(message);
        return 1;
    }
    if (MarkRecordDeleted(row, table) != 0) {
        message = LastDbfErrorText();
        sysLog(message);
        return 0;
    }
    sysLog(fmt(kind.texts.deleteDone, id));
    return 1;
}

template <class Task>
int CModule::modify(Kind<Task>& kind, const Task& task, std::string& message) {
    const std::string id = TrimText(task.planid);
    {
        std::lock_guard lock(kind.mutex);
        const std::filesystem::path path = tablePath(kind.table);
        CDbfImpl table(*context_.clock, context_.fileSystem());
        if (table.Open(path, 2) != 1) {
            message = fmt(kind.texts.modifyOpenFailed, id, path.string());
            sysLog(message);
            return 0;
        }
        const int row = FindRecordByPlanId(id, table);
        if (row < 0) {
            message = fmt(kind.texts.modifyNotFound, id, path.string());
            sysLog(message);
            return 0;
        }
        Fields fields = toRow(task);
        std::erase_if(fields,
                      [](const auto& f) { return f.first == "planid" || f.first == "begindate"; });
        if (table.SetFieldValues(row, views(fields)) != 0) {
            message = fmt(kind.texts.modifyWriteFailed, id, path.string(), table.LastError());
            sysLog(message);
            return 0;
        }
        table.Close();
        if (kind.placed) (this->*kind.placed)(task);
        sysLog(fmt(kind.texts.modifyDone, id));
    }
    deliver({changed(kind.kind, TaskRecordChanged::Change::Modified, id)});
    return 1;
}

template <class Task>
int CModule::updateRowLocked(Kind<Task>& kind, const std::string& taskId,
                             const std::string& lastResult, const std::string& lastDescription,
                             const std::string& lastRunTime, int state) {
    const std::string id = TrimText(taskId);
    const std::filesystem::path path = tablePath(kind.table);
    CDbfImpl table(*context_.clock, context_.fileSystem());
    if (table.Open(path, 2) != 1) {
        sysLog(fmt(kind.texts.updateOpenFailed, id, path.string()));
        return 0;
    }
    const int row = FindRecordByPlanId(id, table);
    if (row < 0) {
        sysLog(fmt(kind.texts.updateNotFound, id));
        return 0;
    }
    Fields fields;
    if (!lastRunTime.empty()) fields.emplace_back("laruntime", lastRunTime);
    if (!lastResult.empty()) fields.emplace_back("lastresult", lastResult);
    if (!lastDescription.empty()) fields.emplace_back("lastdes", lastDescription);
    if (state == 1 || state == 0 || state == -1)
        fields.emplace_back("planstate", std::to_string(state));
    if (fields.empty()) return 1;
    if (table.SetFieldValues(row, views(fields)) != 0) {
        sysLog(table.LastError());
        return 0;
    }
    return 1;
}

template <class Task>
std::string CModule::recordRun(Kind<Task>& kind, const std::string& taskId,
                               const std::string& lastResult, const std::string& lastDescription,
                               const std::string& lastRunTime, bool earlyRetry) {
    TaskRunRecorded event;
    {
        std::lock_guard lock(kind.mutex);
        // A state outside 1, 0 and -1 leaves the stored state alone.
        constexpr int kKeepState = 99;
        auto it = kind.tasks.find(TrimText(taskId));
        if (it == kind.tasks.end() || !inMemoryOnly(it->second))
            updateRowLocked(kind, taskId, lastResult, lastDescription, lastRunTime, kKeepState);
        if (it == kind.tasks.end()) return {};
        Task& task = it->second;
        const int interval = earlyRetry ? 5 : task.timespace;
        task.nextRun = NextRunAfterRun(ScheduleOf(task), context_.clock->now(), interval);
        if (!lastResult.empty()) task.lastresult = lastResult;
        if (!lastDescription.empty()) task.lastdes = lastDescription;
        if (!lastRunTime.empty()) task.laruntime = lastRunTime;
        task.running = false;
        event.kind = kind.kind;
        event.taskId = task.planid;
        event.lastResult = task.lastresult;
        event.lastDescription = task.lastdes;
        event.lastRunTime = task.laruntime;
        if (task.nextRun) event.nextRunTime = FormatDateTime(platform::toLocalTime(*task.nextRun));
    }
    deliver({event});
    return event.nextRunTime;
}

bool CModule::IsHistorySyncCurrent(const std::string& taskId) const {
    std::string mailname;
    {
        std::lock_guard lock(autoSync_->mutex);
        auto it = autoSync_->tasks.find(taskId);
        if (it == autoSync_->tasks.end()) return true;
        mailname = it->second.mailname;
    }
    const std::string key =
        EqualsIgnoreCase(TrimText(mailname), "FTP_A_QS") ? "syncHisDate_A" : "syncHisDate_B";
    // The stored value is the next date still to synchronise: caught up once it lies
    // after the trading date.
    const std::string next = TrimText(CConfig(context_.installation).readSyncHisDate(key));
    std::string trading;
    {
        std::lock_guard lock(sessionMutex_);
        trading = TrimText(tradingDate_);
    }
    return next.size() >= 8 && next.substr(0, 8) > trading;
}

template <class Task>
void CModule::forget(Kind<Task>& kind, const std::string& taskId) {
    std::lock_guard lock(kind.mutex);
    kind.tasks.erase(taskId);
    planDir_.Unregister(taskId);
}

namespace {
template <class Map>
auto values(const Map& map) {
    std::vector<typename Map::mapped_type> out;
    out.reserve(map.size());
    for (const auto& [id, task] : map) out.push_back(task);
    return out;
}
template <class Map>
std::optional<typename Map::mapped_type> lookup(const Map& map, const std::string& id) {
    auto it = map.find(id);
    if (it == map.end()) return std::nullopt;
    return it->second;
}
}  // namespace

template <>
CModule::Kind<UploadTask>& CModule::kindOf<UploadTask>() const {
    return *upload_;
}
template <>
CModule::Kind<DownloadTask>& CModule::kindOf<DownloadTask>() const {
    return *download_;
}
template <>
CModule::Kind<AutoSyncTask>& CModule::kindOf<AutoSyncTask>() const {
    return *autoSync_;
}

template <class Task>
void CModule::Load() {
    load(kindOf<Task>());
}
template <class Task>
int CModule::Add(const Task& task, std::string& message) {
    return add(kindOf<Task>(), task, message);
}
template <class Task>
int CModule::Delete(const Task& task, std::string& message) {
    return remove(kindOf<Task>(), task, message);
}
template <class Task>
int CModule::Modify(const Task& task, std::string& message) {
    return modify(kindOf<Task>(), task, message);
}

template <class Task>
int CModule::UpdateRow(const std::string& taskId, const std::string& lastResult,
                       const std::string& lastDescription, const std::string& lastRunTime,
                       int state) {
    Kind<Task>& kind = kindOf<Task>();
    std::lock_guard lock(kind.mutex);
    return updateRowLocked(kind, taskId, lastResult, lastDescription, lastRunTime, state);
}

template <class Task>
std::string CModule::RecordRun(const std::string& taskId, const std::string& lastResult,
                               const std::string& lastDescription, const std::string& lastRunTime,
                               bool earlyRetry) {
    return recordRun(kindOf<Task>(), taskId, lastResult, lastDescription, lastRunTime, earlyRetry);
}

template <class Task>
void CModule::Put(const Task& task) {
    Kind<Task>& kind = kindOf<Task>();
    std::lock_guard lock(kind.mutex);
    kind.tasks[task.planid] = task;
    if (inMemoryOnly(task)) return;
    planDir_.Replace(task.planid, directoriesOf(task));
}

template <class Task>
void CModule::Remove(const std::string& taskId) {
    forget(kindOf<Task>(), taskId);
}

template <class Task>
std::vector<Task> CModule::Tasks() const {
    Kind<Task>& kind = kindOf<Task>();
    std::lock_guard lock(kind.mutex);
    return values(kind.tasks);
}

template <class Task>
std::optional<Task> CModule::Find(const std::string& taskId) const {
    Kind<Task>& kind = kindOf<Task>();
    std::lock_guard lock(kind.mutex);
    return lookup(kind.tasks, taskId);
}

// The table operations of the three record types.
#define VANTREL_CATALOGUE_TABLE(Task)                                                            \
    template void CModule::Load<Task>();                                                         \
    template int CModule::Add<Task>(const Task&, std::string&);                                  \
    template int CModule::Delete<Task>(const Task&, std::string&);                               \
    template int CModule::Modify<Task>(const Task&, std::string&);                               \
    template int CModule::UpdateRow<Task>(const std::string&, const std::string&,                \
                                          const std::string&, const std::string&, int);          \
    template std::string CModule::RecordRun<Task>(const std::string&, const std::string&,        \
                                                  const std::string&, const std::string&, bool); \
    template void CModule::Put<Task>(const Task&);                                               \
    template void CModule::Remove<Task>(const std::string&);                                     \
    template std::vector<Task> CModule::Tasks<Task>() const;                                     \
    template std::optional<Task> CModule::Find<Task>(const std::string&) const;
VANTREL_CATALOGUE_TABLE(UploadTask)
VANTREL_CATALOGUE_TABLE(DownloadTask)
VANTREL_CATALOGUE_TABLE(AutoSyncTask)
#undef VANTREL_CATALOGUE_TABLE

int CModule::PackTaskTables() {
    int result = 0;
    {
        std::lock_guard lock(upload_->mutex);
        if (PackTable(tablePath(upload_->table)) != 0) result = -1;
    }
    {
        std::lock_guard lock(download_->mutex);
        if (PackTable(tablePath(download_->table)) != 0) result = -1;
    }
    return result;
}

}  // namespace vantrel::catalogue
