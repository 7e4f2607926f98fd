#pragma once
// CCommunicateHandle: one conversation with a gateway. It picks a gateway of its roster,
// connects, logs the operator in (challenge-response that also yields the session key), and
// then carries framed, encrypted transactions with their sequence numbers; the serial
// numbers and the permissions it reads belong to the connection (SerialSupply,
// PermissionTable) and are forgotten with it.
//
// Every thread that talks to a gateway owns its own handle; a handle is used by one
// thread at a time (its owner). Internally three locks: the sequence lock (NextSequence),
// the batch lock (asynchronous serial requests) and the exchange lock (one packet sent or
// received). Operations report by return value and leave the Chinese text of a failure in
// LastError(); nothing throws.
//
// Return codes (besides those of CSocketConnect): -5 the gateway refused a transaction,
// -12 the gateway asks for a new session ("0014"), -9998 / -9999 session lost ("E998" /
// "E999"), 8888 a polled serial-number block arrived.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "client/base/context.h"
#include "client/config/config.h"
#include "client/gateway/gateway_process.h"
#include "client/gateway/gateway_records.h"
#include "client/gateway/gateway_roster.h"
#include "client/gateway/packet_frame.h"
#include "client/gateway/permission_table.h"
#include "client/gateway/socket_connect.h"
#include "client/gateway/trans_serials.h"

namespace vantrel {

// The in-flight window of a block transfer, as far as PollResponse needs it: an error
// answer frees the slot of the request it answers.
class InFlightWindow {
  public:
    virtual ~InFlightWindow() = default;
    // Frees the slot whose request carried `serial`, if one is in flight.
    virtual void releaseSlot(std::string_view serial) = 0;
};

// The 145-byte operator login request ("E0", not encrypted; the header's plain length is
// written little-endian). Codes are cut or blank-padded to their widths.
std::string loginRequestPacket(const std::string& operatorCode, const std::string& passwordDigest,
                               const std::string& productId, const std::string& clientVersion);
// The serial-number request ("22") before encryption; counts above 9999 are sent as 9999.
std::string serialRequestPacket(const std::string& loginCode, const Route& route, int count,
                                const std::string& sequence);

class CCommunicateHandle : public CSocketConnect {
  public:
    // `context` gives the installation (Client.ini), logs and notifier (copied; the
    // pointees and `process` must outlive the handle).
    CCommunicateHandle(const Context& context, GatewayProcessState& process);
    ~CCommunicateHandle() override;

    // Closes the socket, clears the logged-in flag and both process-wide notices, and
    // forgets what belonged to the connection (serial pools, awaited serial blocks).
    virtual void Disconnect();
    // Told of every change of the logged-in state, on the thread that uses the handle: a
    // login that succeeds (true), a disconnect of a logged-in connection (false). The
    // interactive handle's owner reports it to the window.
    using LoginStateListener = std::function<void(bool loggedIn)>;
    void SetLoginStateListener(LoginStateListener listener) {
        loginStateListener_ = std::move(listener);
    }
    // True when the last connection ended because the gateway closed it or a send failed
    // (not a time-out): an exchange that met that on a connection made before it may log
    // in again and be repeated once.
    bool LostByPeer() const { return lostByPeer_; }
    // 1 logged in (or already), 0 failed with the text set.
    virtual int Login();
    // Disconnect when logged in.
    virtual void DropIfLoggedIn();
    // One serial number by its own exchange with the gateway → 0 or a failure value.
    virtual int GetTransSerial(const std::string& organisation, const std::string& service,
                               const std::string& function, std::string& serial, char& flag);
    // Requests a block of `count` numbers and waits for it → 0, -1 or -5.
    virtual int RequestTransSerials(const std::string& organisation, const std::string& service,
                                    const std::string& function, int count, SerialPool& pool);
    // A request packet of payloadLength + 145 bytes in `buffer`: header (both lengths
    // payloadLength + 128), code, request record from the route with a new sequence
    // number; the caller copies the payload to offset 145 and sends with SendPacket.
    virtual int BuildRequest(std::string_view code, const std::string& serial, char serialFlag,
                             int payloadLength, std::string& buffer);
    virtual std::string GetOperatorCode() const { return operatorCode_; }
    virtual std::string GetUserCode() const { return userCode_; }
    // Keeps the usable entries (address set, port 1..65535) in their order; reads
    // SelectTimeOut; stores the codes and password as "%-8.8s".
    virtual void SetGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                                const std::string& userCode, const std::string& operatorCode,
                                const std::string& password);
    // Gives `other` this handle's gateway list, choice mode and codes: a second session of
    // the same operator (transfer workers, task runs), not logged in. Reads only.
    void ConfigureLike(CCommunicateHandle& other) const {
        other.SetGatewayList(roster_.entries(), roster_.mode(), userCode_, operatorCode_,
                             password_);
    }
    // Logs in on the first gateway that accepts, in order (mode 0) or at random (mode 1),
    // writing one system-log line per attempt → 1 or 0 (the text is the last failure).
    virtual int LoginToGateway();

    // Sends one packet (encrypting its body when asked) in pieces → 0 or -1 (and drops).
    int SendPacket(const char* data, int length, bool encrypt);
    // Receives one complete packet into `buffer` and decrypts it → 0 or negative (drops;
    // `buffer` is then empty).
    int ReceivePacket(std::string& buffer);
    // Waits (n waits, strict or poll) for data, then receives exactly `length` bytes
    // within the gateway's answer time-out → length or a negative code (-9 "接收超时").
    int WaitAndReceive(int waits, char* buffer, int length, bool strict);

