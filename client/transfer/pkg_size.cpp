#include "client/transfer/pkg_size.h"

#include <time.h>

#include <algorithm>
#include <chrono>

#include "client/transfer/block_state_layout.h"

namespace vantrel {

namespace bs = blockstate;

CPkgSize::CPkgSize(std::uint8_t* record, int slotCount, const platform::Clock& clock)
    : record_(record), slotCount_(slotCount), clock_(clock) {}

std::uint8_t* CPkgSize::slotAt(int i) const {
    return record_ + bs::slotOffset(i);
}
int CPkgSize::slotState(int i) const {
    return bs::load<std::int32_t>(slotAt(i) + bs::slot::kState);
}
void CPkgSize::setSlotState(int i, int state) {
    bs::store<std::int32_t>(slotAt(i) + bs::slot::kState, state);
}
std::int64_t CPkgSize::slotOffset(int i) const {
    return bs::load<std::int64_t>(slotAt(i) + bs::slot::kOffset);
}
std::int64_t CPkgSize::slotLength(int i) const {
    return bs::load<std::int64_t>(slotAt(i) + bs::slot::kLength);
}
int CPkgSize::inFlight() const {
    return bs::load<std::int32_t>(record_ + bs::task::kInFlight);
}
void CPkgSize::setInFlight(int n) {
    bs::store<std::int32_t>(record_ + bs::task::kInFlight, n);
}

void CPkgSize::refill(int i) {
    const std::int64_t next = bs::load<std::int64_t>(record_ + bs::task::kNextOffset);
    const std::int64_t end = bs::load<std::int64_t>(record_ + bs::task::kEnd);
    std::uint8_t* s = slotAt(i);
    bs::storeText(s + bs::slot::kSerial, bs::slot::kSerialWidth, "");
    if (next >= end) {
        setSlotState(i, kFinished);
        return;
    }
    const std::int64_t length = std::min<std::int64_t>(packetSize_, end - next);
    bs::store<std::int64_t>(s + bs::slot::kOffset, next);
    bs::store<std::int64_t>(s + bs::slot::kLength, length);
    bs::store<std::int64_t>(record_ + bs::task::kNextOffset, next + length);
    setSlotState(i, kReady);
}

void CPkgSize::start(bool resumed) {
    nextPosition_ = 0;
    if (!resumed) {
        for (int i = 0; i < slotCount_; ++i) refill(i);
        return;
    }
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) == kFinished) continue;
        // A slot that never received a packet (a crash between laying out the file and
        // starting its window) takes the next one; dropping it would leave a hole.
        if (slotLength(i) <= 0) {
            refill(i);
            continue;
        }
        setSlotState(i, kReady);
    }
    setInFlight(0);
}

std::optional<CPkgSize::Packet> CPkgSize::take(int i) {
    setSlotState(i, kInFlight);
    setInFlight(inFlight() + 1);
    return Packet{i, slotOffset(i), slotLength(i)};
}

std::optional<CPkgSize::Packet> CPkgSize::nextSlot() {
    if (inFlight() >= slotCount_) return std::nullopt;
    auto scan = [&](int from) -> std::optional<Packet> {
        for (int i = from; i < slotCount_; ++i) {
            if (slotState(i) != kReady) continue;
            if (slotLength(i) <= 0) {
                setSlotState(i, kFinished);
                continue;
            }
            nextPosition_ = i + 1;
            return take(i);
        }
        return std::nullopt;
    };
    if (nextPosition_ >= slotCount_) nextPosition_ = 0;
    if (auto p = scan(nextPosition_)) return p;
    return scan(0);
}

std::optional<CPkgSize::Packet> CPkgSize::nextSlotLowest() {
    if (inFlight() >= slotCount_) return std::nullopt;
    int best = -1;
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) != kReady) continue;
        if (slotLength(i) <= 0) {
            setSlotState(i, kFinished);
            continue;
        }
        if (best < 0 || slotOffset(i) < slotOffset(best)) best = i;
    }
    if (best < 0) return std::nullopt;
    return take(best);
}

void CPkgSize::giveBack(int i) {
    if (slotState(i) != kInFlight) return;
    setSlotState(i, kReady);
    setInFlight(std::max(0, inFlight() - 1));
}

void CPkgSize::markSent(int i, std::string_view serial) {
    const auto now = clock_.now();
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::int64_t seconds = sinceEpoch / 1000;
    std::uint8_t* s = slotAt(i);
    bs::store<std::int64_t>(s + bs::slot::kSentSeconds, seconds);
    bs::store<std::int16_t>(s + bs::slot::kSentMillis,
                            static_cast<std::int16_t>(sinceEpoch % 1000));
    struct tm local {};
    const time_t t = static_cast<time_t>(seconds);
    localtime_r(&t, &local);
    bs::store<std::int16_t>(s + bs::slot::kTimeZone,
                            static_cast<std::int16_t>(-local.tm_gmtoff / 60));
    bs::store<std::int16_t>(s + bs::slot::kDst,
                            static_cast<std::int16_t>(local.tm_isdst > 0 ? 1 : 0));
    bs::storeText(s + bs::slot::kSerial, bs::slot::kSerialWidth, serial);
}

