#pragma once
// TransactionClient: the transactions of one logged-in connection. It keeps the route and
// the sequence numbers, builds request packets, reads the answer to the last request (or
// polls for one inside a transfer window) and tells what the answer came to as a
// GatewayOutcome. Serial-number blocks that arrive among the answers are filed for the
// routes that asked for them.
//
// Failure texts are left in the link; a failure that makes the connection unusable calls
// `drop`.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "client/gateway/frame_channel.h"
#include "client/gateway/gateway_outcome.h"
#include "client/gateway/gateway_records.h"
#include "client/gateway/trans_serials.h"

namespace vantrel {

// The in-flight window of a block transfer, as far as a poll needs it: an error answer
// frees the slot of the request it answers.
class InFlightWindow {
  public:
    virtual ~InFlightWindow() = default;
    // Frees the slot whose request carried `serial`, if one is in flight.
    virtual void releaseSlot(std::string_view serial) = 0;
};

// Who the connection's requests come from; written by the login, read by every request.
struct SessionIdentity {
    bool loggedIn = false;
    std::string userCode;
    std::string operatorCode;
    std::string loginCode;
};

// What a query that answers with a payload came to, and the payload's length when Ok.
struct PayloadAnswer {
    GatewayOutcome outcome = GatewayOutcome::Ok;
    std::size_t payloadLength = 0;
    bool ok() const { return outcome == GatewayOutcome::Ok; }
};

// The text for "%s-%s-%s" of a route.
std::string routeText(const Route& route);

class TransactionClient {
  public:
    TransactionClient(FrameChannel& channel, CSocketConnect& link, SerialSupply& serials,
                      const SessionIdentity& identity, std::function<void()> drop);

    void setRoute(Route route) { route_ = std::move(route); }
    const Route& route() const { return route_; }
    // The next sequence number, "%010d"; wraps to 1 after the largest 32-bit value.
    std::string nextSequence();
    // A request packet of payloadLength + 145 bytes (see CCommunicateHandle::BuildRequest)
    // → Ok or BadArguments with the text set.
    GatewayOutcome buildRequest(std::string_view code, const std::string& serial, char serialFlag,
                                int payloadLength, std::string& buffer);
    // The answer to the last request built. Serial blocks that arrive first are filed;
    // answers to earlier requests are passed over.
    GatewayOutcome receiveResponse(std::string& buffer);
    // One answer if one has arrived (NothingYet when none). `window` may be null.
    GatewayOutcome pollResponse(std::string& buffer, InFlightWindow* window);
    // Files a "23" answer for the oldest serial request still awaited (the current route
    // when none is) → SerialBlockFiled or what the refusal comes to.
    GatewayOutcome fileAwaitedSerials(const std::string& answerPacket);
    // Asks for the operator's permissions; the answer in `buffer` → Ok with its payload
    // length, Refused (the gateway's text set) or what broke the exchange (text set).
    PayloadAnswer queryPermissions(std::string& buffer);

  private:
    GatewayOutcome refuse(const TransactionResponseRecord& response, bool polled);

    FrameChannel& channel_;
    CSocketConnect& link_;
    SerialSupply& serials_;
    const SessionIdentity& identity_;
    std::function<void()> drop_;
    Route route_;
    std::mutex sequenceLock_;
    std::string sequence_;
    std::string lastRequestSequence_;  // of the last request built
};

}  // namespace vantrel
