#pragma once
// The single-instance guard: one running client per machine and user, held for the whole
// life of the process and released last.

#include <filesystem>
#include <memory>
#include <string>

#include "platform/status.h"

namespace vantrel {

namespace platform {
class NamedLock;
}

inline constexpr const char* kSingleInstanceLockName = "Vantrel_exe";
inline constexpr const char* kSecondInstanceMessage = "您已经运行了一个程序，不能再运行此程序!";

class SingleInstance {
  public:
    enum class Outcome { Acquired, AlreadyRunning, Failed };

    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock in `runtimeDirectory` without waiting. On Failed, `error` says why.
    Outcome acquire(const std::filesystem::path& runtimeDirectory, std::string& error);
    bool held() const { return held_; }
    // Gives the lock back; harmless when not held.
    void release();

  private:
    std::shared_ptr<platform::NamedLock> lock_;
    bool held_ = false;
};

}  // namespace vantrel
