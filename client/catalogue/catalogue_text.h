#pragma once
// Small text and time helpers shared by the task tables and the file lists.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vantrel::catalogue {

// ASCII case-insensitive comparison.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);

// "%Y-%m-%d %H:%M:%S".
std::string FormatDateTime(const platform::LocalTime& t);
// "%Y%m%d".
std::string FormatDate(const platform::LocalTime& t);
// "YYYY-MM-DD hh:mm:ss" (or "YYYY-MM-DD", or "YYYY/MM/DD ..."), with every part in range;
// nothing for any other text.
std::optional<platform::LocalTime> ParseDateTime(std::string_view text);

// The decimal integer at the start of `text` (after blanks, with an optional sign); 0 when
// none. Stops at the first non-digit; saturates.
std::int64_t LeadingInteger(std::string_view text);

// "<directory>/<taskId>-YYYYMMDD<extension>": the daily list (".dat") and task log (".log").
std::filesystem::path DailyTaskFile(const std::filesystem::path& directory,
                                    const std::string& taskId, const platform::LocalTime& day,
                                    const char* extension);

// Copies `from` to `to` unless `to` exists; true when `to` exists afterwards.
bool CopyTemplate(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vantrel::catalogue
