#pragma once
// The application's interactive gateway handle together with the process-wide gateway
// state it reports into: what the login flow, the mailbox browser and the permission
// check use. Front ends (the GUI's login dialog, the command line) ask the operator for
// the password; the steps after that are here. GUI thread only.

#include <string>

#include "client/base/startup_steps.h"
#include "client/base/context.h"
#include "client/gateway/gateway_process.h"
#include "client/gateway/vorn_ftp.h"

namespace vantrel {

class InteractiveGateway final : public InteractiveSession {
  public:
    // `context`'s pointees must outlive this object.
    explicit InteractiveGateway(const Context& context);

    // Closes the connection; the window hears of it (LoginStateChanged).
    void disconnect() override { handle_.Disconnect(); }

    // Drops a previous session, hands the gateway list, mode and codes to the handle and
    // logs in with fail-over. True when logged in; else the reason is handle().LastError().
    //
    // The window hears of the handle's real state from here alone, whoever used the
    // handle: every login that succeeds (the re-login notice is set then, and an automatic
    // login of a service counts) and every drop of a logged-in connection post
    // LoginStateChanged.
    bool login(const LoginRequest& request, const std::string& operatorCode,
               const std::string& password);

    CVornFtp& handle() { return handle_; }
    GatewayProcessState& process() { return process_; }

  private:
    GatewayProcessState process_;
    CVornFtp handle_;
};

}  // namespace vantrel
