#pragma once
// The day files of a task and the templates the tables are made from.

#include <filesystem>
#include <string>

#include "client/base/day_text.h"
#include "platform/clock.h"

namespace vantrel::catalogue {

// The date and text helpers live in base; the catalogue's code names them unqualified.
using base::EqualsIgnoreCase;
using base::FormatDate;
using base::FormatDateTime;
using base::FormatStamp;
using base::LeadingInteger;
using base::ParseDateTime;
using base::ToLowerAscii;

// "<directory>/<taskId>-YYYYMMDD<extension>": the daily list (".dat") and task log (".log").
std::filesystem::path DailyTaskFile(const std::filesystem::path& directory,
                                    const std::string& taskId, const platform::LocalTime& day,
                                    const char* extension);

// Copies `from` to `to` unless `to` exists; true when `to` exists afterwards.
bool CopyTemplate(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace vantrel::catalogue
