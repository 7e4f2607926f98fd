#pragma once
// FrameChannel: whole frames over one gateway link. It sends a frame (encrypting its body
// with the session key when asked) and reads one (header, body in pieces within the
// gateway's answer time-out, decrypted): the one frame reader of the gateway handle. One
// packet at a time moves under its exchange lock, so a thread sending while another polls
// cannot interleave bytes.
//
// A failure of a read or a send leaves the text in the link, calls `drop` (the handle forgets
// the connection: what follows on it could no longer be told apart) and returns what the
// link's call came to (Ok on success).

#include <functional>
#include <mutex>
#include <string>

#include "client/gateway/gateway_outcome.h"
#include "client/gateway/packet_frame.h"
#include "client/gateway/socket_connect.h"
#include "platform/clock.h"

namespace vantrel {

class FrameChannel {
  public:
    // `answerTimeOut` gives the current gateway's answer time-out in seconds; `clock` (the
    // machine's when null) times it. Link and clock must outlive the channel.
    FrameChannel(CSocketConnect& link, const platform::Clock* clock,
                 std::function<int()> answerTimeOut, std::function<void()> drop);

    void setSessionKey(const frame::SessionKey& key) { sessionKey_ = key; }
    const frame::SessionKey& sessionKey() const { return sessionKey_; }
    // True when the last failure was the gateway closing the connection or a failed send.
    bool lostByPeer() const { return lostByPeer_; }
    void clearLostByPeer() { lostByPeer_ = false; }

    // Sends one frame in pieces → Ok or Failed.
    GatewayOutcome send(const char* data, int length, bool encrypt);
    // Waits (`waits`, strict or poll) for data, then receives exactly `length` bytes within
    // the answer time-out → Ok or what stopped it. Does not drop.
    GatewayOutcome receive(int waits, char* buffer, int length, bool strict);
    // A packet the caller waits for up to the answer time-out → Ok, Failed or ShuttingDown.
    GatewayOutcome readPacket(std::string& buffer);
    // A transaction answer, `waits`/`strict` as for receive (not strict: NothingYet when
    // nothing has arrived); a body too short for its record is refused.
    GatewayOutcome readAnswer(std::string& buffer, int waits, bool strict);

  private:
    enum class Wording { Packet, Answer };
    GatewayOutcome receiveFirst(int waits, char* buffer, int length, bool strict,
                                platform::Tick& deadline);
    // Requires the exchange lock.
    GatewayOutcome readFrame(std::string& buffer, int waits, bool strict, Wording wording);
    GatewayOutcome readBody(std::string& buffer, std::uint32_t bodyLength, platform::Tick deadline,
                            bool answer);
    GatewayOutcome failed(std::string& buffer, GatewayOutcome outcome);
    const platform::Clock& clock() const;

    CSocketConnect& link_;
    const platform::Clock* clock_;
    std::function<int()> answerTimeOut_;
    std::function<void()> drop_;
    frame::SessionKey sessionKey_{};
    bool lostByPeer_ = false;
    std::mutex exchangeLock_;
};

}  // namespace vantrel
