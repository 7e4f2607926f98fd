#include "tools/testgateway/connection_io.h"

#include "client/gateway/packet_frame.h"

namespace vantrel::testgateway {

namespace {
constexpr int kStopCheckMs = 100;
}

bool ConnectionIo::readExactly(std::size_t length, std::string& out) {
    char buffer[16384];
    while (length > 0) {
        if (stopping_) return false;
        int ready = socket_.wait(platform::kReadable, kStopCheckMs);
        if (ready < 0) return false;
        if (ready == 0) continue;
        long n = socket_.receiveSome(buffer, std::min(length, sizeof buffer));
        if (n < 0 && platform::isWouldBlock(static_cast<int>(-n))) continue;
        if (n <= 0) return false;
        out.append(buffer, static_cast<std::size_t>(n));
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ConnectionIo::readPacket(std::string& packet, std::size_t maxBody) {
    packet.clear();
    if (!readExactly(frame::kHeaderSize, packet)) return false;
    const std::size_t body = frame::readBodyLength(packet.data());
    if (body > maxBody) return false;
    return readExactly(body, packet);
}

bool ConnectionIo::writeAll(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (stopping_) return false;
        long n = socket_.sendSome(bytes.data() + at, bytes.size() - at);
        if (n < 0 && platform::isWouldBlock(static_cast<int>(-n))) {
            socket_.wait(platform::kWritable, kStopCheckMs);
            continue;
        }
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vantrel::testgateway
