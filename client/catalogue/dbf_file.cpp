#include "client/catalogue/dbf_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vantrel::catalogue {
namespace {

constexpr int kFileHeaderSize = 32;
constexpr int kDescriptorSize = 32;
constexpr std::uint8_t kTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;

std::int16_t readInt16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void putUint32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putInt16(std::uint8_t* p, int v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

// Reads exactly `size` bytes at `offset`; false on error or end of file.
bool readExactly(platform::File& file, std::int64_t offset, void* data, std::size_t size) {
    Result<std::size_t> n = file.readAt(offset, data, size);
    return n && n.value() == size;
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

DbfFile::DbfFile(const platform::Clock& clock, platform::FileSystem& files)
    : clock_(clock), files_(files) {}

DbfFile::~DbfFile() {
    close();
}

bool DbfFile::open(const std::filesystem::path& path, int mode) {
    close();
    error_ = kNoError;
    writeFailed_ = false;
    if (mode != kReadOnly && mode != kReadWrite) {
        error_ = kBadMode;
        return false;
    }
    Result<std::unique_ptr<platform::File>> file = files_.open(
        path, mode == kReadOnly ? platform::OpenMode::kRead : platform::OpenMode::kReadWrite);
    Result<std::int64_t> length = file ? file.value()->size() : Result<std::int64_t>(file.status());
    if (!length) {
        error_ = kOpenFailed;
        return false;
    }
    if (!validateAndLoad(*file.value(), length.value())) {
        fields_.clear();
        recordCount_ = headerLength_ = recordLength_ = 0;
        return false;
    }
    file_ = std::move(file.value());
    mode_ = mode;
    return true;
}

bool DbfFile::validateAndLoad(platform::File& file, std::int64_t fileLength) {
    error_ = kInvalidTable;
    std::uint8_t header[kFileHeaderSize];
    if (!readExactly(file, 0, header, sizeof header)) return false;
    if (header[0] != 0x03 && header[0] != 0x30) return false;
    for (int i = 12; i < 28; ++i) {
        if (header[i] != 0) return false;
    }
    const int headerLength = readInt16(header + 8);
    const int recordLength = readInt16(header + 10);
    if (recordLength <= 0) return false;
    if (headerLength <= 0 || headerLength > kMaxHeaderLength) return false;
    if (fileLength < headerLength) return false;
    const std::int64_t recordCount = (fileLength - headerLength) / recordLength;
    const int fieldCount = headerLength / kDescriptorSize - 1;
    if (recordCount > kMaxRecordCount || fieldCount < 0 || fieldCount > kMaxFieldCount)
        return false;

    std::vector<std::uint8_t> block(static_cast<std::size_t>(headerLength - kFileHeaderSize));
    if (!block.empty() && !readExactly(file, kFileHeaderSize, block.data(), block.size()))
        return false;

    std::vector<DbfField> fields;
    bool terminated = false;
    int offset = 1;
    for (int i = 0; i < fieldCount; ++i) {
        const std::uint8_t* d = block.data() + static_cast<std::size_t>(i) * kDescriptorSize;
        if (d[0] == kTerminator) {
            terminated = true;
            break;
        }
        DbfField field;
        std::size_t nameLength = 0;
        while (nameLength < 11 && d[nameLength] != 0) ++nameLength;
        field.name.assign(reinterpret_cast<const char*>(d), nameLength);
        field.type = static_cast<char>(d[11]);
        field.length = d[16];
        field.decimals = d[17];
        field.offset = offset;
        // A zero-width field, or fields wider than the record, would make every record
        // access run past the record buffer.
        if (field.length == 0) return false;
        offset += field.length;
        if (offset > recordLength) return false;
        fields.push_back(std::move(field));
    }
    if (!terminated) {
        const std::size_t at = static_cast<std::size_t>(fieldCount) * kDescriptorSize;
        if (at >= block.size() || block[at] != kTerminator) return false;
    }

    fields_ = std::move(fields);
    recordCount_ = static_cast<int>(recordCount);
    headerLength_ = headerLength;
    recordLength_ = recordLength;
    error_ = kNoError;
    return true;
}

bool DbfFile::close() {
    if (!file_) return true;
    if (mode_ == kReadWrite) {
        const platform::LocalTime today = clock_.localNow();
        std::uint8_t header[kFileHeaderSize] = {};
        header[0] = 0x03;
        header[1] = static_cast<std::uint8_t>(today.year % 100);
        header[2] = static_cast<std::uint8_t>(today.month);
        header[3] = static_cast<std::uint8_t>(today.day);
        putUint32(header + 4, static_cast<std::uint32_t>(recordCount_));
        putInt16(header + 8, headerLength_);
        putInt16(header + 10, recordLength_);
        if (writeAt(0, reinterpret_cast<const char*>(header), sizeof header)) {
            const std::int64_t end =
                headerLength_ + static_cast<std::int64_t>(recordCount_) * recordLength_;
            writeAt(end, &kEndOfFile, 1);
        }
    }
    if (!file_->close()) writeFailed_ = true;
    file_.reset();
    mode_ = 0;
    if (writeFailed_) error_ = kWriteFailed;
    return !writeFailed_;
}

int DbfFile::readRecord(int index, char* buffer) {
    if (index < 0 || index >= recordCount_) {
        error_ = kNoSuchRecord;
        return -1;
    }
    const std::int64_t at = headerLength_ + static_cast<std::int64_t>(index) * recordLength_;
    if (!readExactly(*file_, at, buffer, static_cast<std::size_t>(recordLength_))) {
        error_ = kShortRead;
        return -1;
    }
    return 0;
}

int DbfFile::readRecords(int first, int count, char* buffer) {
    if (first < 0 || first >= recordCount_ || count <= 0) {
        error_ = kNoSuchRecord;
        return -1;
    }
    count = std::min(count, recordCount_ - first);
    const std::int64_t at = headerLength_ + static_cast<std::int64_t>(first) * recordLength_;
    if (!readExactly(*file_, at, buffer, static_cast<std::size_t>(count) * recordLength_)) {
        error_ = kShortRead;
        return -1;
    }
    return count;
}

int DbfFile::appendRecord(const char* buffer) {
    if (mode_ != kReadWrite) {
        error_ = kBadMode;
        return -1;
    }
    const std::int64_t at = headerLength_ + static_cast<std::int64_t>(recordCount_) * recordLength_;
    if (!writeAt(at, buffer, static_cast<std::size_t>(recordLength_))) return -1;
    ++recordCount_;
    return writeCount() ? 1 : -1;
}

int DbfFile::writeRecord(int index, const char* buffer) {
    if (mode_ != kReadWrite) {
        error_ = kBadMode;
        return -1;
    }
    // Writing further than one past the end would leave a gap of records nobody wrote.
    if (index < 0 || index > recordCount_) {
        error_ = kNoSuchRecord;
        return -1;
    }
    const std::int64_t at = headerLength_ + static_cast<std::int64_t>(index) * recordLength_;
    if (!writeAt(at, buffer, static_cast<std::size_t>(recordLength_))) return -1;
    if (index == recordCount_) {
        ++recordCount_;
        return writeCount() ? 1 : -1;
    }
    return 1;
}

int DbfFile::findField(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const std::string& candidate = fields_[i].name;
        if (candidate.size() != name.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k) {
            same = upperAscii(candidate[k]) == upperAscii(name[k]);
        }
        if (same) return static_cast<int>(i);
    }
    return -1;
}

bool DbfFile::writeCount() {
    std::uint8_t count[4];
    putUint32(count, static_cast<std::uint32_t>(recordCount_));
    return writeAt(4, reinterpret_cast<const char*>(count), sizeof count);
}

bool DbfFile::writeAt(std::int64_t offset, const char* data, std::size_t size) {
    if (!file_->writeAt(offset, data, size)) {
        // Remembered for close(): a table whose writes failed is not reported as saved.
        writeFailed_ = true;
        error_ = kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace vantrel::catalogue
