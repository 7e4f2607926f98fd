#include "client/transfer/file_mem_list.h"

#include <cstring>
#include <system_error>

#include "client/transfer/block_state_layout.h"
#include "platform/disk_space.h"
#include "platform/file_system.h"

namespace vantrel {

namespace bs = blockstate;

bool FileMemList::open(const std::filesystem::path& path) {
    std::lock_guard lock(mutex_);
    if (file_.isOpen()) {
        errorText_ = "太多的文件句柄";
        return false;
    }
    std::error_code ec;
    const auto length = std::filesystem::file_size(path, ec);
    const bool isNew = ec || length < 4;
    if (auto free = platform::freeBytes(path.parent_path()); free && isNew && *free < kFileSize) {
        errorText_ = "空间[" + std::to_string(kFileSize) + " Byte]不够，磁盘[" +
                     path.parent_path().string() + "]空间太小，请进行磁盘清理!";
        return false;
    }
    if (isNew) (void)platform::removeIfPresent(platform::FileSystem::real(), path);
    Result<platform::MappedFile> mapped = platform::MappedFile::open(path, kFileSize, true);
    if (!mapped) {
        errorText_ = "文件打开失败!" + mapped.status().text();
        return false;
    }
    file_ = std::move(mapped.value());
    const std::int32_t stored = bs::load<std::int32_t>(file_.data());
    if (isNew || stored < 0 || stored > kMaxRecords) {
        // A count that cannot be right would make every later access read past the records.
        bs::store<std::int32_t>(file_.data(), 0);
        return flush(0, 4);
    }
    return true;
}

int FileMemList::countLocked() const {
    return file_.isOpen() ? bs::load<std::int32_t>(file_.data()) : 0;
}

int FileMemList::count() const {
    std::lock_guard lock(mutex_);
    return countLocked();
}

std::string FileMemList::errorText() const {
    std::lock_guard lock(mutex_);
    return errorText_;
}

std::uint8_t* FileMemList::recordAt(int i) {
    return file_.data() + 4 + static_cast<std::size_t>(i) * kRecordSize;
}
const std::uint8_t* FileMemList::recordAt(int i) const {
    return file_.data() + 4 + static_cast<std::size_t>(i) * kRecordSize;
}

int FileMemList::indexOf(std::string_view name) const {
    const int n = countLocked();
    for (int i = 0; i < n; ++i) {
        // Compared in place: a lookup walks every record.
        if (bs::textAt(recordAt(i), kNameSize) == name) return i;
    }
    return -1;
}

bool FileMemList::flush(std::size_t offset, std::size_t length) {
    if (!file_.flushRange(offset, length)) {
        errorText_ = "写入内存映射文件[" + file_.path().string() + "]失败！";
        return false;
    }
    return true;
}

bool FileMemList::addOrUpdate(const Record& record) {
    std::lock_guard lock(mutex_);
    if (!file_.isOpen()) {
        errorText_ = "文件打开失败!";
        return false;
    }
    const int found = indexOf(bs::textAt(record.data(), kNameSize));
    if (found >= 0) {
        std::uint8_t* r = recordAt(found);
        std::memcpy(r + kNameSize, record.data() + kNameSize, kRecordSize - kNameSize);
        return flush(4 + static_cast<std::size_t>(found) * kRecordSize, kRecordSize);
    }
    const int n = countLocked();
    if (n + 1 > kMaxRecords) {
        errorText_ = "文件信息列表个数超过上限！";
        if (systemLog_) systemLog_(errorText_);
        return false;
    }
    std::memcpy(recordAt(n), record.data(), kRecordSize);
    if (!flush(4 + static_cast<std::size_t>(n) * kRecordSize, kRecordSize)) return false;
    bs::store<std::int32_t>(file_.data(), n + 1);
    return flush(0, 4);
}

bool FileMemList::remove(std::string_view name) {
    std::lock_guard lock(mutex_);
    if (!file_.isOpen()) return false;
    const int found = indexOf(name);
    if (found < 0) return false;
    const int n = countLocked();
    std::memmove(recordAt(found), recordAt(found + 1),
                 static_cast<std::size_t>(n - found - 1) * kRecordSize);
    std::memset(recordAt(n - 1), 0, kRecordSize);
    bs::store<std::int32_t>(file_.data(), n - 1);
    return flush(0, 4 + static_cast<std::size_t>(n) * kRecordSize);
}

std::optional<FileMemList::Record> FileMemList::find(std::string_view name) const {
    std::lock_guard lock(mutex_);
    if (!file_.isOpen()) return std::nullopt;
    const int found = indexOf(name);
    if (found < 0) return std::nullopt;
    Record r;
    std::memcpy(r.data(), recordAt(found), kRecordSize);
    return r;
}

}  // namespace vantrel
