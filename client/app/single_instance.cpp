#include "client/app/single_instance.h"

#include "platform/files.h"
#include "platform/named_lock.h"

namespace vantrel {

SingleInstance::~SingleInstance() {
    release();
}

SingleInstance::Outcome SingleInstance::acquire(const std::filesystem::path& runtimeDirectory,
                                                std::string& error) {
    if (held_) return Outcome::Acquired;
    if (const Status made = platform::createDirectories(runtimeDirectory); !made.isOk()) {
        error = made.text();
        return Outcome::Failed;
    }
    auto lock = platform::NamedLock::open(kSingleInstanceLockName, runtimeDirectory);
    if (!lock) {
        error = lock.status().text();
        return Outcome::Failed;
    }
    if (!lock.value()->tryLock()) return Outcome::AlreadyRunning;
    lock_ = std::move(lock.value());
    held_ = true;
    return Outcome::Acquired;
}

void SingleInstance::release() {
    if (!held_) return;
    lock_->unlock();
    lock_.reset();
    held_ = false;
}

}  // namespace vantrel
