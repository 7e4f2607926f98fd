#pragma once
// The typed events that the core sends to the user interface, one per window message of
// the original design. Events carry copies (or task ids and names), never pointers into
// records that another thread may free.
//
// To add an event: declare its struct here and append it to NotifierEvent.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace vantrel {

// 1128: the interactive gateway handle's logged-in state changed.
struct LoginStateChanged {
    bool loggedIn = false;
};

// 1325: a real-time log record for the real-time message list. `time` is
// "YYYY-MM-DD HH:MM:SS"; `message` holds at most 255 characters.
struct RealtimeLogRecord {
    std::string time;
    std::string message;
    int level = 0;
};

// 0x52D: one report file's line in the real-time report view. `state` is one of the view's
// states ("等待接收", "正在推送", "正在下载", "出现错误", "完成下载", "完成推送", "加载失败");
// `downloadTime` is "YYYY-MM-DD HH:MM:SS", empty until the file arrived.
struct RealtimeReportRecord {
    std::string fileName;
    std::string state;
    std::int64_t localSize = 0;
    std::int64_t recordCount = 0;
    std::string downloadTime;
    std::string result;
    bool operator==(const RealtimeReportRecord&) const = default;
};
struct RealtimeReportChanged {
    RealtimeReportRecord record;
};

// The real-time report service was switched on or off; `statusText` is the status bar's
// "实时回报服务状态:运行" or "实时回报服务状态:停止".
struct RealtimeServiceSwitched {
    bool running = false;
    std::string statusText;
};

// Task catalogue events. Each carries the task's id; views read the record itself from the
// catalogue's snapshot.
enum class CatalogueTaskKind { Upload, Download, AutoSync };

// 0x508: the upload tasks are about to be (re)loaded; upload views clear their rows.
struct UploadTasksReloading {};

// 0x506 (upload) / 0x505 (download, auto-sync): a task record was loaded, added or modified.
struct TaskRecordChanged {
    enum class Change { Loaded, Added, Modified };
    CatalogueTaskKind kind = CatalogueTaskKind::Upload;
    Change change = Change::Loaded;
    std::string taskId;
};

// 0x518 (posted): a run's outcome was written to the task's row. `nextRunTime` is
// "YYYY-MM-DD HH:MM:SS", empty when the task is not scheduled.
struct TaskRunRecorded {
    CatalogueTaskKind kind = CatalogueTaskKind::Upload;
    std::string taskId;
    std::string lastResult;
    std::string lastDescription;
    std::string lastRunTime;
    std::string nextRunTime;
};

// 0x8200 (sent): the first task loaded in this process. The window stores true in
// `accepted` when it took the task; until then later loads send the event again.
struct FirstTaskLoaded {
    CatalogueTaskKind kind = CatalogueTaskKind::Upload;
    std::string taskId;
    std::shared_ptr<std::atomic<bool>> accepted;
};

// 0x509: the flag view is about to be refilled; 0x511: clear it.
struct FlagViewRefill {};
struct FlagViewClear {};
// 0x510: one flag's state; `arrival` is true when an arrival was just recorded, false
// while the list is rebuilt. `time` is empty while the flag file has not arrived.
struct FlagViewFlag {
    bool arrival = false;
    std::string name;
    std::string time;
};

// 0x512: an unsent upload file changed or vanished; `description` says which.
struct UploadItemChanged {
    std::string taskId;
    std::string fileName;
    int row = -1;
    std::string description;
};

// 0x513: a download file's transfer failed (counted in `retry`).
struct DownloadItemFailed {
    std::string taskId;
    std::string fileName;
    int row = -1;
    int retry = 0;
    std::string error;
};

// 0x507: the thread manager's threads run.
struct ThreadsStarted {
    int workerCount = 0;
};

// 0x515: a task's run state changed (started, stopped, finished, enabled, disabled).
struct TaskRunStateChanged {
    CatalogueTaskKind kind = CatalogueTaskKind::Download;
    std::string taskId;
    bool running = false;
    int planstate = 0;
};

// 0x519: a task's next run time, "%Y-%m-%d %H:%M:%S" (empty: not scheduled).
struct TaskNextRunChanged {
    CatalogueTaskKind kind = CatalogueTaskKind::Download;
    std::string taskId;
    std::string nextRunTime;
};

// A run of a task ended "失败" (or could not start): copies of what an operator needs to
// act on it, for the tray message and the alert program.
struct TaskFailed {
    CatalogueTaskKind kind = CatalogueTaskKind::Download;
    std::string taskId;
    std::string reason;
};

// A new local day began ("YYYYMMDD"), or the first day of this run: its flag list and
// upload directories exist and the history clean-up has run. Views that show one day
// start the new one.
struct DayBegan {
    std::string day;
};

// 1314 and the 02:00 work: a nightly update check is due that the window runs itself on its
// own thread, because it may show the offer or ask a question.
struct NightlyCheckDue {
    enum class Check { FlagModel, Version };
    Check check = Check::FlagModel;
};

// The alert program's kind argument.
inline const char* taskKindName(CatalogueTaskKind kind) {
    switch (kind) {
        case CatalogueTaskKind::Upload:
            return "upload";
        case CatalogueTaskKind::AutoSync:
            return "autosync";
        case CatalogueTaskKind::Download:
            break;
    }
    return "download";
}

using NotifierEvent =
    std::variant<LoginStateChanged, RealtimeLogRecord, UploadTasksReloading, TaskRecordChanged,
                 TaskRunRecorded, FirstTaskLoaded, FlagViewRefill, FlagViewClear, FlagViewFlag,
                 UploadItemChanged, DownloadItemFailed, ThreadsStarted, TaskRunStateChanged,
                 TaskNextRunChanged, TaskFailed, RealtimeReportChanged, RealtimeServiceSwitched,
                 DayBegan, NightlyCheckDue>;

}  // namespace vantrel
