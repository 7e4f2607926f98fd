#include "client/catalogue/task_schedule.h"

#include <cstdio>

#include "client/catalogue/catalogue_text.h"

namespace vantrel::catalogue {
namespace {

using std::chrono::minutes;
using std::chrono::seconds;

int part(const std::string& text, std::size_t at, std::size_t length) {
    return at < text.size() ? static_cast<int>(LeadingInteger(text.substr(at, length))) : 0;
}

// `day`'s date at hh:mm:00, plus `addDays`.
platform::WallTime at(const platform::LocalTime& day, const std::string& hhmm, int addDays = 0) {
    platform::LocalTime t;
    t.year = day.year;
    t.month = day.month;
    t.day = day.day + addDays;
    t.hour = part(hhmm, 0, 2);
    t.minute = part(hhmm, 3, 2);
    t.second = 0;
    return platform::fromLocalTime(t);
}

seconds sinceMidnight(const std::string& hhmm) {
    return std::chrono::hours(part(hhmm, 0, 2)) + minutes(part(hhmm, 3, 2));
}

// The same local time of day, `days` later.
platform::WallTime addDays(platform::WallTime t, int days) {
    platform::LocalTime lt = platform::toLocalTime(t);
    lt.day += days;
    return platform::fromLocalTime(lt);
}

}  // namespace

TaskSchedule ScheduleOf(const UploadTask& t) {
    return {t.planstate, t.begindate, t.begintime, t.endtime, t.curweek, false};
}
TaskSchedule ScheduleOf(const DownloadTask& t) {
    return {t.planstate, t.begindate, t.begintime, t.endtime, t.curweek, t.nextday != 0};
}
TaskSchedule ScheduleOf(const AutoSyncTask& t) {
    return {t.planstate, t.begindate, t.begintime, t.endtime, std::string(), false};
}

bool WeekAllows(const std::string& curweek, const platform::LocalTime& day) {
    if (curweek.empty()) return true;
    const std::size_t index = static_cast<std::size_t>((day.weekday + 6) % 7);  // Monday first
    return index < curweek.size() && curweek[index] == '1';
}

NextRunTime FirstNextRun(const TaskSchedule& s, platform::WallTime realNow) {
    if (!IsScheduled(s.planstate)) return std::nullopt;
    const platform::WallTime now =
        s.nextday ? realNow - (sinceMidnight(s.endtime) + seconds(1)) : realNow;
    const platform::LocalTime today = platform::toLocalTime(now);

    platform::LocalTime beginDay;
    beginDay.year = part(s.begindate, 0, 4);
    beginDay.month = part(s.begindate, 5, 2);
    beginDay.day = part(s.begindate, 8, 2);
    // A first day that is not a date (an empty field of a migrated row) does not hold the
    // task back.
    const bool validBegin = beginDay.year >= 1970 && beginDay.year <= 9999 && beginDay.month >= 1 &&
                            beginDay.month <= 12 && beginDay.day >= 1 && beginDay.day <= 31;
    platform::WallTime start = validBegin ? at(beginDay, s.begintime) : at(today, s.begintime);
    if (now > start) start = at(today, s.begintime);
    const platform::LocalTime startDay = platform::toLocalTime(start);
    const platform::WallTime end = at(startDay, s.endtime, s.nextday ? 1 : 0);

    platform::WallTime candidate;
    if (start <= now && now <= end) {
        candidate = now;
    } else if (now > end) {
        candidate = addDays(start, 1);
    } else {
        candidate = start;
    }
    for (int k = 0; k < 7; ++k) {
        const platform::WallTime day = addDays(candidate, k);
        if (!WeekAllows(s.curweek, platform::toLocalTime(day))) continue;
        return day > now ? day : now + seconds(10);
    }
    return std::nullopt;
}

NextRunTime NextRunAfterRun(const TaskSchedule& s, platform::WallTime now, int intervalMinutes) {
    if (!IsScheduled(s.planstate)) return std::nullopt;
    const platform::LocalTime windowDay =
        platform::toLocalTime(s.nextday ? now - (sinceMidnight(s.endtime) + seconds(1)) : now);
    const platform::WallTime start = at(windowDay, s.begintime);
    const platform::WallTime end = at(windowDay, s.endtime, s.nextday ? 1 : 0);
    const platform::WallTime soonest = now + minutes(intervalMinutes) + seconds(1);

    int candidate = 0;
    if (start <= now && soonest <= end) {
        candidate = 0;
    } else if (end <= soonest) {
        candidate = 1;
    }
    for (int k = 0; k < 7; ++k) {
        platform::LocalTime day = windowDay;
        day.day += candidate + k;
        day = platform::toLocalTime(platform::fromLocalTime(day));
        if (!WeekAllows(s.curweek, day)) continue;
        const platform::WallTime begin = at(day, s.begintime);
        return begin >= now ? begin : now + minutes(intervalMinutes);
    }
    return std::nullopt;
}

int IsInWindow(platform::WallTime t, const std::string& begin, const std::string& end) {
    const platform::LocalTime lt = platform::toLocalTime(t);
    char hhmm[16];
    std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", lt.hour, lt.minute);
    const std::string now = hhmm;
    return (begin <= now && now <= end) ? 1 : 0;
}

}  // namespace vantrel::catalogue
