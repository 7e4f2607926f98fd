#include "platform/disk_space.h"

#include <sys/statvfs.h>

namespace vantrel::platform {

std::optional<std::uint64_t> freeBytes(const std::filesystem::path& path) {
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bfree) * info.f_frsize;
}

}  // namespace vantrel::platform
