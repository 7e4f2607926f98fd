#include "client/catalogue/download_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_map>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/list_engine.h"
#include "client/catalogue/table_schema.h"
#include "client/base/logs.h"
#include "client/transfer/local_path.h"
#include "platform/error_text.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace vantrel::catalogue {
namespace {

constexpr const char* kNotOpen = "清单文件没有打开!";
constexpr const char* kNotOpenFull = "清单文件没有打开！";
constexpr const char* kBadArgument = "函数输入参数不正确!";
constexpr const char* kBadArgumentFull = "函数输入参数不正确！";
constexpr const char* kBadArgumentSwapped = "输入函数参数不正确！";

std::string printf1(const char* pattern, int value, const std::string& text) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, pattern, value, text.c_str());
    return buffer;
}

std::string printfText(const char* pattern, const std::string& text) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, pattern, text.c_str());
    return buffer;
}

// "YYYYMMDD" and "hh:mm:ss" as "YYYY-MM-DD hh:mm:ss".
std::string serverTime(const RemoteFileEntry& entry) {
    const std::string& d = entry.date;
    if (d.size() < 8) return d + " " + entry.time;
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + entry.time;
}

struct OldRow {
    std::string name, size, downSize, updateTime, loadTime, flag, retry, description, modifyTime;
    bool mentioned = false;
};

}  // namespace

std::string FlagText(DownloadState state) {
    return std::to_string(static_cast<int>(state));
}

DownloadState FlagState(const std::string& flag) {
    for (const DownloadState state : {kHeld, kTransferring, kIntermediate, kDelivered}) {
        if (flag == FlagText(state)) return state;
    }
    return kFetchFromStart;
}

CDownLoadFile::CDownLoadFile(const Context& context, DownloadEngine* engine, FlagRecorder* flags)
    : context_(context), engine_(engine), flags_(flags) {}

CDownLoadFile::~CDownLoadFile() = default;

std::string CDownLoadFile::today() const {
    return FormatDate(context_.clock->localNow());
}

std::string CDownLoadFile::nowText() const {
    return FormatDateTime(context_.clock->localNow());
}

void CDownLoadFile::taskLog(const std::string& message, int level) {
    if (context_.logs != nullptr && !taskLogPath_.empty())
        context_.logs->writeTaskLog(message, level, taskLogPath_);
}

int CDownLoadFile::Init(const std::string& taskId, TaskKind kind, std::chrono::seconds dayOffset) {
    std::lock_guard lock(mutex_);
    taskId_ = taskId;
    kind_ = kind;
    const platform::LocalTime day = platform::toLocalTime(context_.clock->now() - dayOffset);
    const Installation& inst = context_.installation;
    (void)platform::createDirectories(inst.data());
    listPath_ = DailyTaskFile(inst.data(), taskId, day, ".dat");
    taskLogPath_ = DailyTaskFile(inst.log(), taskId, day, ".log");
    return openListLocked();
}

int CDownLoadFile::OpenList() {
    std::lock_guard lock(mutex_);
    return openListLocked();
}

int CDownLoadFile::openListLocked() {
    list_.reset();
    auto list = OpenListFromTemplate(context_, listPath_, kDownloadListTemplate, lastError_);
    if (!list) return 0;
    // A row with a delivery time is delivered, whatever its flag says.
    DbfCursor cursor(*list);
    DbfRow row;
    int r;
    while (cursor.Next(r, row)) {
        if (row.deleted() || RowState(row) == kDelivered) continue;
        if (ParseDateTime(row.trimmed("loadtime")))
            list->SetFieldValueByName(r, "flag", FlagText(kDelivered));
    }
    list_ = std::move(list);
    return 1;
}

int CDownLoadFile::DeleteList() {
    std::lock_guard lock(mutex_);
    list_.reset();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (platform::removeIfPresent(context_.fileSystem(), listPath_)) return 1;
        if (attempt < 2) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    lastError_ = printfText("重试3次删除下载文件列表DBF[%s]文件失败！", listPath_.string());
    return 0;
}

