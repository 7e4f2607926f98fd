#pragma once
// The one place that spells dates and times as text, with the small ASCII helpers every layer
// needs: "YYYYMMDD" names the day files, lists and logs; "YYYY-MM-DD hh:mm:ss" is shown and
// stored in the task tables.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vantrel::base {

// ASCII case-insensitive comparison.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);

// "%Y-%m-%d %H:%M:%S".
std::string FormatDateTime(const platform::LocalTime& t);
// "%Y%m%d".
std::string FormatDate(const platform::LocalTime& t);
// "%Y%m%d%H%M%S".
std::string FormatStamp(const platform::LocalTime& t);
// "YYYY-MM-DD hh:mm:ss" (or "YYYY-MM-DD", or "YYYY/MM/DD ..."), with every part in range;
// nothing for any other text.
std::optional<platform::LocalTime> ParseDateTime(std::string_view text);

// The decimal integer at the start of `text` (after blanks, with an optional sign); 0 when
// none. Stops at the first non-digit; saturates.
std::int64_t LeadingInteger(std::string_view text);

}  // namespace vantrel::base
