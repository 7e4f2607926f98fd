#include "platform/thread_id.h"

#include <unistd.h>

namespace vantrel::platform {

std::uint32_t currentThreadId() {
    return static_cast<std::uint32_t>(gettid());
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

}  // namespace vantrel::platform
