#pragma once
// printf-style formatting into a std::string, for the system's fixed message texts.

#include <string>

namespace vantrel {

[[gnu::format(printf, 1, 2)]] std::string formatText(const char* format, ...);

}  // namespace vantrel