    // Transactions.
    void SetRoute(const std::string& organisation, const std::string& service,
                  const std::string& function);
    const Route& CurrentRoute() const { return route_; }
    // The answer to the last request built, read and checked → 0, -5, -9998, -9999 or a
    // receive failure code. Serial blocks that arrive first are filed for the routes that
    // asked for them; answers to earlier requests are passed over. After a receive failure
    // `buffer` is empty; after a refusal it holds the decrypted answer.
    int ReceiveResponse(std::string& buffer);
    // One answer if one has arrived → 0, 8888, -999 (nothing yet), -5, -12, -9998, -9999
    // or a receive failure code. A serial block is filed for the route that asked for it.
    // `window` may be null.
    int PollResponse(std::string& buffer, InFlightWindow* window);
    // The next sequence number, "%010d"; wraps to 1 after the largest 32-bit value.
    std::string NextSequence();
    // Sends a request for 20 numbers for the current route without waiting → 0 or -1.
    int RequestTransSerialsAsync();
    SerialPool& Serials() { return serials_.pool(); }

    // Permissions (the interactive handle).
    // The query's answer in `buffer` → its payload length or -1.
    int QueryPermissions(std::string& buffer);
    // Reloads the connection's permission table (logging in first when needed); true when
    // at least one entry arrived. A failed load leaves the table as it was.
    bool LoadPermissions();
    // 1 allowed, 0 not; loads the list first when needed.
    int CheckPermission(const std::string& service, const std::string& function,
                        const std::string& organisation);

    bool IsLoggedIn() const { return loggedIn_; }
    bool PermissionsLoaded() const { return permissions_.loaded(); }
    const PermissionTable& Permissions() const { return permissions_; }
    const std::string& LoginCode() const { return loginCode_; }
    const Context& context() const { return context_; }
    const GatewayEntry& CurrentGateway() const { return current_; }
    const std::vector<GatewayEntry>& Gateways() const { return roster_.entries(); }
    int ConnectTimeOut() const { return connectTimeOut_; }
    // The current gateway's answer time-out in seconds (TimeOut; 90 when not positive).
    int AnswerTimeOut() const;
    // The session key of the last login exchange.
    const frame::SessionKey& SessionKeyBytes() const { return sessionKey_; }

  protected:
    // Empties the handle's serial pool (the gateway declared the session's numbers void).
    void EmptySerials() { serials_.emptyPool(); }
    // A new or closed connection keeps nothing of the one before.
    void ForgetConnection() {
        serials_.forget();
        permissions_.clear();
    }
    void SetLoggedIn(bool loggedIn);
    void WriteSysLog(const std::string& line);
    // The text for "%s-%s-%s" of a route.
    static std::string RouteText(const std::string& organisation, const std::string& service,
                                 const std::string& function);

    const Context context_;
    GatewayProcessState& process_;

  private:
    // WaitAndReceive that also hands out the deadline it set for the whole answer, so the
    // rest of the answer is received against the same one.
    int WaitAndReceiveFirst(int waits, char* buffer, int length, bool strict,
                            platform::Tick& deadline);
    // The context's clock (the machine's when none was given).
    const platform::Clock& AnswerClock() const;
    // Whose words a failure of ReadFrame is told in: ReceivePacket's or a transaction
    // answer's (which also refuses a body too short for its record).
    enum class FrameWording { Packet, Answer };
    // The one frame reader: waits (`waits`/`strict` as for WaitAndReceive) for a header,
    // then reads the body in pieces within the answer time-out and decrypts it → 0, -999
    // (nothing yet, not strict) or a failure code, having dropped the connection and
    // emptied `buffer`. Requires: the exchange lock held.
    int ReadFrame(std::string& buffer, int waits, bool strict, FrameWording wording);
    // One transaction answer under the exchange lock: ReadFrame in an answer's words.
    int ReceiveAnswer(std::string& buffer, int waits, bool strict);
    // The reaction to a transaction's return code (not "0000").
    int RefuseTransaction(const TransactionResponseRecord& response, bool polled);
    std::string BuildSerialRequest(const Route& route, int count);
    // Clears the handle's state once the serial answer cannot be used.
    int FailBadAnswer(const std::string& what);
    // Files a "23" answer that arrived for the oldest serial request still awaited (the
    // current route when none is) → 8888, or the refusal's failure value.
    int FileAwaitedSerials(const std::string& answerPacket);
    // The answer to a synchronous serial request, after those of the blocks awaited before
    // it (filed for their routes) → 0 or a receive failure.
    int ReceiveSerialAnswer(std::string& answerPacket);

    Route route_;
    bool loggedIn_ = false;
    bool lostByPeer_ = false;
    LoginStateListener loginStateListener_;
    std::string operatorCode_;
    std::string userCode_;
    std::string password_;
    std::string productId_;
    std::string clientVersion_;
    frame::SessionKey sessionKey_{};
    std::string loginCode_;
    std::mutex sequenceLock_;
    std::mutex batchLock_;
    std::mutex exchangeLock_;
    std::string sequence_;
    std::string lastRequestSequence_;  // of the last request built
    SerialSupply serials_;
    PermissionTable permissions_;
    GatewayRoster roster_;
    GatewayEntry current_;
    int connectTimeOut_ = kDefaultSelectTimeOut;
};

}  // namespace vantrel
