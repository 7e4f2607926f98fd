#pragma once
// CTaskQueue: the names of upload tasks waiting to start, at most 51. Names compare
// case-sensitively. Thread-safe.

#include <deque>
#include <mutex>
#include <string>

namespace vantrel {

class CTaskQueue {
  public:
    static constexpr std::size_t kCapacity = 51;

    // 0 when the queue is full (the caller logs "上传任务队列已满,稍候执行!"); else a queued
    // equal name moves to the end and 1 is returned.
    int add(const std::string& name);
    void remove(const std::string& name);
    bool contains(const std::string& name) const;
    std::size_t size() const;

  private:
    mutable std::mutex mutex_;
    std::deque<std::string> names_;
};

}  // namespace vantrel
