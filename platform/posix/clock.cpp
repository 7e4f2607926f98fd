#include "platform/clock.h"

#include <time.h>

#include <mutex>

namespace vantrel::platform {
namespace {

// The C library's conversions re-read the zone (with TZ unset, mktime writes its copy of it
// at every call) under a lock of its own that the thread sanitizer cannot see; one lock of
// ours around both conversions keeps them ordered where it can.
std::mutex& zoneMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

LocalTime toLocalTime(WallTime t) {
    using namespace std::chrono;
    const auto sinceEpoch = floor<milliseconds>(t.time_since_epoch());
    const auto whole = floor<seconds>(sinceEpoch);
    const time_t seconds = static_cast<time_t>(whole.count());
    struct tm parts {};
    LocalTime lt;
    {
        std::lock_guard lock(zoneMutex());
        if (localtime_r(&seconds, &parts) == nullptr) return lt;
    }
    lt.year = parts.tm_year + 1900;
    lt.month = parts.tm_mon + 1;
    lt.day = parts.tm_mday;
    lt.hour = parts.tm_hour;
    lt.minute = parts.tm_min;
    lt.second = parts.tm_sec;
    lt.millisecond = static_cast<int>((sinceEpoch - whole).count());
    lt.weekday = parts.tm_wday;
    return lt;
}

WallTime fromLocalTime(const LocalTime& lt) {
    struct tm parts {};
    parts.tm_year = lt.year - 1900;
    parts.tm_mon = lt.month - 1;
    parts.tm_mday = lt.day;
    parts.tm_hour = lt.hour;
    parts.tm_min = lt.minute;
    parts.tm_sec = lt.second;
    parts.tm_isdst = -1;  // let the zone rules decide
    time_t seconds;
    {
        std::lock_guard lock(zoneMutex());
        seconds = mktime(&parts);
    }
    return std::chrono::system_clock::from_time_t(seconds) +
           std::chrono::milliseconds(lt.millisecond);
}

RealClock& RealClock::instance() {
    static RealClock clock;
    return clock;
}

// The tick starts away from the steady clock's epoch, so a default-constructed Tick reads
// as "long ago" to code that measures elapsed time.
FakeClock::FakeClock(WallTime start) : wall_(start), tick_(Tick{} + std::chrono::hours(24)) {}

WallTime FakeClock::now() const {
    std::lock_guard lock(mutex_);
    return wall_;
}

Tick FakeClock::tick() const {
    std::lock_guard lock(mutex_);
    return tick_;
}

// Moving the wall clock forward moves the tick as far; moving it back leaves the tick, which
// never runs backwards.
void FakeClock::set(WallTime t) {
    std::lock_guard lock(mutex_);
    if (t > wall_) tick_ += t - wall_;
    wall_ = t;
}

void FakeClock::advance(std::chrono::milliseconds d) {
    std::lock_guard lock(mutex_);
    wall_ += d;
    if (d.count() > 0) tick_ += d;
}

}  // namespace vantrel::platform
