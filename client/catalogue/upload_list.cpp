#include "client/catalogue/upload_list.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <unordered_set>
#include <utility>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/keyed_digest.h"
#include "client/catalogue/list_engine.h"
#include "client/catalogue/table_schema.h"
#include "client/config/config.h"
#include "client/transfer/file_block_info.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "platform/error_text.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/text_codec.h"

namespace vantrel::catalogue {
namespace {

constexpr const char* kNotOpen = "请先调用接口InitFileListDbf！";
constexpr const char* kBadArgument = "函数输入参数不正确！";
constexpr const char* kChanged = "文件MD5值发生改变，会重新添加发送文件！";
constexpr const char* kMissing = "该发送文件不存在！";

bool endsWith(const std::string& text, const std::string& suffix) {
    return !suffix.empty() && text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "YYYY-MM-DD hh:mm:ss" from "YYYYMMDD" and "hh:mm:ss".
std::string modifyTimeOf(const ScannedFile& f) {
    return f.date.substr(0, 4) + "-" + f.date.substr(4, 2) + "-" + f.date.substr(6, 2) + " " +
           f.time;
}

// `candidate` is a name the sent directory gives `fileName`: base + "_SUCCESS_" + 14 digits, an
// optional "_" + digits, then the extension.
bool isSentNameOf(const std::string& candidate, const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot);
    const std::string stem = base + "_SUCCESS_";
    if (candidate.size() < stem.size() + 14 + extension.size() || candidate.rfind(stem, 0) != 0 ||
        !candidate.ends_with(extension))
        return false;
    const std::string_view middle = std::string_view(candidate).substr(
        stem.size(), candidate.size() - stem.size() - extension.size());
    const auto digits = [](std::string_view text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (middle.size() == 14) return digits(middle);
    return middle.size() > 15 && digits(middle.substr(0, 14)) && middle[14] == '_' &&
           digits(middle.substr(15));
}

std::optional<ScannedFile> describe(const std::filesystem::path& path) {
    Result<platform::FileInfo> info = platform::fileInfo(path);
    if (!info || !info->regular) return std::nullopt;
    const platform::LocalTime t =
        platform::toLocalTime(std::chrono::floor<std::chrono::seconds>(info->modified));
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return ScannedFile{path.filename().string(), info->size, FormatDate(t), time};
}

}  // namespace

CUpLoadFile::CUpLoadFile(const Context& context, BlockStateRemover* blockStates)
    : context_(context), blockStates_(blockStates) {}

CUpLoadFile::~CUpLoadFile() = default;

std::string CUpLoadFile::nowText() const {
    return FormatDateTime(context_.clock->localNow());
}

int CUpLoadFile::InitFileList(const UploadTask& task) {
    std::lock_guard lock(mutex_);
    taskId_ = TrimText(task.planid);
    const std::string suffix = CConfig(context_.installation).readFlagFileExtend();
    readySuffix_ = suffix.empty() ? ".rdy" : suffix;
    const platform::LocalTime today = context_.clock->localNow();
    sendDirectory_ = task.sendpath;
    datedSendDirectory_ = task.hassenddir != 0;
    if (task.hassenddir) sendDirectory_ /= FormatDate(today);
    sentDirectory_ = task.sentpath;
    if (task.hassentdir) sentDirectory_ /= FormatDate(today);
    (void)platform::createDirectories(context_.installation.data());
    listPath_ = DailyTaskFile(context_.installation.data(), taskId_, today, ".dat");
    taskLogPath_ = DailyTaskFile(context_.installation.log(), taskId_, today, ".log");
    return initListLocked();
}

int CUpLoadFile::InitFileListDbf() {
    std::lock_guard lock(mutex_);
    return initListLocked();
}

int CUpLoadFile::initListLocked() {
    list_.reset();
    list_ = OpenListFromTemplate(context_, listPath_, kUploadListTemplate, lastError_);
    return list_ ? 1 : 0;
}

std::vector<ScannedFile> CUpLoadFile::ScanSendDirectory() {
    std::lock_guard lock(mutex_);
    return scanLocked();
}

std::vector<ScannedFile> CUpLoadFile::scanLocked() {
    std::vector<ScannedFile> files;
    std::error_code ec;
    std::filesystem::directory_iterator it(sendDirectory_, ec), end;
    if (ec) {
        char text[256];
        std::snprintf(text, sizeof text, "查找文件出现错误，错误代码：%d", ec.value());
        lastError_ = text;
        return files;
    }
    // Each ready file with its name as the 8-bit text it is stored as, converted once
    // rather than in every comparison of the sort.
    std::vector<std::pair<std::string, ScannedFile>> ready;
    for (; it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        if (endsWith(path, readySuffix_)) continue;
        if (!std::filesystem::exists(path + readySuffix_, ec)) continue;
        auto file = describe(it->path());
        if (file) ready.emplace_back(platform::utf8ToGbkLossy(file->name), std::move(*file));
    }
    // Oldest first; then by stored name.
    std::stable_sort(ready.begin(), ready.end(), [](const auto& a, const auto& b) {
        return std::tie(a.second.date, a.second.time, a.first) <
               std::tie(b.second.date, b.second.time, b.first);
    });
    files.reserve(ready.size());
    for (auto& entry : ready) files.push_back(std::move(entry.second));
    return files;
}

int CUpLoadFile::AddNewFiles() {
    std::lock_guard lock(mutex_);
    if (!list_) {
        lastError_ = kNotOpen;
        return 0;
    }
    const std::vector<ScannedFile> files = scanLocked();
    if (files.empty()) return 0;
    // Any unsent row of the same name (ignoring ASCII case) lists a file already; a changed
    // file's row was reset when the work items were loaded.
    std::unordered_set<std::string> listed;
    for (const auto& item : items_) {
        if ((item->flag != '1' && item->endTime.empty()) || item->movePending)
            listed.insert(ToLowerAscii(item->fileName));
    }
    // Read only when a file is not listed today, which is rare after the day's first run.
    std::optional<std::map<std::string, EarlierUploadRow>> earlier;
    bool unlisted = false;
    for (const ScannedFile& file : files) {
        std::string key = ToLowerAscii(file.name);
        if (listed.count(key) != 0) continue;
        if (!earlier) earlier = earlierRowsLocked();
        if (auto e = earlier->find(key); e != earlier->end()) {
            const CarryOver carried = carryOverLocked(file, e->second);
            // A file that may have been sent never gets a fresh row.
            if (carried == CarryOver::kFailed) continue;
            if (carried == CarryOver::kCarried) {
                listed.insert(std::move(key));
                continue;
            }
        }
        auto item = std::make_unique<UploadWorkItem>();
        item->taskId = taskId_;
        item->fileName = file.name;
        item->localSize = std::to_string(file.size);
        item->sentSize = "0";
        item->modifyTime = modifyTimeOf(file);
        item->beginTime = nowText();
        item->md5 = KeyedDigestOfFile(sendDirectory_ / file.name).value_or("");
        const int row = list_->AppendRow({{"filename", item->fileName},
                                          {"localsize", item->localSize},
                                          {"modifytime", item->modifyTime},
                                          {"begintime", item->beginTime},
                                          {"md5", item->md5}});
        if (row < 0) {
            lastError_ = appendFailureLocked();
            unlisted = true;
            continue;
        }
        // Never sent under this row: a finished block state beside it is an earlier send's
        // (one cut off before its state went) and would pass this file off as confirmed.
        const std::filesystem::path path = sendDirectory_ / file.name;
        if (FileBlockInfo::recordsFinishedFile(path.string() + ".~block")) removeBlockState(path);
        item->row = row;
        addItemLocked(std::move(item), row);
        listed.insert(std::move(key));
    }
    return unlisted ? -1 : 1;
}

void CUpLoadFile::removeBlockState(const std::filesystem::path& file) {
    const std::filesystem::path block = file.string() + ".~block";
    bool removed;
    if (blockStates_ != nullptr) {
        removed = blockStates_->removeBlockState(file).isOk();
    } else {
        removed = platform::removeIfPresent(context_.fileSystem(), block).isOk();
    }
    if (!removed) lastError_ = "删除[" + block.string() + "]文件失败，请手动处理该文件！";
}

bool CUpLoadFile::LoadWorkItems() {
    std::vector<UploadItemChanged> notices;
    {
        std::lock_guard lock(mutex_);
        clearItemsLocked();
        sentCount_ = 0;
        if (!list_) {
            lastError_ = kNotOpen;
            return false;
        }
        DbfCursor cursor(*list_);
        DbfRow row;
        int r;
        while (cursor.Next(r, row)) {
            if (row.deleted()) continue;
            if (IsSentFlag(row.trimmed("flag"))) {
                ++sentCount_;
                if (auto pending = pendingMoveLocked(row, r)) addItemLocked(std::move(pending), r);
                continue;
            }
            auto item = itemOf(row, r);
            item->lastError = row.trimmed("discript");
            auto path = localPathInside(sendDirectory_, item->fileName);
            std::optional<ScannedFile> file;
            if (path) file = describe(path.value());
            if (!file) {
                notices.push_back(UploadItemChanged{taskId_, item->fileName, r, kMissing});
                continue;
            }
            const std::string md5 = fileMd5(path.value());
            if (!KeyedDigestMatchesMd5(md5, item->md5)) {
                // The file changed since it was listed: it is sent again from the start,
                // and its row describes the file as it is now.
                notices.push_back(UploadItemChanged{taskId_, item->fileName, r, kChanged});
                removeBlockState(path.value());
                item->localSize = std::to_string(file->size);
                item->modifyTime = modifyTimeOf(*file);
                item->md5 = KeyedDigestOfMd5(md5).value_or("");
                item->sentSize = "0";
                item->lastError = kChanged;
                list_->SetFieldValues(r, {{"localsize", item->localSize},
                                          {"modifytime", item->modifyTime},
                                          {"md5", item->md5},
                                          {"uploadsize", "0"},
                                          {"discript", kChanged}});
            }
            addItemLocked(std::move(item), r);
        }
    }
    if (context_.notifier != nullptr) {
        for (const auto& notice : notices) context_.notifier->post(notice);
    }
    return true;
}

std::unique_ptr<UploadWorkItem> CUpLoadFile::pendingMoveLocked(const DbfRow& row, int index) const {
    const std::string name = row.trimmed("filename");
    auto path = localPathInside(sendDirectory_, name);
    if (!path) return nullptr;
    std::error_code ec;
    if (!std::filesystem::exists(path.value().string() + readySuffix_, ec)) return nullptr;
    const std::optional<ScannedFile> file = describe(path.value());
    // The very file that was sent: same size, same last write, same content.
    if (!file || std::to_string(file->size) != row.trimmed("localsize") ||
        modifyTimeOf(*file) != row.trimmed("modifytime") ||
        !KeyedDigestMatchesMd5(fileMd5(path.value()), row.trimmed("md5")))
        return nullptr;
    auto item = itemOf(row, index);
    item->flag = '1';
    item->movePending = true;
    return item;
}

std::string EarlierUploadRow::value(std::string_view field) const {
    for (const auto& [name, text] : fields) {
        if (EqualsIgnoreCase(name, field)) return text;
    }
    return {};
}

std::map<std::string, EarlierUploadRow> CUpLoadFile::earlierRowsLocked() const {
    std::map<std::string, EarlierUploadRow> rows;
    // Another day's send directory is another directory: its rows say nothing of these files.
    if (datedSendDirectory_) return rows;
    const std::string today = listPath_.filename().string();
    const std::string prefix = taskId_ + "-";
    std::vector<std::filesystem::path> lists;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(listPath_.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // "<task>-YYYYMMDD.dat" of a day before the list's own; the date sorts as text.
        if (name.size() == today.size() && name.rfind(prefix, 0) == 0 && name.ends_with(".dat") &&
            name < today)
            lists.push_back(it->path());
    }
    std::sort(lists.rbegin(), lists.rend());
    // The lists the history clean-up leaves are few; a month of them is plenty.
    constexpr std::size_t kMostLists = 31;
    if (lists.size() > kMostLists) lists.resize(kMostLists);
    for (const std::filesystem::path& path : lists) {
        CDbfImpl table(*context_.clock, context_.fileSystem());
        if (table.Open(path, 1) != 1) continue;
        std::map<std::string, EarlierUploadRow> ofDay;
        DbfCursor cursor(table);
        DbfRow row;
        int index;
        while (cursor.Next(index, row)) {
            if (row.deleted()) continue;
            EarlierUploadRow earlier;
            for (const char* field : {"flag", "filename", "localsize", "uploadsize", "modifytime",
                                      "begintime", "endtime", "md5", "retry", "discript"}) {
                earlier.fields.emplace_back(field, row.trimmed(field));
            }
            // A later row of the same name is the file's later state that day.
            ofDay[ToLowerAscii(earlier.value("filename"))] = std::move(earlier);
        }
        // A newer day's row stands.
        rows.merge(ofDay);
    }
    return rows;
}

std::string CUpLoadFile::appendFailureLocked() const {
    char text[2048];
    std::snprintf(text, sizeof text,
                  "添加文件信息到上传列表失败!任务ID：%s， 失败原因：上传任务表[%s]%s！",
                  taskId_.c_str(), listPath_.string().c_str(), list_->LastError().c_str());
    return text;
}

CUpLoadFile::CarryOver CUpLoadFile::carryOverLocked(const ScannedFile& file,
                                                    const EarlierUploadRow& earlier) {
    const std::filesystem::path path = sendDirectory_ / file.name;
    if (std::to_string(file.size) != earlier.value("localsize") ||
        modifyTimeOf(file) != earlier.value("modifytime") ||
        !KeyedDigestMatchesMd5(fileMd5(path), earlier.value("md5")))
        return CarryOver::kNotTheFile;
    std::vector<std::pair<std::string_view, std::string_view>> values;
    for (const auto& [name, text] : earlier.fields) values.emplace_back(name, text);
    const int index = list_->AppendRow(values);
    DbfRow row;
    if (index < 0 || !list_->ReadRow(index, row)) {
        lastError_ = appendFailureLocked();
        return CarryOver::kFailed;
    }
    auto item = itemOf(row, index);
    if (IsSentFlag(earlier.value("flag"))) {
        item->flag = '1';
        item->movePending = true;
        ++sentCount_;
    } else {
        item->lastError = earlier.value("discript");
    }
    addItemLocked(std::move(item), index);
    return CarryOver::kCarried;
}

std::unique_ptr<UploadWorkItem> CUpLoadFile::itemOf(const DbfRow& row, int index) const {
    auto item = std::make_unique<UploadWorkItem>();
    item->taskId = taskId_;
    item->fileName = row.trimmed("filename");
    item->localSize = row.trimmed("localsize");
    item->sentSize = row.trimmed("uploadsize");
    item->modifyTime = row.trimmed("modifytime");
    item->beginTime = row.trimmed("begintime");
    item->endTime = row.trimmed("endtime");
    item->md5 = row.trimmed("md5");
    item->row = index;
    return item;
}

std::optional<std::filesystem::path> CUpLoadFile::linkedIntoSentLocked(
    const std::filesystem::path& source) const {
    Result<platform::FileInfo> own = platform::fileInfo(source);
    if (!own || own->links < 2) return std::nullopt;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(sentDirectory_, ec), end; !ec && it != end;
         it.increment(ec)) {
        Result<platform::FileInfo> other = platform::fileInfo(it->path());
        if (other && other->device == own->device && other->inode == own->inode) return it->path();
    }
    return std::nullopt;
}

int CUpLoadFile::SetUploadedSize(int row, std::int64_t bytes) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    UploadWorkItem& item = *itemLocked(row);
    item.sentSize = std::to_string(bytes);
    if (list_->SetFieldValues(row, {{"uploadsize", item.sentSize}, {"discript", ""}}) != 0) {
        lastError_ = list_->LastError();
        return 0;
    }
    return 1;
}

