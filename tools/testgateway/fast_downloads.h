#pragma once
// The update server's fast downloads: files below the settings' update root, streamed in
// packets from the asked offset as the file is read, followed by the verification answer that carries the
// file's digest text encrypted twice under the fixed verification key. Fault switches drop,
// stall or corrupt a download. See doc/formats/fast-transfer.md.

#include <string>

#include "tools/testgateway/test_gateway.h"

namespace vantrel::testgateway {

// A plain fast answer ("40"): return code at 79, body length "%09d" at 83, message at 93,
// `body` from 145.
std::string fastAnswerPacket(const std::string& returnCode, const std::string& message,
                             const std::string& body);

class FastDownloadService final : public FastService {
  public:
    // The arguments must outlive the service.
    FastDownloadService(const TestGatewaySettings& settings, FaultSwitches& faults,
                        GatewayCounters& counters)
        : settings_(settings), faults_(faults), counters_(counters) {}
    std::optional<FastAnswer> handle(const std::string& packet, const FastSend& send) override;

  private:
    FastAnswer download(const std::string& packet, const FastSend& send);

    const TestGatewaySettings& settings_;
    FaultSwitches& faults_;
    GatewayCounters& counters_;
};

}  // namespace vantrel::testgateway
