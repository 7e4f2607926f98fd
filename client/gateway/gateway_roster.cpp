#include "client/gateway/gateway_roster.h"

#include <cstdlib>
#include <utility>

#include "platform/thread_id.h"

namespace vantrel {

void GatewayRoster::set(const std::vector<GatewayEntry>& gateways, int mode) {
    entries_.clear();
    for (const auto& entry : gateways) {
        if (entry.usable()) entries_.push_back(entry);
    }
    mode_ = mode != 0 ? 1 : 0;
}

std::vector<GatewayEntry> GatewayRoster::ordered() const {
    std::vector<GatewayEntry> order = entries_;
    if (mode_ == 1) {
        const unsigned thread = platform::currentThreadId();
        for (std::size_t count = order.size(); count >= 2; --count) {
            std::size_t pick = (thread + static_cast<unsigned>(std::rand())) % count;
            std::swap(order[pick], order[count - 1]);
        }
    }
    return order;
}

bool GatewayRoster::failOver(
    const std::function<bool(const GatewayEntry&)>& login,
    const std::function<void(const GatewayEntry&, bool succeeded)>& tried) const {
    for (const GatewayEntry& entry : ordered()) {
        const bool succeeded = login(entry);
        tried(entry, succeeded);
        if (succeeded) return true;
    }
    return false;
}

}  // namespace vantrel
