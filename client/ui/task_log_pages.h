#pragma once
// Reading the task logs and the day's list files for the log views, toolkit-free. A task log
// is a sequence of fixed 200-byte GBK records (doc/formats/logs.md), so a page is read by
// record number without reading the file from the start.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "client/base/installation.h"

namespace vantrel::ui {

inline constexpr std::size_t kTaskLogRecordBytes = 200;

// The whole records in `file` (a short tail being written is not counted); 0 when the file
// cannot be read.
std::int64_t taskLogRecordCount(const std::filesystem::path& file);
// Records [first, first + count) as UTF-8, without the padding and the record end; fewer at
// the end of the file, none when it cannot be read.
std::vector<std::string> readTaskLogPage(const std::filesystem::path& file, std::int64_t first,
                                         std::int64_t count);

// The files of the task log tree: the day's list files ("data/*<today>.dat"), today's task
// logs ("log/*-<today>.log") and the earlier ones (every other task log, history logs
// "_his.log" included); each sorted by name. The system and real-time logs are not task logs.
struct TaskLogFiles {
    std::vector<std::filesystem::path> lists;
    std::vector<std::filesystem::path> today;
    std::vector<std::filesystem::path> history;
};
TaskLogFiles findTaskLogFiles(const Installation& installation, const std::string& yyyymmdd);

}  // namespace vantrel::ui
