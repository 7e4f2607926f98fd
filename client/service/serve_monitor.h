#pragma once
// ServeMonitor: serve as its operators watch it. Once a second (serve's main thread) it
// builds the status snapshot from the task models, the transfer registry, the login facts
// and the events seen, writes it into data/ and tells the service manager a changed
// status line; once a minute it checks the free space of the root and every task's target
// and alerts when one runs low. The plan monitor's tick reaches it through ticked(), the
// only source of the watchdog heartbeat, so a hung scheduler stops the heartbeat.
//
// Thread: ticked() on the plan monitor; metricsText() on the metrics listener; the rest on
// serve's main thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "client/app/failure_alerts.h"
#include "client/base/context.h"
#include "client/execution/housekeeping/disk_space_watch.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/service/serve_events.h"
#include "client/service/serve_status.h"
#include "client/service/service_manager.h"
#include "client/service/transfer_ledger.h"

namespace vantrel::service {

class ServeMonitor {
  public:
    struct Parts {
        TaskScheduler* scheduler = nullptr;
        GatewayProcessState* process = nullptr;
        ServeEvents* events = nullptr;
        FailureAlerts* alerts = nullptr;  // may be null: low disk is then only logged
        // The interactive login's state and its gateway ("address:port"), asked on serve's
        // main thread (the login's own).
        std::function<bool()> loggedIn;
        std::function<std::string()> gateway;
        DiskSpaceWatch disk;
        std::chrono::seconds diskPeriod{60};
    };

    // `context`'s pointees and the parts must outlive the monitor. Installs the ledger as
    // the registry's close observer (before the threads start).
    ServeMonitor(const Context& context, Parts parts);
    // Requires: the scheduler's threads have stopped.
    ~ServeMonitor();
    ServeMonitor(const ServeMonitor&) = delete;
    ServeMonitor& operator=(const ServeMonitor&) = delete;

    // Logged in and the threads started; READY follows once the task tables are loaded.
    void started();
    // Serve's main loop, about once a second.
    void second();
    // The plan monitor's tick.
    void ticked();
    // SIGTERM: STOPPING, and a last snapshot that says so.
    void stopping();
    // Before serve stops its threads to run the updater.
    void stoppingForUpdate();

    ServeStatus status() const;
    std::string metricsText() const;

  private:
    ServeStatus collect();
    void checkDisks(ServeStatus& status);
    void trackGateway(platform::WallTime now);

    const Context context_;
    Parts parts_;
    ServiceManagerLink manager_;
    TransferLedger ledger_;
    const platform::WallTime startedAt_;
    std::atomic<std::int64_t> lastTickEpoch_{0};
    std::string lastStatusLine_;
    bool loggedIn_ = false;
    bool readySaid_ = false;
    // The gateway's reachability, from the login counters.
    std::int64_t loginsSeen_ = 0;
    std::int64_t failuresSeen_ = 0;
    std::int64_t unreachableSince_ = 0;
    // Disk: when last checked, and the directories found low (alerted once until freed).
    platform::Tick lastDiskCheck_{};
    bool diskChecked_ = false;
    std::vector<DiskStatus> disks_;
    std::set<std::string> lowAlerted_;
    mutable std::mutex mutex_;
    ServeStatus latest_;
};

}  // namespace vantrel::service
