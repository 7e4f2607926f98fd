#pragma once
// TransferLedger: the files serve moved, counted from the block-state registry. Each file
// that leaves the registry whole counts once, with its bytes, for its task and direction
// (since serve started, and today); the files still open are sampled about once a second
// for the bytes done and the rate.
//
// Thread: fileClosed on the transfer threads; sample and the readers on serve's thread.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "client/execution/housekeeping/day_clock.h"
#include "client/service/serve_status.h"
#include "client/transfer/file_block_map.h"
#include "platform/clock.h"

namespace vantrel::service {

class TransferLedger {
  public:
    // `days` (the day the client works in, and its clock) must outlive the ledger.
    explicit TransferLedger(const DayClock& days);

    // The registry's close observer.
    void fileClosed(const FileBlockMap::Closed& file);
    // The files open now, with the rate since the last sample.
    std::vector<TransferStatus> sample(const std::vector<FileBlockMap::Closed>& open);

    struct Totals {
        std::int64_t files = 0;
        std::int64_t bytes = 0;
        std::int64_t resumed = 0;  // files finished from a state kept by an earlier run
    };
    // (task id, upload) -> since serve started / today.
    using Key = std::pair<std::string, bool>;
    std::map<Key, Totals> sinceStart() const;
    std::map<Key, Totals> today() const;

  private:
    // Requires: mutex_ held. Starts a new day's counts when the local day changed.
    void rollDayLocked();

    const DayClock& days_;
    const platform::Clock& clock_;
    mutable std::mutex mutex_;
    std::map<Key, Totals> sinceStart_;
    std::map<Key, Totals> today_;
    std::string day_;
    // (task id, file) -> bytes done and when, at the last sample
    std::map<std::pair<std::string, std::string>, std::pair<std::int64_t, platform::Tick>> last_;
};

}  // namespace vantrel::service
