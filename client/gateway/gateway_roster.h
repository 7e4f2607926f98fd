#pragma once
// GatewayRoster: the gateways a handle may use and the order it tries them in (the listed
// order, or a shuffle per attempt), with the one fail-over loop over them. It knows nothing
// of how a login is made: the handle passes that in. One thread at a time (the handle's
// owner).

#include <functional>
#include <string>
#include <vector>

#include "client/config/config.h"

namespace vantrel {

class GatewayRoster {
  public:
    // Keeps the usable entries (address set, port 1..65535) in their order; `mode` 0 in
    // that order, anything else at random.
    void set(const std::vector<GatewayEntry>& gateways, int mode);

    const std::vector<GatewayEntry>& entries() const { return entries_; }
    int mode() const { return mode_; }
    // "顺序" or "随机", as the login log lines name the mode.
    const char* modeText() const { return mode_ == 1 ? "随机" : "顺序"; }
    // The entries in the order of one attempt: as listed, or shuffled (for count = n down
    // to 2, entry ((thread id + rand()) mod count) changes place with entry count - 1).
    std::vector<GatewayEntry> ordered() const;

    // Tries `login` on each entry in the order of one attempt until one succeeds, telling
    // `tried` of each outcome → true when one succeeded. No entries: false at once.
    bool failOver(const std::function<bool(const GatewayEntry&)>& login,
                  const std::function<void(const GatewayEntry&, bool succeeded)>& tried) const;

  private:
    std::vector<GatewayEntry> entries_;
    int mode_ = 0;
};

}  // namespace vantrel
