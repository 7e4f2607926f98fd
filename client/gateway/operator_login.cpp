#include "client/gateway/operator_login.h"

#include "client/gateway/login_digest.h"
#include "client/gateway/text_format.h"
#include "platform/text_codec.h"

namespace vantrel {

namespace {
constexpr int kStrictWaits = 90;
constexpr int kChallengeSize = 16;
}  // namespace

std::string loginRequestPacket(const std::string& operatorCode, const std::string& passwordDigest,
                               const std::string& productId, const std::string& clientVersion) {
    std::string packet(frame::kRecordOffset, '\0');
    frame::writeHeader(packet.data(), frame::kRecordSize + 2, frame::kRecordSize + 2,
                       frame::HeaderForm::Login);
    packet.replace(frame::kCodeOffset, 2, frame::kLoginCode);
    packet += encode(LoginRequestRecord{operatorCode, passwordDigest, productId, clientVersion});
    return packet;
}

LoginVerdict OperatorLogin::run(const OperatorCredentials& credentials, OperatorSession& session) {
    char challenge[kChallengeSize + 1] = {};
    GatewayOutcome got = channel_.receive(kStrictWaits, challenge, kChallengeSize, true);
    if (got != GatewayOutcome::Ok) {
        if (got == GatewayOutcome::PeerClosed) {
            link_.SetLastError("网关主动关闭连接（用户名或密码不正确）");
        } else if (got == GatewayOutcome::TimedOut) {
            link_.SetLastError("等待接收登录应答TXB数据超时!");
        } else {
            link_.SetLastError("从网关接收HASH数据失败[" + link_.LastError() + "]");
        }
        return LoginVerdict::Failed;
    }
    const LoginDigest digest =
        computeLoginDigest(platform::utf8ToGbkLossy(credentials.password),
                           platform::utf8ToGbkLossy(credentials.operatorCode),
                           std::string_view(challenge, kChallengeSize));
    channel_.setSessionKey(digest.sessionKey);

    const std::string packet = loginRequestPacket(credentials.operatorCode, digest.h2,
                                                  credentials.productId, credentials.clientVersion);
    if (channel_.send(packet.data(), static_cast<int>(packet.size()), false) !=
        GatewayOutcome::Ok) {
        link_.SetLastError("发送操作员登录请求数据失败[" + link_.LastError() + "]!");
        return LoginVerdict::Failed;
    }
    std::string answer;
    got = channel_.readPacket(answer);
    if (got != GatewayOutcome::Ok) {
        if (got == GatewayOutcome::PeerClosed) {
            link_.SetLastError("网关主动关闭连接（用户名或密码不正确）!");
        } else if (got == GatewayOutcome::TimedOut) {
            link_.SetLastError("等待接收登录应答数据超时!");
        } else {
            link_.SetLastError("接收登录应答数据失败:" + link_.LastError());
        }
        return LoginVerdict::Failed;
    }
    LoginAnswerRecord record;
    if (Status s = decode(std::string_view(answer).substr(frame::kRecordOffset), record); !s) {
        link_.SetLastError("接收登录应答数据失败:" + s.text());
        return LoginVerdict::Failed;
    }
    if (record.status != "S" && record.status != "s") {
        link_.SetLastError(trimmed(record.message));
        return LoginVerdict::Refused;
    }
    session.facts = {record.businessDate, record.gatewayTime, record.userCode};
    session.loginCode = record.loginCode;
    return LoginVerdict::Accepted;
}

}  // namespace vantrel
