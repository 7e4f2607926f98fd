#include "client/execution/housekeeping/disk_space_check.h"

#include <cstdint>
#include <cstdio>

#include "platform/disk_space.h"

namespace vantrel {

DiskSpaceCheck::DiskSpaceCheck(std::filesystem::path directory, FreeSpaceSource source)
    : directory_(std::move(directory)), source_(std::move(source)) {
    if (!source_) source_ = [](const std::filesystem::path& p) { return platform::freeBytes(p); };
}

std::uint32_t DiskSpaceCheck::megabytes(std::uint64_t bytes) {
    // Saturates rather than wrapping, so a vast disk never reads as an empty one.
    const std::uint64_t mb = bytes >> 20;
    return mb > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(mb);
}

bool DiskSpaceCheck::enough(int minimumMegabytes, std::string& message) const {
    const std::optional<std::uint64_t> free = source_(directory_);
    // A system that cannot tell must not stop the operator from working.
    if (!free) return true;
    const std::uint32_t freeMb = megabytes(*free);
    // Compared as signed 64-bit so a negative minimum never fails and a huge count never wraps.
    if (static_cast<std::int64_t>(freeMb) >= static_cast<std::int64_t>(minimumMegabytes))
        return true;
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "您的磁盘[%s]空间:%ld M，已经少于系统所需最小值:%d M，为了能够正常的进行业务操作，"
        "请您先进行磁盘清理!",
        directory_.string().c_str(), static_cast<long>(freeMb), minimumMegabytes);
    message = text;
    return false;
}

}  // namespace vantrel
