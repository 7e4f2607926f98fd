#pragma once
// File helpers with errors as values.

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/status.h"

namespace vantrel::platform {

// Creates `dir` with every missing parent; an existing directory is success.
Status createDirectories(const std::filesystem::path& dir);
// Reads a whole file.
Result<std::string> readFile(const std::filesystem::path& path);
// Replaces `path` as a whole: writes a temporary beside it, syncs, renames; the temporary
// is removed on failure.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);
// Appends bytes at the end of the file (creating it), with O_APPEND.
Status appendToFile(const std::filesystem::path& path, std::string_view bytes);
// Sets the modification (and access) time.
Status setFileTime(const std::filesystem::path& path, WallTime time);

}  // namespace vantrel::platform
