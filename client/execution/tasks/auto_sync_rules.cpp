#include "client/execution/tasks/auto_sync_rules.h"

#include <cctype>
#include <cstdio>

#include "client/catalogue/catalogue_text.h"

namespace vantrel::execution {

std::optional<platform::LocalTime> ParseDay(const std::string& yyyymmdd) {
    if (yyyymmdd.size() != 8) return std::nullopt;
    for (char c : yyyymmdd) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    }
    platform::LocalTime day;
    day.year = std::stoi(yyyymmdd.substr(0, 4));
    day.month = std::stoi(yyyymmdd.substr(4, 2));
    day.day = std::stoi(yyyymmdd.substr(6, 2));
    day.hour = 12;  // away from any daylight-saving change
    const platform::LocalTime back = platform::toLocalTime(platform::fromLocalTime(day));
    if (back.year != day.year || back.month != day.month || back.day != day.day)
        return std::nullopt;
    return back;
}

std::string AddDays(const std::string& yyyymmdd, int days) {
    std::optional<platform::LocalTime> day = ParseDay(yyyymmdd);
    if (!day) return {};
    day->day += days;
    return catalogue::FormatDate(platform::toLocalTime(platform::fromLocalTime(*day)));
}

std::string HistorySyncDate(const std::string& stored, const std::string& businessDate,
                            int autoSyncDay, bool& corrected) {
    const std::string earliest = AddDays(businessDate, -autoSyncDay);
    // YYYYMMDD texts compare as dates.
    corrected = !ParseDay(stored) || stored < earliest;
    return corrected ? earliest : stored;
}

bool HistoryCaughtUp(const std::string& nextDate, const std::string& businessDate) {
    return nextDate > businessDate;
}

bool FullListDue(std::optional<platform::WallTime> lastFullList, platform::WallTime now,
                 int forceTimeMulti, int timespaceMinutes) {
    if (!lastFullList) return true;
    const auto limit =
        std::chrono::seconds(static_cast<long long>(forceTimeMulti - 1) * timespaceMinutes * 60);
    return now - *lastFullList >= limit;
}

std::string GatewayTimeNow(const std::string& reported, std::chrono::seconds elapsed) {
    int h = 0, m = 0, s = 0;
    if (reported.size() != 6 || std::sscanf(reported.c_str(), "%2d%2d%2d", &h, &m, &s) != 3)
        return {};
    const long long day = 24 * 3600;
    long long t = (h * 3600LL + m * 60 + s + elapsed.count()) % day;
    if (t < 0) t += day;
    char text[8];
    std::snprintf(text, sizeof text, "%02lld%02lld%02lld", t / 3600, t / 60 % 60, t % 60);
    return text;
}

bool CleanupDue(const std::string& businessDate, const std::string& gatewayTime,
                const std::string& cleanHisDate) {
    if (businessDate.empty() || gatewayTime.empty()) return false;
    if (gatewayTime < "020000" || gatewayTime > "030000") return false;
    return !catalogue::EqualsIgnoreCase(cleanHisDate, businessDate);
}

catalogue::DownloadTask AsDownloadTask(const catalogue::AutoSyncTask& task) {
    catalogue::DownloadTask d;
    static_cast<catalogue::TaskPlan&>(d) = task;
    d.plantype = static_cast<int>(catalogue::DownloadPlanType::Mailbox);
    d.recvpath = task.recvpath;
    // The run files by each file's own date instead.
    d.hasrecvdir = 0;
    return d;
}

}  // namespace vantrel::execution
