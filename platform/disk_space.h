#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>

namespace vantrel::platform {

// Free bytes on the file system holding `path` (all free blocks, not the caller's quota);
// empty when the system cannot tell.
std::optional<std::uint64_t> freeBytes(const std::filesystem::path& path);

// The directory the file system holding `path` is mounted on (what a drive letter names on
// Windows): the highest ancestor of the nearest existing ancestor of `path` on the same
// device. Empty when nothing of `path` exists.
std::filesystem::path mountPoint(const std::filesystem::path& path);

// Whether this process may create and remove files in the directory `dir` (false also for
// a file system mounted read-only, or a missing directory).
bool directoryTakesFiles(const std::filesystem::path& dir);

}  // namespace vantrel::platform
