#include "client/gateway/communicate_handle.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "client/config/logs.h"
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
constexpr std::size_t kMaxFastLoginRecords = 8;
constexpr std::size_t kFastRecordSize = 32;

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

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Bytes of `packet` from `from` up to the first zero byte, never past `end`.
std::string zeroEndedText(std::string_view packet, std::size_t from, std::size_t end) {
    end = std::min(end, packet.size());
    if (from >= end) return {};
    std::string_view field = packet.substr(from, end - from);
    field = field.substr(0, std::min(field.find('\0'), field.size()));
    return trimmed(platform::gbkToUtf8Lossy(field));
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

std::string fastLoginRequestPacket(const std::vector<std::string>& names,
                                   const std::string& productId, const std::string& version) {
    const std::size_t n = names.size();
    std::string request(frame::kPayloadOffset + 16 * n, ' ');
    frame::writeHeader(request.data(), static_cast<std::uint32_t>((n + 8) * 16),
                       static_cast<std::uint32_t>((n + 8) * 16), frame::HeaderForm::FastLogin);
    request.replace(frame::kCodeOffset, 2, frame::kFastLoginCode);
    std::string product = wire(productId).substr(0, 8);
    request.replace(75 + 8 - product.size(), product.size(), product);
    std::string ver = wire(version).substr(0, 7);
    request.replace(83 + 7 - ver.size(), ver.size(), ver);
    request[90] = '4';
    request.replace(91, 9, formatText("%09i", static_cast<int>(16 * n)));
    for (std::size_t i = 0; i < n; ++i) {
        std::string name = wire(names[i]).substr(0, 16);
        request.replace(frame::kPayloadOffset + 16 * i, name.size(), name);
    }
    return request;
}

int parseFastLoginAnswer(std::string_view answer, std::vector<FastLoginValue>& values,
                         std::string& loginCode, std::string& error) {
    if (answer.size() < frame::kPayloadOffset) {
        error = "登录失败 原因:应答长度不足";
        return -1;
    }
    const char status = answer[82];
    if (status != 'S' && status != 's') {
        error = "登录失败 原因:" + zeroEndedText(answer, 52, 82);
        return -1;
    }
    // The byte count is a 9-character field; digits beyond it belong to the login code.
    std::size_t byteCount = 0;
    for (std::size_t i = 83; i < 92 && answer[i] >= '0' && answer[i] <= '9'; ++i) {
        byteCount = byteCount * 10 + static_cast<std::size_t>(answer[i] - '0');
    }
    const std::size_t available = (answer.size() - frame::kPayloadOffset) / kFastRecordSize;
    const std::size_t count =
        std::min({byteCount / kFastRecordSize, kMaxFastLoginRecords, available});
    values.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = frame::kPayloadOffset + i * kFastRecordSize;
        values.push_back(
            {zeroEndedText(answer, at, at + 16), zeroEndedText(answer, at + 16, at + 32)});
    }
    loginCode = zeroEndedText(answer, 92, frame::kPayloadOffset);
    return static_cast<int>(count);
}

std::string fastLoginValue(const std::vector<FastLoginValue>& values, std::string_view name) {
    for (const auto& v : values) {
        if (equalsIgnoreCase(v.name, name)) return v.value;
    }
    return {};
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
    loggedIn_ = false;
    process_.loggedInNotice = 0;
    process_.reloginNotice = 0;
    if (reportsLoginState_ && context_.notifier != nullptr)
        context_.notifier->post(LoginStateChanged{false});
}

void CCommunicateHandle::DropIfLoggedIn() {
    if (loggedIn_) Disconnect();
}

void CCommunicateHandle::SetGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                                        const std::string& userCode,
                                        const std::string& operatorCode,
                                        const std::string& password) {
    gateways_.clear();
    for (const auto& entry : gateways) {
        if (entry.usable()) gateways_.push_back(entry);
    }
    mode_ = mode != 0 ? 1 : 0;
    connectTimeOut_ = CConfig(context_.installation).readSelectTimeOut();
    userCode_ = fixedWidth(userCode, 8);
    operatorCode_ = fixedWidth(operatorCode, 8);
    password_ = fixedWidth(password, 8);
}