void CDownLoadFile::removePartialFiles(const std::string& fileName) {
    auto target = localPathInside(receiveDirectory_, fileName);
    if (!target) return;
    const Result<std::filesystem::path> partial = partialPathFor(target.value());
    auto report = [this](const std::filesystem::path& path, int err) {
        lastError_ = "文件[" + path.string() + "]删除失败！请手动处理该文件!" +
                     printf1("%2$s, 错误代码：%1$d", err, platform::systemErrorText(err).c_str());
        taskLog(lastError_, 1);
    };
    platform::FileSystem& files = context_.fileSystem();
    if (Status s = platform::removeIfPresent(files, partial.value()); !s)
        report(partial.value(), s.systemCode());
    if (engine_ != nullptr) {
        Status removed = engine_->removeBlockState(partial.value());
        if (!removed) {
            lastError_ = "文件[" + partial.value().string() +
                         ".~block]删除失败！请手动处理该文件!" + removed.text();
            taskLog(lastError_, 1);
        }
    } else {
        const std::filesystem::path block = partial.value().string() + ".~block";
        if (Status s = platform::removeIfPresent(files, block); !s) report(block, s.systemCode());
    }
}

void CDownLoadFile::removeStrayBlockState(const std::string& fileName) {
    // A delivery cut off after its row was written and before its block state went leaves
    // the state file alone, without its partial file.
    auto target = localPathInside(receiveDirectory_, fileName);
    if (!target) return;
    const std::filesystem::path partial = partialPathFor(target.value());
    std::error_code ec;
    if (std::filesystem::exists(partial, ec) ||
        !std::filesystem::exists(partial.string() + ".~block", ec))
        return;
    if (engine_ != nullptr) {
        (void)engine_->removeBlockState(partial);
    } else {
        (void)platform::removeIfPresent(context_.fileSystem(), partial.string() + ".~block");
    }
}

struct CDownLoadFile::KnownRows {
    std::vector<OldRow> rows;
    std::unordered_map<std::string, std::size_t> byName;  // lower-case name -> row
};

CDownLoadFile::KnownRows CDownLoadFile::readKnownRowsLocked() const {
    KnownRows known;
    if (!list_) return known;
    DbfCursor cursor(*list_);
    DbfRow row;
    int r;
    while (cursor.Next(r, row)) {
        if (row.deleted()) continue;
        OldRow o{row.trimmed("filename"),   row.trimmed("size"),     row.trimmed("downsize"),
                 row.trimmed("updatetime"), row.trimmed("loadtime"), row.trimmed("flag"),
                 row.trimmed("retry"),      row.trimmed("discript"), row.trimmed("modifytime")};
        const std::string key = ToLowerAscii(o.name);
        if (known.byName.count(key) != 0) continue;
        known.byName[key] = known.rows.size();
        known.rows.push_back(std::move(o));
    }
    return known;
}

int CDownLoadFile::RebuildList(const std::vector<RemoteFileEntry>& listing,
                               const std::function<bool(const std::string&)>& select) {
    std::lock_guard lock(mutex_);
    // 1. What the current list knows, by name.
    KnownRows known = readKnownRowsLocked();

    // 2.-4. A fresh copy of the template beside the list, filled, then put in place of the
    // list as one durable replacement: on any failure the list stays as it was.
    platform::FileSystem& files = context_.fileSystem();
    std::string failure;
    const Status replaced =
        platform::replaceFileDurably(files, listPath_, [&](const std::filesystem::path& fresh) {
            Status filled = Status::ok();
            if (!platform::copyFile(
                    files, context_.installation.localconfig() / kDownloadListTemplate, fresh)) {
                filled = Status::error(ErrorKind::IoError, "拷贝上传数据模板文件失败!");
            } else {
                CDbfImpl table(*context_.clock, files);
                filled = table.Open(fresh, 2) != 1
                             ? Status::error(ErrorKind::IoError, "打开发送文件列表DBF文件失败！")
                             : fillListLocked(table, listing, select, known);
            }
            if (!filled) failure = filled.text();
            return filled;
        });
    if (!replaced) {
        lastError_ = !failure.empty()
                         ? failure
                         : printfText("替换下载文件列表DBF[%s]文件失败！", listPath_.string()) +
                               replaced.text();
        return 0;
    }
    // The list now names the new file; the old handle still reads the replaced one.
    list_.reset();
    clearItemsLocked();
    return openListLocked();
}

