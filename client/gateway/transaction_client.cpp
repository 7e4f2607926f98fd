#include "client/gateway/transaction_client.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "client/gateway/login_digest.h"
#include "client/gateway/text_format.h"
#include "platform/text_codec.h"

namespace vantrel {

namespace {
constexpr int kStrictWaits = 90;
// Answers passed over while one is awaited: more than a transfer window ever leaves behind.
constexpr int kMaxPassedAnswers = 256;
constexpr int kPermissionPayload = 225;
constexpr int kPermissionOperatorField = 40;
}  // namespace

std::string routeText(const Route& route) {
    return trimmed(route.organisation) + "-" + trimmed(route.service) + "-" +
           trimmed(route.function);
}

TransactionClient::TransactionClient(FrameChannel& channel, CSocketConnect& link,
                                     SerialSupply& serials, const SessionIdentity& identity,
                                     std::function<void()> drop)
    : channel_(channel),
      link_(link),
      serials_(serials),
      identity_(identity),
      drop_(std::move(drop)) {}

std::string TransactionClient::nextSequence() {
    std::lock_guard lock(sequenceLock_);
    long long current = std::strtoll(sequence_.c_str(), nullptr, 10);
    current = std::clamp<long long>(current, INT_MIN, INT_MAX);
    if (current >= INT_MAX) current = 0;
    sequence_ = formatText("%010d", static_cast<int>(current + 1));
    return sequence_;
}

GatewayOutcome TransactionClient::buildRequest(std::string_view code, const std::string& serial,
                                               char serialFlag, int payloadLength,
                                               std::string& buffer) {
    if (payloadLength < 0 || static_cast<std::uint32_t>(payloadLength) > frame::kMaxBodyLength ||
        code.size() != 2) {
        link_.SetLastError(formatText("交易请求参数不合法[%d]", payloadLength));
        return GatewayOutcome::BadArguments;
    }
    const std::uint32_t body = static_cast<std::uint32_t>(payloadLength) + frame::kRecordSize + 2;
    buffer.assign(frame::kPayloadOffset + static_cast<std::size_t>(payloadLength), '\0');
    frame::writeHeader(buffer.data(), body, body);
    buffer.replace(frame::kCodeOffset, 2, code);
    lastRequestSequence_ = nextSequence();
    TransactionRequestRecord record{serial,
                                    lastRequestSequence_,
                                    route_.organisation,
                                    route_.service,
                                    route_.function,
                                    identity_.userCode,
                                    identity_.operatorCode,
                                    formatText("%09d", payloadLength),
                                    std::string(1, serialFlag)};
    std::string encoded = encode(record);
    buffer.replace(frame::kRecordOffset, encoded.size(), encoded);
    return GatewayOutcome::Ok;
}

GatewayOutcome TransactionClient::refuse(const TransactionResponseRecord& response, bool polled) {
    const std::string& code = response.returnCode;
    const std::string message = trimmed(response.message);
    const GatewayOutcome outcome = outcomeOfReturnCode(code, polled);
    if (outcome == GatewayOutcome::NewSession) {
        serials_.emptyPool();
        return outcome;
    }
    if (code == "0015" || code == "E001") {
        link_.SetLastError(formatText("%s-%s[%s-%s-%s]", code.c_str(), message.c_str(),
                                      trimmed(response.organisation).c_str(),
                                      trimmed(response.service).c_str(),
                                      trimmed(response.function).c_str()));
        return GatewayOutcome::Refused;
    }
    link_.SetLastError(formatText("返回代码:%s-%s", code.c_str(), message.c_str()));
    // The gateway voided the session's numbers or ended the session: none may be used again.
    if (outcome != GatewayOutcome::Refused) serials_.emptyPool();
    return outcome;
}

GatewayOutcome TransactionClient::receiveResponse(std::string& buffer) {
    for (int passed = 0; passed < kMaxPassedAnswers; ++passed) {
        if (const GatewayOutcome got = channel_.readAnswer(buffer, kStrictWaits, true);
            got != GatewayOutcome::Ok) {
            return got;
        }
        if (frame::messageCode(buffer) == frame::kSerialAnswerCode) {
            // A block asked for earlier, without waiting: its numbers are kept for its route.
            (void)fileAwaitedSerials(buffer);
            continue;
        }
        TransactionResponseRecord response;
        (void)decode(std::string_view(buffer).substr(frame::kRecordOffset), response);
        // An answer to an earlier request nobody reads any more (a transfer that ended with
        // requests in flight) is not this one's.
        const std::string sequence = trimmed(response.sequence);
        if (!sequence.empty() && sequence != lastRequestSequence_) continue;
        if (response.returnCode == "0000") return GatewayOutcome::Ok;
        return refuse(response, false);
    }
    buffer.clear();
    link_.SetLastError("接收交易应答数据失败[应答与请求不符]");
    drop_();
    return GatewayOutcome::Failed;
}

GatewayOutcome TransactionClient::pollResponse(std::string& buffer, InFlightWindow* window) {
    if (const GatewayOutcome got = channel_.readAnswer(buffer, 1, false);
        got != GatewayOutcome::Ok) {
        return got;
    }
    if (frame::messageCode(buffer) == frame::kSerialAnswerCode) return fileAwaitedSerials(buffer);
    TransactionResponseRecord response;
    (void)decode(std::string_view(buffer).substr(frame::kRecordOffset), response);
    if (response.returnCode == "0000") return GatewayOutcome::Ok;
    if (window != nullptr) window->releaseSlot(trimmed(response.serial));
    return refuse(response, true);
}

GatewayOutcome TransactionClient::fileAwaitedSerials(const std::string& answerPacket) {
    SerialAnswerRecord answer;
    (void)decode(std::string_view(answerPacket).substr(frame::kRecordOffset), answer);
    const Route target = serials_.answeredRoute(route_);
    const std::string route = routeText(target);
    if (answer.returnCode == "0000") {
        if (!AddSerialBlock(serials_.pool(), target, answer)) {
            link_.SetLastError(
                formatText("批量申请交易序列号[%s]失败-应答数据不合法!", route.c_str()));
            drop_();
            return GatewayOutcome::Failed;
        }
        return GatewayOutcome::SerialBlockFiled;
    }
    link_.SetLastError(formatText("批量申请交易序列号[%s]失败-[%s-%s]!", route.c_str(),
                                  answer.returnCode.c_str(), trimmed(answer.message).c_str()));
    const GatewayOutcome outcome = outcomeOfReturnCode(answer.returnCode, true);
    if (outcome != GatewayOutcome::Refused) serials_.emptyPool();
    return outcome;
}

PayloadAnswer TransactionClient::queryPermissions(std::string& buffer) {
    if (!identity_.loggedIn) {
        link_.SetLastError("系统未登录");
        return {GatewayOutcome::Failed};
    }
    const Route saved = route_;
    route_ = Route{"GATE_MANAGER", "OPERATOR_MANAGER", "11"};
    std::string request;
    (void)buildRequest(frame::kPermissionCode, "", '0', kPermissionPayload, request);
    route_ = saved;
    std::string payload =
        platform::utf8ToGbkLossy(fixedWidth(identity_.operatorCode, kPermissionOperatorField));
    payload.resize(kPermissionPayload, ' ');
    request.replace(frame::kPayloadOffset, payload.size(), payload);
    if (const GatewayOutcome sent =
            channel_.send(request.data(), static_cast<int>(request.size()), true);
        sent != GatewayOutcome::Ok) {
        return {sent};
    }
    if (const GatewayOutcome got = channel_.readPacket(buffer); got != GatewayOutcome::Ok) {
        return {got};
    }
    TransactionResponseRecord response;
    if (!decode(std::string_view(buffer).substr(std::min(buffer.size(), frame::kRecordOffset)),
                response)) {
        link_.SetLastError(formatText("接收交易应答数据失败[应答长度%zu不足]", buffer.size()));
        drop_();
        return {GatewayOutcome::Failed};
    }
    if (response.returnCode != "0000") {
        link_.SetLastError(trimmed(response.message));
        return {GatewayOutcome::Refused};
    }
    const long length = std::strtol(trimmed(response.payloadLength).c_str(), nullptr, 10);
    return {GatewayOutcome::Ok, static_cast<std::size_t>(std::clamp<long>(length, 0, INT_MAX))};
}

}  // namespace vantrel
