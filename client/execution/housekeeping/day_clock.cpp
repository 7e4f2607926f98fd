#include "client/execution/housekeeping/day_clock.h"

#include "client/base/day_text.h"

namespace vantrel {

std::string DayClock::today() const {
    return base::FormatDate(clock_.localNow());
}

std::string DayClock::dayOf(platform::WallTime time) const {
    return base::FormatDate(platform::toLocalTime(time));
}

}  // namespace vantrel
