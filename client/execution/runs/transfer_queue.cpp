#include "client/execution/runs/transfer_queue.h"

#include "client/catalogue/catalogue_text.h"
#include "platform/thread_id.h"

namespace vantrel {

int TransferQueue::push(BlockTask* block, bool front) {
    std::unique_lock lock(mutex_);
    if (block == nullptr) {
        lastError_ = "传入的文件块参数为空!";
        return 0;
    }
    block->setState(kBlockQueued);
    if (front) {
        blocks_.push_front(block);
    } else {
        blocks_.push_back(block);
    }
    lock.unlock();
    changed_.notify_all();
    return 1;
}

int TransferQueue::pushBack(BlockTask* block) {
    return push(block, false);
}

int TransferQueue::pushFront(BlockTask* block) {
    return push(block, true);
}

BlockTask* TransferQueue::popFront() {
    return popFrontIf([](const BlockTask&) { return true; });
}

BlockTask* TransferQueue::popFrontOf(const FileBlockInfo& file) {
    return popFrontIf([&file](const BlockTask& block) { return &block.file() == &file; });
}

BlockTask* TransferQueue::popFrontIf(const std::function<bool(const BlockTask&)>& wanted) {
    std::unique_lock lock(mutex_);
    if (blocks_.empty() || blocks_.front() == nullptr || !wanted(*blocks_.front())) return nullptr;
    BlockTask* block = blocks_.front();
    blocks_.pop_front();
    block->setState(kBlockTaken);
    block->setWorkerThread(platform::currentThreadId());
    lock.unlock();
    changed_.notify_all();
    return block;
}

void TransferQueue::waitForBlocks(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [this] { return woken_ || !blocks_.empty(); });
}

void TransferQueue::waitForRoom(int limit, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout,
                      [&] { return woken_ || static_cast<int>(blocks_.size()) < limit; });
}

void TransferQueue::wakeAll() {
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

template <class Match>
int TransferQueue::removeIf(Match match) {
    std::unique_lock lock(mutex_);
    int removed = 0;
    for (auto it = blocks_.begin(); it != blocks_.end();) {
        if (match(**it)) {
            (*it)->setState(kBlockIdle);
            it = blocks_.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    lock.unlock();
    changed_.notify_all();
    return removed;
}

int TransferQueue::removeTask(std::string_view taskId) {
    return removeIf(
        [&](const BlockTask& b) { return catalogue::EqualsIgnoreCase(b.file().taskId(), taskId); });
}

int TransferQueue::count() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(blocks_.size());
}

std::string TransferQueue::lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

}  // namespace vantrel
