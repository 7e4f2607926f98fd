#include "client/service/serve_events.h"

#include <type_traits>

namespace vantrel::service {

ServeEvents::ServeEvents(Notifier& inner, const platform::Clock& clock)
    : inner_(inner), clock_(clock) {}

void ServeEvents::post(const NotifierEvent& event) {
    take(event);
    inner_.post(event);
}

void ServeEvents::send(const NotifierEvent& event) {
    take(event);
    inner_.send(event);
}

void ServeEvents::recordFailure(const std::string& kind, const std::string& taskId,
                                const std::string& reason) {
    const platform::WallTime now = clock_.now();
    std::lock_guard lock(mutex_);
    failures_.push_back({localText(now), epochSeconds(now), kind, taskId, reason});
    while (failures_.size() > kFailuresKept) failures_.pop_front();
}

void ServeEvents::take(const NotifierEvent& event) {
    std::visit(
        [this](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, TaskFailed>) {
                recordFailure(taskKindName(e.kind), e.taskId, e.reason);
            } else if constexpr (std::is_same_v<E, TaskRunStateChanged>) {
                const platform::Tick now = clock_.tick();
                std::lock_guard lock(mutex_);
                auto it = runs_.find(e.taskId);
                if (e.running && (it == runs_.end() || it->second.end)) {
                    runs_[e.taskId] = {now, std::nullopt};
                } else if (!e.running && it != runs_.end() && !it->second.end) {
                    it->second.end = now;
                }
            } else if constexpr (std::is_same_v<E, TaskRunRecorded>) {
                const platform::Tick now = clock_.tick();
                std::lock_guard lock(mutex_);
                RunTotals& totals = counters_.runs[{taskKindName(e.kind), e.lastResult}];
                ++totals.count;
                if (auto it = runs_.find(e.taskId); it != runs_.end()) {
                    const platform::Tick end = it->second.end.value_or(now);
                    totals.seconds += std::chrono::duration<double>(end - it->second.start).count();
                    runs_.erase(it);
                }
            } else if constexpr (std::is_same_v<E, DownloadItemFailed>) {
                std::lock_guard lock(mutex_);
                ++counters_.retries;
            } else if constexpr (std::is_same_v<E, DayBegan>) {
                // Each day's list names its own reports.
                std::lock_guard lock(mutex_);
                reportsFetched_.clear();
            } else if constexpr (std::is_same_v<E, RealtimeReportChanged>) {
                if (e.record.downloadTime.empty()) return;
                std::lock_guard lock(mutex_);
                std::string& seen = reportsFetched_[e.record.fileName];
                if (seen != e.record.downloadTime) {
                    seen = e.record.downloadTime;
                    ++counters_.realtimeReports;
                }
            }
        },
        event);
}

std::vector<FailureRecord> ServeEvents::failures() const {
    std::lock_guard lock(mutex_);
    return {failures_.begin(), failures_.end()};
}

ServeEvents::Counters ServeEvents::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

}  // namespace vantrel::service
