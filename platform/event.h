#pragma once
// A Win32-style event: manual reset (stays set until reset) or auto reset (one waiter
// takes it and it clears).

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vantrel::platform {

class Event {
  public:
    enum class Reset { Manual, Auto };
    explicit Event(Reset mode = Reset::Manual, bool initiallySet = false)
        : mode_(mode), set_(initiallySet) {}

    void set();
    void reset();
    bool isSet() const;
    // True when the event was (or became) set within `timeout`.
    bool wait(std::chrono::milliseconds timeout);
    void wait();

  private:
    const Reset mode_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;
};

}  // namespace vantrel::platform
