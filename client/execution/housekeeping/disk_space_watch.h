#pragma once
// DiskSpaceWatch: the free-space check of every directory the client writes to (the
// installation root and each task's target) against the operator's minimum
// (Client.ini [system] DiskSpace), with the texts of DiskSpaceCheck. The window's tip and
// serve's alert both run it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "client/execution/housekeeping/disk_space_check.h"

namespace vantrel {

class DiskSpaceWatch {
  public:
    struct Target {
        std::filesystem::path directory;
        std::string taskId;  // empty: the installation root
    };
    struct Finding {
        Target target;
        std::int64_t freeMegabytes = -1;  // -1: the system cannot tell
        bool low = false;
        std::string message;  // the operator's warning when low
    };

    explicit DiskSpaceWatch(DiskSpaceCheck::FreeSpaceSource source = {});

    // One finding per target; a target that does not exist yet is checked at its nearest
    // existing parent, where its files will land.
    std::vector<Finding> check(const std::vector<Target>& targets, int minimumMegabytes) const;

  private:
    DiskSpaceCheck::FreeSpaceSource source_;
};

}  // namespace vantrel
