#include "platform/disk_space.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vantrel::platform {

std::optional<std::uint64_t> freeBytes(const std::filesystem::path& path) {
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bfree) * info.f_frsize;
}

std::filesystem::path mountPoint(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path current = std::filesystem::absolute(path, ec).lexically_normal();
    if (ec) return {};
    if (!current.has_filename() && current.has_relative_path()) current = current.parent_path();
    struct stat info {};
    // Missing tails (a directory not created yet) belong to the file system of their parent.
    while (::stat(current.c_str(), &info) != 0) {
        if (current == current.parent_path()) return {};
        current = current.parent_path();
    }
    for (;;) {
        const std::filesystem::path parent = current.parent_path();
        struct stat parentInfo {};
        if (parent == current || ::stat(parent.c_str(), &parentInfo) != 0 ||
            parentInfo.st_dev != info.st_dev) {
            return current;
        }
        current = parent;
    }
}

bool directoryTakesFiles(const std::filesystem::path& dir) {
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    // Refused (EROFS) on a read-only mount whatever the permission bits say.
    return ::access(dir.c_str(), W_OK | X_OK) == 0;
}

}  // namespace vantrel::platform
