#include "client/execution/zip_directory.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "platform/error_text.h"
#include "platform/file_system.h"

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
    explicit Reader(const std::filesystem::path& path) {
        Result<std::unique_ptr<platform::File>> opened =
            platform::FileSystem::real().open(path, platform::OpenMode::kRead);
        if (opened) in_ = std::move(opened.value());
    }
    bool isOpen() const { return in_ != nullptr; }
    bool read(std::uint64_t offset, void* buffer, std::size_t length) {
        if (!in_ || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
        Result<std::size_t> n = in_->readAt(static_cast<std::int64_t>(offset), buffer, length);
        return n && n.value() == length;
    }

  private:
    std::unique_ptr<platform::File> in_;
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
    const std::uint64_t tailSize = std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxComment);
    std::string tail(tailSize, '\0');
    if (!reader.read(fileSize - tailSize, tail.data(), tail.size())) {
        return Status::error(ErrorKind::IoError, archive.string() + ": read failed");
    }
    // The unpacker takes the last end record in the file; so must the check, or a decoy
    // directory could be vetted in place of the real one.
    const auto* bytes = reinterpret_cast<const unsigned char*>(tail.data());
    std::optional<std::size_t> at;
    for (std::size_t i = tail.size() - kEndRecordSize + 1; i-- > 0;) {
        if (little(bytes + i, 4) == kEndRecord) {
            at = i;
            break;
        }
    }
    if (!at) return directory;
    directory.isArchive = true;

    const unsigned char* end = bytes + *at;
    std::uint64_t endPosition = fileSize - tailSize + *at;
    std::uint64_t entries = little(end + 10, 2);
    std::uint64_t size = little(end + 12, 4);
    std::uint64_t offset = little(end + 16, 4);
    unsigned char locator[kZip64LocatorSize];
    if (endPosition >= kZip64LocatorSize &&
        reader.read(endPosition - kZip64LocatorSize, locator, sizeof locator) &&
        little(locator, 4) == kZip64Locator) {
        const std::uint64_t recordAt = little(locator + 8, 8);
        unsigned char record[kZip64EndRecordSize];
        if (!reader.read(recordAt, record, sizeof record) || little(record, 4) != kZip64EndRecord) {
            return corrupt(archive, "ZIP64 end record missing");
        }
        endPosition = recordAt;
        // As the unpacker does, a ZIP64 value stands in only for a field that is saturated.
        if (entries == 0xFFFF) entries = little(record + 32, 8);
        if (size == 0xFFFFFFFF) size = little(record + 40, 8);
        if (offset == 0xFFFFFFFF) offset = little(record + 48, 8);
    }

    std::optional<std::uint64_t> position = directoryStart(reader, endPosition, size, offset);
    if (!position) {
        if (entries == 0) return directory;
        return corrupt(archive, "central directory not found");
    }
    // The unpacker reads headers one after another for as long as they come, so every one
    // of them is read here too, whatever the count says.
    unsigned char header[kCentralHeaderSize];
    while (reader.read(*position, header, sizeof header) && little(header, 4) == kCentralHeader) {
        const std::uint64_t nameLength = little(header + 28, 2);
        const std::uint64_t extraLength = little(header + 30, 2);
        const std::uint64_t commentLength = little(header + 32, 2);
        ZipEntry entry;
        entry.name.resize(nameLength);
        if (!reader.read(*position + kCentralHeaderSize, entry.name.data(), nameLength)) {
            return corrupt(archive, "entry name cut off");
        }
        const std::uint64_t mode = little(header + 38, 4) >> 16;
        entry.isSymlink = (mode & 0170000) == 0120000;
        directory.entries.push_back(std::move(entry));
        *position += kCentralHeaderSize + nameLength + extraLength + commentLength;
    }
    // Counts above 65535 without ZIP64 wrap; the unpacker accepts them modulo 65536.
    if ((directory.entries.size() & 0xFFFF) != (entries & 0xFFFF)) {
        return corrupt(archive, "entry count does not match");
    }
    return directory;
}

}  // namespace vantrel::execution
