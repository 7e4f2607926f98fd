#pragma once
// CPlanThreadMgr: every background thread of the client. Started once after login and
// stopped once at exit:
//   slot 0 plan monitor (table commands, the 1000 ms tick of schedule and end-of-run
//          checks, the stall watchdog), slot 1 transfer manager (download and upload
//          dispatch), slots 2 and 3 the real-time report threads, slot 4 auto-sync manager,
//   slots 5.. the file transfer workers, each with its own gateway session.
// The user interface never transfers a scheduled file itself: it queues commands on a
// model and reads its state.
//
// The loops are paced by the machine's monotonic clock; the context's clock says what
// time it is for the schedules and the heartbeats.
//
// Thread: StartThreads and StopThreads on the owner's thread (the GUI or
// the serve command); ShouldStop and the queues from any thread.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/base/context.h"
#include "client/execution/realtime/realtime_service.h"
#include "client/execution/runs/task_queue.h"
#include "client/execution/runs/transfer_queue.h"
#include "client/execution/tasks/plan_model.h"
#include "client/gateway/gateway_process.h"
#include "platform/event.h"

namespace vantrel {

// A new gateway session configured with the operator's gateways and credentials, not yet
// logged in. Called by workers and task runs on their own threads.
using SessionFactory = std::function<std::unique_ptr<CVornFtp>()>;

struct ThreadManagerOptions {
    // Null models are skipped (and count as loaded).
    PlanModel* upload = nullptr;
    PlanModel* download = nullptr;
    PlanModel* autoSync = nullptr;
    // Runs in slots 2 (traversal) and 3 (download); null leaves both threads to say so and
    // end.
    RealtimeService* realtime = nullptr;
    SessionFactory makeSession;  // required
    // Run by the plan monitor's tick after the checks (the inbox, the day's work), once the
    // first table loads are done.
    std::function<void()> housekeeping;
    // The pace of that tick.
    std::chrono::milliseconds tickPeriod{1000};
    // A worker logs out after this long without work.
    std::chrono::seconds idleLogout{180};
    // A worker whose heartbeat is older than this is reported by the watchdog.
    std::chrono::seconds stallLimit{1800};
    // How long StopThreads waits for each thread: 1000 steps of 10 ms and once 1000 ms.
    std::chrono::milliseconds stopStep{10};
    int stopSteps = 1000;
};

class CPlanThreadMgr {
  public:
    // `context` (clock, logs) and `process` must outlive the manager.
    CPlanThreadMgr(const Context& context, GatewayProcessState& process,
                   ThreadManagerOptions options);
    ~CPlanThreadMgr();
    CPlanThreadMgr(const CPlanThreadMgr&) = delete;
    CPlanThreadMgr& operator=(const CPlanThreadMgr&) = delete;

    // TransCounts as a worker count: <= 0 gives 1, > 9 gives 10.
    static int WorkerCountFor(int transCounts);

    // Starts the management threads and `workerCount` workers (clamped as above), then
    // queues the table loads. Once per manager.
    void StartThreads(int workerCount);
    bool ShouldStop() const { return stop_.isSet(); }
    // Signals the stop and waits for every thread in slot order, about 11 s at most each;
    // a thread still running then is logged and left behind, never cancelled mid-write.
    void StopThreads();
    bool stopped() const { return stopped_; }

    TransferQueue& transferQueue() { return transferQueue_; }
    CTaskQueue& uploadTaskQueue() { return taskQueue_; }
    int workerCount() const { return workerCount_; }
    // Whether the plan monitor has loaded the task tables (serve reports readiness after).
    bool plansLoaded() const { return plansLoaded_; }
    // Whether any download, auto-sync or upload task runs (what the close refuses).
    bool downloadRunning() const { return options_.download && options_.download->anyRunning(); }
    bool autoSyncRunning() const { return options_.autoSync && options_.autoSync->anyRunning(); }
    bool uploadRunning() const { return options_.upload && options_.upload->anyRunning(); }

  private:
    struct Slot {
        std::thread thread;
        std::atomic<std::uint32_t> threadId{0};
        std::unique_ptr<platform::Event> exitEvent;
        std::atomic<std::int64_t> heartbeat{0};  // seconds since 1970
        bool stallReported = false;              // plan monitor only
    };

    void launch(int slot, std::function<void()> body, const char* startMessage);
    void planMonitor();
    void transferManager();
    void autoSyncManager();
    void realtimeTraversal();
    void realtimeDownload();
    void worker(int slot);
    void tick();
    void watchdog();
    bool workerRegistered(std::uint32_t threadId) const;
    PlanModel* ownerOf(const BlockTask& block) const;
    void sysLog(const std::string& line) const;
    std::int64_t nowSeconds() const;

    Context context_;
    GatewayProcessState& process_;
    ThreadManagerOptions options_;
    int workerCount_ = 0;
    platform::Event stop_{platform::Event::Reset::Manual};
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<bool> plansLoaded_{false};
    bool started_ = false;
    bool stopped_ = false;
    TransferQueue transferQueue_;
    CTaskQueue taskQueue_;
    // Worker thread id -> the first block it took; written by workers, read by the monitor.
    mutable std::mutex registryMutex_;
    std::map<std::uint32_t, const BlockTask*> workerRegistry_;
};

}  // namespace vantrel