int CUpLoadFile::RecordFailure(int row, const std::string& error) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    UploadWorkItem& item = *itemLocked(row);
    if (error == item.lastError) return 1;
    ++item.retry;
    item.lastError = error.substr(0, 200);
    item.changeDate = FormatDate(context_.clock->localNow());
    std::string stored;
    list_->GetFieldValueByName(row, "retry", stored);
    const std::string retry = std::to_string(LeadingInteger(stored) + 1);
    if (list_->SetFieldValues(row, {{"retry", retry}, {"discript", error}}) != 0) {
        lastError_ = list_->LastError();
        return 0;
    }
    return 1;
}

int CUpLoadFile::MarkSent(int row) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    UploadWorkItem& item = *itemLocked(row);
    item.flag = '1';
    item.finished = true;
    item.lastError = " ";
    item.changeDate = FormatDate(context_.clock->localNow());
    item.endTime = nowText();
    ++sentCount_;
    if (list_->SetFieldValues(row, {{"endtime", item.endTime}, {"flag", kSentFlag}}) != 0) {
        lastError_ = list_->LastError();
        return 0;
    }
    return 1;
}

int CUpLoadFile::FinishItem(int row) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    itemLocked(row)->finished = true;
    return 1;
}

std::filesystem::path CUpLoadFile::sentFileNameLocked(const std::string& fileName) const {
    const std::size_t dot = fileName.rfind('.');
    const std::string base = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot);
    const std::string stem = base + "_SUCCESS_" + FormatStamp(context_.clock->localNow());
    std::filesystem::path candidate = sentDirectory_ / (stem + extension);
    std::error_code ec;
    for (int n = 1; std::filesystem::exists(candidate, ec) && n < 10000; ++n) {
        candidate = sentDirectory_ / (stem + "_" + std::to_string(n) + extension);
    }
    return candidate;
}

