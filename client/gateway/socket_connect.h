#pragma once
// CSocketConnect: one blocking TCP client connection to a gateway, connected with a
// time-out and driven by send-all / receive-exactly loops. It keeps the text of its last
// failure for callers to show and log. The base of every gateway handle.
//
// Return codes: >= 0 success (a byte count where one is asked for), -1 failure with the
// text set, -2 bad arguments, -3 the peer closed the connection, -9 time-out, -98 the
// client is shutting down, -999 nothing has arrived yet (non-strict wait).
// One thread uses an object at a time. Texts carry errno values where the original
// system showed socket error codes.

#include <string>

#include "client/gateway/stop_query.h"
#include "platform/clock.h"
#include "platform/tcp_socket.h"

namespace vantrel {

class CSocketConnect {
  public:
    CSocketConnect() = default;
    virtual ~CSocketConnect();
    CSocketConnect(const CSocketConnect&) = delete;
    CSocketConnect& operator=(const CSocketConnect&) = delete;

    // Sends all `length` bytes → length, -1, -2.
    virtual int SendData(const char* data, int length);
    // The one receive loop: exactly `length` bytes, giving up once `clock` reaches
    // `deadline` however the bytes trickle in → length, -1, -2, -3 ("网关主动关闭连接!"),
    // -9 ("接收超时"), -98 (shutting down, asked once a second while nothing arrives).
    int RecvDataUntil(char* buffer, int length, platform::Tick deadline,
                      const platform::Clock& clock);
    // Connects to a dotted IPv4 address, waiting up to `timeoutSeconds` counted in idle
    // one-second waits (0: return once the connect has been started) → 0, -1, -98.
    // Always closes a previous socket first; any failure leaves the object closed.
    virtual int Connect(const std::string& address, int port, int timeoutSeconds);

    // One wait of `seconds` for readability → 1 readable, -9 time-out, -1 error.
    int SetTimeOut(int seconds);
    // Waits for data with shutdown checks: `waits` waits of 1 s (strict) or polls (not
    // strict) → 1 readable, -1 error, -9 time-out (strict), -999 nothing yet (not strict),
    // -98 shutting down.
    int WaitForData(int waits, bool strict);
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
    StopQuery stop_;
};

}  // namespace vantrel
