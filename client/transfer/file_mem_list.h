#pragma once
// FileMemList: "filememlist.data", the mapped list of real-time report files. A 4-byte
// record count, then up to 5000 records of 1124 bytes whose first 256 bytes are the file's
// name (NUL-terminated, the key). What follows the name belongs to the real-time report
// service; this list stores it as it is handed in. Thread-safe (one lock for the list).

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mapped_file.h"

namespace vantrel {

class FileMemList {
  public:
    static constexpr std::size_t kRecordSize = 1124;
    static constexpr std::size_t kNameSize = 256;
    static constexpr int kMaxRecords = 5000;
    static constexpr std::size_t kFileSize = 4 + kRecordSize * kMaxRecords;
    using Record = std::array<std::uint8_t, kRecordSize>;

    // `systemLog` receives the refusal of a record beyond the limit.
    explicit FileMemList(std::function<void(std::string_view)> systemLog = {})
        : systemLog_(std::move(systemLog)) {}

    // Opens or creates the list at `path`. False with errorText() set.
    bool open(const std::filesystem::path& path);
    // Adds the record, or updates the stored one with the same name. False with
    // errorText() set ("文件信息列表个数超过上限！" when full).
    bool addOrUpdate(const Record& record);
    bool remove(std::string_view name);
    std::optional<Record> find(std::string_view name) const;
    int count() const;
    std::string errorText() const;

  private:
    int countLocked() const;
    std::uint8_t* recordAt(int i);
    const std::uint8_t* recordAt(int i) const;
    int indexOf(std::string_view name) const;
    bool flush(std::size_t offset, std::size_t length);

    std::function<void(std::string_view)> systemLog_;
    mutable std::mutex mutex_;
    platform::MappedFile file_;
    std::string errorText_;
};

}  // namespace vantrel
