#pragma once
// The gateway facts that are process-wide: the business date, gateway time and user code
// of the last successful login of any handle, the two connection notices, the product id
// and client version every login carries, the operator's permission list, and the
// shutdown check of the background threads. Owned once by the application (or a test)
// and handed to every gateway handle. Thread-safe unless a member says otherwise.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "client/gateway/gateway_records.h"
#include "client/gateway/stop_query.h"

namespace vantrel {

struct LoginFacts {
    std::string businessDate;  // YYYYMMDD
    std::string gatewayTime;   // HHMMSS
    std::string userCode;
};

class GatewayProcessState {
  public:
    void recordLogin(LoginFacts facts) {
        std::lock_guard lock(mutex_);
        lastLogin_ = std::move(facts);
        ++logins;
    }
    LoginFacts lastLogin() const {
        std::lock_guard lock(mutex_);
        return lastLogin_;
    }

    // Set at start-up from the settings; copied into a handle at each login.
    void setProduct(std::string productId, std::string clientVersion) {
        std::lock_guard lock(mutex_);
        productId_ = std::move(productId);
        clientVersion_ = std::move(clientVersion);
    }
    std::string productId() const {
        std::lock_guard lock(mutex_);
        return productId_;
    }
    std::string clientVersion() const {
        std::lock_guard lock(mutex_);
        return clientVersion_;
    }

    // The thread manager installs its ShouldStop once its threads run and clears it when
    // they are gone; every wait of every handle asks it about once a second.
    void setStopQuery(StopQuery stop) {
        std::lock_guard lock(mutex_);
        stop_ = std::move(stop);
    }
    bool shouldStop() const {
        StopQuery stop;
        {
            std::lock_guard lock(mutex_);
            stop = stop_;
        }
        return stop && stop();
    }

    // 1 while the interactive handle holds a login made by a user (set by the login flows),
    // cleared by every disconnect.
    std::atomic<int> loggedInNotice{0};
    std::atomic<int> reloginNotice{0};

    // Counted over every handle, for the service's status and metrics: successful logins,
    // logins a gateway refused or did not answer, and logins that succeeded only on a
    // gateway after the first one tried.
    std::atomic<std::int64_t> logins{0};
    std::atomic<std::int64_t> loginFailures{0};
    std::atomic<std::int64_t> failovers{0};

    // The operator's permissions in the order received. GUI thread only (loaded and read
    // there, through the interactive handle).
    std::vector<PermissionRecord> permissions;

  private:
    mutable std::mutex mutex_;
    LoginFacts lastLogin_;
    std::string productId_;
    std::string clientVersion_;
    StopQuery stop_;
};

}  // namespace vantrel
