#include "client/execution/housekeeping/history_cleanup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "client/base/logs.h"
#include "client/execution/tasks/auto_sync_rules.h"

namespace vantrel {
namespace {

thread_local std::string lastDeletionError;

std::chrono::year_month_day civilDate(int y, int m, int d) {
    return std::chrono::year{y} / m / d;
}

// Days since 1970-01-01 of a civil date.
long daysFromCivil(int y, int m, int d) {
    return std::chrono::sys_days{civilDate(y, m, d)}.time_since_epoch().count();
}

// The date at the start of `text` (YYYYMMDD); false when there is none.
bool leadingDate(const std::string& text, int& y, int& m, int& d) {
    if (text.size() < 8) return false;
    for (int i = 0; i < 8; ++i) {
        if (text[static_cast<std::size_t>(i)] < '0' || text[static_cast<std::size_t>(i)] > '9')
            return false;
    }
    y = std::stoi(text.substr(0, 4));
    m = std::stoi(text.substr(4, 2));
    d = std::stoi(text.substr(6, 2));
    return civilDate(y, m, d).ok();
}

platform::FileSystem& files() {
    return platform::FileSystem::real();
}

void makeWritable(const std::filesystem::path& path, platform::FileSystem& fs = files()) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    if (!ec && !std::filesystem::is_symlink(status))
        (void)fs.setPermissions(path, std::filesystem::perms::owner_write,
                                std::filesystem::perm_options::add);
}

constexpr const char* kProtectedFileName = "filememlist.data";
// Sent and received files are kept as <name>_SUCCESS_<YYYYMMDDhhmmss>...
constexpr std::string_view kSuccessMarker = "_SUCCESS_";

}  // namespace

HistoryCleanup::HistoryCleanup(const Installation& installation, const platform::Clock& clock,
                               Logs* logs)
    : installation_(installation), clock_(clock), logs_(logs) {}

void HistoryCleanup::sysLog(const std::string& message) {
    if (logs_ != nullptr) logs_->writeSysLog(message);
}

const std::string& HistoryCleanup::LastDeletionError() {
    return lastDeletionError;
}

int HistoryCleanup::AgeInDays(const std::filesystem::path& file) const {
    std::error_code ec;
    const std::filesystem::file_time_type modified = std::filesystem::last_write_time(file, ec);
    if (ec) return -1;
    const platform::LocalTime written =
        platform::toLocalTime(std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(modified)));
    const platform::LocalTime today = clock_.localNow();
    return static_cast<int>(daysFromCivil(today.year, today.month, today.day) -
                            daysFromCivil(written.year, written.month, written.day));
}

int HistoryCleanup::datedFolderAge(const std::string& name) const {
    int y, m, d;
    if (!leadingDate(name, y, m, d)) return -1;
    const platform::LocalTime today = clock_.localNow();
    return static_cast<int>(daysFromCivil(today.year, today.month, today.day) -
                            daysFromCivil(y, m, d));
}

int HistoryCleanup::DeleteTree(const std::filesystem::path& directory) {
    return DeleteTree(directory, platform::FileSystem::real());
}

int HistoryCleanup::DeleteTree(const std::filesystem::path& directory,
                               platform::FileSystem& files) {
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec), end;
    if (ec) return 1;
    for (; it != end; it.increment(ec)) {
        const std::filesystem::path path = it->path();
        const bool isDirectory = it->is_directory(ec) && !it->is_symlink(ec);
        if (isDirectory) {
            if (DeleteTree(path, files) == 0) return 0;
            (void)files.remove(path);
            continue;
        }
        makeWritable(path, files);
        if (Status removed = files.remove(path);
            !removed && removed.kind() != ErrorKind::NotFound) {
            char text[1024];
            std::snprintf(text, sizeof text, "删除文件 %s 失败(error code:%d)",
                          path.string().c_str(), removed.systemCode());
            lastDeletionError = text;
            return 0;
        }
    }
    return 1;
}

