#pragma once
// Byte layout of the block state file ("<data file>.~block"), read and written in place
// through a shared mapping. Little-endian integers; text fields are NUL-terminated GBK
// with every unused byte zero. doc/formats/block-state.md describes the same layout.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vantrel::blockstate {

inline constexpr std::int64_t kBlockSize = 10485760;  // 10 MiB per block
inline constexpr int kWindowSlots = 5;                // W: packets in flight per block
inline constexpr std::size_t kHeaderSize = 872;
inline constexpr std::size_t kBlockTaskSize = 56;
inline constexpr std::size_t kSlotSize = 64;
inline constexpr std::size_t kRecordSize = kBlockTaskSize + kSlotSize * kWindowSlots;  // 376

// Header fields.
namespace header {
inline constexpr std::size_t kRemoteName = 0;     // 260 text
inline constexpr std::size_t kLocalDir = 260;     // 260 text
inline constexpr std::size_t kOrgCode = 520;      // 9 text
inline constexpr std::size_t kMailbox = 529;      // 17 text
inline constexpr std::size_t kFtpType = 546;      // 3 text
inline constexpr std::size_t kTaskId = 549;       // 23 text
inline constexpr std::size_t kItemKind = 572;     // int32
inline constexpr std::size_t kDirection = 576;    // 4 text: "00" upload, "01" download
inline constexpr std::size_t kFileState = 580;    // int32
inline constexpr std::size_t kBytesDone = 584;    // int64
inline constexpr std::size_t kFileSize = 592;     // int64
inline constexpr std::size_t kStopRequest = 856;  // 1 byte
inline constexpr std::size_t kBlockCount = 860;   // int32
inline constexpr std::size_t kWindowSize = 864;   // int32
}  // namespace header

// BlockTask fields, relative to the start of a block record.
namespace task {
inline constexpr std::size_t kStart = 0;          // int64
inline constexpr std::size_t kEnd = 8;            // int64, exclusive
inline constexpr std::size_t kNextOffset = 16;    // int64
inline constexpr std::size_t kInFlight = 24;      // int32
inline constexpr std::size_t kKind = 28;          // 2 characters
inline constexpr std::size_t kRepeat = 32;        // int32
inline constexpr std::size_t kState = 36;         // int32
inline constexpr std::size_t kFileLink = 40;      // int32: block index + 1 while attached, else 0
inline constexpr std::size_t kWindowLink = 44;    // int32: block index + 1 while attached, else 0
inline constexpr std::size_t kWorkerThread = 48;  // uint32
}  // namespace task

// Window slot fields, relative to the start of a slot.
namespace slot {
inline constexpr std::size_t kState = 0;         // int32: 0 ready, 1 in flight, 2 nothing left
inline constexpr std::size_t kOffset = 8;        // int64
inline constexpr std::size_t kLength = 16;       // int64
inline constexpr std::size_t kSentSeconds = 24;  // int64, seconds since 1970
inline constexpr std::size_t kSentMillis = 32;   // int16
inline constexpr std::size_t kTimeZone = 34;     // int16, minutes west of UTC
inline constexpr std::size_t kDst = 36;          // int16
inline constexpr std::size_t kSerial = 40;       // 24 text
inline constexpr std::size_t kSerialWidth = 24;
}  // namespace slot

inline constexpr std::size_t fileSizeFor(int blockCount) {
    return kHeaderSize + static_cast<std::size_t>(blockCount) * kRecordSize;
}
inline constexpr std::size_t recordOffset(int block) {
    return kHeaderSize + static_cast<std::size_t>(block) * kRecordSize;
}
inline constexpr std::size_t slotOffset(int slotIndex) {
    return kBlockTaskSize + static_cast<std::size_t>(slotIndex) * kSlotSize;
}

template <class T>
T load(const std::uint8_t* p) {
    // Every supported target is little-endian, as the file is.
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
template <class T>
void store(std::uint8_t* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

// A NUL-terminated text of at most width - 1 bytes, read in place.
inline std::string_view textAt(const std::uint8_t* p, std::size_t width) {
    const void* end = std::memchr(p, 0, width);
    const std::size_t n =
        end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - p) : width;
    return std::string_view(reinterpret_cast<const char*>(p), n);
}
inline std::string loadText(const std::uint8_t* p, std::size_t width) {
    return std::string(textAt(p, width));
}
inline void storeText(std::uint8_t* p, std::size_t width, std::string_view text) {
    std::memset(p, 0, width);
    std::memcpy(p, text.data(), std::min(text.size(), width - 1));
}

}  // namespace vantrel::blockstate
