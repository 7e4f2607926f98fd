#pragma once
// File helpers with errors as values.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/status.h"

namespace vantrel::platform {

// What stat tells of a file (links followed); a query only.
struct FileInfo {
    bool regular = false;
    std::int64_t size = 0;
    WallTime modified;
    WallTime changed;  // the last change of the entry itself (a link, a rename, a mode)
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t links = 0;
};
Result<FileInfo> fileInfo(const std::filesystem::path& path);

// Creates `dir` with every missing parent; an existing directory is success.
Status createDirectories(const std::filesystem::path& dir);
// Reads a whole file.
Result<std::string> readFile(const std::filesystem::path& path);
// writeFileAtomically of file_system.h on the machine's file system.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);
// Appends bytes at the end of the file (creating it), with O_APPEND.
Status appendToFile(const std::filesystem::path& path, std::string_view bytes);
// Sets the modification (and access) time.
Status setFileTime(const std::filesystem::path& path, WallTime time);
// Moves a file onto `to`, replacing a file there, written through: the data is synced and
// renamed; across file systems it is copied to a temporary beside `to` (mode and times
// kept), synced and renamed over `to`, and only then is `from` removed. On failure `from`
// is kept and `to` is either untouched or already replaced whole. The parent of `to` must
// exist.
Status moveFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
// Swaps two existing entries of one file system in a single step (each name then names
// what the other named), so no moment exists at which either name is missing.
Status exchangePaths(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace vantrel::platform
