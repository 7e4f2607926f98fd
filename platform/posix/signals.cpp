#include "platform/signals.h"

#include <signal.h>

#include <cerrno>
#include <cstdlib>

namespace vantrel::platform {

struct StopSignals::Masks {
    sigset_t stop;
    sigset_t previous;
};

StopSignals::StopSignals() : masks_(std::make_unique<Masks>()) {
    sigemptyset(&masks_->stop);
    sigaddset(&masks_->stop, SIGINT);
    sigaddset(&masks_->stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &masks_->stop, &masks_->previous);
}

StopSignals::~StopSignals() {
    pthread_sigmask(SIG_SETMASK, &masks_->previous, nullptr);
}

bool StopSignals::waitFor(std::chrono::milliseconds limit) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
    const timespec wait{static_cast<time_t>(seconds.count()),
                        static_cast<long>((limit - seconds).count() * 1000000)};
    return sigtimedwait(&masks_->stop, nullptr, &wait) > 0;
}

void killThisProcess() {
    ::raise(SIGKILL);
    std::abort();  // not reached: SIGKILL cannot be caught
}

bool processRuns(int pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace vantrel::platform
