#pragma once
// What an exchange with the gateway came to, as one type from the socket up to the front
// ends. A text that shows a number (the command line's failure line, the frame reader's
// receive failure) takes it from resultCode: the only place where the old numbers live.
// The three questions every layer asks of a failure ("is the connection lost?", "is the
// program shutting down?", "did the gateway refuse?") are answered here and nowhere else.

#include <array>
#include <string>
#include <utility>

namespace vantrel {

enum class GatewayOutcome {
    Ok,
    Failed,            // any other failure; the handle's text says which
    BadArguments,      // the call was given nothing usable
    PeerClosed,        // the gateway closed the connection
    TimedOut,          // no (complete) answer in time
    Cancelled,         // the operator cancelled the transfer
    Refused,           // the gateway refused the transaction (return code, text)
    NewSession,        // "0014": the gateway asks for a new session's serial numbers
    SerialsVoided,     // "E999": the session's serial numbers are void, send again
    SessionEnded,      // "E998": the session is over
    ShuttingDown,      // the program is being stopped
    TaskStopped,       // the owning task was stopped
    NothingYet,        // a poll found no answer yet
    SerialBlockFiled,  // a poll found a block of serial numbers and filed it for its route
    PastFileEnd,       // a download answer reaches past the file's end
    NotVerified,       // the digest query of a finished file got no usable answer; data kept
};

// The gateway's own words for a refused transaction, next to the outcome.
struct GatewayAnswer {
    GatewayOutcome outcome = GatewayOutcome::Ok;
    std::string code;  // the answer's return code ("0000", "0014", "E999", ...), if one came
    std::string text;  // its message, trimmed
    bool ok() const { return outcome == GatewayOutcome::Ok; }
};

namespace detail {
// The numbers the lines that show a result have always used; kept so those read as before.
inline constexpr std::array<std::pair<GatewayOutcome, int>, 16> kResultCodes{{
    {GatewayOutcome::Ok, 0},
    {GatewayOutcome::Failed, -1},
    {GatewayOutcome::BadArguments, -2},
    {GatewayOutcome::PeerClosed, -3},
    {GatewayOutcome::NotVerified, -4},
    {GatewayOutcome::Refused, -5},
    {GatewayOutcome::TimedOut, -9},
    {GatewayOutcome::Cancelled, -10},
    {GatewayOutcome::NewSession, -12},
    {GatewayOutcome::ShuttingDown, -98},
    {GatewayOutcome::TaskStopped, -97},
    {GatewayOutcome::PastFileEnd, -109},
    {GatewayOutcome::NothingYet, -999},
    {GatewayOutcome::SessionEnded, -9998},
    {GatewayOutcome::SerialsVoided, -9999},
    {GatewayOutcome::SerialBlockFiled, 8888},
}};
}  // namespace detail

// The number a text shows for `outcome` (0 for Ok).
constexpr int resultCode(GatewayOutcome outcome) {
    for (const auto& [known, code] : detail::kResultCodes) {
        if (known == outcome) return code;
    }
    return -1;
}

// The outcome a transaction's return code stands for (not "0000"); `polled` answers
// (a transfer window's) also know "0014".
GatewayOutcome outcomeOfReturnCode(const std::string& returnCode, bool polled);

// The connection to the gateway is gone (closed by it, or the session ended / voided):
// the operator is told to check the network and the next attempt logs in afresh.
bool losesConnection(GatewayOutcome outcome);
// The run was stopped (program exit or task stop): not a failed attempt.
bool stopsTheRun(GatewayOutcome outcome);
// The gateway answered and said no, or the link failed in a way a fresh attempt may cure.
bool worthAnotherAttempt(GatewayOutcome outcome);

}  // namespace vantrel
