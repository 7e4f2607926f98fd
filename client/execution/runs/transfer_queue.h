#pragma once
// TransferQueue: the one queue of blocks between the dispatchers and the file transfer
// workers. A block's state is changed under its file's state lock, which BlockTask takes
// itself; the queue's lock is always taken first, never the other way round.
//
// Thread-safe: dispatchers push, workers pop, stop handling removes.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "client/transfer/file_block_info.h"

namespace vantrel {

class TransferQueue {
  public:
    // 1 when queued (state 1); 0 for a null block, with the queue's last error set.
    int pushBack(BlockTask* block);
    // The same, at the head: blocks that complete a file jump the queue.
    int pushFront(BlockTask* block);
    // The head, taken by the calling thread (state 2); null when the queue is empty.
    BlockTask* popFront();
    // The same, only when the head is a block of `file`; null otherwise.
    BlockTask* popFrontOf(const FileBlockInfo& file);
    // Every queued block of the task returns to state 0 and leaves the queue. Names are
    // compared ignoring case. The number removed.
    int removeTask(std::string_view taskId);
    int count() const;
    std::string lastError() const;

    // The waits of the threads around the queue, each at most `timeout`: a worker without
    // work wakes when a block is queued, a dispatcher facing a full queue when a block is
    // taken; wakeAll() ends every wait (the stop).
    void waitForBlocks(std::chrono::milliseconds timeout) const;
    void waitForRoom(int limit, std::chrono::milliseconds timeout) const;
    void wakeAll();

  private:
    int push(BlockTask* block, bool front);
    BlockTask* popFrontIf(const std::function<bool(const BlockTask&)>& wanted);
    template <class Match>
    int removeIf(Match match);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool woken_ = false;
    std::deque<BlockTask*> blocks_;
    std::string lastError_;
};

}  // namespace vantrel
