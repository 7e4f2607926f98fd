#pragma once
// CDownLoadFile: the daily list ("清单文件") of one download or auto-sync task, a table in
// data/ with one row per remote file the task fetches, and the work items of its
// undelivered rows. One manager per running task; the task's threads and the engine's
// callbacks reach it, so every operation takes the manager's lock and every list write
// happens under it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/task_file_list.h"
#include "client/transfer/local_path.h"

namespace vantrel::catalogue {

class DownloadEngine;
class FlagRecorder;

// Delivery states of a work item. 0, 2 and 4 are also the row's `flag`.
enum DownloadState {
    kFetchFromStart = 0,
    kHeld = 1,
    kTransferring = 2,
    kIntermediate = 3,
    kDelivered = 4,
    kArrived = 5,
};
// The `flag` text of a row state ("0".."4").
std::string FlagText(DownloadState state);
// The state a row's `flag` text says: kHeld, kTransferring, kIntermediate or kDelivered for
// "1".."4", kFetchFromStart for any other text.
DownloadState FlagState(const std::string& flag);
inline DownloadState RowState(const DbfRow& row) {
    return FlagState(row.trimmed("flag"));
}

struct DownloadWorkItem {
    std::string taskId;
    std::string fileName;
    std::string size;
    std::string downSize;
    std::filesystem::path receiveDirectory;
    std::string updateTime;
    std::string loadTime;
    char flag = '0';
    int retry = 0;
    std::string lastError;
    std::string changeDate;  // YYYYMMDD of the last change
    int row = -1;
    bool finished = false;
    int state = kFetchFromStart;
    // The row said "2" when the list was read: partial files beside it are this row's own,
    // not an earlier day's file of the same name.
    bool rowInTransfer = false;

    // The partial file the engine fills.
    std::filesystem::path partialFile() const {
        return partialPathFor(receiveDirectory / fileName);
    }
};

// One file of the server's listing.
struct RemoteFileEntry {
    std::string name;
    std::int64_t size = 0;
    std::string date;  // YYYYMMDD
    std::string time;  // hh:mm:ss
};

class CDownLoadFile : public TaskFileList<DownloadWorkItem> {
  public:
    enum class TaskKind { Download, AutoSync };

    // `engine` and `flags` may be null (no transfers / no flag files); every pointee must
    // outlive the manager.
    CDownLoadFile(const Context& context, DownloadEngine* engine, FlagRecorder* flags);
    ~CDownLoadFile();
    CDownLoadFile(const CDownLoadFile&) = delete;
    CDownLoadFile& operator=(const CDownLoadFile&) = delete;

    // Names the day's list and task log (the day is now minus `dayOffset`, for windows
    // that cross midnight) and opens the list. 1 or 0 with LastError().
    int Init(const std::string& taskId, TaskKind kind,
             std::chrono::seconds dayOffset = std::chrono::seconds(0));
    int OpenList();
    int DeleteList();
    // Rewrites the list from `listing`, taking only names `select` accepts (all when
    // empty). Rows the listing does not mention are kept. The new list is built beside the
    // old one and swapped in with one rename, so a failure leaves the old list. 1 or 0.
    int RebuildList(const std::vector<RemoteFileEntry>& listing,
                    const std::function<bool(const std::string&)>& select = {});
    int AppendRow(const std::string& fileName, const std::string& size, const std::string& downSize,
                  const std::string& updateTime, const std::string& loadTime,
                  const std::string& flag, const std::string& retry,
                  const std::string& description);
    bool LoadWorkItems();
    int SetReceivedSize(int row, std::int64_t bytes);
    int RecordFailure(int row, const std::string& error);
    int SetState(int row, int state);
    int MarkDelivered(int row);
    int FinishItem(int row);
    // The received file is refused for good this day (an archive whose entries would be
    // written elsewhere): held (`flag` "1", kept by rebuilds while the server's file stays
    // the same) with `reason` in the row, it is neither fetched nor unpacked again; its
    // partial file stays for inspection. 1 or 0.
    int HoldFile(int row, const std::string& reason);
    // Starts the row's transfer; 1 when handed to the engine, 0 otherwise.
    int StartFile(int row);
    // Books the items whose transfer ended in failure and returns the first item the
    // engine still holds (the run asks the engine for its next block), if any.
    std::optional<DownloadWorkItem> NextFailed();

    // Sets the file's last-write time to the local time "YYYY-MM-DD hh:mm:ss".
    static bool StampFileTime(const std::filesystem::path& file, const std::string& time);

    void SetReceiveDirectory(const std::filesystem::path& directory);
    void SetTaskLogPath(const std::filesystem::path& path);
    int DeliveredCount() const;

  private:
    int openListLocked();
    // What the list knew before a rebuild, by name.
    struct KnownRows;
    KnownRows readKnownRowsLocked() const;
    Status fillListLocked(CDbfImpl& table, const std::vector<RemoteFileEntry>& listing,
                          const std::function<bool(const std::string&)>& select, KnownRows& known);
    int appendListedLocked(CDbfImpl& table, const std::string& name, const RemoteFileEntry& entry,
                           const std::string& updateTime, KnownRows& known);
    // Where a row's file stands for a run, from its flag and what lies in the receive directory.
    void resumeStateLocked(DownloadWorkItem& item, const std::string& flag, int row,
                           const DbfRow& record);
    int appendRowLocked(CDbfImpl& table,
                        const std::vector<std::pair<std::string_view, std::string_view>>& values);
    int recordFailureLocked(DownloadWorkItem& item, const std::string& error);
    // Books a failure already counted on the item in its row: date, retries, text.
    int writeFailureLocked(DownloadWorkItem& item, const std::string& error);
    void setStateLocked(DownloadWorkItem& item, int state);
    int startFileLocked(DownloadWorkItem& item);
    void removePartialFiles(const std::string& fileName);
    // Requires: mutex_ held.
    void removeStrayBlockState(const std::string& fileName);
    void taskLog(const std::string& message, int level);
    std::string today() const;
    std::string nowText() const;

    const Context& context_;
    DownloadEngine* engine_;
    FlagRecorder* flags_;
    std::string taskId_;
    TaskKind kind_ = TaskKind::Download;
    std::filesystem::path receiveDirectory_;
    int deliveredCount_ = 0;
};

}  // namespace vantrel::catalogue
