#include "platform/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace vantrel::platform {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

std::uint8_t byteAt(std::string_view bytes, std::size_t i) {
    return static_cast<std::uint8_t>(bytes[i]);
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<std::uint8_t>(c) < 0x80; });
}

// The GBK character at the start of `bytes`: 1 for ASCII, 2 for a lead byte 0x81..0xFE with
// a trail byte 0x40..0xFE other than 0x7F, 0 for anything else (0x80 and 0xFF, a lead byte
// without its trail byte). iconv takes 0x80 as a one-byte euro sign; GBK proper has none.
std::size_t gbkCharLength(std::string_view bytes) {
    const std::uint8_t lead = byteAt(bytes, 0);
    if (lead < 0x80) return 1;
    if (lead == 0x80 || lead == 0xFF || bytes.size() < 2) return 0;
    const std::uint8_t trail = byteAt(bytes, 1);
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 0;
}

std::size_t firstNonGbk(std::string_view gbk) {
    for (std::size_t i = 0; i < gbk.size();) {
        const std::size_t length = gbkCharLength(gbk.substr(i));
        if (length == 0) return i;
        i += length;
    }
    return kNone;
}

// The bytes of one unconvertible GBK character, so a lossy conversion steps over it whole.
std::size_t gbkBadLength(std::string_view gbk) {
    return gbkCharLength(gbk) == 2 ? 2 : 1;
}

// The euro sign, which iconv would write as the byte 0x80 that GBK lacks.
std::size_t firstUtf8WithoutGbk(std::string_view utf8) {
    return utf8.find("\xE2\x82\xAC");
}

// The length of the UTF-8 sequence announced by its lead byte, or 1 for a stray byte.
std::size_t utf8BadLength(std::string_view utf8) {
    const std::uint8_t lead = byteAt(utf8, 0);
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 1;
    if (length > utf8.size()) return 1;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byteAt(utf8, i) & 0xC0) != 0x80) return i;
    }
    return length;
}

struct Encoding {
    const char* iconvName;
    const char* label;
    // Offset of the first character refused here although iconv would take it, or kNone.
    std::size_t (*firstRefused)(std::string_view);
    // How many bytes a character that does not convert occupies.
    std::size_t (*badLength)(std::string_view);
};

const Encoding kUtf8{"UTF-8", "UTF-8", firstUtf8WithoutGbk, utf8BadLength};
const Encoding kGbk{"GBK", "GBK", firstNonGbk, gbkBadLength};

class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (isOpen()) iconv_close(cd_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool isOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Appends the conversion of `span` to `out` and returns how many input bytes converted:
    // all of them, or up to the first sequence that does not convert.
    std::size_t convert(std::string_view span, std::string& out) {
        char* in = const_cast<char*>(span.data());
        std::size_t inLeft = span.size();
        char buffer[4096];
        while (inLeft > 0) {
            char* next = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t rc = iconv(cd_, &in, &inLeft, &next, &outLeft);
            out.append(buffer, static_cast<std::size_t>(next - buffer));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) break;
        }
        return span.size() - inLeft;
    }

  private:
    iconv_t cd_;
};

// Converts `in` from `from` to `to`. A character that does not convert fails the whole
// conversion, or with `lossy` becomes '?'.
Result<std::string> convert(const Encoding& from, const Encoding& to, std::string_view in,
                            bool lossy) {
    IconvHandle cd(to.iconvName, from.iconvName);
    if (!cd.isOpen()) {
        return Status::error(ErrorKind::Unsupported,
                             std::string("no converter from ") + from.label + " to " + to.label);
    }
    std::string out;
    out.reserve(in.size() + in.size() / 2);
    std::size_t pos = 0;
    while (pos < in.size()) {
        const std::string_view rest = in.substr(pos);
        const std::size_t clean = std::min(from.firstRefused(rest), rest.size());
        pos += cd.convert(rest.substr(0, clean), out);
        if (pos == in.size()) break;
        if (!lossy) {
            return Status::error(ErrorKind::InvalidArgument,
                                 std::string(from.label) + " to " + to.label + ": byte " +
                                     std::to_string(pos) + " does not start a convertible " +
                                     from.label + " character");
        }
        out += '?';
        pos += from.badLength(in.substr(pos));
    }
    return out;
}

Status badUtf(const char* what, std::size_t index) {
    return Status::error(ErrorKind::InvalidArgument,
                         std::string("invalid ") + what + " at unit " + std::to_string(index));
}

}  // namespace

Result<std::string> utf8ToGbk(std::string_view utf8) {
    if (isAscii(utf8)) return std::string(utf8);
    return convert(kUtf8, kGbk, utf8, false);
}

Result<std::string> gbkToUtf8(std::string_view gbk) {
    if (isAscii(gbk)) return std::string(gbk);
    return convert(kGbk, kUtf8, gbk, false);
}

std::string utf8ToGbkLossy(std::string_view utf8) {
    if (isAscii(utf8)) return std::string(utf8);
    Result<std::string> gbk = convert(kUtf8, kGbk, utf8, true);
    return gbk ? std::move(gbk).value() : std::string(utf8.size(), '?');
}

std::string gbkToUtf8Lossy(std::string_view gbk) {
    if (isAscii(gbk)) return std::string(gbk);
    Result<std::string> utf8 = convert(kGbk, kUtf8, gbk, true);
    return utf8 ? std::move(utf8).value() : std::string(gbk.size(), '?');
}

std::size_t gbkLength(std::string_view utf8) {
    return utf8ToGbkLossy(utf8).size();
}

std::size_t gbkPrefixLength(std::string_view gbk, std::size_t maxBytes) {
    std::size_t length = 0;
    while (length < gbk.size()) {
        const std::uint8_t lead = byteAt(gbk, length);
        const std::size_t step = lead >= 0x81 && lead <= 0xFE && length + 1 < gbk.size() ? 2 : 1;
        if (length + step > maxBytes) break;
        length += step;
    }
    return length;
}

Result<std::u16string> utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint8_t lead = byteAt(utf8, i);
        // The sequence length, the lead byte's payload and the least code of that length.
        std::size_t length = 1;
        char32_t code = lead;
        char32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, minimum = 0x10000;
        } else if (lead >= 0x80) {
            return badUtf("UTF-8", i);
        }
        if (i + length > utf8.size()) return badUtf("UTF-8", i);
        for (std::size_t k = 1; k < length; ++k) {
            const std::uint8_t next = byteAt(utf8, i + k);
            if ((next & 0xC0) != 0x80) return badUtf("UTF-8", i);
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if (code < minimum || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return badUtf("UTF-8", i);
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

Result<std::string> utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 3);
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        char32_t code = utf16[i];
        if (code >= 0xDC00 && code <= 0xDFFF) return badUtf("UTF-16", i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 1 == utf16.size() || utf16[i + 1] < 0xDC00 || utf16[i + 1] > 0xDFFF)
                return badUtf("UTF-16", i);
            code = 0x10000 + ((code - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string utf16ToLeBytes(std::u16string_view utf16) {
    std::string bytes;
    bytes.reserve(utf16.size() * 2);
    for (const char16_t unit : utf16) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

std::u16string leBytesToUtf16(std::string_view bytes) {
    std::u16string utf16;
    utf16.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        utf16 += static_cast<char16_t>(byteAt(bytes, i) | (byteAt(bytes, i + 1) << 8));
    }
    return utf16;
}

}  // namespace vantrel::platform
