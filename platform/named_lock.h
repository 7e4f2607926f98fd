#pragma once
// A lock shared by every thread and every process that uses the same name: an advisory
// flock on a lock file in the runtime directory, plus an in-process mutex (flock does not
// exclude threads that share one open file description). The kernel releases it if the
// holding process dies.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/status.h"

namespace vantrel::platform {

// Where named locks live: $VANTREL_RUNTIME_DIR, else $XDG_RUNTIME_DIR/vantrel, else
// /tmp/vantrel-<uid>. Created on demand.
std::filesystem::path defaultRuntimeDirectory();

class NamedLock {
  public:
    // Opens (creating if needed) the lock file `name` + ".lock" in `directory`.
    static Result<std::shared_ptr<NamedLock>> open(const std::string& name,
                                                   const std::filesystem::path& directory);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Waits without time limit. Not recursive: the calling thread must not hold this name
    // already, through this object or another of the same name.
    void lock();
    // Returns false at once when another thread or process holds it.
    bool tryLock();
    void unlock();

  private:
    NamedLock(int fd, std::string name);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// RAII holder.
class NamedLockGuard {
  public:
    explicit NamedLockGuard(NamedLock& lock) : lock_(lock) { lock_.lock(); }
    ~NamedLockGuard() { lock_.unlock(); }
    NamedLockGuard(const NamedLockGuard&) = delete;
    NamedLockGuard& operator=(const NamedLockGuard&) = delete;

  private:
    NamedLock& lock_;
};

}  // namespace vantrel::platform
