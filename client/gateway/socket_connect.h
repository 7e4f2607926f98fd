#pragma once
// CSocketConnect: the link, one blocking TCP client connection to a gateway (or to the
// fast-transfer server), connected with a time-out, sending all of a buffer and receiving
// exactly a length until a deadline: the one receive loop. It keeps the text of its last
// failure for callers to show and log, in the words of its user (LinkWording). The base
// of every gateway handle.
//
// Results are GatewayOutcomes: Ok, Failed with the text set, BadArguments, PeerClosed,
// TimedOut, ShuttingDown and NothingYet (non-strict wait).
// One thread uses an object at a time. Texts carry errno values where the original
// system showed socket error codes.

#include <string>

#include "client/gateway/gateway_outcome.h"
#include "client/gateway/stop_query.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"

namespace vantrel {

// The texts a link leaves for its failures; each takes the errno (0 for an orderly close).
struct LinkWording {
    std::string (*openFailed)(int err);
    std::string (*connectRefused)(const std::string& address, int port, int err);
    std::string (*sendFailed)(int err);
    std::string (*receiveFailed)(int err);
    std::string (*peerClosed)(int err);
};
// The gateway handle's words.
extern const LinkWording kGatewayLinkWording;
// The fast-transfer client's words ("socket()-%d", "send()-%d", "recv()-%d", ...).
extern const LinkWording kFastLinkWording;

class CSocketConnect {
  public:
    explicit CSocketConnect(const LinkWording& wording = kGatewayLinkWording) : wording_(wording) {}
    virtual ~CSocketConnect();
    CSocketConnect(const CSocketConnect&) = delete;
    CSocketConnect& operator=(const CSocketConnect&) = delete;

    // Sends all `length` bytes → Ok, Failed, BadArguments.
    virtual GatewayOutcome SendData(const char* data, int length);
    // The one receive loop: exactly `length` bytes, giving up once `clock` reaches
    // `deadline` however the bytes trickle in → Ok, Failed, BadArguments, PeerClosed
    // ("网关主动关闭连接!"), TimedOut ("接收超时"), ShuttingDown (asked once a second while
    // nothing arrives).
    GatewayOutcome RecvDataUntil(char* buffer, int length, platform::Tick deadline,
                                 const platform::Clock& clock);
    // Connects to a dotted IPv4 address, waiting up to `timeoutSeconds` counted in idle
    // one-second waits (0: return once the connect has been started) → Ok, Failed,
    // ShuttingDown. Always closes a previous socket first; any failure leaves the object
    // closed.
    virtual GatewayOutcome Connect(const std::string& address, int port, int timeoutSeconds);

    // One wait of `seconds` for readability → Ok readable, TimedOut, Failed.
    GatewayOutcome SetTimeOut(int seconds);
    // Waits for data with shutdown checks: `waits` waits of 1 s (strict) or polls (not
    // strict) → Ok readable, Failed, TimedOut (strict), NothingYet (not strict),
    // ShuttingDown.
    GatewayOutcome WaitForData(int waits, bool strict);
    // The errno of the last wait that failed.
    int LastWaitErrno() const { return waitErrno_; }
    // Closes the socket, if any.
    void Close();
    // Takes over an already connected socket (a previous one is closed).
    void Adopt(platform::TcpSocket socket) { socket_ = std::move(socket); }

    bool IsConnected() const { return socket_.isOpen(); }
    const std::string& LastError() const { return lastError_; }
    void SetLastError(std::string text) { lastError_ = std::move(text); }
    // Installs the shutdown check used by every wait; empty = threads not started.
    void SetStopQuery(StopQuery stop) { stop_ = std::move(stop); }

  protected:
    bool ShouldStop() const { return stop_ && stop_(); }

    platform::TcpSocket socket_;
    std::string lastError_;

  private:
    // The one wait step of every receive: up to `waitMs` for readability, then the stop
    // check → Ok readable, NothingYet, ShuttingDown (text set), Failed (the errno kept for
    // LastWaitErrno, no text).
    GatewayOutcome AwaitReadable(int waitMs);

    const LinkWording& wording_;
    StopQuery stop_;
    int waitErrno_ = 0;
};

}  // namespace vantrel
