#include "client/gateway/gateway_outcome.h"

namespace vantrel {

GatewayOutcome outcomeOfReturnCode(const std::string& returnCode, bool polled) {
    if (returnCode == "0000") return GatewayOutcome::Ok;
    if (returnCode == "E999") return GatewayOutcome::SerialsVoided;
    if (returnCode == "E998") return GatewayOutcome::SessionEnded;
    if (polled && returnCode == "0014") return GatewayOutcome::NewSession;
    return GatewayOutcome::Refused;
}

bool losesConnection(GatewayOutcome outcome) {
    return outcome == GatewayOutcome::PeerClosed || outcome == GatewayOutcome::SessionEnded ||
           outcome == GatewayOutcome::SerialsVoided;
}

bool stopsTheRun(GatewayOutcome outcome) {
    return outcome == GatewayOutcome::ShuttingDown || outcome == GatewayOutcome::TaskStopped;
}

bool worthAnotherAttempt(GatewayOutcome outcome) {
    switch (outcome) {
        case GatewayOutcome::Failed:
        case GatewayOutcome::PeerClosed:
        case GatewayOutcome::TimedOut:
        case GatewayOutcome::Refused:
        case GatewayOutcome::NewSession:
        case GatewayOutcome::SerialsVoided:
        case GatewayOutcome::SessionEnded:
            return true;
        default:
            return false;
    }
}

}  // namespace vantrel
