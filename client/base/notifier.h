#pragma once
// The core's only way to tell a window something.
//  - post(): asynchronous; callable from any thread; must not block. The GUI adapter
//    queues the event onto the GUI thread.
//  - send(): synchronous; returns once the user interface has handled the event. Never
//    call it while holding a lock the GUI thread may also take (catalogue, flag, model
//    locks): release first, or post.

#include <mutex>
#include <vector>

#include "client/base/events.h"

namespace vantrel {

class Notifier {
  public:
    virtual ~Notifier() = default;
    virtual void post(const NotifierEvent& event) = 0;
    virtual void send(const NotifierEvent& event) = 0;
};

// Drops every event (headless runs that show nothing).
class NullNotifier final : public Notifier {
  public:
    void post(const NotifierEvent&) override {}
    void send(const NotifierEvent&) override {}
};

// Keeps every event, for tests. Thread-safe.
class RecordingNotifier final : public Notifier {
  public:
    void post(const NotifierEvent& event) override { record(event); }
    void send(const NotifierEvent& event) override { record(event); }
    std::vector<NotifierEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

  private:
    void record(const NotifierEvent& event) {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    mutable std::mutex mutex_;
    std::vector<NotifierEvent> events_;
};

}  // namespace vantrel
