#pragma once
// Decimal text as the stored settings files were read: leading blanks, an optional sign,
// then digits up to the first non-digit; no digit at all reads as 0. Saturates at the
// 64-bit limits instead of overflowing.

#include <cstdint>
#include <string_view>

namespace vantrel {

std::int64_t parseLeadingInteger(std::string_view text);

}  // namespace vantrel
