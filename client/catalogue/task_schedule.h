#pragma once
// When a task runs next: the first time after the tables are loaded, and the next time
// after a run. Pure functions of the task's schedule and "now" (local time zone).

#include <string>

#include "client/catalogue/task_records.h"

namespace vantrel::catalogue {

struct TaskSchedule {
    int planstate = 0;
    std::string begindate;  // YYYY-MM-DD
    std::string begintime;  // HH:MM
    std::string endtime;    // HH:MM
    // Seven characters, Monday first; empty for a task without a weekday mask (every day).
    std::string curweek;
    // The window ends on the following day.
    bool nextday = false;

    bool operator==(const TaskSchedule&) const = default;
};

// The schedule rule of each kind, the one the catalogue and the task models read: a
// download task's window and weekday mask as stored; an upload window never crosses
// midnight; an auto-sync task has no weekday mask (every day counts) and a window within
// one day.
TaskSchedule ScheduleOf(const UploadTask& task);
TaskSchedule ScheduleOf(const DownloadTask& task);
TaskSchedule ScheduleOf(const AutoSyncTask& task);

// The next run time when the tables are loaded. For a window that crosses midnight, "now"
// is first moved back by the window's end (plus a second), so the part after midnight
// belongs to the day the window started; a task inside its window is due at once.
NextRunTime FirstNextRun(const TaskSchedule& schedule, platform::WallTime now);

// The next run time after a run that ended at `now`, repeating every `intervalMinutes`
// inside the daily window. A window that crosses midnight is taken from the day it
// started, so it repeats through the night.
NextRunTime NextRunAfterRun(const TaskSchedule& schedule, platform::WallTime now,
                            int intervalMinutes);

// 1 when the time of day of `t` ("HH:MM") lies between `begin` and `end` inclusive, as
// text, else 0.
int IsInWindow(platform::WallTime t, const std::string& begin, const std::string& end);

// Whether `curweek` allows the weekday of `day` (an empty mask allows every day).
bool WeekAllows(const std::string& curweek, const platform::LocalTime& day);

}  // namespace vantrel::catalogue
