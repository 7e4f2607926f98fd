#include "updater/package_archive.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/files.h"

namespace vantrel::updater {

namespace {

constexpr char kMagic[] = "VTPKG1\n";
constexpr std::size_t kMagicSize = sizeof kMagic - 1;
constexpr std::size_t kDigestSize = 32;
constexpr std::size_t kMaxNameSize = 4096;
constexpr char kFile = 'F';
constexpr char kFolder = 'D';
constexpr char kEnd = 'E';

void putBig(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

std::uint64_t getBig(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
    return value;
}

std::string sha256(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char*>(digest), length);
}

Status corrupt(const std::string& why) {
    return Status::error(ErrorKind::Corruption, "安装包损坏:" + why);
}

// A relative name of plain components: no empty, "." or ".." component, no backslash,
// no control character. Such a name cannot leave the folder it is joined to.
bool safeEntryName(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.back() == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = std::min(name.find('/', start), name.size());
        std::string_view part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '\\' || u < 0x20 || u == 0x7f;
    });
}

struct Entry {
    char kind;
    std::uint32_t mode;
    std::string name;
    std::string_view data;
};

// Reads the whole archive into entries that point into `bytes`.
Result<std::vector<Entry>> parse(std::string_view bytes) {
    if (bytes.size() < kMagicSize + 1 + kDigestSize || bytes.substr(0, kMagicSize) != kMagic)
        return corrupt("格式不符");
    const std::string_view covered = bytes.substr(0, bytes.size() - kDigestSize);
    if (sha256(covered) != bytes.substr(covered.size())) return corrupt("摘要不一致");
    std::vector<Entry> entries;
    std::size_t at = kMagicSize;
    while (true) {
        if (at >= covered.size()) return corrupt("缺少结束标记");
        const char kind = covered[at++];
        if (kind == kEnd) break;
        if ((kind != kFile && kind != kFolder) || covered.size() - at < 6) return corrupt("条目头");
        const auto mode = static_cast<std::uint32_t>(getBig(covered, at, 4));
        const auto nameSize = static_cast<std::size_t>(getBig(covered, at + 4, 2));
        at += 6;
        if (nameSize > kMaxNameSize || covered.size() - at < nameSize + 8) return corrupt("条目头");
        std::string name(covered.substr(at, nameSize));
        at += nameSize;
        const std::uint64_t size = getBig(covered, at, 8);
        at += 8;
        if (!safeEntryName(name)) return corrupt("条目名称不合法[" + name + "]");
        if (size > covered.size() - at || (kind == kFolder && size != 0))
            return corrupt("条目长度");
        entries.push_back({kind, mode, std::move(name), covered.substr(at, size)});
        at += size;
    }
    if (at != covered.size()) return corrupt("结束标记后有多余数据");
    return entries;
}

}  // namespace

Status writePackage(const std::filesystem::path& folder, const std::filesystem::path& archive) {
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        paths.push_back(it->path());
    }
    if (ec) return statusFromErrno(ec.value(), "read " + folder.string());
    std::sort(paths.begin(), paths.end());
    std::string out(kMagic, kMagicSize);
    for (const auto& path : paths) {
        const auto status = std::filesystem::symlink_status(path, ec);
        if (ec) return statusFromErrno(ec.value(), "stat " + path.string());
        const std::string name = path.lexically_relative(folder).generic_string();
        const auto mode = static_cast<std::uint32_t>(status.permissions()) & 0777u;
        if (std::filesystem::is_directory(status)) {
            out.push_back(kFolder);
            putBig(out, mode, 4);
            putBig(out, name.size(), 2);
            out += name;
            putBig(out, 0, 8);
        } else if (std::filesystem::is_regular_file(status)) {
            Result<std::string> data = platform::readFile(path);
            if (!data) return data.status();
            out.push_back(kFile);
            putBig(out, mode, 4);
            putBig(out, name.size(), 2);
            out += name;
            putBig(out, data->size(), 8);
            out += *data;
        } else {
            return Status::error(ErrorKind::Unsupported, "not a file or folder: " + path.string());
        }
    }
    out.push_back(kEnd);
    out += sha256(out);
    if (Status s = platform::createDirectories(archive.parent_path()); !s) return s;
    return platform::writeFileAtomically(archive, out);
}

Status verifyPackage(const std::filesystem::path& archive) {
    Result<std::string> bytes = platform::readFile(archive);
    if (!bytes) return bytes.status();
    return parse(*bytes).status();
}

Status unpackPackage(const std::filesystem::path& archive, const std::filesystem::path& folder) {
    Result<std::string> bytes = platform::readFile(archive);
    if (!bytes) return bytes.status();
    Result<std::vector<Entry>> entries = parse(*bytes);
    if (!entries) return entries.status();
    std::error_code ec;
    if (!std::filesystem::create_directory(folder, ec)) {
        return Status::error(ErrorKind::AlreadyExists, "cannot create " + folder.string());
    }
    for (const Entry& entry : *entries) {
        const std::filesystem::path target = folder / entry.name;
        if (entry.kind == kFolder) {
            if (Status s = platform::createDirectories(target); !s) return s;
        } else {
            if (Status s = platform::createDirectories(target.parent_path()); !s) return s;
            if (Status s = platform::writeFileAtomically(target, entry.data); !s) return s;
        }
        std::filesystem::permissions(target,
                                     static_cast<std::filesystem::perms>(entry.mode & 0777u), ec);
        if (ec) return statusFromErrno(ec.value(), "chmod " + target.string());
    }
    return Status::ok();
}

}  // namespace vantrel::updater
