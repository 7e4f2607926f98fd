#include "client/execution/runs/plan_thread_mgr.h"

#include <cstdio>
#include <cstdlib>
#include <future>

#include "client/base/logs.h"
#include "client/transfer/local_path.h"
#include "platform/thread_id.h"

namespace vantrel {
namespace {

using Millis = std::chrono::milliseconds;
using Pace = std::chrono::steady_clock;

std::string format(const char* pattern, unsigned value) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

// Transfer threads draw pseudo-random values (gateway order, task ids) from a seed of
// their own.
void seedRandom(const platform::Clock& clock) {
    const auto ms = std::chrono::duration_cast<Millis>(clock.now().time_since_epoch()).count();
    std::srand(static_cast<unsigned>(platform::currentThreadId() + static_cast<unsigned>(ms)));
}

std::string actionText(const BlockTask& block, const std::string& fileName) {
    const std::string kind = block.kind();
    const bool upload = kind == "00" || kind == "02";
    const int repeat = block.repeatCount();
    char buffer[1024];
    if (repeat > 0) {
        std::snprintf(buffer, sizeof buffer,
                      upload ? "第(%d)次重复上传文件[%s]" : "第(%d)次重复下载文件[%s]", repeat,
                      fileName.c_str());
    } else {
        std::snprintf(buffer, sizeof buffer, upload ? "上传文件[%s]" : "下载文件[%s]",
                      fileName.c_str());
    }
    return buffer;
}

}  // namespace

CPlanThreadMgr::CPlanThreadMgr(const Context& context, GatewayProcessState& process,
                               ThreadManagerOptions options)
    : context_(context), process_(process), options_(std::move(options)) {}

CPlanThreadMgr::~CPlanThreadMgr() {
    if (started_ && !stopped_) StopThreads();
}

int CPlanThreadMgr::WorkerCountFor(int transCounts) {
    if (transCounts <= 0) return 1;
    if (transCounts > 9) return 10;
    return transCounts;
}

void CPlanThreadMgr::sysLog(const std::string& line) const {
    if (context_.logs) (void)context_.logs->writeSysLog(line);
}

std::int64_t CPlanThreadMgr::nowSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(
               context_.clock->now().time_since_epoch())
        .count();
}

void CPlanThreadMgr::launch(int slot, std::function<void()> body, const char* startMessage) {
    Slot& s = *slots_[static_cast<std::size_t>(slot)];
    s.heartbeat = nowSeconds();
    // The promise belongs to the new thread, so nothing it touches after handing over its
    // id lives on this stack.
    std::promise<std::uint32_t> idPromise;
    std::future<std::uint32_t> id = idPromise.get_future();
    s.thread =
        std::thread([&s, body = std::move(body), idPromise = std::move(idPromise)]() mutable {
            idPromise.set_value(platform::currentThreadId());
            body();
            // The very last act: after this the owner may join and free the slot.
            s.exitEvent->set();
        });
    s.threadId = id.get();
    if (slot >= 5) {
        char buffer[256];
        std::snprintf(buffer, sizeof buffer, startMessage, slot - 3, s.threadId.load());
        sysLog(buffer);
    } else {
        sysLog(format(startMessage, s.threadId.load()));
    }
}

void CPlanThreadMgr::StartThreads(int workerCount) {
    if (started_) return;
    started_ = true;
    workerCount_ = WorkerCountFor(workerCount);
    for (int i = 0; i < workerCount_ + 5; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->exitEvent = std::make_unique<platform::Event>(platform::Event::Reset::Manual);
        slots_.push_back(std::move(slot));
    }
    // Every wait of every gateway handle now gives up (-98) once the stop is signalled.
    process_.setStopQuery([this] { return ShouldStop(); });

    launch(
        0, [this] { planMonitor(); }, "计划监控线程启动(ID=0x%08X)");
    launch(
        1, [this] { transferManager(); }, "传送管理线程启动(ID=0x%08X)");
    launch(
        2, [this] { realtimeTraversal(); }, "实时回报服务文件回报遍历线程启动(ID=0x%08X)");
    launch(
        3, [this] { realtimeDownload(); }, "实时回报服务文件下载线程启动(ID=0x%08X)");
    launch(
        4, [this] { autoSyncManager(); }, "自动同步管理线程启动(ID=0x%08X)");
    for (int slot = 5; slot < workerCount_ + 5; ++slot) {
        launch(
            slot, [this, slot] { worker(slot); }, "文件传送线程[%d]启动(ID=0x%08X)");
    }

    if (options_.upload) options_.upload->queueLoad();
    if (context_.notifier) context_.notifier->post(ThreadsStarted{workerCount_});
    if (options_.download) options_.download->queueLoad();
    if (options_.autoSync) options_.autoSync->queueLoad();
}

