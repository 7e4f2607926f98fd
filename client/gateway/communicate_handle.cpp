#include "client/gateway/communicate_handle.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "client/base/logs.h"
#include "client/gateway/login_digest.h"
#include "client/gateway/text_format.h"
#include "platform/text_codec.h"
#include "platform/thread_id.h"

namespace vantrel {

namespace {

constexpr int kStrictWaits = 90;
constexpr int kDefaultAnswerTimeOut = 90;
constexpr int kChallengeSize = 16;
constexpr int kAsyncSerialCount = 20;
constexpr int kMaxSerialCount = 9999;
constexpr int kPermissionPayload = 225;
constexpr int kPermissionOperatorField = 40;
// Answers passed over while one is awaited: more than a transfer window ever leaves behind.
constexpr int kMaxPassedAnswers = 256;

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

std::string wire(std::string_view utf8) {
    return platform::utf8ToGbkLossy(utf8);
}

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

CCommunicateHandle::CCommunicateHandle(const Context& context, GatewayProcessState& process)
    : context_(context), process_(process) {
    SetStopQuery([&process] { return process.shouldStop(); });
}

CCommunicateHandle::~CCommunicateHandle() = default;

void CCommunicateHandle::WriteSysLog(const std::string& line) {
    if (context_.logs != nullptr) context_.logs->writeSysLog(line);
}

std::string CCommunicateHandle::RouteText(const std::string& organisation,
                                          const std::string& service, const std::string& function) {
    return trimmed(organisation) + "-" + trimmed(service) + "-" + trimmed(function);
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
    const bool changed = loggedIn_ != loggedIn;
    loggedIn_ = loggedIn;
    if (changed && loginStateListener_) loginStateListener_(loggedIn);
}

void CCommunicateHandle::DropIfLoggedIn() {
    if (loggedIn_) Disconnect();
}

void CCommunicateHandle::SetGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                                        const std::string& userCode,
                                        const std::string& operatorCode,
                                        const std::string& password) {
    roster_.set(gateways, mode);
    connectTimeOut_ = CConfig(context_.installation).readSelectTimeOut();
    userCode_ = fixedWidth(userCode, 8);
    operatorCode_ = fixedWidth(operatorCode, 8);
    password_ = fixedWidth(password, 8);
}

int CCommunicateHandle::LoginToGateway() {
    if (loggedIn_) return 1;
    if (roster_.entries().empty()) lastError_ = "没有可用的网关地址/端口!";
    const char* modeText = roster_.modeText();
    int tried = 0;
    const bool loggedIn = roster_.failOver(
        [this](const GatewayEntry& entry) {
            current_ = entry;
            return Login() == 1;
        },
        [this, modeText, &tried](const GatewayEntry& entry, bool succeeded) {
            if (succeeded) {
                if (tried > 0) ++process_.failovers;
                WriteSysLog(formatText("用户登录网关(%s)[%s/%s]成功", modeText,
                                       entry.address.c_str(), entry.port.c_str()));
            } else {
                WriteSysLog(formatText("用户登录网关(%s)[%s/%s]失败，失败原因：%s", modeText,
                                       entry.address.c_str(), entry.port.c_str(),
                                       lastError_.c_str()));
                ++process_.loginFailures;
            }
            ++tried;
        });
    return loggedIn ? 1 : 0;
}

int CCommunicateHandle::Login() {
    if (loggedIn_) return 1;
    productId_ = process_.productId();
    clientVersion_ = process_.clientVersion();
    // Numbers and awaited blocks of an earlier connection are void on this one.
    ForgetConnection();
    lostByPeer_ = false;
    if (Connect(current_.address, static_cast<int>(leadingInteger(current_.port)),
                connectTimeOut_) != 0) {
        return 0;
    }

    char challenge[kChallengeSize + 1] = {};
    int rc = WaitAndReceive(kStrictWaits, challenge, kChallengeSize, true);
    if (rc < 0) {
        if (rc == -3) {
            lastError_ = "网关主动关闭连接（用户名或密码不正确）";
        } else if (rc == -9) {
            lastError_ = "等待接收登录应答TXB数据超时!";
        } else {
            lastError_ = "从网关接收HASH数据失败[" + lastError_ + "]";
        }
        Disconnect();
        return 0;
    }

    const LoginDigest digest = computeLoginDigest(wire(password_), wire(operatorCode_),
                                                  std::string_view(challenge, kChallengeSize));
    sessionKey_ = digest.sessionKey;

    const std::string packet =
        loginRequestPacket(operatorCode_, digest.h2, productId_, clientVersion_);
    if (SendPacket(packet.data(), static_cast<int>(packet.size()), false) != 0) {
        lastError_ = "发送操作员登录请求数据失败[" + lastError_ + "]!";
        Disconnect();
        return 0;
    }

    std::string answer;
    rc = ReceivePacket(answer);
    if (rc != 0) {
        if (rc == -3) {
            lastError_ = "网关主动关闭连接（用户名或密码不正确）!";
        } else if (rc == -9) {
            lastError_ = "等待接收登录应答数据超时!";
        } else {
            lastError_ = "接收登录应答数据失败:" + lastError_;
        }
        Disconnect();
        return 0;
    }
    LoginAnswerRecord record;
    if (Status s = decode(std::string_view(answer).substr(frame::kRecordOffset), record); !s) {
        lastError_ = "接收登录应答数据失败:" + s.text();
        Disconnect();
        return 0;
    }
    if (record.status != "S" && record.status != "s") {
        lastError_ = trimmed(record.message);
        return 0;
    }
    process_.recordLogin({record.businessDate, record.gatewayTime, record.userCode});
    userCode_ = record.userCode;
    loginCode_ = record.loginCode;
    SetLoggedIn(true);
    return 1;
}

// ---- packets ---------------------------------------------------------------------------

int CCommunicateHandle::AnswerTimeOut() const {
    long seconds = leadingInteger(current_.timeOut);
    return seconds >= 1 ? static_cast<int>(seconds) : kDefaultAnswerTimeOut;
}

int CCommunicateHandle::SendPacket(const char* data, int length, bool encrypt) {
    std::lock_guard lock(exchangeLock_);
    if (data == nullptr || length <= 0) {
        DropIfLoggedIn();
        return -1;
    }
    std::string work;
    try {
        work.reserve(frame::kHeaderSize + frame::encryptedSize(static_cast<std::size_t>(length)) +
                     128);
        work.assign(data, static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        lastError_ = "加密前申请临时缓冲区失败！";
        DropIfLoggedIn();
        return -1;
    }
    if (encrypt) {
        if (Status s = frame::encryptBody(work, sessionKey_); !s) {
            lastError_ = "文件加密出错,出错原因：" + s.text();
            DropIfLoggedIn();
            return -1;
        }
    }
    for (std::size_t at = 0; at < work.size();) {
        int piece = static_cast<int>(std::min(frame::kPiece, work.size() - at));
        if (SendData(work.data() + at, piece) != piece) {
            lostByPeer_ = true;
            DropIfLoggedIn();
            return -1;
        }
        at += static_cast<std::size_t>(piece);
    }
    return 0;
}

const platform::Clock& CCommunicateHandle::AnswerClock() const {
    return context_.clock ? *context_.clock : platform::RealClock::instance();
}

int CCommunicateHandle::WaitAndReceive(int waits, char* buffer, int length, bool strict) {
    platform::Tick deadline;
    return WaitAndReceiveFirst(waits, buffer, length, strict, deadline);
}

int CCommunicateHandle::WaitAndReceiveFirst(int waits, char* buffer, int length, bool strict,
                                            platform::Tick& deadline) {
    int rc = WaitForData(waits, strict);
    if (rc != 1) return rc;
    // The answer has begun: all of it must arrive within the answer time-out, so a gateway
    // that declares more than it sends cannot hold the connection for ever.
    deadline = AnswerClock().tick() + std::chrono::seconds(AnswerTimeOut());
    return RecvDataUntil(buffer, length, deadline, AnswerClock());
}

int CCommunicateHandle::ReceivePacket(std::string& buffer) {
    std::lock_guard lock(exchangeLock_);
    const int timeOut = AnswerTimeOut();
    for (int idle = 0;;) {
        int ready = socket_.isOpen() ? socket_.wait(platform::kReadable, 1000) : -EBADF;
        if (ready < 0) {
            lastError_ = formatText("select异常，错误代码:%d", -ready);
            DropIfLoggedIn();
            return -1;
        }
        if (ready != 0) break;
        // A shutdown must not wait for a silent gateway either.
        if (process_.shouldStop()) {
            lastError_ = kShutdownText;
            DropIfLoggedIn();
            return kShuttingDown;
        }
        if (++idle >= timeOut) {
            lastError_ = formatText("交易超时[Time:%d]！", timeOut);
            DropIfLoggedIn();
            return -1;
        }
    }
    return ReadFrame(buffer, kStrictWaits, true, FrameWording::Packet);
}

int CCommunicateHandle::ReadFrame(std::string& buffer, int waits, bool strict,
                                  FrameWording wording) {
    const bool answer = wording == FrameWording::Answer;
    // Every failure drops the connection: what follows on it can no longer be told apart.
    auto failed = [&](int rc) {
        if (rc == -3) lostByPeer_ = true;
        DropIfLoggedIn();
        buffer.clear();
        return rc;
    };
    char header[frame::kHeaderSize];
    platform::Tick deadline;
    int rc =
        WaitAndReceiveFirst(waits, header, static_cast<int>(frame::kHeaderSize), strict, deadline);
    if (rc == -999) return rc;
    if (rc != static_cast<int>(frame::kHeaderSize)) {
        if (answer) lastError_ = "接收交易应答包头失败[" + lastError_ + "]";
        return failed(rc < 0 ? rc : -1);
    }
    const std::uint32_t bodyLength = frame::readBodyLength(header);
    const auto noMemory = [&] {
        return answer ? formatText("申请内存失败[%u]", bodyLength + 17u)
                      : formatText("接收数据：申请内存失败[%d]！",
                                   static_cast<int>(std::min<std::uint32_t>(bodyLength,
                                                                            INT_MAX - 17)) +
                                       17);
    };
    // A length beyond any message of the protocol is a corrupt header, not a reason to
    // reserve gigabytes; the buffer grows with the bytes that really arrive.
    if (bodyLength > frame::kMaxBodyLength) {
        lastError_ = noMemory();
        return failed(-1);
    }
    char piece[frame::kPiece];
    try {
        buffer.clear();
        buffer.reserve(frame::kHeaderSize + std::min<std::size_t>(bodyLength, 1u << 20));
        buffer.append(header, frame::kHeaderSize);
        for (std::size_t left = bodyLength; left > 0;) {
            const int want = static_cast<int>(std::min(frame::kPiece, left));
            rc = RecvDataUntil(piece, want, deadline, AnswerClock());
            if (rc != want) {
                lastError_ = answer ? "接收交易应答数据失败[" + lastError_ + "]"
                                    : formatText("接收交易报文失败[%d!=%d]！,失败原因:%s", rc, want,
                                                 lastError_.c_str());
                if (rc == -3) lostByPeer_ = true;
                if (answer) return failed(rc < 0 ? rc : -1);
                return failed(rc == kShuttingDown ? rc : -1);
            }
            buffer.append(piece, static_cast<std::size_t>(want));
            left -= static_cast<std::size_t>(want);
        }
    } catch (const std::bad_alloc&) {
        lastError_ = noMemory();
        return failed(-1);
    }
    if (Status s = frame::decryptBody(buffer, sessionKey_); !s) {
        lastError_ = "解密数据失败,KLAV_Decrypt() failed!";
        return failed(-1);
    }
    if (answer && buffer.size() < frame::kPayloadOffset) {
        lastError_ = formatText("接收交易应答数据失败[应答长度%zu不足]", buffer.size());
        return failed(-1);
    }
    return 0;
}

// ---- transactions ------------------------------------------------------------------------

void CCommunicateHandle::SetRoute(const std::string& organisation, const std::string& service,
                                  const std::string& function) {
    route_ = Route{trimmed(organisation), trimmed(service), trimmed(function)};
}

std::string CCommunicateHandle::NextSequence() {
    std::lock_guard lock(sequenceLock_);
    long long current = std::strtoll(sequence_.c_str(), nullptr, 10);
    current = std::clamp<long long>(current, INT_MIN, INT_MAX);
    if (current >= INT_MAX) current = 0;
    sequence_ = formatText("%010d", static_cast<int>(current + 1));
    return sequence_;
}

int CCommunicateHandle::BuildRequest(std::string_view code, const std::string& serial,
                                     char serialFlag, int payloadLength, std::string& buffer) {
    if (payloadLength < 0 || static_cast<std::uint32_t>(payloadLength) > frame::kMaxBodyLength ||
        code.size() != 2) {
        lastError_ = formatText("交易请求参数不合法[%d]", payloadLength);
        return -2;
    }
    const std::uint32_t body = static_cast<std::uint32_t>(payloadLength) + frame::kRecordSize + 2;
    buffer.assign(frame::kPayloadOffset + static_cast<std::size_t>(payloadLength), '\0');
    frame::writeHeader(buffer.data(), body, body);
    buffer.replace(frame::kCodeOffset, 2, code);
    lastRequestSequence_ = NextSequence();
    TransactionRequestRecord record{serial,
                                    lastRequestSequence_,
                                    route_.organisation,
                                    route_.service,
                                    route_.function,
                                    userCode_,
                                    operatorCode_,
                                    formatText("%09d", payloadLength),
                                    std::string(1, serialFlag)};
    std::string encoded = encode(record);
    buffer.replace(frame::kRecordOffset, encoded.size(), encoded);
    return 0;
}

int CCommunicateHandle::ReceiveAnswer(std::string& buffer, int waits, bool strict) {
    std::lock_guard lock(exchangeLock_);
    return ReadFrame(buffer, waits, strict, FrameWording::Answer);
}

int CCommunicateHandle::RefuseTransaction(const TransactionResponseRecord& response, bool polled) {
    const std::string code = response.returnCode;
    const std::string message = trimmed(response.message);
    if (polled && code == "0014") {
        EmptySerials();
        return -12;
    }
    if (code == "0015" || code == "E001") {
        lastError_ =
            formatText("%s-%s[%s-%s-%s]", code.c_str(), message.c_str(),
                       trimmed(response.organisation).c_str(), trimmed(response.service).c_str(),
                       trimmed(response.function).c_str());
        return -5;
    }
    lastError_ = formatText("返回代码:%s-%s", code.c_str(), message.c_str());
    if (code == "E999") {
        EmptySerials();
        return -9999;
    }
    if (code == "E998") {
        EmptySerials();
        return -9998;
    }
    return -5;
}

int CCommunicateHandle::ReceiveResponse(std::string& buffer) {
    for (int passed = 0; passed < kMaxPassedAnswers; ++passed) {
        int rc = ReceiveAnswer(buffer, kStrictWaits, true);
        if (rc != 0) return rc;
        if (frame::messageCode(buffer) == frame::kSerialAnswerCode) {
            // A block asked for earlier, without waiting: its numbers are kept for its route.
            (void)FileAwaitedSerials(buffer);
            continue;
        }
        TransactionResponseRecord response;
        (void)decode(std::string_view(buffer).substr(frame::kRecordOffset), response);
        // An answer to an earlier request nobody reads any more (a transfer that ended with
        // requests in flight) is not this one's.
        const std::string sequence = trimmed(response.sequence);
        if (!sequence.empty() && sequence != lastRequestSequence_) continue;
        if (response.returnCode == "0000") return 0;
        return RefuseTransaction(response, false);
    }
    buffer.clear();
    lastError_ = "接收交易应答数据失败[应答与请求不符]";
    DropIfLoggedIn();
    return -1;
}

int CCommunicateHandle::PollResponse(std::string& buffer, InFlightWindow* window) {
    int rc = ReceiveAnswer(buffer, 1, false);
    if (rc != 0) return rc;
    const std::string_view body = std::string_view(buffer).substr(frame::kRecordOffset);
    if (frame::messageCode(buffer) == frame::kSerialAnswerCode) return FileAwaitedSerials(buffer);
    TransactionResponseRecord response;
    (void)decode(body, response);
    if (response.returnCode == "0000") return 0;
    if (window != nullptr) window->releaseSlot(trimmed(response.serial));
    return RefuseTransaction(response, true);
}

// ---- serial numbers ------------------------------------------------------------------------

std::string CCommunicateHandle::BuildSerialRequest(const Route& route, int count) {
    return serialRequestPacket(loginCode_, route, count, NextSequence());
}

int CCommunicateHandle::FileAwaitedSerials(const std::string& answerPacket) {
    SerialAnswerRecord answer;
    (void)decode(std::string_view(answerPacket).substr(frame::kRecordOffset), answer);
    const Route target = serials_.answeredRoute(route_);
    const std::string route = RouteText(target.organisation, target.service, target.function);
    if (answer.returnCode == "0000") {
        if (!AddSerialBlock(serials_.pool(), target, answer)) return FailBadAnswer(route);
        return 8888;
    }
    lastError_ = formatText("批量申请交易序列号[%s]失败-[%s-%s]!", route.c_str(),
                            answer.returnCode.c_str(), trimmed(answer.message).c_str());
    if (answer.returnCode == "E999" || answer.returnCode == "E998" ||
        answer.returnCode == "0014") {
        EmptySerials();
        return answer.returnCode == "E999" ? -9999 : answer.returnCode == "E998" ? -9998 : -12;
    }
    return -5;
}

int CCommunicateHandle::FailBadAnswer(const std::string& route) {
    lastError_ = formatText("批量申请交易序列号[%s]失败-应答数据不合法!", route.c_str());
    DropIfLoggedIn();
    return -1;
}

int CCommunicateHandle::RequestTransSerials(const std::string& organisation,
                                            const std::string& service, const std::string& function,
                                            int count, SerialPool& pool) {
    const std::string route = RouteText(organisation, service, function);
    if (!loggedIn_) {
        lastError_ = formatText("批量申请交易序列号[%s]-系统未登录!", route.c_str());
        return -1;
    }
    if (count <= 0) {
        lastError_ = formatText("批量申请交易序列号[%s]-申请数量[%d]不合法!", route.c_str(), count);
        return -1;
    }
    const Route target{trimmed(organisation), trimmed(service), trimmed(function)};
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string request = BuildSerialRequest(target, count);
        std::string answerPacket;
        if (SendPacket(request.data(), static_cast<int>(request.size()), true) != 0 ||
            ReceiveSerialAnswer(answerPacket) != 0) {
            DropIfLoggedIn();
            lastError_ =
                formatText("批量申请交易序列号[%s]失败-%s!", route.c_str(), lastError_.c_str());
            return -1;
        }
        SerialAnswerRecord answer;
        if (!decode(std::string_view(answerPacket)
                        .substr(std::min(answerPacket.size(), frame::kRecordOffset)),
                    answer)) {
            return FailBadAnswer(route);
        }
        if (answer.returnCode == "0000") {
            if (target.key().empty()) {
                lastError_ = formatText("批量申请交易序列号[%s]失败-路由为空!", route.c_str());
                return -1;
            }
            if (!AddSerialBlock(pool, target, answer)) return FailBadAnswer(route);
            return 0;
        }
        // The gateway voided the session's numbers: forget them and ask once more.
        if (answer.returnCode == "E999" && attempt == 0) {
            pool.clear();
            continue;
        }
        lastError_ = formatText("批量申请交易序列号[%s]失败-[%s-%s]!", route.c_str(),
                                answer.returnCode.c_str(), trimmed(answer.message).c_str());
        return -5;
    }
    return -5;
}

int CCommunicateHandle::ReceiveSerialAnswer(std::string& answerPacket) {
    // Blocks asked for earlier without waiting are answered first, in order.
    std::size_t earlier = serials_.awaitedBlocks();
    for (int passed = 0; passed < kMaxPassedAnswers; ++passed) {
        if (int rc = ReceivePacket(answerPacket); rc != 0) return rc;
        const std::string_view code = frame::messageCode(answerPacket);
        // An answer to an earlier transaction nobody reads any more.
        if (code == frame::kFileServiceCode || code == frame::kPermissionCode) continue;
        if (earlier == 0) return 0;
        --earlier;
        (void)FileAwaitedSerials(answerPacket);
    }
    lastError_ = "接收交易应答数据失败[应答与请求不符]";
    return -1;
}

int CCommunicateHandle::GetTransSerial(const std::string& organisation, const std::string& service,
                                       const std::string& function, std::string& serial,
                                       char& flag) {
    const std::string route = RouteText(organisation, service, function);
    if (!loggedIn_) {
        lastError_ = formatText("申请交易序列号[%s]-系统未登录!", route.c_str());
        return -1;
    }
    SerialPool fresh;
    int rc = RequestTransSerials(organisation, service, function, 1, fresh);
    if (rc != 0) {
        lastError_ = formatText("申请交易序列号[%s]-申请交易序列号失败[%s]!", route.c_str(),
                                lastError_.c_str());
        return rc;
    }
    return TakeSerial(fresh, Route{trimmed(organisation), trimmed(service), trimmed(function)},
                      serial, flag);
}

int CCommunicateHandle::RequestTransSerialsAsync() {
    const std::string route = RouteText(route_.organisation, route_.service, route_.function);
    if (!loggedIn_) {
        lastError_ = formatText("批量申请交易序列号[%s]-系统未登录!", route.c_str());
        return -1;
    }
    std::lock_guard lock(batchLock_);
    const std::string request = BuildSerialRequest(route_, kAsyncSerialCount);
    if (SendPacket(request.data(), static_cast<int>(request.size()), true) != 0) {
        DropIfLoggedIn();
        lastError_ =
            formatText("批量申请交易序列号[%s]失败-%s!", route.c_str(), lastError_.c_str());
        return -1;
    }
    serials_.awaitBlock(route_);
    return 0;
}

// ---- permissions ---------------------------------------------------------------------------

int CCommunicateHandle::QueryPermissions(std::string& buffer) {
    if (!loggedIn_) {
        lastError_ = "系统未登录";
        return -1;
    }
    const Route saved = route_;
    SetRoute("GATE_MANAGER", "OPERATOR_MANAGER", "11");
    std::string request;
    BuildRequest(frame::kPermissionCode, "", '0', kPermissionPayload, request);
    route_ = saved;
    std::string payload = fixedWidth(operatorCode_, kPermissionOperatorField);
    payload = wire(payload);
    payload.resize(kPermissionPayload, ' ');
    request.replace(frame::kPayloadOffset, payload.size(), payload);
    if (SendPacket(request.data(), static_cast<int>(request.size()), true) != 0) return -1;
    if (ReceivePacket(buffer) != 0) return -1;
    TransactionResponseRecord response;
    if (!decode(std::string_view(buffer).substr(std::min(buffer.size(), frame::kRecordOffset)),
                response)) {
        lastError_ = formatText("接收交易应答数据失败[应答长度%zu不足]", buffer.size());
        DropIfLoggedIn();
        return -1;
    }
    if (response.returnCode != "0000") {
        lastError_ = trimmed(response.message);
        return -1;
    }
    return static_cast<int>(std::max<long>(0, leadingInteger(response.payloadLength)));
}

bool CCommunicateHandle::LoadPermissions() {
    // A failed load leaves the list as it was.
    if (!loggedIn_ && LoginToGateway() != 1) {
        WriteSysLog(formatText("通用句柄登录失败,失败原因:%s!", lastError_.c_str()));
        return false;
    }
    std::string answer;
    const int payloadLength = QueryPermissions(answer);
    if (payloadLength < 0) {
        WriteSysLog(formatText("获取用户权限失败,失败原因:%s", lastError_.c_str()));
        return false;
    }
    return permissions_.load(answer, static_cast<std::size_t>(payloadLength));
}

int CCommunicateHandle::CheckPermission(const std::string& service, const std::string& function,
                                        const std::string& organisation) {
    if (!permissions_.loaded()) LoadPermissions();
    return permissions_.allows(service, function, organisation) ? 1 : 0;
}

}  // namespace vantrel
