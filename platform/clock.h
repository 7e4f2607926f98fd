#pragma once
// One source of time for the scheduler, the logs and every "today" computation, so that
// tests can move a task across midnight or a week in milliseconds.

#include <chrono>
#include <cstdint>
#include <mutex>

namespace vantrel::platform {

// A broken-down local time (month 1..12, weekday 0 = Sunday).
struct LocalTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int weekday = 4;
};

using WallTime = std::chrono::system_clock::time_point;
using Tick = std::chrono::steady_clock::time_point;

// Converts with the process's time zone (TZ).
LocalTime toLocalTime(WallTime t);
// The inverse for a valid local time; fields out of range are normalised as mktime does.
WallTime fromLocalTime(const LocalTime& lt);

class Clock {
  public:
    virtual ~Clock() = default;
    virtual WallTime now() const = 0;
    // Monotonic, for time-outs and durations.
    virtual Tick tick() const = 0;
    LocalTime localNow() const { return toLocalTime(now()); }
};

// The machine's clocks. Thread-safe.
class RealClock final : public Clock {
  public:
    WallTime now() const override { return std::chrono::system_clock::now(); }
    Tick tick() const override { return std::chrono::steady_clock::now(); }
    // The process-wide instance, for main() to inject.
    static RealClock& instance();
};

// A clock that moves only when told to; wall time and tick advance together. Thread-safe.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(WallTime start);
    WallTime now() const override;
    Tick tick() const override;
    void set(WallTime t);
    void setLocal(const LocalTime& lt) { set(fromLocalTime(lt)); }
    void advance(std::chrono::milliseconds d);

  private:
    mutable std::mutex mutex_;
    WallTime wall_;
    Tick tick_;
};

}  // namespace vantrel::platform