Status CUpLoadFile::moveIntoSentLocked(const std::filesystem::path& source,
                                       const std::filesystem::path& target) const {
    // A hard link never replaces an existing file; across volumes, copy without
    // overwriting and remove the original.
    platform::FileSystem& files = context_.fileSystem();
    Status linked = files.hardLink(source, target);
    const int code = linked.systemCode();
    if (!linked && code != EXDEV && code != EPERM) return linked;
    if (!linked) {
        std::error_code ec;
        if (std::filesystem::exists(target, ec))
            return statusFromErrno(EEXIST, "创建[" + target.string() + "]");
        if (Status copied = platform::copyFile(files, source, target); !copied) {
            (void)files.remove(target);
            return copied;
        }
    }
    return files.remove(source);
}

int CUpLoadFile::BackupSentFile(int row) {
    std::lock_guard lock(mutex_);
    if (!checkLocked(row, kBadArgument, kNotOpen)) return 0;
    const UploadWorkItem& item = *itemLocked(row);
    const std::string name = item.fileName;
    auto source = localPathInside(sendDirectory_, name);
    if (!source) {
        lastError_ = source.status().text();
        return 0;
    }
    platform::FileSystem& files = context_.fileSystem();
    (void)files.createDirectories(sentDirectory_);
    bool moved = false;
    int failure = 0;
    if (item.movePending && linkedIntoSentLocked(source.value())) {
        const Status unlinked = platform::removeIfPresent(files, source.value());
        moved = unlinked.isOk();
        if (!moved) failure = unlinked.systemCode();
    }
    for (int attempt = 0; attempt < 3 && !moved; ++attempt) {
        const Status placed = moveIntoSentLocked(source.value(), sentFileNameLocked(name));
        moved = placed.isOk();
        if (!moved) failure = placed.systemCode();
    }
    if (!moved) {
        lastError_ = "备份文件失败";
        if (failure != 0)
            lastError_ += std::string("，失败原因：") + platform::systemErrorText(failure);
        return 0;
    }
    const std::filesystem::path marker = source.value().string() + readySuffix_;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (platform::removeIfPresent(files, marker)) return 1;
    }
    lastError_ = "删除[" + marker.string() + "]文件失败，请手动处理该文件！";
    return 0;
}

