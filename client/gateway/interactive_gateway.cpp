#include "client/gateway/interactive_gateway.h"

namespace vantrel {

bool InteractiveGateway::login(const LoginRequest& request, const std::string& operatorCode,
                               const std::string& password) {
    process_.setProduct(request.productId, request.clientVersion);
    handle_.DropIfLoggedIn();
    handle_.SetGatewayList(request.gateways, request.gateType, process_.lastLogin().userCode,
                           operatorCode, password);
    const bool loggedIn = handle_.LoginToGateway() == 1;
    process_.reloginNotice = loggedIn ? 1 : 0;
    if (handle_.context().notifier != nullptr)
        handle_.context().notifier->post(LoginStateChanged{loggedIn});
    return loggedIn;
}

}  // namespace vantrel
