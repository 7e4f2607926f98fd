#include "client/transfer/fast_ftp.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "client/gateway/packet_frame.h"
#include "client/gateway/record_codec.h"
#include "client/gateway/text_format.h"
#include "client/transfer/file_service_body.h"
#include "korrim/klav.h"
#include "platform/file_system.h"
#include "platform/files.h"
#include "platform/shared_library.h"
#include "platform/text_codec.h"

namespace vantrel {

namespace {

constexpr std::size_t kReturnCodeOffset = 79;
constexpr std::size_t kBodyLengthOffset = 83;
constexpr std::size_t kMessageOffset = 93;
constexpr std::int64_t kResumeOverlap = 100;
constexpr int kMaxRestarts = 3;
constexpr std::size_t kDigestReadPiece = 32768;
constexpr std::size_t kDigestTextSize = 32;
constexpr int kCode3DesTwoKey = 0x10000;
constexpr int kCode3DesEcb = 0x1;

// The verification key's two pieces; the update server holds the same.
constexpr char kKeyPieceA[] = "Vq3#Lr8z";
constexpr char kKeyPieceB[] = "Tn6!Ke2w";

using DecryptFunction = int (*)(int, const KLAV_SYMMETRIC_KEY*, const unsigned char*, int,
                                const unsigned char*, int, unsigned char*, int*);

bool validPort(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

void putText(std::string& packet, std::size_t at, std::size_t width, std::string_view text) {
    packet.replace(at, std::min(width, text.size()), text.substr(0, width));
}

}  // namespace

Result<std::string> fastDownloadRequest(std::string_view remotePath, std::int32_t offset) {
    Result<std::string> name = filesvc::wireName(remotePath);
    if (!name) return Status::error(ErrorKind::InvalidArgument, "UNICODE出错");
    const std::string body = filesvc::encodeBody(*name, {}, 0, offset, kFastPacketField, {});
    std::string packet(frame::kPayloadOffset, ' ');
    const auto total = static_cast<std::uint32_t>(frame::kPayloadOffset + body.size());
    frame::writeHeader(packet.data(), total - frame::kHeaderSize, total - frame::kHeaderSize);
    packet.replace(frame::kCodeOffset, 2, frame::kFileServiceCode);
    packet.replace(19, 26, 26, '0');
    putText(packet, 45, 16, "VRELKA");
    putText(packet, 61, 16, kFastMailbox);
    putText(packet, 77, 2, kFastFtpType);
    packet.replace(95, 9, formatText("%09d", static_cast<int>(body.size())));
    packet[104] = '0';
    packet += body;
    return packet;
}

std::string packetSizeMessage(int packetSize) {
    std::string packet(frame::kPayloadOffset, ' ');
    frame::writeHeader(packet.data(), 128, 128);
    packet.replace(frame::kCodeOffset, 2, "83");
    packet.replace(75, 9, formatText("%09i", packetSize));
    return packet;
}

std::string splitDigestText(const unsigned char* md5) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text(kDigestTextSize, '0');
    for (std::size_t i = 0; i < 16; ++i) {
        text[i] = kHex[md5[i] >> 4];
        text[16 + i] = kHex[md5[i] & 0x0f];
    }
    return text;
}

Result<std::string> fileSplitDigestText(const std::filesystem::path& path) {
    Result<std::unique_ptr<platform::File>> file =
        platform::FileSystem::real().open(path, platform::OpenMode::kRead);
    if (!file) return file.status();
    KLAV_HANDLE context = nullptr;
    if (KLAV_HASHInit(1, &context) != 1) return Status::error(ErrorKind::IoError, "MD5");
    unsigned char digest[32];
    int digestLength = sizeof digest;
    std::string piece(kDigestReadPiece, '\0');
    Status failed;
    for (std::int64_t at = 0;;) {
        Result<std::size_t> n = (*file)->readAt(at, piece.data(), piece.size());
        if (!n) {
            failed = n.status();
            break;
        }
        if (*n == 0) break;
        if (KLAV_HASHUpdate(&context, reinterpret_cast<const unsigned char*>(piece.data()),
                            static_cast<int>(*n)) != 1) {
            failed = Status::error(ErrorKind::IoError, "MD5");
            break;
        }
        at += static_cast<std::int64_t>(*n);
    }
    // Final also releases the context, so it runs on the failure paths too.
    const bool finished = KLAV_HASHFinal(&context, digest, &digestLength) == 1;
    if (!failed) return failed;
    if (!finished || digestLength != 16) return Status::error(ErrorKind::IoError, "MD5");
    return splitDigestText(digest);
}

std::array<unsigned char, 16> fastDigestKey16() {
    std::array<unsigned char, 16> key{};
    std::memcpy(key.data(), kKeyPieceA, 8);
    std::memcpy(key.data() + 8, kKeyPieceB, 8);
    return key;
}

std::array<unsigned char, 24> fastDigestKey24() {
    std::array<unsigned char, 24> key{};
    std::memcpy(key.data(), kKeyPieceA, 8);
    std::memcpy(key.data() + 8, kKeyPieceB, 8);
    std::memcpy(key.data() + 16, kKeyPieceA, 8);
    return key;
}

void FastPacketSize::adapt(double elapsedSeconds) {
    if (elapsedSeconds <= 4.0 && size_ < kLargest) {
        size_ = std::min(size_ * 2, kLargest);
    } else if (elapsedSeconds > 8.0 && size_ > kSmallest) {
        size_ = std::max(size_ / 2, kSmallest);
    }
}

// ---- CFastFtp ------------------------------------------------------------------------------

void CFastFtp::init(const std::vector<FastServer>& servers, std::filesystem::path libraryPath,
                    int selectTimeOut) {
    servers_.clear();
    for (const auto& server : servers) {
        if (!server.address.empty() && validPort(server.port)) servers_.push_back(server);
    }
    libraryPath_ = std::move(libraryPath);
    timeOut_ = selectTimeOut >= 3 && selectTimeOut <= 60 ? selectTimeOut : 5;
}

void CFastFtp::close() {
    socket_.Close();
    loggedIn_ = false;
}

int CFastFtp::sendAll(const std::string& packet) {
    if (socket_.SendData(packet.data(), static_cast<int>(packet.size())) != GatewayOutcome::Ok) {
        status_ += "发送数据出错(" + socket_.LastError() + ")";
        return -1;
    }
    return 0;
}

int CFastFtp::login(const std::vector<std::string>& names, const std::string& productId,
                    const std::string& version, std::vector<FastLoginValue>& values) {
    status_.clear();
    if (servers_.empty()) status_ = "没有可用的升级服务器地址/端口!";
    const std::string request = fastLoginRequestPacket(names, productId, version);
    for (const auto& server : servers_) {
        close();
        current_ = server;
        status_.clear();
        if (socket_.Connect(server.address, std::stoi(server.port), timeOut_) !=
            GatewayOutcome::Ok) {
            status_ = socket_.LastError();
            continue;
        }
        if (socket_.SendData(request.data(), static_cast<int>(request.size())) !=
            GatewayOutcome::Ok) {
            status_ = "版本更新登录失败-发送操登录请求数据失败[" + socket_.LastError() + "]";
            continue;
        }
        Answer answer;
        if (receiveAnswer(answer) != 0) {
            status_ = "版本更新登录失败-接收登录应答数据失败:" + status_;
            continue;
        }
        std::string loginCode;
        const int count = parseFastLoginAnswer(answer.packet, values, loginCode, status_);
        if (count < 0) continue;
        loggedIn_ = true;
        status_ = "版本更新登录成功";
        return count;
    }
    close();
    return -1;
}

GatewayOutcome CFastFtp::receiveWithin(char* buffer, int length) {
    // The time-out allows that long for every piece, not for the whole of a large answer.
    const platform::Clock& clock = platform::RealClock::instance();
    for (int at = 0; at < length;) {
        const int piece = std::min(length - at, static_cast<int>(frame::kPiece));
        const GatewayOutcome got = socket_.RecvDataUntil(
            buffer + at, piece, clock.tick() + std::chrono::seconds(timeOut_), clock);
        if (got != GatewayOutcome::Ok) return got;
        at += piece;
    }
    return GatewayOutcome::Ok;
}

int CFastFtp::receiveAnswer(Answer& answer) {
    char header[frame::kHeaderSize];
    GatewayOutcome got = receiveWithin(header, static_cast<int>(frame::kHeaderSize));
    if (got != GatewayOutcome::Ok) {
        status_ += got == GatewayOutcome::TimedOut ? "接收超时" : socket_.LastError();
        status_ += "接收数据包头失败";
        return -1;
    }
    const std::uint32_t length = frame::readBodyLength(header);
    if (length > frame::kMaxBodyLength) {
        status_ += "申请内存出错";
        return -1;
    }
    answer.packet.assign(header, frame::kHeaderSize);
    answer.packet.resize(frame::kHeaderSize + length);
    if (length > 0) {
        got = receiveWithin(answer.packet.data() + frame::kHeaderSize, static_cast<int>(length));
        if (got != GatewayOutcome::Ok) {
            status_ += got == GatewayOutcome::TimedOut ? "接收超时" : "";
            status_ += "接收应答数据失败(" + socket_.LastError() + ")";
            return -1;
        }
    }
    answer.returnCode.clear();
    answer.message.clear();
    if (answer.packet.size() >= frame::kPayloadOffset) {
        answer.returnCode = answer.packet.substr(kReturnCodeOffset, 4);
        std::string_view text = std::string_view(answer.packet)
                                    .substr(kMessageOffset, frame::kPayloadOffset - kMessageOffset);
        text = text.substr(0, std::min(text.find('\0'), text.size()));
        answer.message = trimmed(platform::gbkToUtf8Lossy(text));
    }
    return 0;
}

CFastFtp::PacketStep CFastFtp::takePacket(platform::File& file, const Answer& answer,
                                          std::int64_t& total) {
    Result<filesvc::Body> body = filesvc::decodeBody(answer.packet);
    if (!body || body->a < 0 || body->b < 0 || body->c < 0 ||
        static_cast<std::size_t>(body->c) > body->data.size() ||
        static_cast<std::int64_t>(body->b) + body->c > body->a) {
        status_ += "接收应答数据失败(数据包格式错误)";
        return PacketStep::Failed;
    }
    total = body->a;
    if (body->b == body->a) {
        // Nothing past what the file holds: it is complete already.
        (void)file.resize(total);
        (void)file.close();
        return PacketStep::HeldAlready;
    }
    if (Status written =
            file.writeAt(body->b, body->data.data(), static_cast<std::size_t>(body->c));
        !written) {
        status_ += written.kind() == ErrorKind::NoSpace ? "磁盘空间已满" : "写文件出错";
        return PacketStep::Failed;
    }
    const std::int64_t done = static_cast<std::int64_t>(body->b) + body->c;
    if (progress_) progress_(done, total);
    return done >= total ? PacketStep::Last : PacketStep::More;
}

// The server wants the file from the start.
bool CFastFtp::restartFromZero(platform::File& file, const std::string& remotePath) {
    if (Status cut = file.resize(0); !cut) {
        status_ += "写文件出错";
        return false;
    }
    Result<std::string> request = fastDownloadRequest(remotePath, 0);
    return request && sendAll(*request) == 0;
}

int CFastFtp::download(const std::string& remotePath, const std::filesystem::path& localPath) {
    status_ = "下载文件-";
    Result<std::unique_ptr<platform::File>> opened =
        platform::FileSystem::real().open(localPath, platform::OpenMode::kCreate);
    Result<std::int64_t> length =
        opened ? opened.value()->size() : Result<std::int64_t>(opened.status());
    if (!length) {
        status_ += formatText("打开文件失败(%d)", length.status().systemCode());
        return -1;
    }
    platform::File& file = **opened;
    const std::int64_t start = *length > kResumeOverlap ? *length - kResumeOverlap : 0;

    Result<std::string> request = fastDownloadRequest(remotePath, static_cast<std::int32_t>(start));
    if (!request) {
        status_ += request.status().text();
        return -1;
    }
    if (sendAll(*request) != 0) return -1;

    int restarts = 0;
    int announced = FastPacketSize::kInitial;
    std::int64_t total = 0;
    for (;;) {
        if (cancel_ && cancel_->isSet()) {
            status_ += "用户取消更新!";
            return -3;
        }
        if (packetSize_.size() != announced) {
            announced = packetSize_.size();
            if (sendAll(packetSizeMessage(announced)) != 0) return -1;
        }
        const auto sent = std::chrono::steady_clock::now();
        Answer answer;
        if (receiveAnswer(answer) != 0) return -1;
        if (answer.returnCode == "0000") {
            packetSize_.adapt(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count());
            const PacketStep step = takePacket(file, answer, total);
            if (step == PacketStep::Failed) return -1;
            if (step == PacketStep::HeldAlready) return 0;
            if (step == PacketStep::Last) break;
            continue;
        }
        status_ += answer.message;
        // "6008" may come at any point, also in a download that started at 0 (the file
        // changed on the server meanwhile). The restarts are counted, so a server that
        // answers nothing else cannot keep the loop going.
        if (answer.returnCode != "6008" || restarts == kMaxRestarts) return -1;
        ++restarts;
        if (!restartFromZero(file, remotePath)) return -1;
    }

    // A longer stale file would keep its tail; the file is exactly the remote size.
    if (!file.resize(total) || !file.close()) {
        status_ += "写文件出错";
        return -1;
    }
    return verify(localPath);
}

bool CFastFtp::decryptDigest(std::string_view cipher, std::string& digestText) {
    Result<platform::SharedLibrary> library = platform::SharedLibrary::open(libraryPath_);
    if (!library) {
        status_ += formatText("加载解密动态库失败(%d)", 2);
        return false;
    }
    Result<void*> entry = library->symbol("KLAV_Decrypt");
    if (!entry) {
        status_ += formatText("得到解密接口失败(%d)", 127);
        return false;
    }
    const auto decrypt = reinterpret_cast<DecryptFunction>(*entry);
    const std::size_t half = cipher.size() / 2;
    const auto attempt = [&](int code, const unsigned char* keyBytes, std::size_t keyLength,
                             std::string_view part) {
        KLAV_SYMMETRIC_KEY key{};
        key.keyLen = static_cast<std::uint32_t>(keyLength);
        key.algorithm = static_cast<std::uint32_t>(code);
        std::memcpy(key.key, keyBytes, keyLength);
        std::string out(part.size() + 32, '\0');
        int outLength = static_cast<int>(out.size());
        const int rc =
            decrypt(code, &key, nullptr, 0, reinterpret_cast<const unsigned char*>(part.data()),
                    static_cast<int>(part.size()), reinterpret_cast<unsigned char*>(out.data()),
                    &outLength);
        if (rc != 1 || outLength != static_cast<int>(kDigestTextSize)) return false;
        digestText.assign(out.data(), kDigestTextSize);
        return true;
    };
    const auto key16 = fastDigestKey16();
    const auto key24 = fastDigestKey24();
    if (half > 0 && (attempt(kCode3DesTwoKey, key16.data(), key16.size(), cipher.substr(0, half)) ||
                     attempt(kCode3DesEcb, key24.data(), key24.size(), cipher.substr(half)))) {
        return true;
    }
    status_ += "解密数据失败!解密Md5检验码数据包失败!";
    return false;
}

int CFastFtp::verify(const std::filesystem::path& localPath) {
    Answer answer;
    if (receiveAnswer(answer) != 0) {
        status_ += "download verify code fail!(" + socket_.LastError() + ")";
        return -1;
    }
    if (answer.returnCode != "0000") status_ += answer.message;
    std::string expected;
    Result<filesvc::Body> body = filesvc::decodeBody(answer.packet);
    if (body) (void)decryptDigest(body->data, expected);
    Result<std::string> actual = fileSplitDigestText(localPath);
    if (!actual) status_ += "生成Md5检验码失败!";
    if (!actual || expected.size() != kDigestTextSize || *actual != expected) {
        status_ += "Md5检验码不一致!";
        // The bytes on disk are known to be wrong: the next attempt must not resume on them.
        (void)platform::FileSystem::real().open(localPath, platform::OpenMode::kCreateTruncate);
        return -4;
    }
    return 0;
}

}  // namespace vantrel