std::vector<GatewayEntry> CCommunicateHandle::OrderedGateways() const {
    std::vector<GatewayEntry> order = gateways_;
    if (mode_ == 1) {
        const unsigned thread = platform::currentThreadId();
        for (std::size_t count = order.size(); count >= 2; --count) {
            std::size_t pick = (thread + static_cast<unsigned>(std::rand())) % count;
            std::swap(order[pick], order[count - 1]);
        }
    }
    return order;
}

int CCommunicateHandle::LoginToGateway() {
    if (loggedIn_) return 1;
    const char* modeText = mode_ == 1 ? "随机" : "顺序";
    const std::vector<GatewayEntry> order = OrderedGateways();
    if (order.empty()) lastError_ = "没有可用的网关地址/端口!";
    for (const auto& entry : order) {
        current_ = entry;
        if (Login() == 1) {
            if (&entry != &order.front()) ++process_.failovers;
            WriteSysLog(formatText("用户登录网关(%s)[%s/%s]成功", modeText, entry.address.c_str(),
                                   entry.port.c_str()));
            return 1;
        }
        WriteSysLog(formatText("用户登录网关(%s)[%s/%s]失败，失败原因：%s", modeText,
                               entry.address.c_str(), entry.port.c_str(), lastError_.c_str()));
        ++process_.loginFailures;
    }
    return 0;
}

int CCommunicateHandle::Login() {
    if (loggedIn_) return 1;
    productId_ = process_.productId();
    clientVersion_ = process_.clientVersion();
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
    loggedIn_ = true;
    permissionsLoaded_ = 0;
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
    const int rc = ReceiveBody(buffer, "接收数据：申请内存失败[%d]！");
    if (rc != 0) buffer.clear();
    return rc;
}

int CCommunicateHandle::ReceiveBody(std::string& buffer, const char* noMemoryFormat) {
    char header[frame::kHeaderSize];
    platform::Tick deadline;
    int rc = WaitAndReceiveFirst(kStrictWaits, header, static_cast<int>(frame::kHeaderSize), true,
                                 deadline);
    if (rc != static_cast<int>(frame::kHeaderSize)) {
        DropIfLoggedIn();
        return rc < 0 ? rc : -1;
    }
    const std::uint32_t bodyLength = frame::readBodyLength(header);
    // A length beyond any message of the protocol is a corrupt header, not a reason to
    // reserve gigabytes; the buffer grows with the bytes that really arrive.
    if (bodyLength > frame::kMaxBodyLength) {
        lastError_ =
            formatText(noMemoryFormat,
                       static_cast<int>(std::min<std::uint32_t>(bodyLength, INT_MAX - 17)) + 17);
        DropIfLoggedIn();
        return -1;
    }
    try {
        buffer.clear();
        buffer.reserve(frame::kHeaderSize + std::min<std::size_t>(bodyLength, 1u << 20));
        buffer.append(header, frame::kHeaderSize);
    } catch (const std::bad_alloc&) {
        lastError_ = formatText(noMemoryFormat, static_cast<int>(bodyLength) + 17);
        DropIfLoggedIn();
        return -1;
    }
    char piece[frame::kPiece];
    for (std::size_t left = bodyLength; left > 0;) {
        const int want = static_cast<int>(std::min(frame::kPiece, left));
        rc = RecvDataUntil(piece, want, deadline, AnswerClock());
        if (rc != want) {
            lastError_ =
                formatText("接收交易报文失败[%d!=%d]！,失败原因:%s", rc, want, lastError_.c_str());
            DropIfLoggedIn();
            return rc == -98 ? rc : -1;
        }
        try {
            buffer.append(piece, static_cast<std::size_t>(want));
        } catch (const std::bad_alloc&) {
            lastError_ = formatText(noMemoryFormat, static_cast<int>(bodyLength) + 17);
            DropIfLoggedIn();
            return -1;
        }
        left -= static_cast<std::size_t>(want);
    }
    if (Status s = frame::decryptBody(buffer, sessionKey_); !s) {
        lastError_ = "解密数据失败,KLAV_Decrypt() failed!";
        DropIfLoggedIn();
        return -1;
    }
    return 0;
}