void CPlanThreadMgr::StopThreads() {
    if (!started_ || stopped_) return;
    stop_.set();
    transferQueue_.wakeAll();
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        Slot& s = *slots_[i];
        if (!s.thread.joinable()) continue;
        bool exited = false;
        for (int step = 0; step < options_.stopSteps && !exited; ++step)
            exited = s.exitEvent->wait(options_.stopStep);
        if (!exited) exited = s.exitEvent->wait(Millis(1000));
        if (exited) {
            s.thread.join();
        } else {
            char buffer[256];
            std::snprintf(buffer, sizeof buffer, "线程[0x%08X]在系统退出时未能按时结束，不再等待",
                          s.threadId.load());
            sysLog(buffer);
            // Left to finish its write on its own; the manager outlives it (process exit).
            s.thread.detach();
        }
    }
    process_.setStopQuery({});
    stopped_ = true;
}

void CPlanThreadMgr::planMonitor() {
    PlanModel* models[] = {options_.upload, options_.download, options_.autoSync};
    bool served[] = {false, false, false};
    Pace::time_point lastTick = Pace::now();
    bool firstTick = true;
    for (;;) {
        for (int i = 0; i < 3; ++i) {
            if (models[i] == nullptr) {
                served[i] = true;
                continue;
            }
            if (models[i]->commandPending().wait(Millis(1))) {
                models[i]->processCommands();
                served[i] = true;
            }
        }
        if (!plansLoaded_) {
            if (!(served[0] && served[1] && served[2])) {
                // Still waiting for the first loads; the stop is honoured here too, so a
                // monitor whose tables never load does not hold up the exit.
                if (stop_.wait(Millis(200))) break;
                continue;
            }
            plansLoaded_ = true;
        }
        const Pace::time_point now = Pace::now();
        if (firstTick || now - lastTick >= options_.tickPeriod) {
            firstTick = false;
            tick();
            lastTick = Pace::now();
        }
        if (ShouldStop()) break;
        watchdog();
    }
    sysLog("用户关闭系统，监控线程退出");
}

void CPlanThreadMgr::tick() {
    PlanModel* order[] = {options_.download, options_.upload, options_.autoSync};
    for (PlanModel* m : order) {
        if (m) m->scheduleCheck();
    }
    for (PlanModel* m : order) {
        if (m) m->endOfRunCheck();
    }
    if (options_.housekeeping) options_.housekeeping();
}

bool CPlanThreadMgr::workerRegistered(std::uint32_t threadId) const {
    std::lock_guard lock(registryMutex_);
    return workerRegistry_.count(threadId) != 0;
}

void CPlanThreadMgr::watchdog() {
    if (slots_.size() <= 5) return;
    const std::int64_t now = nowSeconds();
    for (std::size_t i = 5; i < slots_.size(); ++i) {
        Slot& s = *slots_[i];
        const bool stalled =
            now - s.heartbeat.load() > options_.stallLimit.count() && workerRegistered(s.threadId);
        if (stalled && !s.stallReported) {
            char buffer[512];
            std::snprintf(buffer, sizeof buffer,
                          "工作线程下载（或上传）文件时，文件块下载（或上传）时间超时，工作线程[%u]"
                          "长时间不工作，处于卡死状态！",
                          s.threadId.load());
            sysLog(buffer);
        }
        // One line per stall: the next is written only after the worker has moved again.
        s.stallReported = stalled;
    }
}

void CPlanThreadMgr::transferManager() {
    seedRandom(*context_.clock);
    Pace::time_point lastTick = Pace::now();
    while (!ShouldStop()) {
        if (Pace::now() - lastTick >= Millis(1000)) {
            if (options_.download) options_.download->perSecondStep();
            if (options_.upload) options_.upload->perSecondStep();
            lastTick = Pace::now();
        }
        if (options_.download) options_.download->continuousStep();
        Millis pause(50);
        if (transferQueue_.count() >= 3 * workerCount_) {
            // Back as soon as a worker takes a block, at the latest after the pause.
            transferQueue_.waitForRoom(3 * workerCount_, Millis(500));
            pause = Millis(0);
        } else if (!plansLoaded_) {
            pause = Millis(200);
        } else {
            int queued = 0;
            if (options_.download) queued += options_.download->dispatch(transferQueue_);
            if (options_.upload) queued += options_.upload->dispatch(transferQueue_);
            // While there is work and room, the next pass follows at once: each pass
            // queues at most one block per task, so the pause would cap small files at 20
            // a second per task.
            if (queued > 0) pause = Millis(0);
        }
        if (pause > Millis(0)) stop_.wait(pause);
    }
    sysLog("用户关闭系统，传送管理线程退出");
}

void CPlanThreadMgr::autoSyncManager() {
    seedRandom(*context_.clock);
    PlanModel* model = options_.autoSync;
    Pace::time_point lastTick = Pace::now();
    while (!ShouldStop()) {
        if (model && Pace::now() - lastTick >= Millis(1000)) {
            model->perSecondStep();
            lastTick = Pace::now();
        }
        if (model) model->continuousStep();
        Millis pause(50);
        if (transferQueue_.count() >= 3 * workerCount_) {
            transferQueue_.waitForRoom(3 * workerCount_, Millis(500));
            pause = Millis(0);
        } else if (!plansLoaded_) {
            pause = Millis(200);
        } else if (model && model->dispatch(transferQueue_) > 0) {
            pause = Millis(0);
        }
        if (pause > Millis(0)) stop_.wait(pause);
    }
    sysLog("用户关闭系统，自动同步管理线程退出");
}

