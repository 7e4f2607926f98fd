#pragma once
// The record codec: fixed-width records with no separators, built from and parsed into
// plain structs by a table of field descriptors, one per field, in wire order.
//
// Kinds:
//  - Text: in memory UTF-8; on the wire GBK, cut to the width (never inside a two-byte
//    character) and padded with blanks on the right. Parsing takes the width's bytes up to
//    the first zero byte and converts them to UTF-8 (undecodable bytes become '?'); blanks
//    are kept, callers trim.
//  - Raw: bytes copied unchanged; padded with zero bytes when shorter than the width.
//  - NativeInt32: a 32-bit integer's four bytes as they lie in memory (width 4).
//  - BigEndianInt32: a 32-bit integer, most significant byte first (width 4).
// A field without a member is a filler: it is written as its `fixed` text (blank-padded)
// or blanks, and skipped when parsing. Used by the client and the test gateway alike.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "platform/status.h"
#include "platform/text_codec.h"

namespace vantrel {

enum class FieldKind { Text, Raw, NativeInt32, BigEndianInt32 };

template <class Record>
struct Field {
    int width = 0;
    FieldKind kind = FieldKind::Text;
    std::string Record::*text = nullptr;
    std::int32_t Record::*number = nullptr;
    const char* fixed = nullptr;
};

template <class Record>
constexpr std::size_t recordWidth(std::span<const Field<Record>> layout) {
    std::size_t total = 0;
    for (const auto& f : layout) total += static_cast<std::size_t>(f.width);
    return total;
}

namespace record_detail {

inline void putText(std::string& out, std::string_view wire, int width, char pad) {
    std::size_t n = std::min<std::size_t>(wire.size(), static_cast<std::size_t>(width));
    out.append(wire.substr(0, n));
    out.append(static_cast<std::size_t>(width) - n, pad);
}

inline void putBigEndian(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

inline std::uint32_t getBigEndian(const char* p) {
    auto b = [p](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])); };
    return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

}  // namespace record_detail

// Appends the record's wire form (recordWidth bytes) to `out`.
template <class Record>
void encodeRecord(const Record& record, std::span<const Field<Record>> layout, std::string& out) {
    using namespace record_detail;
    for (const auto& f : layout) {
        switch (f.kind) {
            case FieldKind::Text: {
                std::string wire = f.text ? platform::utf8ToGbkLossy(record.*(f.text))
                                          : std::string(f.fixed ? f.fixed : "");
                wire.resize(platform::gbkPrefixLength(wire, static_cast<std::size_t>(f.width)));
                putText(out, wire, f.width, ' ');
                break;
            }
            case FieldKind::Raw:
                putText(out, f.text ? std::string_view(record.*(f.text)) : std::string_view(),
                        f.width, '\0');
                break;
            case FieldKind::NativeInt32: {
                std::int32_t v = f.number ? record.*(f.number) : 0;
                char bytes[4];
                std::memcpy(bytes, &v, 4);
                out.append(bytes, 4);
                break;
            }
            case FieldKind::BigEndianInt32:
                putBigEndian(out, static_cast<std::uint32_t>(f.number ? record.*(f.number) : 0));
                break;
        }
    }
}

template <class Record>
std::string encodeRecord(const Record& record, std::span<const Field<Record>> layout) {
    std::string out;
    out.reserve(recordWidth(layout));
    encodeRecord(record, layout, out);
    return out;
}

// Parses one record from the start of `wire`. Fails (Corruption) when `wire` is shorter
// than the record.
template <class Record>
Status decodeRecord(std::string_view wire, std::span<const Field<Record>> layout, Record& record) {
    using namespace record_detail;
    const std::size_t width = recordWidth(layout);
    if (wire.size() < width) {
        return Status::error(ErrorKind::Corruption, "record of " + std::to_string(width) +
                                                        " bytes cut short at " +
                                                        std::to_string(wire.size()));
    }
    std::size_t at = 0;
    for (const auto& f : layout) {
        std::string_view field = wire.substr(at, static_cast<std::size_t>(f.width));
        at += static_cast<std::size_t>(f.width);
        switch (f.kind) {
            case FieldKind::Text:
                if (f.text) {
                    field = field.substr(0, std::min(field.find('\0'), field.size()));
                    record.*(f.text) = platform::gbkToUtf8Lossy(field);
                }
                break;
            case FieldKind::Raw:
                if (f.text) record.*(f.text) = std::string(field);
                break;
            case FieldKind::NativeInt32:
                if (f.number) std::memcpy(&(record.*(f.number)), field.data(), 4);
                break;
            case FieldKind::BigEndianInt32:
                if (f.number)
                    record.*(f.number) = static_cast<std::int32_t>(getBigEndian(field.data()));
                break;
        }
    }
    return Status::ok();
}

// Leading and trailing blanks (and zero bytes) removed.
std::string trimmed(std::string_view text);

}  // namespace vantrel
