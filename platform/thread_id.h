#pragma once
#include <cstdint>

namespace vantrel::platform {

// The kernel id of the calling thread (what logs print as 8 upper-case hex digits).
std::uint32_t currentThreadId();
// The id of this process.
std::uint32_t currentProcessId();

}  // namespace vantrel::platform
