#include "client/execution/housekeeping/daily_jobs.h"

#include <tuple>

#include "client/catalogue/flag_manager.h"
#include "client/catalogue/task_catalogue.h"
#include "client/config/config.h"
#include "client/execution/housekeeping/history_cleanup.h"
#include "client/execution/tasks/command_inbox.h"

namespace vantrel {

HistoryCleanupTasks CleanupTasksOf(catalogue::CModule& module) {
    HistoryCleanupTasks tasks;
    for (const catalogue::AutoSyncTask& task : module.Tasks<catalogue::AutoSyncTask>())
        tasks.autoSyncTaskIds.push_back(task.planid);
    for (const catalogue::DownloadTask& task : module.Tasks<catalogue::DownloadTask>()) {
        if (!task.recvpath.empty())
            tasks.downloadReceiveDirectories.push_back({task.recvpath, task.hasrecvdir != 0});
    }
    tasks.packTaskTables = [&module] { return module.PackTaskTables(); };
    return tasks;
}

DailyJobs::DailyJobs(const Context& context, const DayClock& days, catalogue::CModule& catalogue,
                     catalogue::CFlagManager& flags)
    : context_(context), days_(days), catalogue_(catalogue), flags_(flags) {}

std::string DailyJobs::dayStarted() const {
    std::lock_guard lock(dayMutex_);
    return day_;
}

void DailyJobs::tick() {
    const platform::WallTime wall = days_.clock().now();
    const platform::LocalTime now = platform::toLocalTime(wall);
    const std::string today = days_.dayOf(wall);
    if (today != dayStarted()) startDay(today);
    // After the day's start, so a 02:00 update refreshes the list of the day it runs in.
    if (due(flagModel_, now, today) && nightly_.flagModelUpdate) nightly_.flagModelUpdate();
    if (due(version_, now, today) && nightly_.versionCheck) nightly_.versionCheck();
    lastTick_ = now;
}

bool DailyJobs::due(Nightly& job, const platform::LocalTime& now, const std::string& today) {
    // Crossing the hour, not being in its minute: a tick held up past the minute (a long
    // clean-up) still runs the job, and a clock set back over the hour does not run it twice.
    if (!lastTick_ || now.hour < job.hour || job.lastRun == today) return false;
    const platform::LocalTime& last = *lastTick_;
    const auto lastDay = std::tie(last.year, last.month, last.day);
    const auto nowDay = std::tie(now.year, now.month, now.day);
    if (lastDay > nowDay || (lastDay == nowDay && last.hour >= job.hour)) return false;
    job.lastRun = today;
    return true;
}

void DailyJobs::startDay(const std::string& day) {
    flags_.StartDay();
    catalogue_.CreateUploadDirectories();
    HistoryCleanupTasks tasks = CleanupTasksOf(catalogue_);
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
