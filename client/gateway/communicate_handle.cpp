#include "client/gateway/communicate_handle.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "client/base/logs.h"
#include "client/gateway/login_digest.h"
#include "client/gateway/text_format.h"

namespace vantrel {

namespace {

constexpr int kDefaultAnswerTimeOut = 90;

// The integer a text starts with ("30s" gives 30); 0 when it starts with no digit.
long leadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = i < text.size() && text[i] == '-';
    if (negative || (i < text.size() && text[i] == '+')) ++i;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<long>(value * 10 + (text[i] - '0'), INT_MAX);
    }
    return negative ? -value : value;
}

Route trimmedRoute(const std::string& organisation, const std::string& service,
                   const std::string& function) {
    return Route{trimmed(organisation), trimmed(service), trimmed(function)};
}

}  // namespace

CCommunicateHandle::CCommunicateHandle(const Context& context, GatewayProcessState& process)
    : context_(context),
      process_(process),
      channel_(
          *this, context.clock, [this] { return AnswerTimeOut(); }, [this] { DropIfLoggedIn(); }),
      transactions_(channel_, *this, serials_, identity_, [this] { DropIfLoggedIn(); }),
      serialRequests_(transactions_, channel_, *this, serials_, identity_,
                      [this] { DropIfLoggedIn(); }) {
    SetStopQuery([&process] { return process.shouldStop(); });
}

CCommunicateHandle::~CCommunicateHandle() = default;

void CCommunicateHandle::WriteSysLog(const std::string& line) {
    if (context_.logs != nullptr) context_.logs->writeSysLog(line);
}

// ---- connection and login ------------------------------------------------------------

void CCommunicateHandle::Disconnect() {
    Close();
    ForgetConnection();
    process_.loggedInNotice = 0;
    process_.reloginNotice = 0;
    SetLoggedIn(false);
}

void CCommunicateHandle::SetLoggedIn(bool loggedIn) {
    const bool changed = identity_.loggedIn != loggedIn;
    identity_.loggedIn = loggedIn;
    if (changed && loginStateListener_) loginStateListener_(loggedIn);
}

void CCommunicateHandle::DropIfLoggedIn() {
    if (identity_.loggedIn) Disconnect();
}

void CCommunicateHandle::SetGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                                        const std::string& userCode,
                                        const std::string& operatorCode,
                                        const std::string& password) {
    roster_.set(gateways, mode);
    connectTimeOut_ = CConfig(context_.installation).readSelectTimeOut();
    identity_.userCode = fixedWidth(userCode, 8);
    identity_.operatorCode = fixedWidth(operatorCode, 8);
    password_ = fixedWidth(password, 8);
}

void CCommunicateHandle::ReportLoginAttempt(const GatewayEntry& entry, bool succeeded, int tried) {
    const char* modeText = roster_.modeText();
    if (succeeded) {
        if (tried > 0) ++process_.failovers;
        WriteSysLog(formatText("用户登录网关(%s)[%s/%s]成功", modeText, entry.address.c_str(),
                               entry.port.c_str()));
        return;
    }
    WriteSysLog(formatText("用户登录网关(%s)[%s/%s]失败，失败原因：%s", modeText,
                           entry.address.c_str(), entry.port.c_str(), lastError_.c_str()));
    ++process_.loginFailures;
}

bool CCommunicateHandle::LoginToGateway() {
    if (identity_.loggedIn) return true;
    if (roster_.entries().empty()) lastError_ = "没有可用的网关地址/端口!";
    int tried = 0;
    return roster_.failOver(
        [this](const GatewayEntry& entry) {
            current_ = entry;
            return Login();
        },
        [this, &tried](const GatewayEntry& entry, bool succeeded) {
            ReportLoginAttempt(entry, succeeded, tried++);
        });
}

