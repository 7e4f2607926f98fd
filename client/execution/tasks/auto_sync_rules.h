#pragma once
// The date and time rules of the auto-sync tasks: which earlier day a history run takes,
// when a daily run lists the whole day again, and when the once-a-day clean-up of their
// local files is due. Pure functions; dates are "YYYYMMDD", gateway times "HHMMSS".

#include <chrono>
#include <optional>
#include <string>

#include "client/catalogue/task_records.h"
#include "platform/clock.h"

namespace vantrel::execution {

// `yyyymmdd` moved by `days` (negative: back); empty when the text is not a date.
std::string AddDays(const std::string& yyyymmdd, int days);
// The date of "YYYYMMDD" text at noon local time; empty when not a date.
std::optional<platform::LocalTime> ParseDay(const std::string& yyyymmdd);

// The day a history run synchronises: the stored next day, or the earliest day of the
// horizon (`businessDate` - `autoSyncDay` days) when none is stored or it lies before that.
// `corrected` tells whether the stored value must be rewritten.
std::string HistorySyncDate(const std::string& stored, const std::string& businessDate,
                            int autoSyncDay, bool& corrected);
// Whether there is nothing left to catch up: the next day lies after the business date.
bool HistoryCaughtUp(const std::string& nextDate, const std::string& businessDate);

// Whether a daily run lists the whole day again although it knows a version: once
// (`forceTimeMulti` - 1) x `timespaceMinutes` minutes have passed since the last full list.
bool FullListDue(std::optional<platform::WallTime> lastFullList, platform::WallTime now,
                 int forceTimeMulti, int timespaceMinutes);

// The gateway's time of day now: `reported` (HHMMSS, from the last login) moved on by the
// time elapsed since it was reported. Empty when `reported` is not a time.
std::string GatewayTimeNow(const std::string& reported, std::chrono::seconds elapsed);
// Whether the clean-up of the auto-sync files is due: the business date and the gateway
// time are known, the time lies in 02:00:00-03:00:00, and the clean-up has not run for
// this business date (`cleanHisDate`, compared ignoring case).
bool CleanupDue(const std::string& businessDate, const std::string& gatewayTime,
                const std::string& cleanHisDate);

// An auto-sync task in the shape the download schedule and run work on: no file-name
// rule, no weekday mask, a window within the day.
catalogue::DownloadTask AsDownloadTask(const catalogue::AutoSyncTask& task);

}  // namespace vantrel::execution