int HistoryCleanup::CleanDirectoryByAge(const std::filesystem::path& directory, int days,
                                        const std::vector<std::string>& protectedIds,
                                        const std::vector<std::filesystem::path>& keptDirectories) {
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec), end;
    if (ec) return 1;
    for (; it != end; it.increment(ec)) {
        const std::filesystem::path path = it->path();
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            if (std::find(keptDirectories.begin(), keptDirectories.end(), path) !=
                keptDirectories.end()) {
                continue;
            }
            if (!files().remove(path)) {
                if (DeleteTree(path) == 0) return 0;
                (void)files().remove(path);
            }
            continue;
        }
        if (path.filename() == kProtectedFileName) continue;
        const std::string pathText = path.string();
        const auto inPath = [&pathText](const std::string& id) {
            return !id.empty() && pathText.find(id) != std::string::npos;
        };
        if (std::any_of(protectedIds.begin(), protectedIds.end(), inPath)) continue;
        makeWritable(path);
        (void)std::filesystem::symlink_status(path, ec);
        if (ec) {
            char text[2048];
            std::snprintf(text, sizeof text, "删除文件[%s]失败,失败原因：得到文件[%s]属性失败-%d",
                          pathText.c_str(), pathText.c_str(), ec.value());
            sysLog(text);
            return 0;
        }
        if (AgeInDays(path) >= days) (void)files().remove(path);
    }
    return 1;
}

void HistoryCleanup::cleanDatedFolders(const std::filesystem::path& directory, int days,
                                       bool filesToo) {
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec), end;
    if (ec) return;
    for (; it != end; it.increment(ec)) {
        const std::filesystem::path path = it->path();
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            const int age = datedFolderAge(path.filename().string());
            if (age >= days && DeleteTree(path) == 1) (void)files().remove(path);
        } else if (filesToo) {
            makeWritable(path);
            (void)files().remove(path);
        }
    }
}

void HistoryCleanup::CleanLocalHistory(int days, const HistoryCleanupTasks& tasks) {
    static std::mutex oneAtATime;
    std::lock_guard lock(oneAtATime);
    CleanDirectoryByAge(installation_.log(), days, tasks.autoSyncTaskIds, tasks.keptDirectories);
    CleanDirectoryByAge(installation_.data(), days, tasks.autoSyncTaskIds, tasks.keptDirectories);

    for (const HistoryCleanupTasks::Receive& receive : tasks.downloadReceiveDirectories) {
        if (receive.datedFolders) cleanDatedFolders(receive.directory, days, false);
        std::error_code ec;
        std::filesystem::directory_iterator it(receive.directory, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            if (!it->is_regular_file(ec)) continue;
            const std::string name = it->path().filename().string();
            // A received file never delivered (an archive refused for its entries, kept for
            // inspection) and its block state: history once old enough.
            if ((name.ends_with(".tmp") || name.ends_with(".tmp.~block")) &&
                AgeInDays(it->path()) >= days) {
                makeWritable(it->path());
                (void)files().remove(it->path());
                continue;
            }
            const std::size_t marker = name.find(kSuccessMarker);
            if (marker == std::string::npos) continue;
            const int age = datedFolderAge(name.substr(marker + kSuccessMarker.size()));
            if (age >= days) {
                makeWritable(it->path());
                (void)files().remove(it->path());
            }
        }
    }

    cleanDatedFolders(installation_.root() / "tmp", days, true);
    cleanDatedFolders(installation_.root() / "Bullet", days, true);
    if (tasks.packTaskTables) tasks.packTaskTables();
}

int RemoveTaskFilesBefore(platform::FileSystem& files, const std::filesystem::path& directory,
                          const std::vector<std::string>& ids, const std::string& cutoff,
                          const std::function<void(const std::filesystem::path&)>& failed) {
    // "<id>-YYYYMMDD..." of a day before the cut-off.
    const auto old = [&cutoff](const std::string& name, const std::string& id) {
        if (name.size() < id.size() + 9 || name.compare(0, id.size(), id) != 0 ||
            name[id.size()] != '-')
            return false;
        const std::string day = name.substr(id.size() + 1, 8);
        return execution::ParseDay(day).has_value() && day < cutoff;
    };
    int removed = 0;
    std::error_code ec;
    for (const auto& file : std::filesystem::directory_iterator(directory, ec)) {
        const std::string name = file.path().filename().string();
        const bool match = std::any_of(ids.begin(), ids.end(),
                                       [&](const std::string& id) { return old(name, id); });
        if (!match || !file.is_regular_file(ec)) continue;
        if (platform::removeIfPresent(files, file.path())) {
            ++removed;
        } else {
            failed(file.path());
        }
    }
    return removed;
}

}  // namespace vantrel
