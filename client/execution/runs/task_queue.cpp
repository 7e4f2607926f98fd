#include "client/execution/runs/task_queue.h"

#include <algorithm>

namespace vantrel {

int CTaskQueue::add(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (names_.size() >= kCapacity) return 0;
    if (auto it = std::find(names_.begin(), names_.end(), name); it != names_.end())
        names_.erase(it);
    names_.push_back(name);
    return 1;
}

void CTaskQueue::remove(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (auto it = std::find(names_.begin(), names_.end(), name); it != names_.end())
        names_.erase(it);
}

bool CTaskQueue::contains(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

std::size_t CTaskQueue::size() const {
    std::lock_guard lock(mutex_);
    return names_.size();
}

}  // namespace vantrel
