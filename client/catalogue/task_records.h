#pragma once
// The in-memory task records built from the rows of the three task tables. Texts are
// UTF-8 and trimmed; flags are 0/1; the next run time is empty while a task is not
// scheduled. The run-state members belong to the run models, which may add what they need.

#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace vantrel::catalogue {

using NextRunTime = std::optional<platform::WallTime>;

// The columns every task table has, and the run state every kind keeps.
struct TaskPlan {
    std::string plandes;
    std::string planid;
    std::string opertype;
    std::string mailname;
    int hastrans = 0;
    std::string begindate;  // YYYY-MM-DD
    std::string begintime;  // HH:MM
    std::string endtime;    // HH:MM
    int timespace = 0;
    std::string lastresult;
    std::string lastdes;
    std::string laruntime;
    NextRunTime nextRun;
    int planstate = 0;
    std::string right;
    // Run state, owned by the run of the task's kind.
    bool running = false;
    int runState = 0;
};

struct UploadTask : TaskPlan {
    int loadtype = 2;  // 1 when the table says "1", else 2
    std::string sendpath;
    int hassenddir = 0;
    std::string sentpath;
    int hassentdir = 0;
    std::string curweek;  // 7 characters, Monday first
    std::string tmpweek;
    int weektype = 2;  // 1 when the table says "1", else 2
};

struct DownloadTask : TaskPlan {
    int plantype = 0;
    std::string filename;  // file-name rule
    std::string recvpath;
    int hasrecvdir = 0;
    int nextday = 0;
    std::string curweek;
    std::string tmpweek;
    int weektype = 0;
    // Names of the files received by the current run; empty at load.
    std::vector<std::string> receivedFiles;
};

struct AutoSyncTask : TaskPlan {
    int plantype = 0;  // AutoSyncPlanType
    std::string recvpath;
    int hasrecvdir = 0;
};

// Whether a task's schedule is on: `planstate` 1 (0 is off; -1 a stop took it off).
inline bool IsScheduled(int planstate) {
    return planstate >= 1;
}
inline bool IsScheduled(const TaskPlan& task) {
    return IsScheduled(task.planstate);
}

// `plantype` of the download table's rows.
enum class DownloadPlanType { Mailbox = 1, Bulletin = 2 };
// `plantype` of the auto-sync table's rows: the task, or the entry that catches its mailbox
// up to the trading date (made at load time, a copy of the task under an id of its own).
enum class AutoSyncPlanType { Task = 1, History = 2 };

inline bool IsBulletin(const DownloadTask& task) {
    return task.plantype == static_cast<int>(DownloadPlanType::Bulletin);
}
inline bool IsHistoryEntry(const AutoSyncTask& task) {
    return task.plantype == static_cast<int>(AutoSyncPlanType::History);
}

// A task id: the local time "%Y%m%d%H%M%S", "-" and a pseudo-random "%05d" (0..32767).
std::string MakeTaskId(const platform::Clock& clock);

}  // namespace vantrel::catalogue
