#pragma once
// CAutoDownModel: the auto-sync tasks. Each task of the table runs in two forms: the daily
// task keeps the local directory in step with the mailbox's files of the business day, and
// its history entry fetches the files of earlier days, one day per run, back to
// AutoSyncDay days. Blocks, file finishing and delivery are those of a download run; this
// model decides what a run lists, how the history day moves on, and cleans the tasks' old
// list and log files once per business date.
//
// Daily runs: each run reads the day list's version first. A version the last successful
// run already took ends the run at once ("成功"); otherwise the run lists the day ("T") and
// merges it with the day list, which takes up the files changed since that version. The
// day is listed whatever the version when the run knows no version yet or the last full
// list is (ForceTimeMuli - 1) x timespace minutes old. The version is kept only when
// the run succeeds, so a file that failed is taken up again by the next run. Runs repeat
// every timespace minutes (the catalogue's next run), so the gateway is asked once per run;
// a run never lists again while its files move, because a rebuild renumbers the list's rows.
//
// History runs: syncHisDate_A (FTP_A_QS) or syncHisDate_B (other mailboxes) holds the next
// day still to synchronise; a run advances it by one day only when it succeeds, so a
// failed day is repeated, never skipped. The business date itself is the last day taken;
// afterwards the runs have nothing to do until the business date moves on.
//
// The task map, the commands, the run phases and the end of a run are TaskModel's.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/flag_recorder.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/tasks/download_run_model.h"
#include "client/transfer/file_block_map.h"

namespace vantrel {

class DownloadRun;
class GatewayProcessState;

struct AutoSyncModelOptions : DownloadModelOptions {
    GatewayProcessState* process = nullptr;  // required: the business date and gateway time
};

// What an auto-sync task keeps beside the common run state.
struct AutoSyncExtra {
    // Daily: what the last successful run took, and what the running run lists.
    std::string businessDate;
    std::string version;
    std::string pendingVersion;
    std::optional<platform::WallTime> lastFullList;
    bool fullList = false;
    // History: the day the running run synchronises.
    std::string syncDate;
};
using AutoSyncKind = TaskKind<catalogue::AutoSyncTask, DownloadRun, AutoSyncExtra>;
extern template class TaskModel<AutoSyncKind>;

using AutoSyncTaskState = TaskModel<AutoSyncKind>::State;

class CAutoDownModel final : public DownloadRunModel<AutoSyncKind> {
  public:
    // `context` and every pointee of `options` must outlive the model.
    CAutoDownModel(const Context& context, AutoSyncModelOptions options);
    ~CAutoDownModel() override;

    // Plan monitor: deletes the daily list and log files older than AutoSyncDay days of
    // every auto-sync task, once per business date, while the gateway's time is 02:00-03:00.
    void cleanLocalHistory();

  private:
    static bool isHistory(const catalogue::AutoSyncTask& task) { return catalogue::IsHistoryEntry(task); }
    bool beginRun(const Entry& entry, Begun& begun, std::string& error) override;
    void takeBegun(Entry& entry, const Begun& begun) override;
    void resetForAgain(Entry& entry) override;
    bool forgetDay(const Entry& entry) override;
    catalogue::DownloadTask scheduleShape(const catalogue::AutoSyncTask& task) const override;
    void beforeScheduleCheck() override;
    Admission admitStart(Entry& entry, platform::WallTime now) override;
    void beforeRecord(const Entry& entry, bool ok, bool hadRun) override;
    void runEnded(Entry& entry, Ending how, bool ok) override;
    void afterEndOfRunCheck() override { cleanLocalHistory(); }
    bool stopDisablesRow(const catalogue::AutoSyncTask& task) const override {
        return !isHistory(task);
    }
    void stopped(const Entry& entry) override;
    std::string endLine(const Entry& entry, const std::string& result, bool hadRun) const override;

    // Logs in on a session of its own; false with `error` set.
    bool login(CVornFtp& session, std::string& error);
    bool beginDaily(const Entry& entry, Begun& begun, std::string& error);
    bool beginHistory(const Entry& entry, Begun& begun, std::string& error);
    std::shared_ptr<DownloadRun> makeRun(const catalogue::AutoSyncTask& task,
                                         const std::string& listDay,
                                         const std::filesystem::path& taskLog,
                                         const std::string& remoteDirectory);
    std::string historyKey(const catalogue::AutoSyncTask& task) const;

    AutoSyncModelOptions options_;
    // Read by the schedule check before it takes the map's lock (plan monitor).
    std::string scheduleBusinessDate_;
    std::map<std::string, std::string> scheduleNextDay_;
    // The gateway facts of the last login seen, and when they were seen (plan monitor).
    std::string seenBusinessDate_;
    std::string seenGatewayTime_;
    platform::WallTime seenAt_{};
};

}  // namespace vantrel
