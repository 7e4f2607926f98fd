#pragma once
// Process signals: the stop request of a service, a crash on purpose, and whether another
// process still runs.

#include <chrono>
#include <memory>

namespace vantrel::platform {

// While it lives, SIGINT and SIGTERM are blocked in the thread that made it and in every
// thread started from it; that thread alone takes them, with waitFor, between its other
// duties. The previous mask comes back in the destructor.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    // True when a stop signal arrived within `limit`.
    bool waitFor(std::chrono::milliseconds limit);

  private:
    struct Masks;
    std::unique_ptr<Masks> masks_;
};

// Ends this process at once, as a power cut would end the program (no clean-up runs).
[[noreturn]] void killThisProcess();

// Whether process `pid` still runs (one of another user counts).
bool processRuns(int pid);

}  // namespace vantrel::platform
