#include "tools/testgateway/fast_downloads.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "client/gateway/packet_frame.h"
#include "client/gateway/text_format.h"
#include "client/transfer/fast_ftp.h"
#include "client/transfer/file_service_body.h"
#include "korrim/klav.h"
#include "platform/text_codec.h"

namespace vantrel::testgateway {

namespace {

constexpr std::size_t kMessageWidth = 52;

// The remote path as a file below `root`; empty when it would leave it.
std::filesystem::path servedPath(const std::filesystem::path& root, std::string name) {
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    // Remote paths are relative to the root, however they start.
    name.erase(0, name.find_first_not_of('/'));
    const std::filesystem::path relative = std::filesystem::path(name).lexically_normal();
    if (relative.empty() || relative.is_absolute() || *relative.begin() == "..") return {};
    return root / relative;
}

std::string encrypted(int code, const unsigned char* keyBytes, std::size_t keyLength,
                      const std::string& text) {
    KLAV_SYMMETRIC_KEY key{};
    key.keyLen = static_cast<std::uint32_t>(keyLength);
    key.algorithm = static_cast<std::uint32_t>(code);
    std::memcpy(key.key, keyBytes, keyLength);
    std::string out(text.size() + 32, '\0');
    int length = static_cast<int>(out.size());
    if (KLAV_Encrypt(code, &key, nullptr, 0, reinterpret_cast<const unsigned char*>(text.data()),
                     static_cast<int>(text.size()), reinterpret_cast<unsigned char*>(out.data()),
                     &length) != 1) {
        return {};
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

}  // namespace

std::string fastAnswerPacket(const std::string& returnCode, const std::string& message,
                             const std::string& body) {
    std::string packet(frame::kPayloadOffset, ' ');
    const auto length =
        static_cast<std::uint32_t>(packet.size() + body.size() - frame::kHeaderSize);
    frame::writeHeader(packet.data(), length, length);
    packet.replace(frame::kCodeOffset, 2, frame::kFileServiceCode);
    packet.replace(79, 4, returnCode);
    packet.replace(83, 9, formatText("%09d", static_cast<int>(body.size())));
    std::string text = platform::utf8ToGbkLossy(message);
    text.resize(std::min(platform::gbkPrefixLength(text, kMessageWidth), text.size()));
    packet.replace(93, text.size(), text);
    return packet + body;
}

std::optional<FastAnswer> FastDownloadService::handle(const std::string& packet,
                                                      const FastSend& send) {
    const std::string_view code = frame::messageCode(packet);
    // The client's packet-size notes need no answer: packets are cut as the request asked.
    if (code == "83") return FastAnswer{};
    if (code != frame::kFileServiceCode || packet.size() < frame::kPayloadOffset ||
        trimmed(packet.substr(61, 16)) != kFastMailbox || packet.substr(77, 2) != kFastFtpType) {
        return std::nullopt;
    }
    return download(packet, send);
}

FastAnswer FastDownloadService::download(const std::string& packet, const FastSend& send) {
    ++counters_.fastDownloads;
    Result<filesvc::Body> request = filesvc::decodeBody(packet);
    if (!request) return {fastAnswerPacket("6001", "请求格式错误", {}), false};
    counters_.lastFastOffset = request->b;
    Result<std::string> name = filesvc::nameFromWire(request->name1);
    counters_.setLastFastPath(name ? *name : std::string());
    const std::filesystem::path path =
        name ? servedPath(settings_.updateRoot, *name) : std::filesystem::path();
    std::ifstream in;
    std::error_code ec;
    const auto fileSize = path.empty() ? 0 : std::filesystem::file_size(path, ec);
    if (!path.empty() && !ec) in.open(path, std::ios::binary);
    if (!in || fileSize > static_cast<std::uintmax_t>(INT32_MAX))
        return {fastAnswerPacket("6002", "文件不存在", {}), false};
    const auto size = static_cast<std::int32_t>(fileSize);
    const std::int32_t offset = request->b;
    if (offset < 0 || offset > size || (settings_.updateRestart6008 && offset > 0)) {
        return {fastAnswerPacket("6008", "请从头下载", {}), false};
    }
    if (offset == size) {
        return {fastAnswerPacket("0000", {},
                                 filesvc::encodeBody(request->name1, {}, size, size, 0, {})),
                false};
    }
    const std::int32_t piece = request->c > 0 ? request->c : kFastPacketField;
    const int dropAfter = faults_.fastDropAfterPackets.exchange(0);
    const int stallAfter = faults_.fastStallAfterPackets.exchange(0);
    const int restartAfter = faults_.fastRestartAfterPackets.exchange(0);
    bool corrupt = faults_.fastCorruptPacket.exchange(false);
    in.seekg(offset);
    std::string data;
    int packets = 0;
    for (std::int32_t at = offset; at < size; at += piece) {
        data.resize(static_cast<std::size_t>(std::min(piece, size - at)));
        if (!in.read(data.data(), static_cast<std::streamsize>(data.size())))
            return {{}, true};  // the file shrank under us: the client sees the drop
        if (corrupt) {
            data[0] = static_cast<char>(data[0] ^ 0x5a);
            corrupt = false;
        }
        if (!send(fastAnswerPacket("0000", {},
                                   filesvc::encodeBody(request->name1, {}, size, at,
                                                       static_cast<std::int32_t>(data.size()),
                                                       data))))
            return {{}, true};
        ++packets;
        if (packets == dropAfter) return {{}, true};
        if (packets == stallAfter) return {{}, false};
        if (packets == restartAfter) return {fastAnswerPacket("6008", "请从头下载", {}), false};
    }
    FastAnswer answer;
    Result<std::string> digest = fileSplitDigestText(path);
    const std::string text = digest ? *digest : std::string(32, '0');
    const auto key16 = fastDigestKey16();
    const auto key24 = fastDigestKey24();
    std::string first = encrypted(0x10000, key16.data(), key16.size(), text);
    const std::string second = encrypted(0x1, key24.data(), key24.size(), text);
    // One byte short, the first half is no whole number of cipher blocks and cannot decrypt;
    // the halves still split where they should.
    if (faults_.fastBrokenFirstHalf) first.pop_back();
    answer.bytes += fastAnswerPacket(
        "0000", {}, filesvc::encodeBody(request->name1, {}, size, 0, 0, first + second));
    return answer;
}

}  // namespace vantrel::testgateway
