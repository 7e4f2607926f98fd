#include "client/execution/unpacking/zip_directory.h"
#include "platform/error_text.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>

namespace vantrel::execution {

namespace {

constexpr std::uint32_t kCentralHeader = 0x02014b50;
constexpr std::uint32_t kEndRecord = 0x06054b50;
constexpr std::uint32_t kZip64EndRecord = 0x06064b50;
constexpr std::uint32_t kZip64Locator = 0x07064b50;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndRecordSize = 56;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kMaxComment = 0xFFFF;

std::uint64_t little(const unsigned char* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
    return value;
}

Status corrupt(const std::filesystem::path& archive, const std::string& why) {
    return Status::error(ErrorKind::Corruption, archive.string() + ": " + why);
}

class Reader {
  public:
    explicit Reader(const std::filesystem::path& path) : in_(path, std::ios::binary) {}
    bool isOpen() const { return in_.is_open(); }
    bool read(std::uint64_t offset, void* buffer, std::size_t length) {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
        return static_cast<std::size_t>(in_.gcount()) == length;
    }

  private:
    std::ifstream in_;
};

// Where the central directory starts. Like the unpacker, first where the end record says
// it must lie (which also covers data put in front of the archive), then at the stored
// offset.
std::optional<std::uint64_t> directoryStart(Reader& reader, std::uint64_t endPosition,
                                            std::uint64_t size, std::uint64_t storedOffset) {
    unsigned char signature[4];
    const auto holdsHeader = [&](std::uint64_t at) {
        return reader.read(at, signature, 4) && little(signature, 4) == kCentralHeader;
    };
    if (size <= endPosition && holdsHeader(endPosition - size)) return endPosition - size;
    if (holdsHeader(storedOffset)) return storedOffset;
    return std::nullopt;
}

// What the last end record of the archive says, with ZIP64 values where a field is
// saturated.
struct EndRecord {
    std::uint64_t position = 0;  // of the end record, or of the ZIP64 end record
    std::uint64_t entries = 0;
    std::uint64_t size = 0;
    std::uint64_t offset = 0;
};

// Nothing when the file holds no end record: not an archive.
Result<std::optional<EndRecord>> findEndRecord(Reader& reader, const std::filesystem::path& archive,
                                               std::uint64_t fileSize) {
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxComment);
    std::string tail(tailSize, '\0');
    if (!reader.read(fileSize - tailSize, tail.data(), tail.size())) {
        return Status::error(ErrorKind::IoError, archive.string() + ": read failed");
    }
    // The unpacker takes the last end record in the file; so must the check, or a decoy
    // directory could be vetted in place of the real one.
    const auto* bytes = reinterpret_cast<const unsigned char*>(tail.data());
    for (std::size_t i = tail.size() - kEndRecordSize + 1; i-- > 0;) {
        if (little(bytes + i, 4) != kEndRecord) continue;
        const unsigned char* end = bytes + i;
        return std::optional<EndRecord>(EndRecord{fileSize - tailSize + i, little(end + 10, 2),
                                                  little(end + 12, 4), little(end + 16, 4)});
    }
    return std::optional<EndRecord>();
}

// Replaces saturated fields by the ZIP64 end record's, when a locator precedes the end record.
Status applyZip64(Reader& reader, const std::filesystem::path& archive, EndRecord& end) {
    unsigned char locator[kZip64LocatorSize];
    if (end.position < kZip64LocatorSize ||
        !reader.read(end.position - kZip64LocatorSize, locator, sizeof locator) ||
        little(locator, 4) != kZip64Locator) {
        return Status::ok();
    }
    const std::uint64_t recordAt = little(locator + 8, 8);
    unsigned char record[kZip64EndRecordSize];
    if (!reader.read(recordAt, record, sizeof record) || little(record, 4) != kZip64EndRecord) {
        return corrupt(archive, "ZIP64 end record missing");
    }
    end.position = recordAt;
    // As the unpacker does, a ZIP64 value stands in only for a field that is saturated.
    if (end.entries == 0xFFFF) end.entries = little(record + 32, 8);
    if (end.size == 0xFFFFFFFF) end.size = little(record + 40, 8);
    if (end.offset == 0xFFFFFFFF) end.offset = little(record + 48, 8);
    return Status::ok();
}

// The unpacker reads headers one after another for as long as they come, so every one of
// them is read here too, whatever the count says.
Status readEntries(Reader& reader, const std::filesystem::path& archive, std::uint64_t position,
                   std::vector<ZipEntry>& entries) {
    unsigned char header[kCentralHeaderSize];
    while (reader.read(position, header, sizeof header) && little(header, 4) == kCentralHeader) {
        const std::uint64_t nameLength = little(header + 28, 2);
        const std::uint64_t extraLength = little(header + 30, 2);
        const std::uint64_t commentLength = little(header + 32, 2);
        ZipEntry entry;
        entry.name.resize(nameLength);
        if (!reader.read(position + kCentralHeaderSize, entry.name.data(), nameLength)) {
            return corrupt(archive, "entry name cut off");
        }
        const std::uint64_t mode = little(header + 38, 4) >> 16;
        entry.isSymlink = (mode & 0170000) == 0120000;
        entries.push_back(std::move(entry));
        position += kCentralHeaderSize + nameLength + extraLength + commentLength;
    }
    return Status::ok();
}

}  // namespace

Result<ZipDirectory> readZipDirectory(const std::filesystem::path& archive) {
    std::error_code ec;
    const std::uint64_t fileSize = std::filesystem::file_size(archive, ec);
    if (ec)
        return Status::error(ErrorKind::NotFound,
                             archive.string() + ": " + platform::systemErrorText(ec.value()));
    Reader reader(archive);
    if (!reader.isOpen())
        return Status::error(ErrorKind::IoError, archive.string() + ": cannot be opened");

    ZipDirectory directory;
    if (fileSize < kEndRecordSize) return directory;
    Result<std::optional<EndRecord>> found = findEndRecord(reader, archive, fileSize);
    if (!found) return found.status();
    if (!found.value()) return directory;
    directory.isArchive = true;
    EndRecord end = *found.value();
    if (Status zip64 = applyZip64(reader, archive, end); !zip64) return zip64;

    std::optional<std::uint64_t> position =
        directoryStart(reader, end.position, end.size, end.offset);
    if (!position) {
        if (end.entries == 0) return directory;
        return corrupt(archive, "central directory not found");
    }
    if (Status read = readEntries(reader, archive, *position, directory.entries); !read)
        return read;
    // Counts above 65535 without ZIP64 wrap; the unpacker accepts them modulo 65536.
    if ((directory.entries.size() & 0xFFFF) != (end.entries & 0xFFFF)) {
        return corrupt(archive, "entry count does not match");
    }
    return directory;
}

}  // namespace vantrel::execution
