#include "client/gateway/trans_serials.h"

#include <cinttypes>
#include <cstdio>

namespace vantrel {

namespace {

// A decimal number of 1..maxDigits digits, blanks around it allowed.
bool parseDecimal(const std::string& text, std::size_t maxDigits, std::uint64_t& value) {
    std::string digits = trimmed(text);
    if (digits.empty() || digits.size() > maxDigits) return false;
    value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

void adoptPending(CTransIdM& block) {
    block.base = block.pendingStart;
    block.used = 0;
    block.pendingStart = 0;
    block.pendingFlag = 0;
}

}  // namespace

std::string Route::key() const {
    return trimmed(organisation) + trimmed(service) + trimmed(function);
}

int TakeSerial(SerialPool& pool, const Route& route, std::string& serial, char& flag) {
    auto it = pool.find(route.key());
    if (it == pool.end()) return -1;
    CTransIdM& block = it->second;
    if (block.used >= block.count) {
        if (block.pendingFlag == 0) return -1;
        adoptPending(block);
    }
    if (block.base < 1) {
        if (block.pendingStart < 1) return -1;
        adoptPending(block);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%016" PRIu64,
                  block.base + static_cast<std::uint64_t>(block.used));
    serial = text;
    flag = block.serialFlag;
    ++block.used;
    return 0;
}

bool NeedsSerials(const SerialPool& pool, const Route& route) {
    auto it = pool.find(route.key());
    if (it == pool.end()) return true;
    return it->second.pendingFlag == 0 && it->second.count - it->second.used < 6;
}

Status AddSerialBlock(SerialPool& pool, const Route& route, const SerialAnswerRecord& answer) {
    const std::string key = route.key();
    if (key.empty()) return Status::error(ErrorKind::InvalidArgument, "empty route");
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    if (!parseDecimal(answer.firstSerial, 16, first) || first < 1 ||
        !parseDecimal(answer.count, 4, count) || count < 1) {
        return Status::error(ErrorKind::Corruption,
                             "serial block [" + answer.firstSerial + "/" + answer.count + "]");
    }
    // A new entry starts with base 0 and used 0: its first take adopts the block.
    CTransIdM& block = pool[key];
    block.pendingStart = first;
    block.count = static_cast<int>(count);
    block.pendingFlag = 1;
    block.text = answer.text;
    block.route = route;
    block.serialFlag = answer.serialFlag.empty() ? '0' : answer.serialFlag[0];
    return Status::ok();
}

}  // namespace vantrel
