#include "client/gateway/text_format.h"

#include <cstdarg>
#include <cstdio>

namespace vantrel {

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(size));
    }
    va_end(args);
    return text;
}

namespace {

void appendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        out += kDigits[(value >> shift) & 0xF];
}

// The length of the valid UTF-8 sequence at `at` (1..4), or 0 when there is none.
std::size_t utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t n = 0;
    unsigned min = 0;
    unsigned code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        n = 2, min = 0x80, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        n = 3, min = 0x800, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        n = 4, min = 0x10000, code = lead & 0x07;
    else
        return 0;
    if (at + n > text.size()) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string escapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == '\\') {
            out += "\\\\";
            ++at;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            appendHex(out, "\\x", c, 2);
            ++at;
            continue;
        }
        const std::size_t n = utf8Length(text, at);
        if (n == 0) {
            appendHex(out, "\\x", c, 2);
            ++at;
            continue;
        }
        // U+0080..U+009F: two bytes, C2 80..C2 9F.
        if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            appendHex(out, "\\u", static_cast<unsigned char>(text[at + 1]), 4);
        } else {
            out.append(text.substr(at, n));
        }
        at += n;
    }
    return out;
}

bool hasControlCharacter(std::string_view text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

}  // namespace vantrel
