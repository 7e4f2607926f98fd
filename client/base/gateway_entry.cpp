#include "client/base/gateway_entry.h"

#include "client/base/day_text.h"

namespace vantrel {

bool GatewayEntry::usable() const {
    if (address.empty() || port.empty()) return false;
    const std::int64_t p = base::LeadingInteger(port);
    return p >= 1 && p <= 65535;
}

}  // namespace vantrel
