#include "client/execution/daily_jobs.h"

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/flag_manager.h"
#include "client/catalogue/task_catalogue.h"
#include "client/config/config.h"
#include "client/config/history_cleanup.h"
#include "client/execution/command_inbox.h"

namespace vantrel {

DailyJobs::DailyJobs(const Context& context, catalogue::CModule& catalogue,
                     catalogue::CFlagManager& flags)
    : context_(context), catalogue_(catalogue), flags_(flags) {}

std::string DailyJobs::dayStarted() const {
    std::lock_guard lock(dayMutex_);
    return day_;
}

void DailyJobs::tick() {
    const platform::WallTime wallNow = context_.clock->now();
    const platform::LocalTime now = platform::toLocalTime(wallNow);
    const std::string today = catalogue::FormatDate(now);
    if (today != dayStarted()) startDay(today);
    // After the day's start, so a 02:00 update refreshes the list of the day it runs in.
    if (due(flagModel_, now, wallNow, today) && nightly_.flagModelUpdate)
        nightly_.flagModelUpdate();
    if (due(version_, now, wallNow, today) && nightly_.versionCheck) nightly_.versionCheck();
    lastTick_ = wallNow;
}

bool DailyJobs::due(Nightly& job, const platform::LocalTime& now, platform::WallTime wallNow,
                    const std::string& today) {
    platform::LocalTime mark = now;
    mark.hour = job.hour;
    mark.minute = 0;
    mark.second = 0;
    mark.millisecond = 0;
    const platform::WallTime at = platform::fromLocalTime(mark);
    // Crossing the hour, not being in its minute: a tick held up past the minute (a long
    // clean-up) still runs the job, and a clock set back over the hour does not run it twice.
    if (!lastTick_ || *lastTick_ >= at || wallNow < at || job.lastRun == today) return false;
    job.lastRun = today;
    return true;
}

void DailyJobs::startDay(const std::string& day) {
    flags_.StartDay();
    catalogue_.CreateUploadDirectories();
    HistoryCleanupTasks tasks = catalogue_.CleanupTasks();
    // Commands another vantrel-cli posted are waiting work, not history.
    tasks.keptDirectories.push_back(CommandInbox(context_.installation).directory());
    HistoryCleanup(context_.installation, *context_.clock, context_.logs)
        .CleanLocalHistory(CConfig(context_.installation).readHistoryDays(), tasks);
    {
        std::lock_guard lock(dayMutex_);
        day_ = day;
    }
    if (context_.notifier) context_.notifier->post(DayBegan{day});
}

}  // namespace vantrel
