#pragma once
// Local paths made from remote names. A name from a listing or a caller may use either
// separator; it is accepted only when every component stays inside the directory.

#include <cstddef>
#include <filesystem>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// `directory` joined with the relative `name` ('\\' and '/' both separate). Refused with a
// Chinese text (naming the name escaped) when the name is empty, absolute, carries a drive
// ("C:"), contains a ".." component, a NUL or another control character, or a component
// longer than kLocalNameLimit bytes, or ends in a separator.
Result<std::filesystem::path> localPathInside(const std::filesystem::path& directory,
                                              std::string_view name);

// The longest file name, in bytes, that local names are held to.
inline constexpr std::size_t kLocalNameLimit = 255;

// The ".tmp" data file in which a download into `target` is received; its block state file
// is that path with ".~block" appended. Both names stay within kLocalNameLimit for every
// target name within it: when "<name>.tmp.~block" would not, the suffixes go on a shortened
// name that ends in "~" and a digest of the whole name.
std::filesystem::path partialPathFor(const std::filesystem::path& target);

// The last component of a remote name ("Bullet\\a.txt" gives "a.txt").
std::string_view remoteBaseName(std::string_view name);

}  // namespace vantrel