double CPkgSize::secondsSinceSent(int i, platform::WallTime now) const {
    const std::uint8_t* s = slotAt(i);
    const std::int64_t sentMs = bs::load<std::int64_t>(s + bs::slot::kSentSeconds) * 1000 +
                                bs::load<std::int16_t>(s + bs::slot::kSentMillis);
    const std::int64_t nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return static_cast<double>(nowMs - sentMs) / 1000.0;
}

std::optional<CPkgSize::Packet> CPkgSize::awaiting(std::int64_t packetOffset) const {
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) == kInFlight && slotOffset(i) == packetOffset) {
            return Packet{i, slotOffset(i), slotLength(i)};
        }
    }
    return std::nullopt;
}

std::optional<CPkgSize::Packet> CPkgSize::awaitingSerial(std::string_view serial) const {
    if (serial.empty()) return std::nullopt;
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) == kInFlight &&
            bs::textAt(slotAt(i) + bs::slot::kSerial, bs::slot::kSerialWidth) == serial) {
            return Packet{i, slotOffset(i), slotLength(i)};
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> CPkgSize::answered(std::int64_t packetOffset, int slotKind) {
    const auto found = awaiting(packetOffset);
    if (!found) {
        lastError_ = "接收文件数据出现错误";
        return std::nullopt;
    }
    const int i = found->slot;
    const std::int64_t length = found->length;

    // The most recently sent packet still in flight measures the round trip best.
    const auto now = clock_.now();
    double elapsed = secondsSinceSent(i, now);
    for (int j = 0; j < slotCount_; ++j) {
        if (slotState(j) == kInFlight) elapsed = std::min(elapsed, secondsSinceSent(j, now));
    }
    const int limit = slotKind == kUploadSlots ? kMaxUploadPacket : kMaxDownloadPacket;
    if (packetSize_ < limit && elapsed <= kFastSeconds) {
        // Growth stops at the limit instead of overshooting it by up to half.
        packetSize_ = static_cast<int>(
            std::min<std::int64_t>(static_cast<std::int64_t>(packetSize_) * 3 / 2, limit));
    } else if (elapsed > kSlowSeconds && packetSize_ >= kMinPacketSize) {
        packetSize_ = static_cast<int>(static_cast<std::int64_t>(packetSize_) * 2 / 3);
    }

    setInFlight(std::max(0, inFlight() - 1));
    refill(i);
    return length;
}

void CPkgSize::adoptPacketSize(int size) {
    if (size <= 0) return;
    packetSize_ = std::min(size, kMaxDownloadPacket);
    const std::int64_t start = bs::load<std::int64_t>(record_ + bs::task::kStart);
    std::int64_t cut = 0;
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) == kInFlight) return;
        if (slotState(i) == kReady) cut += slotLength(i);
    }
    // Bytes cut but no longer in a slot were answered: those slots keep their packets.
    if (bs::load<std::int64_t>(record_ + bs::task::kNextOffset) - start != cut) return;
    bs::store<std::int64_t>(record_ + bs::task::kNextOffset, start);
    nextPosition_ = 0;
    for (int i = 0; i < slotCount_; ++i) refill(i);
}

int CPkgSize::resetInFlight() {
    int reset = 0;
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) == kInFlight) {
            setSlotState(i, kReady);
            bs::storeText(slotAt(i) + bs::slot::kSerial, bs::slot::kSerialWidth, "");
            ++reset;
        }
    }
    setInFlight(0);
    return reset;
}

bool CPkgSize::timedOut(int limitSeconds) {
    const auto now = clock_.now();
    const std::int64_t nowSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) != kInFlight) continue;
        const std::int64_t sent = bs::load<std::int64_t>(slotAt(i) + bs::slot::kSentSeconds);
        if (nowSeconds - sent >= limitSeconds) {
            lastError_ = "交易包出现超时";
            return true;
        }
    }
    return false;
}

bool CPkgSize::allDone() const {
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) != kFinished) return false;
    }
    return true;
}

bool CPkgSize::hasSlotInState(int state) const {
    for (int i = 0; i < slotCount_; ++i) {
        if (slotState(i) == state) return true;
    }
    return false;
}

bool CPkgSize::setSlotStateBySerial(std::string_view serial, int state) {
    if (serial.empty()) return false;
    for (int i = 0; i < slotCount_; ++i) {
        std::uint8_t* s = slotAt(i);
        if (bs::textAt(s + bs::slot::kSerial, bs::slot::kSerialWidth) != serial) continue;
        if (slotState(i) == kInFlight && state != kInFlight)
            setInFlight(std::max(0, inFlight() - 1));
        setSlotState(i, state);
        bs::storeText(s + bs::slot::kSerial, bs::slot::kSerialWidth, "");
        return true;
    }
    return false;
}

}  // namespace vantrel
