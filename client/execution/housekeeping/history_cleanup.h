#pragma once
// The daily local history clean-up: log, data, temporary and bulletin files older than
// HistoryDays, dated receive folders, "_SUCCESS_" files and received files never delivered
// (".tmp" with its ".~block") of download tasks, then the
// compaction of the upload and download task tables. Runs on the plan monitor at start-up
// and at each change of day (client/execution/daily_jobs.h); one run at a time. Failures are
// logged where stated and otherwise ignored.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "client/base/installation.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace vantrel {

class Logs;

struct HistoryCleanupTasks {
    // Files whose path holds one of these ids belong to the auto-sync runs, which clean
    // them themselves.
    std::vector<std::string> autoSyncTaskIds;
    struct Receive {
        std::filesystem::path directory;
        bool datedFolders = false;  // the task files into YYYYMMDD subfolders
    };
    std::vector<Receive> downloadReceiveDirectories;
    // Compacts the task tables under their catalogue locks.
    std::function<int()> packTaskTables;
    // Subdirectories of log/ and data/ that hold live state, not history: left alone.
    std::vector<std::filesystem::path> keptDirectories;
};

// The auto-sync tasks' own clean-up: removes the regular files of `directory` named
// "<id>-YYYYMMDD..." of a day before `cutoff` ("YYYYMMDD") for any of `ids`; `failed` hears
// each file that could not be removed. Answers how many were.
int RemoveTaskFilesBefore(platform::FileSystem& files, const std::filesystem::path& directory,
                          const std::vector<std::string>& ids, const std::string& cutoff,
                          const std::function<void(const std::filesystem::path&)>& failed);

class HistoryCleanup {
  public:
    // Every reference must outlive the object; `logs` may be null.
    HistoryCleanup(const Installation& installation, const platform::Clock& clock, Logs* logs);

    // Runs every step in order; a failing step does not stop the next.
    void CleanLocalHistory(int days, const HistoryCleanupTasks& tasks);
    // 1 done, 0 stopped by a failure.
    int CleanDirectoryByAge(const std::filesystem::path& directory, int days,
                            const std::vector<std::string>& protectedIds,
                            const std::vector<std::filesystem::path>& keptDirectories = {});
    // Whole days between today and the local date of `file`'s last write.
    int AgeInDays(const std::filesystem::path& file) const;

    // Empties `directory` recursively (it stays). 1 done, 0 when a file could not be
    // deleted, with LastDeletionError() set. Symbolic links are removed, never followed.
    static int DeleteTree(const std::filesystem::path& directory);
    // The same through `files`, which carries every deletion of a file.
    static int DeleteTree(const std::filesystem::path& directory, platform::FileSystem& files);
    // "删除文件 %s 失败(error code:%d)" of the last failed deletion on this thread.
    static const std::string& LastDeletionError();

  private:
    // Age of a directory named YYYYMMDD...; -1 when the name is not a date.
    int datedFolderAge(const std::string& name) const;
    void cleanDatedFolders(const std::filesystem::path& directory, int days, bool filesToo);
    void sysLog(const std::string& message);

    const Installation& installation_;
    const platform::Clock& clock_;
    Logs* logs_;
};

}  // namespace vantrel
