#pragma once
// Local paths made from remote names. A name from a listing or a caller may use either
// separator; it is accepted only when every component stays inside the directory.

#include <filesystem>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// `directory` joined with the relative `name` ('\\' and '/' both separate). Refused with a
// Chinese text when the name is empty, absolute, carries a drive ("C:"), contains a ".."
// component or ends in a separator.
Result<std::filesystem::path> localPathInside(const std::filesystem::path& directory, std::string_view name);

// The last component of a remote name ("Bullet\\a.txt" gives "a.txt").
std::string_view remoteBaseName(std::string_view name);

}  // namespace vantrel
