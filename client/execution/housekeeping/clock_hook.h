#pragma once
// Test hook: the clock of a front end's process. With the environment variable
// VANTREL_TEST_CLOCK_START holding a local time "YYYYMMDDhhmmss", the process's wall time
// starts there and runs on at the machine's pace, so a test can have a run die before
// midnight and the next start come after it. Without the variable (every real
// installation) it is the machine's clock.

#include "platform/clock.h"

namespace vantrel::execution {

// Any thread; lives as long as the process.
const platform::Clock& processClock();

}  // namespace vantrel::execution
