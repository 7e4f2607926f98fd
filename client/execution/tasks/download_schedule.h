#pragma once
// When a task starts: the once-a-second decision of the plan monitor and the next run
// after a missed start, from the kind's schedule rule (catalogue::ScheduleOf). A window that crosses midnight ("nextday") is shifted
// back by its end (plus a second), so the part after midnight belongs to the day the
// window started and the weekday mask of that day decides. Pure functions.

#include <chrono>

#include "client/catalogue/task_records.h"
#include "client/catalogue/task_schedule.h"

namespace vantrel {

enum class ScheduleDecision {
    Idle,       // not scheduled, not today, outside the window, running or without a next run
    Start,      // the next run is now (to half a second)
    Recompute,  // the next run was missed: compute it again
};

// How far a window that crosses midnight is shifted back: its end plus a second; zero for a
// window within one day. A run belongs to the day of (its start - this shift).
std::chrono::seconds WindowShift(const catalogue::TaskSchedule& schedule);

ScheduleDecision CheckDownloadSchedule(const catalogue::TaskSchedule& schedule,
                                       const catalogue::NextRunTime& nextRun, bool running,
                                       platform::WallTime now);

// The next run after a missed start: inside the window on an enabled day ten seconds from
// now, else the window's start on the next enabled day within a week. Empty when the task
// is not scheduled or no day of the week is enabled.
catalogue::NextRunTime NextRunAfterMissedStart(const catalogue::TaskSchedule& schedule,
                                               platform::WallTime now);

}  // namespace vantrel
