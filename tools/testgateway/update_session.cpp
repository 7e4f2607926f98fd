// The update server's side of one connection: the fast-transfer login with its name/value
// answer, then whatever the fast services answer.

#include <chrono>
#include <cstring>
#include <thread>

#include "client/gateway/packet_frame.h"
#include "client/gateway/text_format.h"
#include "platform/text_codec.h"
#include "tools/testgateway/connection_io.h"
#include "tools/testgateway/sessions.h"

namespace vantrel::testgateway {

namespace {

constexpr std::size_t kRequestLimit = 1 << 20;
constexpr std::size_t kMaxRecords = 8;
constexpr const char* kFastLoginCode = "FL000001";

// Writes `text` (GBK) at `at`, at most `width` - 1 bytes, followed by a zero byte.
void putZeroEnded(std::string& packet, std::size_t at, std::size_t width, const std::string& text) {
    std::string wire = platform::utf8ToGbkLossy(text);
    wire.resize(std::min(platform::gbkPrefixLength(wire, width - 1), wire.size()));
    packet.replace(at, wire.size(), wire);
    packet[at + wire.size()] = '\0';
}

std::string padded16(const std::string& text) {
    std::string wire = platform::utf8ToGbkLossy(text);
    wire.resize(platform::gbkPrefixLength(wire, 16));
    wire.resize(16, ' ');
    return wire;
}

std::string loginAnswer(const TestGatewaySettings& settings, const std::string& request) {
    const std::size_t names = (request.size() - frame::kPayloadOffset) / 16;
    const std::string product = trimmed(request.substr(75, 8));
    std::string refusal = settings.updateFail;
    if (refusal.empty() && !settings.updateProduct.empty() && product != settings.updateProduct) {
        refusal = "产品代码不正确";
    }
    std::vector<std::pair<std::string, std::string>> records;
    for (std::size_t i = 0; i < names && records.size() < kMaxRecords && refusal.empty(); ++i) {
        const std::string name = trimmed(request.substr(frame::kPayloadOffset + 16 * i, 16));
        for (const auto& [key, value] : settings.updateValues) {
            if (key == name) records.emplace_back(name, value);
        }
    }
    std::string answer =
        frame::makePacket(frame::kPayloadOffset - frame::kHeaderSize + 32 * records.size());
    answer.replace(frame::kCodeOffset, 2, frame::kFastLoginCode);
    if (!refusal.empty()) {
        putZeroEnded(answer, 52, 30, refusal);
        answer[82] = 'F';
        return answer;
    }
    answer[82] = 'S';
    answer.replace(83, 9, formatText("%09zu", 32 * records.size()));
    putZeroEnded(answer, 92, frame::kPayloadOffset - 92, kFastLoginCode);
    for (std::size_t i = 0; i < records.size(); ++i) {
        answer.replace(frame::kPayloadOffset + 32 * i, 16, padded16(records[i].first));
        answer.replace(frame::kPayloadOffset + 32 * i + 16, 16, padded16(records[i].second));
    }
    return answer;
}

}  // namespace

void runUpdateSession(TestGateway::Shared& shared, platform::TcpSocket socket) {
    ConnectionIo io(socket, shared.stopping);
    std::string request;
    if (!io.readPacket(request, kRequestLimit)) return;
    if (request.size() < frame::kPayloadOffset ||
        frame::messageCode(request) != frame::kFastLoginCode)
        return;
    ++shared.counters.fastLogins;
    const int delay = shared.faults.answerDelayMs.load();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    const std::string answer = loginAnswer(shared.settings, request);
    if (!io.writeAll(answer) || answer[82] != 'S') return;
    std::string packet;
    while (io.readPacket(packet, frame::kMaxBodyLength)) {
        const FastSend send = [&io](const std::string& bytes) { return io.writeAll(bytes); };
        std::optional<FastAnswer> reply;
        for (const auto& service : shared.fastServices) {
            if ((reply = service->handle(packet, send))) break;
        }
        if (!reply || !io.writeAll(reply->bytes) || reply->close) return;
    }
}

}  // namespace vantrel::testgateway
