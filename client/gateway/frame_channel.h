#pragma once
// FrameChannel: whole frames over one gateway link. It sends a frame (encrypting its body
// with the session key when asked) and reads one (header, body in pieces within the
// gateway's answer time-out, decrypted): the one frame reader of the gateway handle. One
// packet at a time moves under its exchange lock, so a thread sending while another polls
// cannot interleave bytes.
//
// A failure of a read or a send leaves the text in the link, calls `drop` (the handle forgets
// the connection: what follows on it could no longer be told apart) and returns the link's
// code (those of CSocketConnect; 0 on success).

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

    // Sends one frame in pieces → 0 or -1.
    int send(const char* data, int length, bool encrypt);
    // Waits (`waits`, strict or poll) for data, then receives exactly `length` bytes within
    // the answer time-out → length or a negative code. Does not drop.
    int receive(int waits, char* buffer, int length, bool strict);
    // A packet the caller waits for up to the answer time-out → 0 or negative.
    int readPacket(std::string& buffer);
    // A transaction answer, `waits`/`strict` as for receive (not strict: NothingYet's code when
    // nothing has arrived) → 0 or negative; a body too short for its record is refused.
    int readAnswer(std::string& buffer, int waits, bool strict);

  private:
    enum class Wording { Packet, Answer };
    int receiveFirst(int waits, char* buffer, int length, bool strict, platform::Tick& deadline);
    // Requires the exchange lock.
    int readFrame(std::string& buffer, int waits, bool strict, Wording wording);
    int readBody(std::string& buffer, std::uint32_t bodyLength, platform::Tick deadline,
                 bool answer);
    int failed(std::string& buffer, int rc);
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
