#pragma once
// The local side of the real-time reports: where a day's reports are received, the ".flag"
// file that marks a completely published report as received whole (doc/formats/
// realtime-flag.md), and the fetch of one report through CDRAVFtp, shared by the service's
// download thread and the manual receive.
//
// A report arrives in its ".tmp" partial file beside the target, so an interrupted fetch
// resumes from what arrived; only a finished (and, for status "10", digest-checked) file
// is moved into place, stamped with the gateway's time, and then gets its ".flag".

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "client/base/events.h"
#include "client/transfer/drav_ftp.h"
#include "platform/status.h"

namespace vantrel::realtime {

// The view's states.
inline constexpr const char* kWaiting = "等待接收";
inline constexpr const char* kPublishing = "正在推送";
inline constexpr const char* kDownloading = "正在下载";
inline constexpr const char* kFailed = "出现错误";
inline constexpr const char* kDownloaded = "完成下载";
inline constexpr const char* kPublished = "完成推送";
inline constexpr const char* kLoadFailed = "加载失败";

// What a ".flag" file records.
struct FlagContent {
    std::string name;
    std::int64_t size = 0;
    std::string date;  // "YYYYMMDD"
    std::string time;  // "HH:MM:SS"
    std::string md5;   // 32 lower-case hexadecimal characters
    std::string loadTime;
};

std::filesystem::path flagPathOf(const std::filesystem::path& data);
std::string formatFlag(const FlagContent& flag);
// Fails with the reason when a line is missing or malformed.
Result<FlagContent> parseFlag(std::string_view text);

// The gateway's date and time of an entry as a wall time; empty when malformed.
std::optional<platform::WallTime> entryTime(const RealtimeEntry& entry);
// The remote name of a report of `day`.
std::string remoteNameOf(const std::string& day, const RealtimeEntry& entry);
// Lines of a report file (its record count for the view); 0 when unreadable.
std::int64_t recordCountOf(const std::filesystem::path& file);

struct FetchResult {
    enum Outcome { kDone, kFailed, kDigestMismatch };
    Outcome outcome = kFailed;
    std::string error;
    RealtimeReportRecord record;  // the view line after the fetch
};

// Fetches `entry` of `day` into `directory` (created when missing); a name that would
// leave the directory is refused. `clock` gives the download time of the view's line and
// the ".flag"; `stop` is asked between packets.
FetchResult fetchReport(CDRAVFtp& ftp, const std::string& day, const RealtimeEntry& entry,
                        const std::filesystem::path& directory, const platform::Clock& clock,
                        const std::function<bool()>& stop);

}  // namespace vantrel::realtime
