#pragma once
// ServeStatus: what a running serve shows of itself, written about once a second to
// data/serve-status.json and read by `vantrel-cli status` (no socket: any user who may
// read the root's data/ may ask). Times are local "YYYY-MM-DD HH:MM:SS" texts, each with
// its seconds since 1970 beside it for the checks.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "client/base/installation.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace vantrel::service {

struct TaskStatus {
    std::string kind;  // "download", "upload", "autosync"
    std::string id;
    std::string description;
    std::string mailbox;
    std::string phase;    // the run phase's name ("空闲", "正在运行", ...)
    std::string nextRun;  // empty: not scheduled
    std::string lastRunTime;
    std::string lastResult;
    std::string lastDescription;
    int files = 0;                // the day's list (this run's, else the last run's)
    int filesDone = 0;            // of them, delivered or sent
    std::int64_t bytesToday = 0;  // bytes of the files this serve finished today
    int filesToday = 0;           // files this serve finished today
};

struct TransferStatus {
    std::string taskId;
    std::string file;
    bool upload = false;
    std::int64_t bytesDone = 0;
    std::int64_t fileSize = -1;
    std::int64_t bytesPerSecond = 0;
};

struct FailureRecord {
    std::string time;
    std::int64_t epoch = 0;
    std::string kind;  // a task kind, or "disk"
    std::string taskId;
    std::string reason;
};

struct DiskStatus {
    std::string path;
    std::string taskId;               // empty: the installation root
    std::int64_t freeMegabytes = -1;  // -1: the system cannot tell
    bool low = false;
};

struct RealtimeStatus {
    bool running = false;
    std::string statusText;
    int reports = 0;
    int pending = 0;
};

struct ServeStatus {
    int pid = 0;
    std::string startedAt;
    std::int64_t startedEpoch = 0;
    std::string writtenAt;
    std::int64_t writtenEpoch = 0;
    std::string version;
    bool loggedIn = false;
    std::string gateway;
    std::string businessDay;
    // Since when every login has failed; 0 while the gateway answers.
    std::int64_t unreachableSinceEpoch = 0;
    std::string lastTick;
    std::int64_t lastTickEpoch = 0;
    int minimumFreeMegabytes = 0;
    std::vector<TaskStatus> tasks;
    std::vector<TransferStatus> transfers;
    RealtimeStatus realtime;
    std::vector<FailureRecord> failures;  // the newest last
    std::vector<DiskStatus> disks;
};

// The snapshot's place in an installation.
std::filesystem::path statusFilePath(const Installation& installation);

std::string toJson(const ServeStatus& status);
// Empty when `text` is not a snapshot.
std::optional<ServeStatus> fromJson(const std::string& text);

// Replaces the file as a whole (temporary, sync, rename), so a reader never sees half.
Status writeStatusFile(const Installation& installation, const ServeStatus& status);

// "YYYY-MM-DD HH:MM:SS" of a wall time, and its seconds since 1970.
std::string localText(platform::WallTime time);
std::int64_t epochSeconds(platform::WallTime time);

}  // namespace vantrel::service
