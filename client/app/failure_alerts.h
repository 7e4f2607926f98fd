#pragma once
// FailureAlerts: how a client without a window tells its operator of a failed run. It
// passes every event on to the notifier it wraps and, for each TaskFailed, runs the program
// named by the `Command` key of the `[alert]` section of Client.ini with the task id, its
// kind ("download", "upload", "autosync") and the reason as its three arguments (no shell
// ever sees them); raise() queues other alerts the same way. The program gets at most `limit`; a
// program that cannot be started, fails or runs too long is written to the system log and never
// stops the client.
//
// Alerts run one after another on a thread of their own, so no task thread waits for them.
// Thread: post and send from any thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "client/base/installation.h"
#include "client/base/notifier.h"

namespace vantrel {

class Logs;

class FailureAlerts final : public Notifier {
  public:
    // `inner` and `logs` (may be null) must outlive this object.
    FailureAlerts(Installation installation, Notifier& inner, Logs* logs,
                  std::chrono::milliseconds limit = std::chrono::seconds(30));
    // Waits for the alert being run (at most its limit); alerts still waiting are dropped.
    ~FailureAlerts() override;
    FailureAlerts(const FailureAlerts&) = delete;
    FailureAlerts& operator=(const FailureAlerts&) = delete;

    void post(const NotifierEvent& event) override;
    void send(const NotifierEvent& event) override;

    // An alert that is no run's: the program gets `subject` (a task id, or empty), `kind`
    // ("disk") and `reason`.
    void raise(std::string subject, std::string kind, std::string reason);

  private:
    struct Alert {
        std::string subject;
        std::string kind;
        std::string reason;
    };
    void take(const NotifierEvent& event);
    void queue(Alert alert);
    void loop();
    void run(const Alert& alert);

    const Installation installation_;
    Notifier& inner_;
    Logs* logs_;
    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Alert> pending_;
    bool closing_ = false;
    std::thread thread_;
};

}  // namespace vantrel
