#pragma once
// The low-level handle of one dBASE III table file: header validation at open, record
// reads and writes by index, and the header rewrite at close. Every field is fixed-width
// character data; the type letter is kept but never interpreted. The file layout is
// written down in doc/formats/dbf.md.
//
// Not thread-safe: the owner serialises use. Files are opened without any exclusive lock,
// so several handles (threads, processes) may hold the same table.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace vantrel::catalogue {

struct DbfField {
    std::string name;  // up to the first NUL of the 11 name bytes
    char type = 'C';
    std::uint8_t length = 0;
    std::uint8_t decimals = 0;
    int offset = 0;  // within the record; the deletion flag is byte 0
};

class DbfFile {
  public:
    enum Mode { kReadOnly = 1, kReadWrite = 2 };
    // The handle's error codes.
    enum Error {
        kNoError = 0,
        kInvalidTable = 1,
        kOpenFailed = 2,
        kBadMode = 4,
        kNoMemory = 8,
        kShortRead = 17,
        kWriteFailed = 18,
        kNoSuchRecord = 20,
    };

    static constexpr int kMaxHeaderLength = 5000;
    static constexpr int kMaxFieldCount = 100;
    static constexpr std::int64_t kMaxRecordCount = 100'000'000;

    // `clock` gives the last-update date written at close; `files` carries every read and
    // write. Both must outlive the handle.
    explicit DbfFile(const platform::Clock& clock,
                     platform::FileSystem& files = platform::FileSystem::real());
    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    // Opens and validates; false with error() set on failure.
    bool open(const std::filesystem::path& path, int mode);
    // A read-write table gets its header rewritten and the end-of-file marker placed. False
    // (error 18) when that or an earlier write of this handle failed, or the close did.
    bool close();

    // 0 on success, -1 on failure (error 20 or 17). `buffer` holds recordLength() bytes.
    int readRecord(int index, char* buffer);
    // Reads up to `count` whole records from `first` into `buffer` (count * recordLength()
    // bytes); the number read, or -1 (error 20 or 17).
    int readRecords(int first, int count, char* buffer);
    // 1 on success, -1 on failure (error 4 or 18). The new count reaches the header at once.
    int appendRecord(const char* buffer);
    // 1 on success, -1 on failure (error 4 or 18). Writing at or past the count extends it.
    int writeRecord(int index, const char* buffer);
    // Index of the field whose name equals `name` ignoring ASCII case, or -1.
    int findField(std::string_view name) const;

    bool isOpen() const { return file_ != nullptr; }
    int mode() const { return mode_; }
    int error() const { return error_; }
    int fieldCount() const { return static_cast<int>(fields_.size()); }
    int recordCount() const { return recordCount_; }
    int headerLength() const { return headerLength_; }
    int recordLength() const { return recordLength_; }
    const std::vector<DbfField>& fields() const { return fields_; }

  private:
    bool validateAndLoad(platform::File& file, std::int64_t fileLength);
    bool writeCount();
    bool writeAt(std::int64_t offset, const char* data, std::size_t size);

    const platform::Clock& clock_;
    platform::FileSystem& files_;
    std::unique_ptr<platform::File> file_;
    bool writeFailed_ = false;
    int mode_ = 0;
    std::vector<DbfField> fields_;
    int recordCount_ = 0;
    int headerLength_ = 0;
    int recordLength_ = 0;
    int error_ = kNoError;
};

}  // namespace vantrel::catalogue
