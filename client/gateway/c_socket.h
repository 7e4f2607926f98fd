#pragma once
// CCSocket: the smaller socket twin used by the fast-transfer client. It keeps its last
// error as narrow text and reports a would-block condition (0) instead of retrying.
// Return codes: >= 0 success, -1 failure with text, -2 bad arguments, -98 shutting down.
// One thread uses an object at a time.

#include <string>

#include "client/gateway/stop_query.h"
#include "platform/tcp_socket.h"

namespace vantrel {

class CCSocket {
  public:
    CCSocket() = default;
    virtual ~CCSocket();
    CCSocket(const CCSocket&) = delete;
    CCSocket& operator=(const CCSocket&) = delete;

    // As CSocketConnect::Connect, with this class's texts → 0, -1, -98.
    int connect(const std::string& address, int port, int timeoutSeconds);
    // Bytes moved until the first non-positive result: length, 0 would block (bytes already
    // moved are not reported), -1 ("send()-%d" / "recv()-%d"), -2.
    int send(const char* data, int length);
    int receive(char* buffer, int length);
    // Receives exactly `length` bytes, allowing `timeoutSeconds` of silence between pieces
    // (asked in one-second waits, each followed by the stop check) → length, -1 ("recv()-%d",
    // "select()-%d"; an orderly close is "recv()-0"), -2, -9 time-out, -98 shutting down.
    int receiveWithin(char* buffer, int length, int timeoutSeconds);
    // One wait of `seconds` for readability → 1 readable, 0 time-out, -1 ("select()-%d").
    int waitReadable(int seconds);
    // Closes the socket; a failing close leaves "closesocket()-%d".
    void close();

    bool isConnected() const { return socket_.isOpen(); }
    const std::string& lastError() const { return lastError_; }
    void setStopQuery(StopQuery stop) { stop_ = std::move(stop); }

  private:
    platform::TcpSocket socket_;
    std::string lastError_;
    StopQuery stop_;
};

}  // namespace vantrel
