#pragma once
// Runs one piece of blocking work (network, disk) off the GUI thread and hands its result
// back to the GUI thread. The owner keeps the job as its LAST member, so the destructor
// joins the worker before anything the work uses is destroyed.

#include <QObject>
#include <atomic>
#include <thread>
#include <utility>

namespace vantrel::ui {

class BackgroundJob {
  public:
    BackgroundJob() = default;
    BackgroundJob(const BackgroundJob&) = delete;
    BackgroundJob& operator=(const BackgroundJob&) = delete;
    ~BackgroundJob() { join(); }

    // GUI thread. True from start() until `done` has run.
    bool busy() const { return busy_; }

    // GUI thread, while not busy. `work` runs on a new thread; `done(result)` runs on the
    // thread of `receiver` (the GUI thread) unless the receiver is gone by then.
    template <class Work, class Done>
    void start(QObject* receiver, Work work, Done done) {
        join();
        busy_ = true;
        thread_ =
            std::thread([this, receiver, work = std::move(work), done = std::move(done)]() mutable {
                auto result = work();
                QMetaObject::invokeMethod(
                    receiver,
                    [this, done = std::move(done), result = std::move(result)]() mutable {
                        busy_ = false;
                        done(std::move(result));
                    },
                    Qt::QueuedConnection);
            });
    }

  private:
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    std::atomic<bool> busy_{false};
    std::thread thread_;
};

}  // namespace vantrel::ui
