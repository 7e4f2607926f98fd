#pragma once
// TaskScheduler: the scheduled work of one client process, as both front ends (the GUI and
// `vantrel-cli serve`) start and stop it. It owns the task catalogue, the flag files, the
// registry of open block state, the task models and the thread manager, and provides the
// start-up steps that install them (block-state list, background threads, today's flag
// files). The task commands of the user interface go through it, and so do those another
// vantrel-cli posts to the installation's command inbox.
//
// Thread: construction, the start-up steps and stop() on the front end's main thread; the
// task commands and snapshots from any thread.

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/base/startup_steps.h"
#include "client/base/context.h"
#include "client/catalogue/flag_manager.h"
#include "client/catalogue/plan_dir.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/housekeeping/daily_jobs.h"
#include "client/execution/housekeeping/disk_space_watch.h"
#include "client/execution/realtime/realtime_service.h"
#include "client/execution/runs/plan_thread_mgr.h"
#include "client/execution/tasks/auto_down_model.h"
#include "client/execution/tasks/command_inbox.h"
#include "client/execution/tasks/down_plan_model.h"
#include "client/execution/tasks/send_plan_model.h"
#include "client/gateway/vorn_ftp.h"
#include "client/transfer/file_block_map.h"
#include "client/transfer/file_mem_list.h"

namespace vantrel {

class TaskScheduler final : public BlockStateListStore,
                            public BackgroundThreads,
                            public FlagFilesStartup {
  public:
    struct Options {
        // The logged-in handle whose operator and gateways the workers use (read once, at
        // start); null runs without gateway sessions (every login fails and is retried).
        const CVornFtp* loginSource = nullptr;
        // Tests: the clock of the block transfers, and a shorter stop wait.
        const platform::Clock* transferClock = nullptr;
        std::optional<std::chrono::milliseconds> stopStep;
        // Tests: a shorter pace of the plan monitor's tick.
        std::optional<std::chrono::milliseconds> tickPeriod;
        // Called by the plan monitor at the end of every tick once the tables are loaded
        // (a service's heartbeat: it stops when the monitor hangs).
        std::function<void()> onTick;
    };

    // The pointees of `context`, and `process`, must outlive the scheduler.
    TaskScheduler(const Context& context, GatewayProcessState& process, Options options);
    ~TaskScheduler() override;

    // Start-up steps.
    Status open(const std::filesystem::path& file) override;
    void start(int workerCount) override;
    void initialiseToday() override;

    // The orderly stop of every thread (about 11 s at most per thread).
    void stop();
    bool started() const { return threads_ != nullptr; }

    // A command a second vantrel-cli posted (run, stop, again, reload, and realtime with
    // "on" or "off"); false with `error` set when it names an unknown task. A reload is
    // carried out at once, so only the plan monitor's thread posts one.
    bool execute(const InboxCommand& command, std::string& error);

    // The run state and last result of a task of any kind; empty when no model has it.
    using RunView = TaskRunView;
    std::optional<RunView> runView(const std::string& taskId) const;

    // Where the client writes: the installation root, then each task's target (download
    // and auto-sync receive folders, upload sent folders), for the free-space check.
    std::vector<DiskSpaceWatch::Target> diskTargets() const;

    // What refuses the window's close: the message for the first kind of task that runs,
    // empty when none does.
    std::string closeRefusal() const;

    catalogue::CModule& catalogue() { return catalogue_; }
    CDownPlanModel& downloads() { return downloads_; }
    CSendPlanModel& uploads() { return uploads_; }
    CAutoDownModel& autoSyncs() { return autoSyncs_; }
    // The model that runs the task of `record`'s type, and the one of a table.
    CDownPlanModel& modelOf(const catalogue::DownloadTask&) { return downloads_; }
    CSendPlanModel& modelOf(const catalogue::UploadTask&) { return uploads_; }
    CAutoDownModel& modelOf(const catalogue::AutoSyncTask&) { return autoSyncs_; }
    const CDownPlanModel& modelOf(const catalogue::DownloadTask&) const { return downloads_; }
    const CSendPlanModel& modelOf(const catalogue::UploadTask&) const { return uploads_; }
    const CAutoDownModel& modelOf(const catalogue::AutoSyncTask&) const { return autoSyncs_; }
    PlanModel& model(CatalogueTaskKind table);
    // Every model, in the order the views list their kinds.
    std::array<const PlanModel*, 3> models() const { return {&downloads_, &autoSyncs_, &uploads_}; }
    // The registry of the files being transferred (progress, and the counters of a service).
    FileBlockMap& blocks() { return blocks_; }
    // The day's flag files (the nightly flag-model update rebuilds today's).
    catalogue::CFlagManager& flags() { return flags_; }
    CPlanThreadMgr* threadManager() { return threads_.get(); }
    // The real-time report service: its switch and the snapshot its view shows.
    RealtimeService& realtime() { return realtime_; }
    // The day every part of the client works in.
    const DayClock& days() const { return days_; }
    // The day's start, clean-up and nightly checks; the front end sets its nightly checks
    // before start().
    DailyJobs& daily() { return daily_; }

  private:
    std::unique_ptr<CVornFtp> makeSession() const;
    // The service's options: sessions like the workers', the local list of this scheduler.
    RealtimeService::Options realtimeOptions();
    // The options of the download and auto-sync models over this scheduler's parts.
    DownloadModelOptions downloadOptions(const Options& options);
    void takeInbox();

    const Context context_;
    GatewayProcessState& process_;
    Options options_;
    CVornFtp credentials_;
    catalogue::CPlanDir planDir_;
    catalogue::CModule catalogue_;
    catalogue::CFlagManager flags_;
    FileBlockMap blocks_;
    FileMemList memList_;
    DayClock days_;
    RealtimeService realtime_;
    CDownPlanModel downloads_;
    CSendPlanModel uploads_;
    CAutoDownModel autoSyncs_;
    DailyJobs daily_;
    std::unique_ptr<CPlanThreadMgr> threads_;
};

}  // namespace vantrel
