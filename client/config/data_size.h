#pragma once
// localconfig/DataSize.ini: the packet-size limits of the fast-transfer client in each
// direction and the batch size of its serial-number requests. Sizes are stored in
// kilobytes and held here in bytes, as 64-bit values so no stored number can overflow.
//
// Every value is first brought into its absolute range, then the lower limits are moved
// down where needed so that lowSize <= highSize and lowSeconds <= highSeconds always hold.

#include <cstdint>
#include <filesystem>

namespace vantrel {

struct PacketSizeLimits {
    std::int64_t initialSize = 0;  // bytes
    std::int64_t lowSize = 0;      // bytes
    std::int64_t highSize = 0;     // bytes
    std::int64_t lowSeconds = 0;   // a packet this fast (or faster) lets the size grow
    std::int64_t highSeconds = 0;  // a packet slower than this makes the size shrink
    bool operator==(const PacketSizeLimits&) const = default;
};

class DataSizeSettings {
  public:
    static constexpr std::int64_t kMinimumSize = 8 * 1024;
    static constexpr std::int64_t kDefaultInitialSize = 16 * 1024;
    static constexpr std::int64_t kMaximumReceiveSize = 2048 * 1024;
    static constexpr std::int64_t kMaximumSendSize = 128 * 1024;
    static constexpr std::int64_t kDefaultReceiveHighSize = 1024 * 1024;
    static constexpr std::int64_t kMinimumSeconds = 4;
    static constexpr std::int64_t kMaximumSeconds = 8;
    static constexpr int kDefaultTransIdBatch = 10;

    // The built-in values (the file's defaults after validation).
    DataSizeSettings();
    // Reads `path`; a missing file or key gives the defaults.
    static DataSizeSettings load(const std::filesystem::path& path);

    const PacketSizeLimits& receive() const { return receive_; }
    const PacketSizeLimits& send() const { return send_; }
    // Serial numbers requested per batch (COMMUNICATION/FileSvrTransIdNum).
    int transIdBatch() const { return transIdBatch_; }
    bool loaded() const { return loaded_; }

  private:
    PacketSizeLimits receive_;
    PacketSizeLimits send_;
    int transIdBatch_ = kDefaultTransIdBatch;
    bool loaded_ = false;
};

}  // namespace vantrel
