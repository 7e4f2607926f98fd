#pragma once
// CCommunicateHandle: one conversation with a gateway, composed of its parts: the link
// (CSocketConnect, its base), the frame channel, the roster of gateways, the operator
// login, the transaction client, the serial requests and supply, and the permission table.
// The handle picks a gateway of its roster, connects, logs in and then hands each call to
// the part whose job it is; the serial numbers and the permissions belong to the
// connection and are forgotten with it.
//
// Every thread that talks to a gateway owns its own handle; a handle is used by one
// thread at a time (its owner). Operations report by return value and leave the Chinese
// text of a failure in LastError(); nothing throws. Every call that can fail reports a
// GatewayOutcome.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/base/context.h"
#include "client/config/config.h"
#include "client/gateway/frame_channel.h"
#include "client/gateway/gateway_outcome.h"
#include "client/gateway/gateway_process.h"
#include "client/gateway/gateway_records.h"
#include "client/gateway/gateway_roster.h"
#include "client/gateway/operator_login.h"
#include "client/gateway/packet_frame.h"
#include "client/gateway/permission_table.h"
#include "client/gateway/serial_requests.h"
#include "client/gateway/socket_connect.h"
#include "client/gateway/trans_serials.h"
#include "client/gateway/transaction_client.h"

namespace vantrel {

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
    bool LostByPeer() const { return channel_.lostByPeer(); }
    // True when logged in (or already); false with the text set.
    virtual bool Login();
    // Disconnect when logged in.
    virtual void DropIfLoggedIn();
    // One serial number by its own exchange with the gateway → Ok or what failed.
    virtual GatewayOutcome GetTransSerial(const std::string& organisation,
                                          const std::string& service, const std::string& function,
                                          std::string& serial, char& flag);
    // Requests a block of `count` numbers and waits for it → Ok, Failed or Refused.
    virtual GatewayOutcome RequestTransSerials(const std::string& organisation,
                                               const std::string& service,
                                               const std::string& function, int count,
                                               SerialPool& pool);
    // A request packet of payloadLength + 145 bytes in `buffer`: header (both lengths
    // payloadLength + 128), code, request record from the route with a new sequence
    // number; the caller copies the payload to offset 145 and sends with SendPacket.
    // → Ok or BadArguments.
    virtual GatewayOutcome BuildRequest(std::string_view code, const std::string& serial,
                                        char serialFlag, int payloadLength, std::string& buffer);
    virtual std::string GetOperatorCode() const { return identity_.operatorCode; }
    virtual std::string GetUserCode() const { return identity_.userCode; }
    // Keeps the usable entries (address set, port 1..65535) in their order; reads
    // SelectTimeOut; stores the codes and password as "%-8.8s".
    virtual void SetGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                                const std::string& userCode, const std::string& operatorCode,
                                const std::string& password);
    // Gives `other` this handle's gateway list, choice mode and codes: a second session of
    // the same operator (transfer workers, task runs), not logged in. Reads only.
    void ConfigureLike(CCommunicateHandle& other) const {
        other.SetGatewayList(roster_.entries(), roster_.mode(), identity_.userCode,
                             identity_.operatorCode, password_);
    }
    // Logs in on the first gateway that accepts, in order (mode 0) or at random (mode 1),
    // writing one system-log line per attempt → true, or false (the text is the last
    // failure).
    virtual bool LoginToGateway();

    // Sends one packet (encrypting its body when asked) in pieces → Ok or Failed (and drops).
    GatewayOutcome SendPacket(const char* data, int length, bool encrypt);
    // Receives one complete packet into `buffer` and decrypts it → Ok or what failed (drops;
    // `buffer` is then empty).
    GatewayOutcome ReceivePacket(std::string& buffer);

    // Transactions.
    void SetRoute(const std::string& organisation, const std::string& service,
                  const std::string& function);
    const Route& CurrentRoute() const { return transactions_.route(); }
    // The answer to the last request built, read and checked. Serial blocks that arrive
    // first are filed for the routes that asked for them; answers to earlier requests are
    // passed over. After a receive failure `buffer` is empty; after a refusal it holds the
    // decrypted answer.
    GatewayOutcome ReceiveResponse(std::string& buffer);
    // One answer if one has arrived (NothingYet when none; SerialBlockFiled when a serial
    // block came and was filed for the route that asked for it). `window` may be null.
    GatewayOutcome PollResponse(std::string& buffer, InFlightWindow* window);
    // The next sequence number, "%010d"; wraps to 1 after the largest 32-bit value.
    std::string NextSequence();
    // Sends a request for 20 numbers for the current route without waiting → Ok or Failed.
    GatewayOutcome RequestTransSerialsAsync();
    SerialPool& Serials() { return serials_.pool(); }

    // Permissions (the interactive handle).
    // The query's answer in `buffer` → Ok with its payload length, or what failed.
    PayloadAnswer QueryPermissions(std::string& buffer);
    // Reloads the connection's permission table (logging in first when needed); true when
    // at least one entry arrived. A failed load leaves the table as it was.
    bool LoadPermissions();
    // True when allowed; loads the list first when needed.
    bool CheckPermission(const std::string& service, const std::string& function,
                         const std::string& organisation);

    bool IsLoggedIn() const { return identity_.loggedIn; }
    bool PermissionsLoaded() const { return permissions_.loaded(); }
    const PermissionTable& Permissions() const { return permissions_; }
    const std::string& LoginCode() const { return identity_.loginCode; }
    const Context& context() const { return context_; }
    const GatewayEntry& CurrentGateway() const { return current_; }
    const std::vector<GatewayEntry>& Gateways() const { return roster_.entries(); }
    // The current gateway's answer time-out in seconds (TimeOut; 90 when not positive).
    int AnswerTimeOut() const;

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

    const Context context_;
    GatewayProcessState& process_;

  private:
    void ReportLoginAttempt(const GatewayEntry& entry, bool succeeded, int tried);

    SessionIdentity identity_;
    LoginStateListener loginStateListener_;
    std::string password_;
    SerialSupply serials_;
    PermissionTable permissions_;
    GatewayRoster roster_;
    GatewayEntry current_;
    int connectTimeOut_ = kDefaultSelectTimeOut;
    FrameChannel channel_;
    TransactionClient transactions_;
    SerialRequests serialRequests_;
};

}  // namespace vantrel
