#pragma once
// The night version check of a client without a window (`vantrel-cli serve`): nothing is
// asked and nothing starts on its own. What the update server offers goes to the system
// log; only with Client.ini's [update] ServeInstall=1 is the update then left waiting for
// install(), which the front end calls once no task runs.
//
// Thread: nightCheck() on the plan monitor; waiting() from any thread; install() on the
// front end's main thread, after the check.

#include <atomic>
#include <functional>

#include "client/base/context.h"

namespace vantrel::update {

class UpdateChecker;

class HeadlessUpdate {
  public:
    // The exit after install(): the service manager starts the client again, from the
    // program the updater installed.
    static constexpr int kRestartExitCode = 75;

    // `context` and `checker` must outlive this object.
    HeadlessUpdate(const Context& context, UpdateChecker& checker);

    void nightCheck();
    bool waiting() const { return waiting_; }
    // Calls `stopThreads` (the thread manager's orderly stop), then runs the updater
    // headless and waits for it → kRestartExitCode, whatever the updater's outcome (which
    // is logged): the restart brings the client back either way.
    int install(const std::function<void()>& stopThreads);

  private:
    void sysLog(const std::string& line) const;

    Context context_;
    UpdateChecker& checker_;
    std::atomic<bool> waiting_{false};
};

}  // namespace vantrel::update
