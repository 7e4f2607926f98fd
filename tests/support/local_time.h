#pragma once
// A local date and time spelled out, for tests that set a clock or a schedule.

#include "platform/clock.h"

namespace vantrel::testing {

inline platform::LocalTime localTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    platform::LocalTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return t;
}

}  // namespace vantrel::testing
