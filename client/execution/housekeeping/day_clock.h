#pragma once
// DayClock: the day the client's work belongs to, "YYYYMMDD", read off one clock. The day's
// jobs, the real-time service, serve's transfer ledger and the window all ask this one, so
// they never disagree on what "today" is, also under the test clock that starts a process
// just before midnight.
//
// Thread: any; it only reads its clock.

#include <string>

#include "platform/clock.h"

namespace vantrel {

class DayClock {
  public:
    // `clock` must outlive the day clock.
    explicit DayClock(const platform::Clock& clock) : clock_(clock) {}

    std::string today() const;
    // The day `time` belongs to.
    std::string dayOf(platform::WallTime time) const;
    const platform::Clock& clock() const { return clock_; }

  private:
    const platform::Clock& clock_;
};

}  // namespace vantrel