bool CCommunicateHandle::Login() {
    if (identity_.loggedIn) return true;
    // Numbers and awaited blocks of an earlier connection are void on this one.
    ForgetConnection();
    channel_.clearLostByPeer();
    if (Connect(current_.address, static_cast<int>(leadingInteger(current_.port)),
                connectTimeOut_) != GatewayOutcome::Ok) {
        return false;
    }
    const OperatorCredentials credentials{identity_.operatorCode, password_, process_.productId(),
                                          process_.clientVersion()};
    OperatorSession session;
    switch (OperatorLogin(channel_, *this).run(credentials, session)) {
        case LoginVerdict::Failed:
            Disconnect();
            return false;
        case LoginVerdict::Refused:
            return false;
        case LoginVerdict::Accepted:
            break;
    }
    process_.recordLogin(session.facts);
    identity_.userCode = session.facts.userCode;
    identity_.loginCode = session.loginCode;
    SetLoggedIn(true);
    return true;
}

int CCommunicateHandle::AnswerTimeOut() const {
    long seconds = leadingInteger(current_.timeOut);
    return seconds >= 1 ? static_cast<int>(seconds) : kDefaultAnswerTimeOut;
}

// ---- frames and transactions ---------------------------------------------------------

GatewayOutcome CCommunicateHandle::SendPacket(const char* data, int length, bool encrypt) {
    return channel_.send(data, length, encrypt);
}

GatewayOutcome CCommunicateHandle::ReceivePacket(std::string& buffer) {
    return channel_.readPacket(buffer);
}

void CCommunicateHandle::SetRoute(const std::string& organisation, const std::string& service,
                                  const std::string& function) {
    transactions_.setRoute(trimmedRoute(organisation, service, function));
}

std::string CCommunicateHandle::NextSequence() {
    return transactions_.nextSequence();
}

GatewayOutcome CCommunicateHandle::BuildRequest(std::string_view code, const std::string& serial,
                                                char serialFlag, int payloadLength,
                                                std::string& buffer) {
    return transactions_.buildRequest(code, serial, serialFlag, payloadLength, buffer);
}

GatewayOutcome CCommunicateHandle::ReceiveResponse(std::string& buffer) {
    return transactions_.receiveResponse(buffer);
}

GatewayOutcome CCommunicateHandle::PollResponse(std::string& buffer, InFlightWindow* window) {
    return transactions_.pollResponse(buffer, window);
}

// ---- serial numbers ------------------------------------------------------------------------

GatewayOutcome CCommunicateHandle::RequestTransSerials(const std::string& organisation,
                                                       const std::string& service,
                                                       const std::string& function, int count,
                                                       SerialPool& pool) {
    return serialRequests_.requestBlock(Route{organisation, service, function}, count, pool);
}

GatewayOutcome CCommunicateHandle::GetTransSerial(const std::string& organisation,
                                                  const std::string& service,
                                                  const std::string& function, std::string& serial,
                                                  char& flag) {
    return serialRequests_.requestOne(Route{organisation, service, function}, serial, flag);
}

GatewayOutcome CCommunicateHandle::RequestTransSerialsAsync() {
    return serialRequests_.requestBlockAsync();
}

// ---- permissions ---------------------------------------------------------------------------

PayloadAnswer CCommunicateHandle::QueryPermissions(std::string& buffer) {
    return transactions_.queryPermissions(buffer);
}

bool CCommunicateHandle::LoadPermissions() {
    // A failed load leaves the list as it was.
    if (!identity_.loggedIn && !LoginToGateway()) {
        WriteSysLog(formatText("通用句柄登录失败,失败原因:%s!", lastError_.c_str()));
        return false;
    }
    std::string answer;
    const PayloadAnswer got = QueryPermissions(answer);
    if (!got.ok()) {
        WriteSysLog(formatText("获取用户权限失败,失败原因:%s", lastError_.c_str()));
        return false;
    }
    return permissions_.load(answer, got.payloadLength);
}

bool CCommunicateHandle::CheckPermission(const std::string& service, const std::string& function,
                                         const std::string& organisation) {
    if (!permissions_.loaded()) LoadPermissions();
    return permissions_.allows(service, function, organisation);
}

}  // namespace vantrel
