#include "client/service/transfer_ledger.h"

#include <cstdio>

namespace vantrel::service {

TransferLedger::TransferLedger(const DayClock& days) : days_(days), clock_(days.clock()) {
    day_ = days_.today();
}

void TransferLedger::rollDayLocked() {
    const std::string day = days_.today();
    if (day == day_) return;
    day_ = day;
    today_.clear();
}

void TransferLedger::fileClosed(const FileBlockMap::Closed& file) {
    // A stopped or failed file comes back later and counts then.
    if (!file.complete()) return;
    std::lock_guard lock(mutex_);
    rollDayLocked();
    for (auto* totals : {&sinceStart_, &today_}) {
        Totals& t = (*totals)[{file.taskId, file.isUpload}];
        ++t.files;
        t.bytes += file.fileSize;
        if (file.resumed) ++t.resumed;
    }
}

std::vector<TransferStatus> TransferLedger::sample(const std::vector<FileBlockMap::Closed>& open) {
    const platform::Tick now = clock_.tick();
    std::lock_guard lock(mutex_);
    rollDayLocked();
    std::map<std::pair<std::string, std::string>, std::pair<std::int64_t, platform::Tick>> next;
    std::vector<TransferStatus> out;
    for (const FileBlockMap::Closed& file : open) {
        TransferStatus t;
        t.taskId = file.taskId;
        t.file = file.remoteName;
        t.upload = file.isUpload;
        t.bytesDone = file.bytesDone;
        t.fileSize = file.fileSize;
        const auto key = std::make_pair(file.taskId, file.remoteName);
        if (auto it = last_.find(key); it != last_.end()) {
            const double seconds = std::chrono::duration<double>(now - it->second.second).count();
            const std::int64_t moved = file.bytesDone - it->second.first;
            if (seconds > 0 && moved > 0)
                t.bytesPerSecond = static_cast<std::int64_t>(static_cast<double>(moved) / seconds);
        }
        next[key] = {file.bytesDone, now};
        out.push_back(t);
    }
    last_ = std::move(next);
    return out;
}

std::map<TransferLedger::Key, TransferLedger::Totals> TransferLedger::sinceStart() const {
    std::lock_guard lock(mutex_);
    return sinceStart_;
}

std::map<TransferLedger::Key, TransferLedger::Totals> TransferLedger::today() const {
    std::lock_guard lock(mutex_);
    if (days_.today() != day_) return {};
    return today_;
}

}  // namespace vantrel::service
