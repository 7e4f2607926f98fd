#include "client/config/data_size.h"

#include <algorithm>
#include <limits>
#include <string>

#include "client/base/day_text.h"
#include "platform/ini_file.h"

namespace vantrel {
namespace {

// The stored reader took at most 10 characters per value.
constexpr std::size_t kValueChars = 10;

std::int64_t readNumber(const platform::IniFile& ini, const char* section, const char* key,
                        const char* fallback) {
    return base::LeadingInteger(ini.getString(section, key, fallback, kValueChars));
}

std::int64_t kilobytesToBytes(std::int64_t kb) {
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 1024;
    if (kb > kLimit) return std::numeric_limits<std::int64_t>::max();
    if (kb < -kLimit) return std::numeric_limits<std::int64_t>::min();
    return kb * 1024;
}

bool within(std::int64_t v, std::int64_t low, std::int64_t high) {
    return v >= low && v <= high;
}

PacketSizeLimits validated(PacketSizeLimits raw, std::int64_t maximumSize) {
    using S = DataSizeSettings;
    PacketSizeLimits v;
    v.initialSize = within(raw.initialSize, S::kMinimumSize, maximumSize) ? raw.initialSize
                                                                          : S::kDefaultInitialSize;
    v.lowSize = within(raw.lowSize, S::kMinimumSize, maximumSize) ? raw.lowSize : S::kMinimumSize;
    v.highSize = within(raw.highSize, S::kMinimumSize, maximumSize) ? raw.highSize : maximumSize;
    if (v.lowSize > v.highSize) v.lowSize = S::kMinimumSize;
    v.lowSeconds = within(raw.lowSeconds, S::kMinimumSeconds, S::kMaximumSeconds)
                       ? raw.lowSeconds
                       : S::kMinimumSeconds;
    v.highSeconds = within(raw.highSeconds, S::kMinimumSeconds, S::kMaximumSeconds)
                        ? raw.highSeconds
                        : S::kMaximumSeconds;
    if (v.lowSeconds > v.highSeconds) v.lowSeconds = S::kMinimumSeconds;
    return v;
}

PacketSizeLimits readLimits(const platform::IniFile& ini, const char* section,
                            const char* highDefault) {
    PacketSizeLimits raw;
    raw.initialSize = kilobytesToBytes(readNumber(ini, section, "init", "16"));
    raw.lowSize = kilobytesToBytes(readNumber(ini, section, "lowsize", "8"));
    raw.highSize = kilobytesToBytes(readNumber(ini, section, "highsize", highDefault));
    raw.lowSeconds = readNumber(ini, section, "lowsec", "4");
    raw.highSeconds = readNumber(ini, section, "highsec", "8");
    return raw;
}

}  // namespace

DataSizeSettings::DataSizeSettings() {
    receive_ = {kDefaultInitialSize, kMinimumSize, kDefaultReceiveHighSize, kMinimumSeconds,
                kMaximumSeconds};
    send_ = {kDefaultInitialSize, kMinimumSize, kMaximumSendSize, kMinimumSeconds, kMaximumSeconds};
}

DataSizeSettings DataSizeSettings::load(const std::filesystem::path& path) {
    const platform::IniFile ini(path);
    DataSizeSettings s;
    const std::int64_t batch = readNumber(ini, "COMMUNICATION", "FileSvrTransIdNum", "10");
    s.transIdBatch_ =
        batch <= 0
            ? kDefaultTransIdBatch
            : static_cast<int>(std::min<std::int64_t>(batch, std::numeric_limits<int>::max()));
    s.receive_ = validated(readLimits(ini, "rec", "1024"), kMaximumReceiveSize);
    s.send_ = validated(readLimits(ini, "snd", "128"), kMaximumSendSize);
    s.loaded_ = true;
    return s;
}

}  // namespace vantrel
