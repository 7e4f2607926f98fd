#include "client/transfer/file_service_body.h"

#include <cstring>

#include "platform/text_codec.h"

namespace vantrel::filesvc {

bool isKnownFtpType(std::string_view type) {
    return type == kList || type == kDelete || type == kRename || type == kUpload ||
           type == kDownload || type == kHistory;
}

namespace {

void putInt32At(char* out, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    out[0] = static_cast<char>(u >> 24);
    out[1] = static_cast<char>(u >> 16);
    out[2] = static_cast<char>(u >> 8);
    out[3] = static_cast<char>(u);
}

}  // namespace

void putInt32(std::string& out, std::size_t offset, std::int32_t value) {
    putInt32At(out.data() + offset, value);
}

std::int32_t getInt32(std::string_view in, std::size_t offset) {
    const auto byte = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(in[offset + i]));
    };
    return static_cast<std::int32_t>(byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3));
}

Result<std::string> wireName(std::string_view utf8) {
    Result<std::u16string> wide = platform::utf8ToUtf16(utf8);
    if (!wide || wide->size() * 2 > kMaxNameBytes)
        return Status::error(ErrorKind::InvalidArgument, "UNICODE出错");
    return platform::utf16ToLeBytes(*wide);
}

Result<std::string> nameFromWire(std::string_view utf16le) {
    if (utf16le.size() % 2 != 0) return Status::error(ErrorKind::Corruption, "Unicode转ASCII出错");
    Result<std::string> text = platform::utf16ToUtf8(platform::leBytesToUtf16(utf16le));
    if (!text) return Status::error(ErrorKind::Corruption, "Unicode转ASCII出错");
    return text;
}

std::size_t bodySize(std::string_view name1, std::string_view name2, std::string_view data) {
    return kFixedSize + name1.size() + name2.size() + data.size();
}

void writeBody(char* out, std::string_view name1, std::string_view name2, std::int32_t a,
               std::int32_t b, std::int32_t c, std::string_view data) {
    out[0] = static_cast<char>(name1.size());
    out[1] = static_cast<char>(name2.size());
    putInt32At(out + 2, a);
    putInt32At(out + 6, b);
    putInt32At(out + kFieldCOffset, c);
    out += kFixedSize;
    for (std::string_view part : {name1, name2, data}) {
        if (!part.empty()) std::memcpy(out, part.data(), part.size());
        out += part.size();
    }
}

std::string encodeBody(std::string_view name1, std::string_view name2, std::int32_t a,
                       std::int32_t b, std::int32_t c, std::string_view data) {
    std::string out(bodySize(name1, name2, data), '\0');
    writeBody(out.data(), name1, name2, a, b, c, data);
    return out;
}

Result<Body> decodeBody(std::string_view packet) {
    if (packet.size() < kBodyOffset + kFixedSize) {
        return Status::error(ErrorKind::Corruption, "应答数据长度不足");
    }
    return decodePayload(packet.substr(kBodyOffset));
}

Result<Body> decodePayload(std::string_view body) {
    if (body.size() < kFixedSize) return Status::error(ErrorKind::Corruption, "应答数据长度不足");
    const std::size_t n1 = static_cast<unsigned char>(body[0]);
    const std::size_t n2 = static_cast<unsigned char>(body[1]);
    if (kFixedSize + n1 + n2 > body.size())
        return Status::error(ErrorKind::Corruption, "应答数据长度不足");
    Body out;
    out.a = getInt32(body, 2);
    out.b = getInt32(body, 6);
    out.c = getInt32(body, kFieldCOffset);
    out.name1 = std::string(body.substr(kFixedSize, n1));
    out.name2 = std::string(body.substr(kFixedSize + n1, n2));
    out.data = body.substr(kFixedSize + n1 + n2);
    return out;
}

Result<std::vector<ListEntry>> parseEntries(std::string_view data, std::int64_t total) {
    std::vector<ListEntry> entries;
    std::size_t at = 0;
    while (static_cast<std::int64_t>(at) < total && at + 24 <= data.size()) {
        const std::size_t nameLength = static_cast<unsigned char>(data[at]);
        if (at + 24 + nameLength > data.size()) break;
        ListEntry e;
        e.type = std::string(data.substr(at + 1, 3));
        e.size = getInt32(data, at + 4);
        e.date = std::string(data.substr(at + 8, 8));
        e.time = std::string(data.substr(at + 16, 8));
        // Fixed-width texts end at their first zero byte.
        for (std::string* s : {&e.type, &e.date, &e.time})
            s->resize(std::min(s->size(), s->find('\0')));
        Result<std::string> name = nameFromWire(data.substr(at + 24, nameLength));
        if (!name) return name.status();
        e.name = std::move(name.value());
        entries.push_back(std::move(e));
        at += 24 + nameLength;
    }
    return entries;
}

std::string encodeEntry(const ListEntry& entry) {
    Result<std::string> wire = wireName(entry.name);
    const std::string name = wire ? std::move(wire.value()) : std::string();
    std::string out(24, '\0');
    out[0] = static_cast<char>(name.size());
    out.replace(1, std::min<std::size_t>(3, entry.type.size()), entry.type.substr(0, 3));
    putInt32(out, 4, static_cast<std::int32_t>(entry.size));
    out.replace(8, std::min<std::size_t>(8, entry.date.size()), entry.date.substr(0, 8));
    out.replace(16, std::min<std::size_t>(8, entry.time.size()), entry.time.substr(0, 8));
    return out + name;
}

std::string versionOf(const std::vector<ListEntry>& entries) {
    if (entries.empty() || entries.front().type != "VER") return {};
    std::string version = entries.front().date;
    for (char c : entries.front().time) {
        if (c != ':') version += c;
    }
    return version;
}

}  // namespace vantrel::filesvc
