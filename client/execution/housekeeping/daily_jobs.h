#pragma once
// DailyJobs: the work of each day, the same under the window and under `vantrel-cli serve`.
// The plan monitor's housekeeping calls tick() about once a second once the task tables
// are loaded, and the context's clock says what time it is:
//  - at the first tick and whenever the local date changed since the last one, the day
//    starts: today's flag list and the upload tasks' dated directories, then the history
//    clean-up with HistoryDays (which also packs the task tables), then DayBegan is posted;
//  - when the local time passes 02:00 the flag-model update runs, when it passes 03:00 the
//    version check. Each runs at most once a day; an hour that passed while the client was
//    not running waits for the next night (start-up runs its own checks before the login).
//
// Thread: tick() on the plan monitor only; setNightly() before the threads start;
// dayStarted() from any thread.

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "client/base/context.h"
#include "client/execution/housekeeping/day_clock.h"
#include "client/execution/housekeeping/history_cleanup.h"
#include "platform/clock.h"

namespace vantrel {

namespace catalogue {
class CFlagManager;
class CModule;
}  // namespace catalogue

// What the history clean-up needs from the catalogue: the auto-sync ids, the download
// receive directories and the table compaction.
HistoryCleanupTasks CleanupTasksOf(catalogue::CModule& module);

// The nightly update checks, as the front end runs them; an empty one is not run.
struct NightlyJobs {
    std::function<void()> flagModelUpdate;  // 02:00
    std::function<void()> versionCheck;     // 03:00
};

class DailyJobs {
  public:
    // `context` (installation, clock; logs and notifier may be null), `days`, `catalogue`
    // and `flags` must outlive the jobs.
    DailyJobs(const Context& context, const DayClock& days, catalogue::CModule& catalogue,
              catalogue::CFlagManager& flags);

    void setNightly(NightlyJobs jobs) { nightly_ = std::move(jobs); }
    void tick();
    // The last day started, "YYYYMMDD"; empty before the first tick.
    std::string dayStarted() const;

  private:
    struct Nightly {
        int hour;
        std::string lastRun;  // the day it last ran
    };
    void startDay(const std::string& day);
    // Whether the time moved from before `job`'s hour today to at or after it since the last
    // tick, and the job has not run today.
    bool due(Nightly& job, const platform::LocalTime& now, const std::string& today);

    const Context& context_;
    const DayClock& days_;
    catalogue::CModule& catalogue_;
    catalogue::CFlagManager& flags_;
    NightlyJobs nightly_;
    Nightly flagModel_{2, {}};
    Nightly version_{3, {}};
    std::optional<platform::LocalTime> lastTick_;
    mutable std::mutex dayMutex_;
    std::string day_;
};

}  // namespace vantrel
