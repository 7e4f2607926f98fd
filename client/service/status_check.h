#pragma once
// What `vantrel-cli status --check` answers, as a monitoring plugin does: an exit code
// (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN) and one line of text.

#include <cstdint>
#include <optional>
#include <string>

#include "client/service/serve_status.h"

namespace vantrel::service {

struct CheckOutcome {
    enum Code { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };
    Code code = Unknown;
    std::string text;
};

struct CheckLimits {
    std::int64_t staleSeconds = 30;     // the snapshot (and the plan monitor's tick)
    std::int64_t gatewaySeconds = 300;  // logins failing this long: unreachable
};

// The snapshot file's state: absent, unreadable (not a snapshot), or read.
struct SnapshotRead {
    bool present = false;
    std::optional<ServeStatus> status;
};

// `serveRunning`: whether the process the snapshot names still runs; `nowEpoch`: seconds
// since 1970.
CheckOutcome evaluateCheck(const SnapshotRead& snapshot, bool serveRunning, std::int64_t nowEpoch,
                           const CheckLimits& limits);

}  // namespace vantrel::service