// 3. The listing, newest file of each name, then what the listing did not mention.
Status CDownLoadFile::fillListLocked(CDbfImpl& table, const std::vector<RemoteFileEntry>& listing,
                                     const std::function<bool(const std::string&)>& select,
                                     KnownRows& known) {
    struct Taken {
        int row;
        std::string updateTime;
    };
    std::unordered_map<std::string, Taken> taken;
    for (const RemoteFileEntry& entry : listing) {
        const std::string name = TrimText(entry.name);
        if (name.empty() || (select && !select(name))) continue;
        const std::string updateTime = serverTime(entry);
        const std::string key = ToLowerAscii(name);
        if (auto t = taken.find(key); t != taken.end()) {
            if (t->second.updateTime > updateTime) continue;
            MarkRecordDeleted(t->second.row, table);
            taskLog("存在同名文件，仅下载最新文件[" + name + "]!", 0);
        }
        const int row = appendListedLocked(table, name, entry, updateTime, known);
        if (row < 0) return Status::error(ErrorKind::IoError, lastError_);
        taken[key] = Taken{row, updateTime};
    }

    // A listing of changes only must not forget what was delivered before.
    for (const OldRow& kept : known.rows) {
        if (kept.mentioned) continue;
        if (appendRowLocked(table, {{"filename", kept.name},
                                    {"size", kept.size},
                                    {"downsize", kept.downSize},
                                    {"updatetime", kept.updateTime},
                                    {"loadtime", kept.loadTime},
                                    {"flag", kept.flag},
                                    {"retry", kept.retry},
                                    {"discript", kept.description},
                                    {"modifytime", kept.modifyTime}}) < 0) {
            return Status::error(ErrorKind::IoError, lastError_);
        }
    }
    if (!table.Close()) return Status::error(ErrorKind::IoError, table.LastError());
    return Status::ok();
}

// One listed file: the row the list had for it when the gateway's file is the same one, else
// a new row (and what was received of the older file goes).
int CDownLoadFile::appendListedLocked(CDbfImpl& table, const std::string& name,
                                      const RemoteFileEntry& entry, const std::string& updateTime,
                                      KnownRows& known) {
    auto o = known.byName.find(ToLowerAscii(name));
    OldRow* old = o != known.byName.end() ? &known.rows[o->second] : nullptr;
    if (old) old->mentioned = true;
    if (old && EqualsIgnoreCase(old->updateTime, updateTime) &&
        LeadingInteger(old->size) == entry.size) {
        // A held file keeps the reason it is held for.
        const bool held = FlagState(old->flag) == kHeld;
        return appendRowLocked(table, {{"filename", name},
                                       {"size", old->size},
                                       {"downsize", old->downSize},
                                       {"updatetime", old->updateTime},
                                       {"loadtime", old->loadTime},
                                       {"flag", old->flag},
                                       {"retry", held ? old->retry : ""},
                                       {"discript", held ? old->description : ""},
                                       {"modifytime", held ? old->modifyTime : ""}});
    }
    if (old) removePartialFiles(old->name);
    const std::string size = std::to_string(entry.size);
    return appendRowLocked(
        table, {{"filename", name}, {"size", size}, {"updatetime", updateTime}, {"flag", "0"}});
}

int CDownLoadFile::appendRowLocked(
    CDbfImpl& table, const std::vector<std::pair<std::string_view, std::string_view>>& values) {
    const int row = table.AppendRow(values);
    if (row < 0) lastError_ = table.LastError();
    return row;
}

