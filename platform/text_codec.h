#pragma once
// The program keeps text in UTF-8. Wire records, DBF fields and log files carry GBK (the
// fixed legacy 8-bit encoding: a Chinese character is 2 bytes); names that travel as
// UTF-16LE stay UTF-16LE. Conversions go through iconv and fail clearly on bad input.
// GBK here is the two-byte code proper: 0x80 and 0xFF are never valid bytes, so the euro
// sign has no GBK form.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel::platform {

Result<std::string> utf8ToGbk(std::string_view utf8);
Result<std::string> gbkToUtf8(std::string_view gbk);
// For texts that must not fail (log lines, display): characters that do not convert
// become '?'.
std::string utf8ToGbkLossy(std::string_view utf8);
std::string gbkToUtf8Lossy(std::string_view gbk);

// Byte length of `utf8` once converted to GBK (ASCII 1, Chinese 2; a character without a
// GBK form counts as its '?').
std::size_t gbkLength(std::string_view utf8);
// The longest prefix of GBK bytes that fits in `maxBytes` without splitting a two-byte
// character.
std::size_t gbkPrefixLength(std::string_view gbk, std::size_t maxBytes);

Result<std::u16string> utf8ToUtf16(std::string_view utf8);
Result<std::string> utf16ToUtf8(std::u16string_view utf16);
// UTF-16 as little-endian bytes, as on the wire.
std::string utf16ToLeBytes(std::u16string_view utf16);
// An odd last byte is dropped.
std::u16string leBytesToUtf16(std::string_view bytes);

}  // namespace vantrel::platform
