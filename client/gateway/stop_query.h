#pragma once
// How a blocking network wait learns that the background threads are being stopped.
// The thread manager installs its ShouldStop here once its threads run; an empty query
// means no threads have been started, so nothing can ask a wait to give up.

#include <functional>

#include "platform/event.h"

namespace vantrel {

// True once the stop event is set. Called from the waiting thread about once a second; it
// may signal that thread's own exit event as a side effect.
using StopQuery = std::function<bool()>;

// A query that answers from a stop event; `stop` must outlive the query.
inline StopQuery stopQueryFor(const platform::Event& stop) {
    return [&stop] { return stop.isSet(); };
}

// The text every wait leaves when it gives up for a shutdown (GatewayOutcome::ShuttingDown).
inline constexpr const char* kShutdownText = "VORN系统退出";

}  // namespace vantrel