int CDownLoadFile::AppendRow(const std::string& fileName, const std::string& size,
                             const std::string& downSize, const std::string& updateTime,
                             const std::string& loadTime, const std::string& flag,
                             const std::string& retry, const std::string& description) {
    std::lock_guard lock(mutex_);
    if (!list_) {
        lastError_ = "该dbf文件不存在!";
        return 0;
    }
    return appendRowLocked(*list_, {{"filename", fileName},
                                    {"size", size},
                                    {"downsize", downSize},
                                    {"updatetime", updateTime},
                                    {"loadtime", loadTime},
                                    {"flag", flag},
                                    {"retry", retry},
                                    {"discript", description}}) >= 0
               ? 1
               : 0;
}

bool CDownLoadFile::LoadWorkItems() {
    std::lock_guard lock(mutex_);
    clearItemsLocked();
    deliveredCount_ = 0;
    if (!list_) {
        lastError_ = kNotOpen;
        return false;
    }
    DbfCursor cursor(*list_);
    DbfRow row;
    int r;
    while (cursor.Next(r, row)) {
        if (row.deleted()) continue;
        const std::string flag = row.trimmed("flag");
        const DownloadState stored = FlagState(flag);
        if (stored == kDelivered) {
            ++deliveredCount_;
            removeStrayBlockState(row.trimmed("filename"));
            continue;
        }
        auto item = std::make_unique<DownloadWorkItem>();
        item->taskId = taskId_;
        item->fileName = row.trimmed("filename");
        item->size = row.trimmed("size");
        item->downSize = row.trimmed("downsize");
        item->receiveDirectory = receiveDirectory_;
        item->updateTime = row.trimmed("updatetime");
        item->loadTime = row.trimmed("loadtime");
        item->retry = 0;
        item->row = r;
        item->rowInTransfer = stored == kTransferring;
        resumeStateLocked(*item, flag, r, row);
        addItemLocked(std::move(item), r);
    }
    return true;
}

void CDownLoadFile::resumeStateLocked(DownloadWorkItem& item, const std::string& flag, int row,
                                      const DbfRow& record) {
    auto target = localPathInside(receiveDirectory_, item.fileName);
    const Result<std::filesystem::path> partial =
        target ? Result<std::filesystem::path>(partialPathFor(target.value()))
               : target.status();
    std::error_code ec;
    const DownloadState stored = FlagState(flag);
    if (!partial || !std::filesystem::exists(partial.value(), ec)) {
        if (item.downSize != "0" || flag != FlagText(kFetchFromStart))
            list_->SetFieldValues(row, {{"downsize", "0"}, {"flag", FlagText(kFetchFromStart)}});
        item.downSize = "0";
        item.flag = '0';
        item.state = kFetchFromStart;
    } else if (stored == kHeld) {
        // Held for the day: the row says why.
        item.flag = '1';
        item.state = kHeld;
        item.lastError = record.trimmed("discript");
    } else if (stored == kTransferring) {
        const bool complete = LeadingInteger(item.size) == LeadingInteger(item.downSize);
        item.flag = '2';
        item.state = complete ? kTransferring : kFetchFromStart;
    } else if (stored == kIntermediate) {
        item.flag = '3';
        item.state = kIntermediate;
    } else {
        item.flag = '0';
        item.state = kFetchFromStart;
    }
}

int CDownLoadFile::SetReceivedSize(int row, std::int64_t bytes) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    DownloadWorkItem& item = *itemLocked(row);
    item.downSize = std::to_string(bytes);
    item.changeDate = today();
    if (list_->SetFieldValueByName(row, "DOWNSIZE", item.downSize) != 0) {
        lastError_ = list_->LastError();
        return 0;
    }
    return 1;
}

int CDownLoadFile::recordFailureLocked(DownloadWorkItem& item, const std::string& error) {
    if (error == item.lastError) return 1;
    ++item.retry;
    item.lastError = error.substr(0, 200);
    return writeFailureLocked(item, error);
}

int CDownLoadFile::writeFailureLocked(DownloadWorkItem& item, const std::string& error) {
    item.changeDate = today();
    std::string stored;
    list_->GetFieldValueByName(item.row, "retry", stored);
    const std::string retry = std::to_string(LeadingInteger(stored) + 1);
    if (list_->SetFieldValues(
            item.row, {{"modifytime", item.changeDate}, {"retry", retry}, {"discript", error}}) !=
        0) {
        lastError_ = list_->LastError();
        return 0;
    }
    return 1;
}

