#pragma once
// The Prometheus text exposition (version 0.0.4) of serve's counters: files and bytes per
// task, mailbox and direction, runs by kind and result with their durations, retries,
// resumes, logins, fail-overs, real-time reports, free disk, the plan monitor's last tick
// and the build. Only names, counts and times: never a secret or a file's content.

#include <cstdint>
#include <map>
#include <string>

#include "client/service/serve_events.h"
#include "client/service/serve_status.h"
#include "client/service/transfer_ledger.h"

namespace vantrel::service {

struct MetricsInputs {
    ServeStatus status;  // tasks (mailboxes), disks, the last tick, the version
    ServeEvents::Counters events;
    std::map<TransferLedger::Key, TransferLedger::Totals> transfers;  // since start
    std::int64_t logins = 0;
    std::int64_t loginFailures = 0;
    std::int64_t failovers = 0;
};

std::string renderMetrics(const MetricsInputs& inputs);

}  // namespace vantrel::service
