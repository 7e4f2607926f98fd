#include "platform/event.h"

namespace vantrel::platform {

void Event::set() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    // An auto-reset event releases one waiter; a manual one releases them all.
    if (mode_ == Reset::Auto) {
        cv_.notify_one();
    } else {
        cv_.notify_all();
    }
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool Event::isSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool Event::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [this] { return set_; })) return false;
    if (mode_ == Reset::Auto) set_ = false;
    return true;
}

void Event::wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [this] { return set_; });
    if (mode_ == Reset::Auto) set_ = false;
}

}  // namespace vantrel::platform