// ---- fast-transfer login -----------------------------------------------------------------

int CCommunicateHandle::FastLogin(const std::vector<std::string>& names,
                                  const std::string& productId, const std::string& version,
                                  std::vector<FastLoginValue>& values) {
    const char* modeText = mode_ == 1 ? "随机" : "顺序";
    const std::vector<GatewayEntry> order = OrderedGateways();
    if (order.empty()) lastError_ = "没有可用的网关地址/端口!";
    for (const auto& entry : order) {
        currentFastServer_ = entry;
        int rc = FastLoginOnce(names, productId, version, values);
        if (rc >= 0) {
            WriteSysLog(formatText("FasterFtp登录网关(%s)[%s/%s]成功", modeText,
                                   entry.address.c_str(), entry.ftpPort.c_str()));
            return rc;
        }
        WriteSysLog(formatText("FasterFtp登录网关(%s)[%s/%s]失败，失败原因：%s", modeText,
                               entry.address.c_str(), entry.ftpPort.c_str(), lastError_.c_str()));
    }
    return -1;
}

int CCommunicateHandle::FastLoginOnce(const std::vector<std::string>& names,
                                      const std::string& productId, const std::string& version,
                                      std::vector<FastLoginValue>& values) {
    Disconnect();
    if (Connect(currentFastServer_.address,
                static_cast<int>(leadingInteger(currentFastServer_.ftpPort)),
                connectTimeOut_) != 0) {
        return -1;
    }
    const std::string request = fastLoginRequestPacket(names, productId, version);
    if (SendData(request.data(), static_cast<int>(request.size())) < 0) {
        lastError_ = "版本更新登录失败-发送操登录请求数据失败[" + lastError_ + "]";
        Disconnect();
        return -1;
    }

    char header[frame::kHeaderSize];
    platform::Tick deadline;
    int rc = WaitAndReceiveFirst(kStrictWaits, header, static_cast<int>(frame::kHeaderSize), true,
                                 deadline);
    if (rc < 0) {
        if (rc == -3) {
            lastError_ = "版本更新登录失败-网关主动关闭连接（用户名或密码不正确）";
        } else if (rc == -9) {
            lastError_ = "版本更新登录失败-等待接收登录应答TXB数据超时!";
        } else {
            lastError_ = "版本更新登录失败-接收登录应答TXB数据失败[" + lastError_ + "]";
        }
        Disconnect();
        return -1;
    }
    const std::uint32_t bodyLength = frame::readBodyLength(header);
    if (bodyLength > frame::kMaxBodyLength) {
        lastError_ =
            formatText("版本更新登录失败-接收登录应答数据失败:应答长度[%u]不合法", bodyLength);
        Disconnect();
        return -1;
    }
    std::string answer(header, frame::kHeaderSize);
    answer.resize(frame::kHeaderSize + bodyLength);
    if (bodyLength > 0) {
        rc = RecvDataUntil(answer.data() + frame::kHeaderSize, static_cast<int>(bodyLength),
                           deadline, AnswerClock());
        if (rc != static_cast<int>(bodyLength)) {
            lastError_ = "版本更新登录失败-接收登录应答数据失败:" + lastError_;
            Disconnect();
            return -1;
        }
    }
    if (answer.size() < frame::kPayloadOffset) {
        lastError_ =
            formatText("版本更新登录失败-接收登录应答数据失败:应答长度[%u]不足", bodyLength);
        Disconnect();
        return -1;
    }
    const int count = parseFastLoginAnswer(answer, values, loginCode_, lastError_);
    if (count < 0) return -1;
    loggedIn_ = true;
    return count;
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
    TransactionRequestRecord record{serial,
                                    NextSequence(),
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
    const int rc = ReceiveAnswerLocked(buffer, waits, strict);
    // A failed receive hands nothing on: a caller must not read fields out of a partial
    // or undecrypted answer.
    if (rc != 0) buffer.clear();
    return rc;
}

int CCommunicateHandle::ReceiveAnswerLocked(std::string& buffer, int waits, bool strict) {
    char header[frame::kHeaderSize];
    platform::Tick deadline;
    int rc =
        WaitAndReceiveFirst(waits, header, static_cast<int>(frame::kHeaderSize), strict, deadline);
    if (rc == -999) return rc;
    if (rc != static_cast<int>(frame::kHeaderSize)) {
        lastError_ = "接收交易应答包头失败[" + lastError_ + "]";
        DropIfLoggedIn();
        return rc < 0 ? rc : -1;
    }
    const std::uint32_t bodyLength = frame::readBodyLength(header);
    if (bodyLength > frame::kMaxBodyLength) {
        lastError_ = formatText("申请内存失败[%u]", bodyLength + 17u);
        DropIfLoggedIn();
        return -1;
    }
    buffer.assign(header, frame::kHeaderSize);
    char piece[frame::kPiece];
    for (std::size_t left = bodyLength; left > 0;) {
        const int want = static_cast<int>(std::min(frame::kPiece, left));
        rc = RecvDataUntil(piece, want, deadline, AnswerClock());
        if (rc != want) {
            lastError_ = "接收交易应答数据失败[" + lastError_ + "]";
            DropIfLoggedIn();
            return rc < 0 ? rc : -1;
        }
        buffer.append(piece, static_cast<std::size_t>(want));
        left -= static_cast<std::size_t>(want);
    }
    if (Status s = frame::decryptBody(buffer, sessionKey_); !s) {
        lastError_ = "解密数据失败,KLAV_Decrypt() failed!";
        DropIfLoggedIn();
        return -1;
    }
    if (buffer.size() < frame::kPayloadOffset) {
        lastError_ = formatText("接收交易应答数据失败[应答长度%zu不足]", buffer.size());
        DropIfLoggedIn();
        return -1;
    }
    return 0;
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
    int rc = ReceiveAnswer(buffer, kStrictWaits, true);
    if (rc != 0) return rc;
    TransactionResponseRecord response;
    (void)decode(std::string_view(buffer).substr(frame::kRecordOffset), response);
    if (response.returnCode == "0000") return 0;
    return RefuseTransaction(response, false);
}

int CCommunicateHandle::PollResponse(std::string& buffer, InFlightWindow* window) {
    int rc = ReceiveAnswer(buffer, 1, false);
    if (rc != 0) return rc;
    const std::string_view body = std::string_view(buffer).substr(frame::kRecordOffset);
    if (frame::messageCode(buffer) == frame::kSerialAnswerCode) {
        SerialAnswerRecord answer;
        (void)decode(body, answer);
        const std::string route = RouteText(route_.organisation, route_.service, route_.function);
        if (answer.returnCode == "0000") {
            if (!AddSerialBlock(serials_, route_, answer)) return FailBadAnswer(route);
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
            ReceivePacket(answerPacket) != 0) {
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
    auto& list = process_.permissions;
    list.clear();
    // Only entries that really arrived are read, whatever the answer claims.
    const std::size_t available = answer.size() - frame::kPayloadOffset;
    const std::size_t entries =
        std::min<std::size_t>(payloadLength, available) / kPermissionEntrySize;
    for (std::size_t i = 0; i < entries; ++i) {
        PermissionRecord entry;
        (void)decode(
            std::string_view(answer).substr(frame::kPayloadOffset + i * kPermissionEntrySize),
            entry);
        list.push_back(entry);
    }
    if (entries > 0) permissionsLoaded_ = 1;
    return entries > 0;
}

int CCommunicateHandle::CheckPermission(const std::string& service, const std::string& function,
                                        const std::string& organisation) {
    if (permissionsLoaded_ == 0) LoadPermissions();
    for (const auto& entry : process_.permissions) {
        if (entry.kind != "C" && entry.kind != "c") continue;
        if (!equalsIgnoreCase(trimmed(entry.organisation), organisation) ||
            !equalsIgnoreCase(trimmed(entry.service), service)) {
            continue;
        }
        const std::string entryFunction = trimmed(entry.function);
        if (function.empty() || entryFunction == "**" || equalsIgnoreCase(entryFunction, function))
            return 1;
    }
    return 0;
}

}  // namespace vantrel
