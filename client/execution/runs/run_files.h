#pragma once
// RunFiles: the files of one transfer run, by list row, behind the run's lock. Both
// directions keep the same record of a file; the fields a direction does not use stay at
// their defaults.
//
// Thread-safe. The lock is never held while the run calls into its list, a gateway or the
// block-state registry: callers copy what they need and act after `locked` returns.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "client/transfer/file_block_info.h"

namespace vantrel {

// Where a file of a run is. Confirmed: its data is checked (and unpacked); Placed: it is
// where it belongs (delivered into the task's directory, or marked sent and moved away).
enum class FilePhase { Transferring, Confirmed, Placed, Failed, Stopped };

struct RunFile {
    int row = -1;
    std::string name;
    std::int64_t size = 0;
    FileBlockInfo* info = nullptr;
    std::string key;
    FilePhase phase = FilePhase::Transferring;
    std::string error;
    std::int64_t reportedBytes = -1;
    // The digest did not match: closing discards the data (downloads).
    bool discard = false;
    // Downloads: the file's place on the server, its time there, its list kind, whether
    // it is unpacked, and where unpacking left its files (delivery takes them from there).
    std::string remoteName;
    std::string updateTime;
    int kind = 0;
    bool unpack = false;
    std::filesystem::path extraction;
    // Uploads: the row says sent already (an earlier run died before the move).
    bool markedSent = false;
};

class RunFiles {
  public:
    using Map = std::map<int, RunFile>;

    // Runs `body(map)` under the lock; `body` only reads and changes the map.
    template <class Body>
    decltype(auto) locked(Body&& body) {
        std::lock_guard lock(mutex_);
        return body(files_);
    }
    template <class Body>
    decltype(auto) locked(Body&& body) const {
        std::lock_guard lock(mutex_);
        return body(static_cast<const Map&>(files_));
    }

    void put(RunFile file) {
        std::lock_guard lock(mutex_);
        const int row = file.row;
        files_[row] = std::move(file);
    }
    // A copy of the file whose block state is `info`; none once the run let it go.
    std::optional<RunFile> copyOf(const FileBlockInfo& info) const {
        std::lock_guard lock(mutex_);
        const RunFile* file = fileOfLocked(info);
        return file ? std::optional<RunFile>(*file) : std::nullopt;
    }
    void setPhase(const FileBlockInfo& info, FilePhase phase, const std::string& error = {}) {
        std::lock_guard lock(mutex_);
        if (RunFile* file = fileOfLocked(info)) {
            file->phase = phase;
            if (!error.empty()) file->error = error;
        }
    }
    // The files of the day's list placed before this run.
    void setPlacedBefore(int count) {
        std::lock_guard lock(mutex_);
        placedBefore_ = count;
    }
    // The files of the day's list: those placed before this run and this run's.
    int fileCount() const {
        std::lock_guard lock(mutex_);
        return placedBefore_ + static_cast<int>(files_.size());
    }

  private:
    RunFile* fileOfLocked(const FileBlockInfo& info) const {
        for (const auto& [row, file] : files_) {
            if (file.info == &info) return const_cast<RunFile*>(&file);
        }
        return nullptr;
    }

    mutable std::mutex mutex_;
    Map files_;
    int placedBefore_ = 0;
};

}  // namespace vantrel
