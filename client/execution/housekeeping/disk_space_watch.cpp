#include "client/execution/housekeeping/disk_space_watch.h"

#include <system_error>

#include "platform/disk_space.h"

namespace vantrel {
namespace {

std::filesystem::path existingAncestor(std::filesystem::path path) {
    std::error_code ec;
    while (!path.empty() && !std::filesystem::exists(path, ec)) {
        const std::filesystem::path parent = path.parent_path();
        if (parent == path) break;
        path = parent;
    }
    return path;
}

}  // namespace

DiskSpaceWatch::DiskSpaceWatch(DiskSpaceCheck::FreeSpaceSource source)
    : source_(std::move(source)) {
    if (!source_) source_ = [](const std::filesystem::path& p) { return platform::freeBytes(p); };
}

std::vector<DiskSpaceWatch::Finding> DiskSpaceWatch::check(const std::vector<Target>& targets,
                                                           int minimumMegabytes) const {
    std::vector<Finding> findings;
    for (const Target& target : targets) {
        Finding finding;
        finding.target = target;
        const std::filesystem::path probe = existingAncestor(target.directory);
        if (const std::optional<std::uint64_t> free = source_(probe))
            finding.freeMegabytes = DiskSpaceCheck::megabytes(*free);
        DiskSpaceCheck one(target.directory,
                           [this, probe](const std::filesystem::path&) { return source_(probe); });
        finding.low = !one.enough(minimumMegabytes, finding.message);
        findings.push_back(std::move(finding));
    }
    return findings;
}

}  // namespace vantrel
