#include "client/execution/tasks/download_schedule.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "client/catalogue/task_schedule.h"

namespace vantrel {
namespace {

using platform::WallTime;
using std::chrono::seconds;

// "HH:MM" → the span since midnight.
seconds sinceMidnight(const std::string& hhmm) {
    int h = 0, m = 0;
    if (std::sscanf(hhmm.c_str(), "%d:%d", &h, &m) != 2) return seconds(0);
    return seconds(h * 3600 + m * 60);
}

// `day` at the time of day "HH:MM", plus `days`.
WallTime at(platform::LocalTime day, const std::string& hhmm, int days = 0) {
    day.day += days;
    day.hour = day.minute = day.second = 0;
    day.millisecond = 0;
    return platform::fromLocalTime(day) + sinceMidnight(hhmm);
}

std::string hhmm(WallTime t) {
    const platform::LocalTime lt = platform::toLocalTime(t);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", lt.hour % 100, lt.minute % 100);
    return buffer;
}

WallTime wholeSeconds(WallTime t) {
    return std::chrono::time_point_cast<seconds>(t);
}

}  // namespace

seconds WindowShift(const catalogue::TaskSchedule& task) {
    return task.nextday ? sinceMidnight(task.endtime) + seconds(1) : seconds(0);
}

ScheduleDecision CheckDownloadSchedule(const catalogue::TaskSchedule& task,
                                       const catalogue::NextRunTime& nextRun, bool running,
                                       WallTime now) {
    if (!catalogue::IsScheduled(task.planstate)) return ScheduleDecision::Idle;
    now = wholeSeconds(now);
    const seconds shift = WindowShift(task);
    const WallTime shifted = now - shift;
    const platform::LocalTime today = platform::toLocalTime(now);
    std::string begin = task.begintime;
    std::string end = task.endtime;
    if (task.nextday) {
        begin = hhmm(at(today, task.begintime) - shift);
        end = hhmm(at(today, task.endtime, 1) - shift);
    }
    if (!catalogue::WeekAllows(task.curweek, platform::toLocalTime(shifted)))
        return ScheduleDecision::Idle;
    const std::string current = hhmm(shifted);
    if (!(begin <= current && current <= end) || running || !nextRun)
        return ScheduleDecision::Idle;
    const auto distance = *nextRun - now;
    if (distance <= std::chrono::milliseconds(500) && distance >= std::chrono::milliseconds(-500)) {
        return ScheduleDecision::Start;
    }
    return now > *nextRun ? ScheduleDecision::Recompute : ScheduleDecision::Idle;
}

catalogue::NextRunTime NextRunAfterMissedStart(const catalogue::TaskSchedule& task,
                                               WallTime now) {
    if (!catalogue::IsScheduled(task.planstate)) return std::nullopt;
    now = wholeSeconds(now);
    const seconds shift = WindowShift(task);
    const WallTime shifted = now - shift;
    const platform::LocalTime day = platform::toLocalTime(shifted);
    const WallTime begin = at(day, task.begintime) - shift;
    const WallTime end = at(day, task.endtime, task.nextday ? 1 : 0) - shift;
    WallTime candidate = begin;
    if (begin < shifted && shifted + seconds(10) < end) {
        candidate = shifted;
    } else if (end <= shifted + seconds(10)) {
        candidate = begin + std::chrono::hours(24);
    }
    const platform::LocalTime first = platform::toLocalTime(candidate);
    for (int k = 0; k < 7; ++k) {
        platform::LocalTime d = first;
        d.day += k;
        d = platform::toLocalTime(at(d, "00:00"));
        if (!catalogue::WeekAllows(task.curweek, d)) continue;
        const WallTime beginOfDay = at(d, task.begintime) - shift;
        const WallTime next = shifted <= beginOfDay ? beginOfDay : shifted + seconds(10);
        return next + shift;
    }
    return std::nullopt;
}

}  // namespace vantrel
