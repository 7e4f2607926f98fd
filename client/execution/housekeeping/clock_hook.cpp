#include "client/execution/housekeeping/clock_hook.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace vantrel::execution {
namespace {

// The machine's clock moved by a fixed amount; the tick is the machine's own.
class ShiftedClock final : public platform::Clock {
  public:
    explicit ShiftedClock(platform::WallTime start)
        : shift_(start - std::chrono::system_clock::now()) {}
    platform::WallTime now() const override { return std::chrono::system_clock::now() + shift_; }
    platform::Tick tick() const override { return std::chrono::steady_clock::now(); }

  private:
    const std::chrono::system_clock::duration shift_;
};

std::optional<platform::WallTime> armedStart() {
    const char* value = std::getenv("VANTREL_TEST_CLOCK_START");
    const std::string text = value ? value : "";
    if (text.size() != 14 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    auto part = [&text](std::size_t at, std::size_t length) {
        return std::stoi(text.substr(at, length));
    };
    platform::LocalTime start;
    start.year = part(0, 4);
    start.month = part(4, 2);
    start.day = part(6, 2);
    start.hour = part(8, 2);
    start.minute = part(10, 2);
    start.second = part(12, 2);
    return platform::fromLocalTime(start);
}

}  // namespace

const platform::Clock& processClock() {
    // Read once: the environment is not written after start-up.
    static const std::optional<ShiftedClock> shifted = []() -> std::optional<ShiftedClock> {
        if (const std::optional<platform::WallTime> start = armedStart())
            return ShiftedClock(*start);
        return std::nullopt;
    }();
    if (shifted) return *shifted;
    return platform::RealClock::instance();
}

}  // namespace vantrel::execution
