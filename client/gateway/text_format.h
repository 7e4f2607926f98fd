#pragma once
// printf-style formatting into a std::string, for the system's fixed message texts, and
// the escaping of names from a gateway before they reach a terminal or a message.

#include <string>
#include <string_view>

namespace vantrel {

[[gnu::format(printf, 1, 2)]] std::string formatText(const char* format, ...);

// `text` with every byte that could steer a terminal written as a visible escape, so the
// result is one line that shows every byte: C0 controls and DEL as \xHH (NUL as \x00, ESC
// as \x1b), the C1 controls U+0080..U+009F as \u0080..\u009f, and bytes that are not
// UTF-8 as \xHH. A backslash is doubled so that no name can pass for an escape. Everything
// else, Chinese text included, is kept as it is.
std::string escapeControlCharacters(std::string_view text);

// True when `text` holds a C0 control character or DEL.
bool hasControlCharacter(std::string_view text);

}  // namespace vantrel
