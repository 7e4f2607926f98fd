#pragma once
// ServeEvents: what serve learns from the core's events for its status and metrics. It
// passes every event on to the notifier it wraps and keeps, under its own lock, the last
// failures, the runs by kind and result with their durations, the failed file attempts
// (retries) and the real-time reports fetched.
//
// Thread: post and send from any thread (the core's); the readers from any thread.

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/base/notifier.h"
#include "client/service/serve_status.h"
#include "platform/clock.h"

namespace vantrel::service {

class ServeEvents final : public Notifier {
  public:
    static constexpr std::size_t kFailuresKept = 10;

    // `inner` and `clock` must outlive this object.
    ServeEvents(Notifier& inner, const platform::Clock& clock);

    void post(const NotifierEvent& event) override;
    void send(const NotifierEvent& event) override;

    // A failure that is no run's (low disk), kept with the others.
    void recordFailure(const std::string& kind, const std::string& taskId,
                       const std::string& reason);

    struct RunTotals {
        std::int64_t count = 0;
        double seconds = 0;  // the runs' durations added up
    };
    struct Counters {
        // (kind, result) -> runs that ended so
        std::map<std::pair<std::string, std::string>, RunTotals> runs;
        std::int64_t retries = 0;
        std::int64_t realtimeReports = 0;
    };

    std::vector<FailureRecord> failures() const;
    Counters counters() const;

  private:
    void take(const NotifierEvent& event);

    Notifier& inner_;
    const platform::Clock& clock_;
    mutable std::mutex mutex_;
    std::deque<FailureRecord> failures_;
    Counters counters_;
    // task id -> when its current or last run started and, once its state said so, ended
    // (a stopped run records no result, so the next start replaces it)
    struct RunSpan {
        platform::Tick start;
        std::optional<platform::Tick> end;
    };
    std::map<std::string, RunSpan> runs_;
    // Reports already counted (name and arrival), so a record shown twice counts once.
    std::map<std::string, std::string> reportsFetched_;
};

}  // namespace vantrel::service
