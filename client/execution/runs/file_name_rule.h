#pragma once
// Which remote files a download task fetches today, and which received files are unpacked.

#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"

namespace vantrel::execution {

// The name pattern a mailbox task's file-name rule gives on the local date `today` (only
// year, month and day are read; the caller takes them from its injected clock). The rule is
// split at its last "." (no "." : the whole rule is the suffix); the prefix is kept with
// its "?"/"*" wildcards, which the gateway's listing applies. Suffixes:
//   "%" or "[%]"             month as lower-case hex (1..c) + two-digit day  ("*.%" -> "*.121")
//   "[%-n]", "[%+n]"         the same for today - n / today + n days
//   "!%" or "[!%]"           month as upper-case hex (1..C) + two-digit day  ("!%" -> "A10")
//   "[!%-n]", "[!%+n]"       the upper-case form for today - n / today + n days
// n is one or more decimal digits (at most nine); any other suffix leaves the rule as
// written. An empty rule is an error with the text "文件名为空!".
Result<std::string> applyFileNameRule(std::string_view rule, const platform::LocalTime& today);

// False when the received file is delivered as it is: its name (last path component) has
// no extension or an empty one, or the extension is one of `noUnzipFileTypes` (the parsed
// NoUnzipFileType setting), compared without regard to ASCII case.
bool shouldUnpack(std::string_view fileName, const std::vector<std::string>& noUnzipFileTypes);

}  // namespace vantrel::execution
