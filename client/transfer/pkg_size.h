#pragma once
// CPkgSize: the sliding-window controller of one block. It works directly on the block's
// record in the mapped block state file (the BlockTask and its W window slots) and adapts
// the packet size to how fast answers come back.
//
// Requires: every call is made with the owning FileBlockInfo's state lock held; the
// controller flushes nothing itself (the owner flushes the record after each change).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vantrel {

class CPkgSize {
  public:
    static constexpr int kInitialPacketSize = 16384;
    static constexpr int kMaxDownloadPacket = 2097152;
    static constexpr int kMaxUploadPacket = 524288;
    static constexpr int kMinPacketSize = 2048;
    static constexpr int kFastSeconds = 4;
    static constexpr int kSlowSeconds = 8;
    // Slot kinds, as the services name them.
    static constexpr int kDownloadSlots = 1;
    static constexpr int kUploadSlots = 2;

    enum SlotState { kReady = 0, kInFlight = 1, kFinished = 2 };

    struct Packet {
        int slot = -1;
        std::int64_t offset = 0;
        std::int64_t length = 0;
    };

    // `record` points at the block's record in the mapping and must stay valid (the mapping
    // is never moved while controllers exist); `clock` gives the send times.
    CPkgSize(std::uint8_t* record, int slotCount, const platform::Clock& clock);

    // Lays out the window: a new file cuts the first packets from the block's next offset; a
    // resumed file keeps its slots and makes every unfinished one ready again, so packets
    // that were in flight are sent again.
    void start(bool resumed);

    // The next ready slot, round robin from where the last search stopped; it becomes in
    // flight. Empty when the window is full or nothing is ready.
    std::optional<Packet> nextSlot();
    // The ready slot with the lowest offset; it becomes in flight.
    std::optional<Packet> nextSlotLowest();
    // Puts an in-flight slot back to ready (its request was never sent).
    void giveBack(int slot);
    // Records the request sent for an in-flight slot: its serial number and the send time.
    void markSent(int slot, std::string_view serial);

    // The answer for the in-flight packet at `packetOffset`: adapts the packet size, frees
    // the slot and refills it with the next packet of the block. Returns the answered
    // packet's length; empty with "接收文件数据出现错误" when no in-flight slot has that offset.
    std::optional<std::int64_t> answered(std::int64_t packetOffset, int slotKind);
    // The in-flight packet at `packetOffset`, if any.
    std::optional<Packet> awaiting(std::int64_t packetOffset) const;
    // The in-flight packet whose request carried `serial`, if any.
    std::optional<Packet> awaitingSerial(std::string_view serial) const;

    // Packets of `size` (at most the download limit) from now on; a window none of whose
    // packets is in flight or answered yet is cut again at that size.
    void adoptPacketSize(int size);

    // Makes every in-flight slot ready again; returns how many were in flight.
    int resetInFlight();
    // True, with "交易包出现超时", when an in-flight packet was sent `limitSeconds` or more
    // whole seconds ago.
    bool timedOut(int limitSeconds);
    bool allDone() const;
    bool hasSlotInState(int state) const;
    // The slot whose request carried `serial` takes `state` (the gateway refused that
    // request); its serial is cleared. False when no slot carries it.
    bool setSlotStateBySerial(std::string_view serial, int state);

    int inFlight() const;
    int packetSize() const { return packetSize_; }
    const std::string& lastError() const { return lastError_; }

  private:
    std::uint8_t* slotAt(int i) const;
    int slotState(int i) const;
    void setSlotState(int i, int state);
    std::int64_t slotOffset(int i) const;
    std::int64_t slotLength(int i) const;
    void setInFlight(int n);
    // Gives slot i the next packet of the block, or finishes it when the block is cut up.
    void refill(int i);
    std::optional<Packet> take(int i);
    double secondsSinceSent(int i, platform::WallTime now) const;

    std::uint8_t* record_;
    int slotCount_;
    const platform::Clock& clock_;
    int packetSize_ = kInitialPacketSize;
    int nextPosition_ = 0;
    std::string lastError_;
};

}  // namespace vantrel