void CPlanThreadMgr::realtimeTraversal() {
    if (options_.realtime == nullptr) {
        sysLog(
            format("实时消息DoDir线程[0x%08X]退出, pDoDir == NULL", platform::currentThreadId()));
        return;
    }
    options_.realtime->traversalThread(stop_);
}

void CPlanThreadMgr::realtimeDownload() {
    seedRandom(*context_.clock);
    if (options_.realtime == nullptr) {
        sysLog("参数为空,实时消息为NULL");
        return;
    }
    options_.realtime->downloadThread(stop_);
}

PlanModel* CPlanThreadMgr::ownerOf(const BlockTask& block) const {
    const std::string& taskId = block.file().taskId();
    const std::string kind = block.kind();
    if (kind == "00" || kind == "02") return options_.upload;
    if (options_.autoSync && options_.autoSync->ownsTask(taskId)) return options_.autoSync;
    if (options_.download && options_.download->ownsTask(taskId)) return options_.download;
    return nullptr;
}

void CPlanThreadMgr::worker(int slot) {
    seedRandom(*context_.clock);
    Slot& self = *slots_[static_cast<std::size_t>(slot)];
    std::unique_ptr<CVornFtp> session = options_.makeSession();
    Pace::time_point idleSince = Pace::now();
    bool registered = false;
    std::string refusedLogin;  // the login failure last logged; empty while logins succeed
    Millis loginPause(500);
    const std::function<bool()> stopQuery = [this] { return ShouldStop(); };
    // A download's next block, asked for on this connection while the current one ends, so
    // the gateway is not left idle between blocks. It is run next on the same connection.
    BlockLookahead lookahead;
    // Queued blocks of the same file first: with the head of the queue still there, every
    // other worker is busy.
    lookahead.claim = [this](const BlockTask& current) {
        BlockTask* next = transferQueue_.popFrontOf(current.file());
        return next ? next : current.file().claimNextBlock(&current);
    };
    // The early block leaves this worker: `giveBack` returns it to the dispatcher, which
    // queues it again and whoever runs it sends its requests again.
    const auto dropAhead = [&lookahead](bool giveBack) {
        if (giveBack && lookahead.block) lookahead.block->setState(kBlockIdle);
        lookahead.block = nullptr;
        lookahead.carried = false;
    };
    for (;;) {
        if (ShouldStop()) break;
        self.heartbeat = nowSeconds();
        BlockTask* block = lookahead.block;
        if (block != nullptr) {
            block->setWorkerThread(platform::currentThreadId());
        } else {
            block = transferQueue_.popFront();
        }
        if (block == nullptr) {
            if (session->IsLoggedIn() && Pace::now() - idleSince >= options_.idleLogout) {
                session->DropIfLoggedIn();
            } else {
                // Woken by the next queued block, or by the stop.
                transferQueue_.waitForBlocks(Millis(100));
            }
            continue;
        }
        if (!registered) {
            std::lock_guard lock(registryMutex_);
            workerRegistry_.emplace(platform::currentThreadId(), block);
            registered = true;
        }
        if (block->file().stopRequested()) {
            if (block == lookahead.block) dropAhead(false);
            if (block->repeatCount() <= 3) block->setState(kBlockIdle);
            continue;
        }
        idleSince = Pace::now();
        PlanModel* owner = ownerOf(*block);
        const std::string fileName(remoteBaseName(block->file().remoteName()));
        if (owner == nullptr || fileName.empty() || block->file().taskId().empty()) {
            if (block == lookahead.block) dropAhead(false);
            block->setState(kBlockFailed);
            sysLog(owner == nullptr ? "传送文件时，文件信息不存在！"
                                    : "传送文件时，文件信息为空！");
            continue;
        }
        if (!session->IsLoggedIn()) {
            // A new connection has none of the early block's requests.
            lookahead.carried = false;
            if (session->LoginToGateway() != 1) {
                const std::string why = session->LastError();
                // Logged when the reason changes, and the pause grows, so a gateway that
                // refuses for hours neither floods the log nor the gateway.
                if (why != refusedLogin) sysLog("登录失败：" + why);
                refusedLogin = why;
                if (block == lookahead.block) dropAhead(false);
                block->setState(kBlockIdle);
                stop_.wait(loginPause);
                loginPause = std::min(loginPause * 2, Millis(30000));
                continue;
            }
            if (!refusedLogin.empty()) sysLog("文件传送线程重新登录成功");
            refusedLogin.clear();
            loginPause = Millis(500);
        }
        owner->runBlock(*block, *session,
                        BlockRun{actionText(*block, fileName), stopQuery, &lookahead});
        if (lookahead.block == block) {
            // The model settled the block without moving it (its run had ended).
            dropAhead(false);
        } else if (lookahead.block != nullptr && block->state() != kBlockDone) {
            // Only a block that is done is followed by its early successor.
            dropAhead(true);
        }
        idleSince = Pace::now();
    }
    dropAhead(true);
    session->DropIfLoggedIn();
}

}  // namespace vantrel
