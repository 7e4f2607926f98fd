#include "client/gateway/interactive_gateway.h"

namespace vantrel {

InteractiveGateway::InteractiveGateway(const Context& context) : handle_(context, process_) {
    Notifier* notifier = context.notifier;
    handle_.SetLoginStateListener([this, notifier](bool loggedIn) {
        process_.reloginNotice = loggedIn ? 1 : 0;
        if (notifier != nullptr) notifier->post(LoginStateChanged{loggedIn});
    });
}

bool InteractiveGateway::login(const LoginRequest& request, const std::string& operatorCode,
                               const std::string& password) {
    process_.setProduct(request.productId, request.clientVersion);
    handle_.DropIfLoggedIn();
    handle_.SetGatewayList(request.gateways, request.gateType, process_.lastLogin().userCode,
                           operatorCode, password);
    return handle_.LoginToGateway();
}

}  // namespace vantrel
