#pragma once
// What the file lists need of the transfer engine. The engine implements these interfaces
// and hands them to the list managers; the lists never reach into the engine otherwise.

#include <filesystem>
#include <string>

#include "platform/status.h"

namespace vantrel::catalogue {

struct DownloadWorkItem;

// Block-state files (a partial file's "<partial>.~block") belong to the engine's store,
// which may hold them open; deleting one goes through it.
class BlockStateRemover {
  public:
    virtual ~BlockStateRemover() = default;
    // Removes the block state kept for `dataFile`; a missing state file is success.
    virtual Status removeBlockState(const std::filesystem::path& dataFile) = 0;
};

// The download side of the engine. Called with the list manager's lock held: an
// implementation must not call back into the list manager.
class DownloadEngine : public BlockStateRemover {
  public:
    // Starts fetching `item` into its partial file "<receive directory>/<name>.tmp".
    virtual void startDownload(const DownloadWorkItem& item) = 0;
    // Whether a transfer of the list row `row` of task `taskId` is still held.
    virtual bool holds(const std::string& taskId, int row) const = 0;
    // Why the last transfer of that row failed.
    virtual std::string failureText(const std::string& taskId, int row) const = 0;
};

}  // namespace vantrel::catalogue