int CDownLoadFile::RecordFailure(int row, const std::string& error) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgumentFull, kNotOpenFull)) return 0;
    return recordFailureLocked(*itemLocked(row), error);
}

void CDownLoadFile::setStateLocked(DownloadWorkItem& item, int state) {
    if (item.state == state) return;
    item.state = state;
    if (state == kFetchFromStart || state == kTransferring || state == kDelivered) {
        item.flag = static_cast<char>('0' + state);
        const std::string flag(1, item.flag);
        if (list_->SetFieldValueByName(item.row, "flag", flag) != 0)
            lastError_ = list_->LastError();
    }
}

int CDownLoadFile::SetState(int row, int state) {
    std::lock_guard lock(mutex_);
    if (state < kFetchFromStart || state > kArrived) {
        lastError_ = kBadArgumentSwapped;
        return 0;
    }
    if (!checkLocked(row, kBadArgumentSwapped, kNotOpenFull)) return 0;
    setStateLocked(*itemLocked(row), state);
    return 1;
}

int CDownLoadFile::MarkDelivered(int row) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    DownloadWorkItem& item = *itemLocked(row);
    item.finished = true;
    item.loadTime = nowText();
    // A file delivered between two progress notes still shows all of it as received.
    item.downSize = item.size;
    if (list_->SetFieldValues(row, {{"LOADTIME", item.loadTime},
                                    {"DOWNSIZE", item.downSize},
                                    {"discript", " "}}) != 0) {
        lastError_ = list_->LastError();
        return 0;
    }
    ++deliveredCount_;
    if (flags_ != nullptr && flags_->IsFlagFile(item.fileName) == 1)
        flags_->RecordFlagFile(item.fileName, item.loadTime);
    return 1;
}

int CDownLoadFile::FinishItem(int row) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgumentFull, kNotOpenFull)) return 0;
    DownloadWorkItem& item = *itemLocked(row);
    item.finished = true;
    if (item.state == kTransferring)
        list_->SetFieldValueByName(row, "flag", FlagText(kTransferring));
    return 1;
}

int CDownLoadFile::HoldFile(int row, const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgumentFull, kNotOpenFull)) return 0;
    DownloadWorkItem& item = *itemLocked(row);
    item.state = kHeld;
    item.flag = '1';
    item.finished = true;
    item.lastError = reason.substr(0, 200);
    item.changeDate = today();
    if (list_->SetFieldValues(
            row, {{"flag", FlagText(kHeld)}, {"modifytime", item.changeDate}, {"discript", reason}}) !=
                0) {
        lastError_ = list_->LastError();
        return 0;
    }
    return 1;
}

int CDownLoadFile::startFileLocked(DownloadWorkItem& item) {
    if (item.state == kTransferring || item.state == kHeld || item.finished || item.retry > 3)
        return 0;
    taskLog(item.retry > 0 ? printf1("开始第(%d)次重复下载文件[%s]", item.retry, item.fileName)
                           : printfText("开始下载文件[%s]", item.fileName),
            0);
    auto target = localPathInside(receiveDirectory_, item.fileName);
    const Result<std::filesystem::path> partial =
        target ? Result<std::filesystem::path>(partialPathFor(target.value())) : target.status();
    std::unique_ptr<platform::File> opened;
    std::string error;
    if (partial) {
        // A task's directory that does not exist yet is made, as the transfer would.
        if (Status made = context_.fileSystem().createDirectories(partial.value().parent_path());
            !made) {
            error = made.text();
        } else {
            // With block state beside it the partial file is the engine's to resume (or to
            // start again when the state cannot be trusted); truncating it would lose it.
            std::error_code ec;
            const bool resumable =
                std::filesystem::exists(partial.value().string() + ".~block", ec);
            Result<std::unique_ptr<platform::File>> file = context_.fileSystem().open(
                partial.value(),
                resumable ? platform::OpenMode::kCreate : platform::OpenMode::kCreateTruncate);
            if (file)
                opened = std::move(file.value());
            else
                error = platform::systemErrorText(file.status().systemCode());
        }
    } else {
        error = partial.status().text();
    }
    if (!opened) {
        // The reason goes with the line and into the row: an operator must learn why.
        taskLog((item.retry > 0 ? printf1("第(%d)次重复下载文件[%s]失败", item.retry, item.fileName)
                                : printfText("下载文件[%s]失败", item.fileName)) +
                    "，失败原因：" + error,
                item.retry < 3 ? 1 : 2);
        item.lastError = error.substr(0, 200);
        lastError_ = error;
        if (item.retry >= 3) item.state = kHeld;
        ++item.retry;
        writeFailureLocked(item, error);
        return 0;
    }
    (void)opened->close();
    item.downSize = "0";
    list_->SetFieldValueByName(item.row, "DOWNSIZE", "0");
    if (engine_ != nullptr) engine_->startDownload(item);
    taskLog(printfText("完成下载文件[%s]", item.fileName), 0);
    setStateLocked(item, kTransferring);
    return 1;
}

