#include "client/gateway/fast_login_codec.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "client/gateway/packet_frame.h"
#include "client/gateway/record_codec.h"
#include "client/gateway/text_format.h"
#include "platform/text_codec.h"

namespace vantrel {

namespace {

constexpr std::size_t kMaxFastLoginRecords = 8;
constexpr std::size_t kFastRecordSize = 32;

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

}  // namespace

std::string fastLoginRequestPacket(const std::vector<std::string>& names,
                                   const std::string& productId, const std::string& version) {
    const std::size_t n = names.size();
    std::string request(frame::kPayloadOffset + 16 * n, ' ');
    frame::writeHeader(request.data(), static_cast<std::uint32_t>((n + 8) * 16),
                       static_cast<std::uint32_t>((n + 8) * 16), frame::HeaderForm::FastLogin);
    request.replace(frame::kCodeOffset, 2, frame::kFastLoginCode);
    std::string product = platform::utf8ToGbkLossy(productId).substr(0, 8);
    request.replace(75 + 8 - product.size(), product.size(), product);
    std::string ver = platform::utf8ToGbkLossy(version).substr(0, 7);
    request.replace(83 + 7 - ver.size(), ver.size(), ver);
    request[90] = '4';
    request.replace(91, 9, formatText("%09i", static_cast<int>(16 * n)));
    for (std::size_t i = 0; i < n; ++i) {
        std::string name = platform::utf8ToGbkLossy(names[i]).substr(0, 16);
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

}  // namespace vantrel