std::vector<std::string> CUpLoadFile::RemoveMarkersOfMovedFiles() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> removed;
    // Markers without their file, with the time each was last written.
    std::vector<std::pair<std::filesystem::path, platform::WallTime>> orphans;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(sendDirectory_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string markerName = it->path().filename().string();
        if (markerName.size() <= readySuffix_.size() || !endsWith(markerName, readySuffix_))
            continue;
        const std::string dataName = markerName.substr(0, markerName.size() - readySuffix_.size());
        Result<platform::FileInfo> marker = platform::fileInfo(it->path());
        std::error_code missing;
        if (marker && !std::filesystem::exists(sendDirectory_ / dataName, missing) && !missing)
            orphans.emplace_back(it->path(), marker->modified);
    }
    if (orphans.empty()) return removed;
    std::vector<std::filesystem::path> sent;
    for (std::filesystem::directory_iterator it(sentDirectory_, ec), end; !ec && it != end;
         it.increment(ec))
        sent.push_back(it->path());
    for (const auto& [marker, markerWritten] : orphans) {
        // A copy: clang 14 cannot capture a structured binding.
        const auto written = markerWritten;
        const std::string markerName = marker.filename().string();
        const std::string dataName = markerName.substr(0, markerName.size() - readySuffix_.size());
        // A move gives the file in the sent directory a status change no earlier than the
        // marker's last write; a marker written after the move is another file's.
        const bool moved = std::any_of(sent.begin(), sent.end(), [&](const auto& path) {
            if (!isSentNameOf(path.filename().string(), dataName)) return false;
            Result<platform::FileInfo> placed = platform::fileInfo(path);
            return placed && placed->changed >= written;
        });
        if (moved && platform::removeIfPresent(context_.fileSystem(), marker))
            removed.push_back(markerName);
    }
    return removed;
}

std::filesystem::path CUpLoadFile::SendDirectory() const {
    std::lock_guard lock(mutex_);
    return sendDirectory_;
}

std::filesystem::path CUpLoadFile::SentDirectory() const {
    std::lock_guard lock(mutex_);
    return sentDirectory_;
}

int CUpLoadFile::SentCount() const {
    std::lock_guard lock(mutex_);
    return sentCount_;
}

}  // namespace vantrel::catalogue
