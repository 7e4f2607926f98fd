#pragma once
// CModule: the task catalogue. It loads the three task tables (localconfig/) into memory,
// adds, deletes and modifies rows for the task dialogs, writes every run's outcome back
// and computes next run times on the injected clock. Each task kind has its own lock,
// guarding its table and its map; the directory registry's lock is always taken after it.
// Notices to the main window are delivered after the kind's lock is released.
//
// Results follow the system's conventions: 1 success, 0 failure with a Chinese message.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/plan_dir.h"
#include "client/catalogue/task_records.h"

namespace vantrel::catalogue {

class CDbfImpl;

class CModule {
  public:
    // `context` and `planDir` must outlive the catalogue.
    CModule(const Context& context, CPlanDir& planDir);
    virtual ~CModule();
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;

    // The logged-in operator (rows of other operators are not loaded) and the gateway's
    // trading date (YYYYMMDD) from the last login.
    void SetOperator(const std::string& operatorCode);
    void SetTradingDate(const std::string& tradingDate);

    // The operations on the table of one record type (UploadTask, DownloadTask or
    // AutoSyncTask); each takes that kind's lock.
    template <class Task>
    void Load();
    template <class Task>
    int Add(const Task& task, std::string& message);
    // 0 when the table cannot be opened or the row cannot be marked; a task without a row
    // is reported in `message` and still gives 1.
    template <class Task>
    int Delete(const Task& task, std::string& message);
    // Rewrites every field but planid and begindate.
    template <class Task>
    int Modify(const Task& task, std::string& message);
    // Writes the non-empty texts, and the state when it is 1, 0 or -1. 1 or 0.
    template <class Task>
    int UpdateRow(const std::string& taskId, const std::string& lastResult,
                  const std::string& lastDescription, const std::string& lastRunTime, int state);
    // Writes a run's outcome, computes the next run time (every 5 minutes when
    // `earlyRetry`, else the task's interval) and posts the notice. The next run time as
    // "%Y-%m-%d %H:%M:%S", empty when not scheduled.
    template <class Task>
    std::string RecordRun(const std::string& taskId, const std::string& lastResult,
                          const std::string& lastDescription, const std::string& lastRunTime,
                          bool earlyRetry);

    // The day-change work: the send and sent directories of the upload tasks due today.
    void CreateUploadDirectories();
    // Whether the auto-sync task's mailbox has been caught up to the trading date: the
    // stored next date still to synchronise lies after it.
    bool IsHistorySyncCurrent(const std::string& taskId) const;

    // In-memory maps (and the directory registry), for the dialogs after a table
    // operation succeeded.
    template <class Task>
    void Put(const Task& task);
    template <class Task>
    void Remove(const std::string& taskId);
    template <class Task>
    std::vector<Task> Tasks() const;
    template <class Task>
    std::optional<Task> Find(const std::string& taskId) const;

    // The clean-up's compaction of the upload and download tables, each under its kind's
    // lock. 0 when both were packed, -1 otherwise.
    int PackTaskTables();

    CPlanDir& planDir() { return planDir_; }

  private:
    template <class Task>
    struct Kind;
    template <class Task>
    Kind<Task>& kindOf() const;
    template <class Task>
    void load(Kind<Task>& kind);
    void announceFirstTask(CatalogueTaskKind table, const std::string& taskId);
    template <class Task>
    int add(Kind<Task>& kind, const Task& task, std::string& message);
    template <class Task>
    int remove(Kind<Task>& kind, const Task& task, std::string& message);
    template <class Task>
    int modify(Kind<Task>& kind, const Task& task, std::string& message);
    template <class Task>
    int updateRowLocked(Kind<Task>& kind, const std::string& taskId, const std::string& lastResult,
                        const std::string& lastDescription, const std::string& lastRunTime,
                        int state);
    template <class Task>
    std::string recordRun(Kind<Task>& kind, const std::string& taskId,
                          const std::string& lastResult, const std::string& lastDescription,
                          const std::string& lastRunTime, bool earlyRetry);
    template <class Task>
    void migrate(Kind<Task>& kind, CDbfImpl& table);
    // Drops the task from memory and its directories from the plan directory.
    template <class Task>
    void forget(Kind<Task>& kind, const std::string& taskId);

    void createUploadDirectoriesFor(const UploadTask& task);
    // Creates the task's directories when its weekday mask allows today.
    void createUploadDirectoriesIfDue(const UploadTask& task);
    void deliver(const std::vector<NotifierEvent>& events);
    void sysLog(const std::string& message);
    std::filesystem::path tablePath(const char* name) const;

    const Context& context_;
    CPlanDir& planDir_;
    std::unique_ptr<Kind<UploadTask>> upload_;
    std::unique_ptr<Kind<DownloadTask>> download_;
    std::unique_ptr<Kind<AutoSyncTask>> autoSync_;
    mutable std::mutex sessionMutex_;
    std::string operatorCode_;
    std::string tradingDate_;
    // The once-per-process handshake of the first loaded task.
    std::mutex handshakeMutex_;
    std::shared_ptr<std::atomic<bool>> handshakeAccepted_;
};

}  // namespace vantrel::catalogue
