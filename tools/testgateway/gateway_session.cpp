// The gateway side of one client connection: challenge, login, then encrypted
// transactions until the client leaves, the server stops or a fault switch drops it.

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <optional>
#include <random>
#include <thread>

#include "client/gateway/login_digest.h"
#include "client/gateway/text_format.h"
#include "platform/text_codec.h"
#include "tools/testgateway/connection_io.h"
#include "tools/testgateway/sessions.h"

namespace vantrel::testgateway {

namespace {

constexpr std::size_t kLoginBodyLimit = 4096;

std::string makeChallenge() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kAlphabet) - 2);
    std::string challenge(16, ' ');
    for (char& c : challenge) c = kAlphabet[pick(random)];
    return challenge;
}

void delayAnswer(const FaultSwitches& faults) {
    int ms = faults.answerDelayMs.load();
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string fourDigits(int n) {
    return formatText("%04d", n);
}

std::string routeText(const std::string& organisation, const std::string& service,
                      const std::string& function) {
    return trimmed(organisation) + "/" + trimmed(service) + "/" + trimmed(function);
}

// The 16 digits of a serial number; nothing when the field is not one.
std::optional<std::uint64_t> serialNumber(const std::string& field) {
    const std::string digits = trimmed(field);
    if (digits.size() != 16) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

class GatewaySession {
  public:
    GatewaySession(TestGateway::Shared& shared, platform::TcpSocket socket)
        : shared_(shared), socket_(std::move(socket)), io_(socket_, shared.stopping) {
        shared_.addLive(&socket_);
    }
    ~GatewaySession() { shared_.removeLive(&socket_); }
    GatewaySession(const GatewaySession&) = delete;
    GatewaySession& operator=(const GatewaySession&) = delete;

    void run() {
        ++shared_.counters.connections;
        if (!login()) return;
        int packets = 0;
        std::string packet;
        while (io_.readPacket(packet, frame::kMaxBodyLength)) {
            ++packets;
            const int dropAfter = shared_.faults.dropAfterPackets.load();
            if (dropAfter > 0 && packets >= dropAfter) return;
            if (!frame::decryptBody(packet, key_, scratch_)) return;
            if (packet.size() < frame::kPayloadOffset) return;
            ++shared_.counters.transactions;
            const std::string failure = shared_.faults.takeFailure();
            delayAnswer(shared_.faults);
            const std::string code(frame::messageCode(packet));
            Delivery delivery = Delivery::kWhole;
            std::string& answer = code == frame::kSerialRequestCode
                                      ? serialAnswer(packet, failure)
                                      : transactionAnswer(packet, code, failure, delivery);
            if (answer.empty() || !deliver(answer, delivery)) return;
        }
    }

  private:
    // A packet in `sealed_`: standard header, code, body (the pieces one after the other),
    // encrypted under the session key. The session's buffers are reused for every answer,
    // so answers of up to 2 MiB do not take fresh memory each time.
    std::string& seal(std::string_view code, std::initializer_list<std::string_view> body) {
        std::size_t length = 2;
        for (std::string_view piece : body) length += piece.size();
        sealed_.resize(frame::kHeaderSize + length);
        frame::writeHeader(sealed_.data(), static_cast<std::uint32_t>(length),
                           static_cast<std::uint32_t>(length));
        char* at = sealed_.data() + frame::kCodeOffset;
        at = std::copy(code.begin(), code.end(), at);
        for (std::string_view piece : body) at = std::copy(piece.begin(), piece.end(), at);
        (void)frame::encryptBody(sealed_, key_, scratch_);
        return sealed_;
    }

    // Sends `answer` as `delivery` says; false when the connection is to end.
    bool deliver(std::string& answer, Delivery delivery) {
        switch (delivery) {
            case Delivery::kWhole:
                return io_.writeAll(answer);
            case Delivery::kDrop:
                return false;
            case Delivery::kUndecryptable: {
                // A plain length the ciphertext cannot hold fails every decryption.
                const auto cipher = static_cast<std::uint32_t>(answer.size() - frame::kHeaderSize);
                frame::writeHeader(answer.data(), cipher, cipher);
                return io_.writeAll(answer);
            }
            case Delivery::kHalfThenStall:
                answer.resize(answer.size() / 2);
                break;
            case Delivery::kLongerThanSent: {
                const std::uint32_t declared = frame::readBodyLength(answer.data()) + (1u << 20);
                frame::writeHeader(answer.data(), declared, frame::readPlainLength(answer.data()));
                break;
            }
        }
        if (!io_.writeAll(answer)) return false;
        // Stall: read and ignore whatever comes until the client or the server ends it.
        std::string ignored;
        while (io_.readExactly(1, ignored)) ignored.clear();
        return false;
    }

    bool login() {
        const std::string challenge = makeChallenge();
        if (!io_.writeAll(challenge)) return false;
        std::string request;
        if (!io_.readPacket(request, kLoginBodyLimit)) return false;
        LoginRequestRecord record;
        if (frame::messageCode(request) != frame::kLoginCode ||
            !decode(std::string_view(request).substr(frame::kRecordOffset), record)) {
            return false;
        }
        op_ = shared_.settings.findOperator(trimmed(record.operatorCode));
        const std::string operatorWire = request.substr(frame::kRecordOffset, 8);
        if (op_ != nullptr) {
            LoginDigest digest = computeLoginDigest(platform::utf8ToGbkLossy(op_->password),
                                                    operatorWire, challenge);
            if (digest.h2 == record.passwordDigest) {
                key_ = digest.sessionKey;
            } else {
                op_ = nullptr;
            }
        }
        // A wrong password or an unknown operator: the gateway just hangs up.
        if (op_ == nullptr) {
            ++shared_.counters.refusedLogins;
            return false;
        }
        LoginAnswerRecord answer;
        if (op_->refuse.empty()) {
            answer = {"S",
                      shared_.settings.businessDate,
                      shared_.settings.gatewayTime,
                      op_->loginCode,
                      op_->userCode,
                      ""};
        } else {
            answer.status = "F";
            answer.message = op_->refuse;
        }
        delayAnswer(shared_.faults);
        // Counted before the answer leaves, so a client that has its answer sees the count.
        if (op_->refuse.empty()) ++shared_.counters.logins;
        if (!io_.writeAll(seal(frame::kLoginCode, {encode(answer)}))) return false;
        return op_->refuse.empty();
    }

    std::string& serialAnswer(const std::string& packet, const std::string& failure) {
        ++shared_.counters.serialRequests;
        SerialRequestRecord request;
        (void)decode(std::string_view(packet).substr(frame::kRecordOffset), request);
        int count = 0;
        for (char c : trimmed(request.count)) {
            if (c < '0' || c > '9') {
                sealed_.clear();
                return sealed_;
            }
            count = count * 10 + (c - '0');
        }
        SerialAnswerRecord answer;
        answer.text = "TXID0001";
        if (!failure.empty()) {
            answer.returnCode = failure;
            answer.message = failureMessage(failure);
        } else if (count < 1) {
            answer.returnCode = "0005";
            answer.message = "申请数量不合法";
        } else {
            answer.returnCode = "0000";
            const std::string route =
                routeText(request.organisation, request.service, request.function);
            answer.firstSerial = formatText(
                "%016llu", static_cast<unsigned long long>(shared_.takeSerials(count, route)));
            answer.serialFlag = std::string(1, shared_.settings.serialFlag);
            answer.count = fourDigits(count);
        }
        return seal(frame::kSerialAnswerCode, {encode(answer)});
    }

    std::string& transactionAnswer(const std::string& packet, const std::string& code,
                                   const std::string& failure, Delivery& delivery) {
        TransactionRequest request;
        request.code = code;
        (void)decode(std::string_view(packet).substr(frame::kRecordOffset), request.record);
        request.payload = packet.substr(frame::kPayloadOffset);
        request.op = op_;

        TransactionAnswer answer;
        // Every transaction but the permission query spends a serial number of its route.
        const std::string misuse =
            code == frame::kPermissionCode
                ? std::string()
                : shared_.useSerial(request.record.serial,
                                    routeText(request.record.organisation, request.record.service,
                                              request.record.function));
        if (!failure.empty()) {
            answer.returnCode = failure;
            answer.message = failureMessage(failure);
        } else if (!misuse.empty()) {
            answer.returnCode = "0014";
            answer.message = failureMessage("0014");
        } else if (code == frame::kPermissionCode) {
            ++shared_.counters.permissionQueries;
            for (const auto& p : op_->permissions) answer.payload += encode(p);
        } else {
            bool answered = false;
            for (const auto& service : shared_.services) {
                if (auto a = service->handle(request)) {
                    answer = std::move(*a);
                    answered = true;
                    break;
                }
            }
            if (!answered) {
                answer.returnCode = "9999";
                answer.message = "不支持的交易[" + code + "]";
            }
        }
        delivery = answer.delivery;
        TransactionResponseRecord response{request.record.serial,
                                           request.record.sequence,
                                           request.record.organisation,
                                           request.record.service,
                                           request.record.function,
                                           answer.returnCode,
                                           formatText("%09zu", answer.payload.size()),
                                           answer.message};
        return seal(answer.code.empty() ? code : answer.code, {encode(response), answer.payload});
    }

    TestGateway::Shared& shared_;
    platform::TcpSocket socket_;
    ConnectionIo io_;
    const OperatorSettings* op_ = nullptr;
    frame::SessionKey key_{};
    std::string sealed_;
    std::string scratch_;
};

}  // namespace

std::string failureMessage(const std::string& returnCode) {
    if (returnCode == "E999") return "会话已失效,请重新登录";
    if (returnCode == "E998") return "会话已超时,请重新登录";
    if (returnCode == "0014") return "交易序列号已失效";
    if (returnCode == "0015") return "无此交易权限";
    return "交易失败";
}

std::string TestGateway::Shared::useSerial(const std::string& serial, const std::string& route) {
    std::lock_guard lock(serialMutex);
    std::string violation;
    const std::optional<std::uint64_t> number = serialNumber(serial);
    auto it = number ? issued.find(*number) : issued.end();
    if (!number) {
        violation = "[" + serial + "] on " + route + ": not a serial number";
    } else if (it == issued.end()) {
        violation = "[" + trimmed(serial) + "] on " + route + ": never handed out";
    } else if (it->second.route != route) {
        violation = "[" + trimmed(serial) + "] on " + route + ": handed out for " + it->second.route;
    } else if (it->second.used) {
        violation = "[" + trimmed(serial) + "] on " + route + ": used before";
    } else {
        it->second.used = true;
    }
    if (!violation.empty()) violations_.push_back(violation);
    return violation;
}

void runGatewaySession(TestGateway::Shared& shared, platform::TcpSocket socket) {
    GatewaySession(shared, std::move(socket)).run();
}

}  // namespace vantrel::testgateway