int CDownLoadFile::StartFile(int row) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgumentFull, kNotOpenFull)) return 0;
    return startFileLocked(*itemLocked(row));
}

std::optional<DownloadWorkItem> CDownLoadFile::NextFailed() {
    std::vector<DownloadItemFailed> failed;
    std::optional<DownloadWorkItem> next;
    {
        std::lock_guard lock(mutex_);
        if (!list_ || engine_ == nullptr) return std::nullopt;
        for (auto& owned : items_) {
            DownloadWorkItem& item = *owned;
            if (item.state != kTransferring || item.finished || LeadingInteger(item.size) <= 0)
                continue;
            if (engine_->holds(taskId_, item.row)) {
                if (!next) next = item;
                continue;
            }
            const std::string text = engine_->failureText(taskId_, item.row);
            taskLog(item.retry > 0 ? printf1("第（%d）次重试下载文件[%s]失败，失败原因：",
                                             item.retry, item.fileName) +
                                         text
                                   : "下载文件[" + item.fileName + "]失败，失败原因：" + text,
                    item.retry < 3 ? 1 : 2);
            recordFailureLocked(item, text);
            // The row keeps flag "2"; in memory the item may be started again.
            item.state = kFetchFromStart;
            if (item.retry >= 3) {
                item.state = kHeld;
                item.finished = true;
            }
            if (kind_ == TaskKind::Download) {
                failed.push_back(
                    DownloadItemFailed{taskId_, item.fileName, item.row, item.retry, text});
            } else if (item.state != kHeld) {
                startFileLocked(item);
            }
        }
    }
    if (context_.notifier != nullptr) {
        for (const auto& event : failed) context_.notifier->post(event);
    }
    return next;
}

bool CDownLoadFile::StampFileTime(const std::filesystem::path& file, const std::string& time) {
    if (time.size() < 19) return false;
    platform::LocalTime t;
    t.year = static_cast<int>(LeadingInteger(time.substr(0, 4)));
    t.month = static_cast<int>(LeadingInteger(time.substr(5, 2)));
    t.day = static_cast<int>(LeadingInteger(time.substr(8, 2)));
    t.hour = static_cast<int>(LeadingInteger(time.substr(11, 2)));
    t.minute = static_cast<int>(LeadingInteger(time.substr(14, 2)));
    t.second = static_cast<int>(LeadingInteger(time.substr(17, 2)));
    return platform::setFileTime(file, platform::fromLocalTime(t)).isOk();
}

void CDownLoadFile::SetReceiveDirectory(const std::filesystem::path& directory) {
    std::lock_guard lock(mutex_);
    receiveDirectory_ = directory;
    for (auto& item : items_) item->receiveDirectory = directory;
}

void CDownLoadFile::SetTaskLogPath(const std::filesystem::path& path) {
    std::lock_guard lock(mutex_);
    taskLogPath_ = path;
}

int CDownLoadFile::DeliveredCount() const {
    std::lock_guard lock(mutex_);
    return deliveredCount_;
}

}  // namespace vantrel::catalogue
