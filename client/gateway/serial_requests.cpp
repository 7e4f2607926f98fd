#include "client/gateway/serial_requests.h"

#include <algorithm>

#include "client/gateway/text_format.h"

namespace vantrel {

namespace {
constexpr int kAsyncSerialCount = 20;
constexpr int kMaxSerialCount = 9999;
// Answers passed over while one is awaited: more than a transfer window ever leaves behind.
constexpr int kMaxPassedAnswers = 256;

Route trimmedRoute(const Route& route) {
    return Route{trimmed(route.organisation), trimmed(route.service), trimmed(route.function)};
}
}  // namespace

std::string serialRequestPacket(const std::string& loginCode, const Route& route, int count,
                                const std::string& sequence) {
    std::string packet(frame::kRecordOffset, '\0');
    frame::writeHeader(packet.data(), frame::kRecordSize + 2, frame::kRecordSize + 2);
    packet.replace(frame::kCodeOffset, 2, frame::kSerialRequestCode);
    packet += encode(SerialRequestRecord{
        loginCode, route.organisation, route.service, route.function.substr(0, 2),
        formatText("%04d", std::min(count, kMaxSerialCount)), sequence});
    return packet;
}

SerialRequests::SerialRequests(TransactionClient& transactions, FrameChannel& channel,
                               CSocketConnect& link, SerialSupply& serials,
                               const SessionIdentity& identity, std::function<void()> drop)
    : transactions_(transactions),
      channel_(channel),
      link_(link),
      serials_(serials),
      identity_(identity),
      drop_(std::move(drop)) {}

GatewayOutcome SerialRequests::failBadAnswer(const std::string& route) {
    link_.SetLastError(formatText("批量申请交易序列号[%s]失败-应答数据不合法!", route.c_str()));
    drop_();
    return GatewayOutcome::Failed;
}

GatewayOutcome SerialRequests::requestBlock(const Route& route, int count, SerialPool& pool) {
    const std::string text = routeText(route);
    if (!identity_.loggedIn) {
        link_.SetLastError(formatText("批量申请交易序列号[%s]-系统未登录!", text.c_str()));
        return GatewayOutcome::Failed;
    }
    if (count <= 0) {
        link_.SetLastError(
            formatText("批量申请交易序列号[%s]-申请数量[%d]不合法!", text.c_str(), count));
        return GatewayOutcome::Failed;
    }
    return exchangeBlock(trimmedRoute(route), count, pool);
}

GatewayOutcome SerialRequests::exchangeBlock(const Route& target, int count, SerialPool& pool) {
    const std::string route = routeText(target);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string request =
            serialRequestPacket(identity_.loginCode, target, count, transactions_.nextSequence());
        std::string answerPacket;
        if (channel_.send(request.data(), static_cast<int>(request.size()), true) !=
                GatewayOutcome::Ok ||
            receiveAnswer(answerPacket) != GatewayOutcome::Ok) {
            drop_();
            link_.SetLastError(formatText("批量申请交易序列号[%s]失败-%s!", route.c_str(),
                                          link_.LastError().c_str()));
            return GatewayOutcome::Failed;
        }
        SerialAnswerRecord answer;
        if (!decode(std::string_view(answerPacket)
                        .substr(std::min(answerPacket.size(), frame::kRecordOffset)),
                    answer)) {
            return failBadAnswer(route);
        }
        if (answer.returnCode == "0000") {
            if (target.key().empty()) {
                link_.SetLastError(
                    formatText("批量申请交易序列号[%s]失败-路由为空!", route.c_str()));
                return GatewayOutcome::Failed;
            }
            if (!AddSerialBlock(pool, target, answer)) return failBadAnswer(route);
            return GatewayOutcome::Ok;
        }
        // The gateway voided the session's numbers: forget them and ask once more.
        if (outcomeOfReturnCode(answer.returnCode, false) == GatewayOutcome::SerialsVoided &&
            attempt == 0) {
            pool.clear();
            continue;
        }
        link_.SetLastError(formatText("批量申请交易序列号[%s]失败-[%s-%s]!", route.c_str(),
                                      answer.returnCode.c_str(), trimmed(answer.message).c_str()));
        return GatewayOutcome::Refused;
    }
    return GatewayOutcome::Refused;
}

GatewayOutcome SerialRequests::receiveAnswer(std::string& answerPacket) {
    // Blocks asked for earlier without waiting are answered first, in order.
    std::size_t earlier = serials_.awaitedBlocks();
    for (int passed = 0; passed < kMaxPassedAnswers; ++passed) {
        if (const GatewayOutcome got = channel_.readPacket(answerPacket);
            got != GatewayOutcome::Ok) {
            return got;
        }
        const std::string_view code = frame::messageCode(answerPacket);
        // An answer to an earlier transaction nobody reads any more.
        if (code == frame::kFileServiceCode || code == frame::kPermissionCode) continue;
        if (earlier == 0) return GatewayOutcome::Ok;
        --earlier;
        (void)transactions_.fileAwaitedSerials(answerPacket);
    }
    link_.SetLastError("接收交易应答数据失败[应答与请求不符]");
    return GatewayOutcome::Failed;
}

GatewayOutcome SerialRequests::requestOne(const Route& route, std::string& serial, char& flag) {
    const std::string text = routeText(route);
    if (!identity_.loggedIn) {
        link_.SetLastError(formatText("申请交易序列号[%s]-系统未登录!", text.c_str()));
        return GatewayOutcome::Failed;
    }
    SerialPool fresh;
    if (const GatewayOutcome got = requestBlock(route, 1, fresh); got != GatewayOutcome::Ok) {
        link_.SetLastError(formatText("申请交易序列号[%s]-申请交易序列号失败[%s]!", text.c_str(),
                                      link_.LastError().c_str()));
        return got;
    }
    return TakeSerial(fresh, trimmedRoute(route), serial, flag) == 0 ? GatewayOutcome::Ok
                                                                     : GatewayOutcome::Failed;
}

GatewayOutcome SerialRequests::requestBlockAsync() {
    const Route& route = transactions_.route();
    const std::string text = routeText(route);
    if (!identity_.loggedIn) {
        link_.SetLastError(formatText("批量申请交易序列号[%s]-系统未登录!", text.c_str()));
        return GatewayOutcome::Failed;
    }
    std::lock_guard lock(batchLock_);
    const std::string request = serialRequestPacket(identity_.loginCode, route, kAsyncSerialCount,
                                                    transactions_.nextSequence());
    if (channel_.send(request.data(), static_cast<int>(request.size()), true) !=
        GatewayOutcome::Ok) {
        drop_();
        link_.SetLastError(
            formatText("批量申请交易序列号[%s]失败-%s!", text.c_str(), link_.LastError().c_str()));
        return GatewayOutcome::Failed;
    }
    serials_.awaitBlock(route);
    return GatewayOutcome::Ok;
}

}  // namespace vantrel
