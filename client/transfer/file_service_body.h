#pragma once
// The body of the file-service transactions (message "40"), both directions, and the
// file-list entries of a list answer. See doc/formats/file-list.md.
//
//   payload offset  0  N1 (1 byte)      1  N2 (1 byte)
//                   2  A  (int32 BE)    6  B  (int32 BE)    10 C (int32 BE)
//                   14 name 1 (N1 bytes, UTF-16LE)  then name 2 (N2 bytes)  then data
//
// In the packet the payload starts at offset 145, so the data follows at 159 + N1 + N2.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vantrel::filesvc {

inline constexpr std::size_t kFixedSize = 14;
// Field C, which holds the data's length in a data-carrying body.
inline constexpr std::size_t kFieldCOffset = 10;
inline constexpr std::size_t kBodyOffset = 145;
// The largest name: 127 UTF-16 units (its byte length must fit one byte).
inline constexpr std::size_t kMaxNameBytes = 254;

// FTP types (the function code of the route).
inline constexpr std::string_view kList = "00";
inline constexpr std::string_view kDelete = "01";
inline constexpr std::string_view kRename = "02";
inline constexpr std::string_view kUpload = "03";
inline constexpr std::string_view kDownload = "04";
inline constexpr std::string_view kHistory = "09";
bool isKnownFtpType(std::string_view type);

struct Body {
    std::string name1;  // UTF-16LE bytes
    std::string name2;  // UTF-16LE bytes
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t c = 0;
    std::string_view data;  // into the packet it was read from
};

// A name as it travels: UTF-8 to UTF-16LE. Fails with "UNICODE出错" on bad text and when
// the name has more than 127 characters.
Result<std::string> wireName(std::string_view utf8);
// And back: "Unicode转ASCII出错" on bad UTF-16.
Result<std::string> nameFromWire(std::string_view utf16le);

// The body bytes (fixed part, names, data).
std::size_t bodySize(std::string_view name1, std::string_view name2, std::string_view data);
// Writes the body at `out`, which has room for bodySize() bytes: a request is built in its
// packet without copying its data twice.
void writeBody(char* out, std::string_view name1, std::string_view name2, std::int32_t a,
               std::int32_t b, std::int32_t c, std::string_view data);
std::string encodeBody(std::string_view name1, std::string_view name2, std::int32_t a,
                       std::int32_t b, std::int32_t c, std::string_view data);
// Reads the body of a whole packet (header, code, record, body). Fails when the packet is
// shorter than 159 bytes or the names pass its end. `data` is everything after the names.
Result<Body> decodeBody(std::string_view packet);
// The same for the body alone (what follows packet offset 145).
Result<Body> decodePayload(std::string_view payload);

// One entry of a list answer.
struct ListEntry {
    std::string type;  // "DIR", "VER" or a file type
    std::int64_t size = 0;
    std::string date;  // 8 characters
    std::string time;  // 8 characters, "HH:MM:SS"
    std::string name;  // UTF-8
    bool isDirectory() const { return type == "DIR"; }
};

// Walks the entries of `data` while fewer than `total` bytes are consumed; an entry that
// would pass the end of `data` is not read. "VER" entries are kept; callers that want
// files drop them.
Result<std::vector<ListEntry>> parseEntries(std::string_view data, std::int64_t total);
// One entry as the gateway writes it.
std::string encodeEntry(const ListEntry& entry);

// The version of a version-query answer: date and time digits of a first "VER" entry
// ("20261208" + "09:30:15" gives "20261208093015"); empty otherwise.
std::string versionOf(const std::vector<ListEntry>& entries);

void putInt32(std::string& out, std::size_t offset, std::int32_t value);
std::int32_t getInt32(std::string_view in, std::size_t offset);

}  // namespace vantrel::filesvc
