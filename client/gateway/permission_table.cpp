#include "client/gateway/permission_table.h"

#include <algorithm>
#include <cctype>

#include "client/gateway/packet_frame.h"
#include "client/gateway/record_codec.h"
#include "client/gateway/text_format.h"

namespace vantrel {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

void PermissionTable::clear() {
    entries_.clear();
    loaded_ = false;
}

bool PermissionTable::load(std::string_view answer, std::size_t payloadLength) {
    entries_.clear();
    const std::size_t available =
        answer.size() > frame::kPayloadOffset ? answer.size() - frame::kPayloadOffset : 0;
    const std::size_t count = std::min(payloadLength, available) / kPermissionEntrySize;
    for (std::size_t i = 0; i < count; ++i) {
        PermissionRecord entry;
        (void)decode(answer.substr(frame::kPayloadOffset + i * kPermissionEntrySize), entry);
        entries_.push_back(entry);
    }
    loaded_ = count > 0;
    return loaded_;
}

bool PermissionTable::allows(const std::string& service, const std::string& function,
                             const std::string& organisation) const {
    for (const auto& entry : entries_) {
        if (entry.kind != "C" && entry.kind != "c") continue;
        if (!equalsIgnoreCase(trimmed(entry.organisation), organisation) ||
            !equalsIgnoreCase(trimmed(entry.service), service)) {
            continue;
        }
        const std::string entryFunction = trimmed(entry.function);
        if (function.empty() || entryFunction == "**" || equalsIgnoreCase(entryFunction, function))
            return true;
    }
    return false;
}

}  // namespace vantrel
