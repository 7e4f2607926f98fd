#include "updater/package_archive.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/files.h"
#include "updater/package_signature.h"

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

// What the signature covers: the SHA-512 of the magic followed by everything after the
// signature entry up to and including the end mark. Hashed in two pieces, so that a package
// of some hundred megabytes is never copied to be signed.
std::string signedDigest(std::string_view magic, std::string_view rest) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool ok = context && EVP_DigestInit_ex(context, EVP_sha512(), nullptr) == 1 &&
                    EVP_DigestUpdate(context, magic.data(), magic.size()) == 1 &&
                    EVP_DigestUpdate(context, rest.data(), rest.size()) == 1 &&
                    EVP_DigestFinal_ex(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    return ok ? std::string(reinterpret_cast<const char*>(digest), length) : std::string();
}

void putEntryHeader(std::string& out, char kind, std::uint32_t mode, const std::string& name,
                    std::uint64_t size) {
    out.push_back(kind);
    putBig(out, mode, 4);
    putBig(out, name.size(), 2);
    out += name;
    putBig(out, size, 8);
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

// The signature entry's header: a file entry, so that a reader of the format before
// signing reads a signed package too (and unpacks the signature as one more file).
std::string signatureHeader() {
    std::string header;
    putEntryHeader(header, kFile, 0644, kSignatureEntry, kSignatureSize);
    return header;
}

// Checks the signature entry at the start of the entries against `publicKeyFile` → the
// offset of the entry after it.
Result<std::size_t> checkSignature(std::string_view covered,
                                   const std::filesystem::path& publicKeyFile) {
    const std::string header = signatureHeader();
    const std::size_t signatureEnd = kMagicSize + header.size() + kSignatureSize;
    if (covered.size() < signatureEnd || covered.substr(kMagicSize, header.size()) != header)
        return Status::error(ErrorKind::Corruption, "安装包未签名");
    const std::string digest =
        signedDigest(covered.substr(0, kMagicSize), covered.substr(signatureEnd));
    if (digest.empty()) return corrupt("摘要计算失败");
    if (Status verified = verifySignature(
            digest, covered.substr(kMagicSize + header.size(), kSignatureSize), publicKeyFile);
        !verified) {
        return verified;
    }
    return signatureEnd;
}

// Reads the whole archive into entries that point into `bytes`; the signature is checked
// before any entry is looked at.
Result<std::vector<Entry>> parse(std::string_view bytes,
                                 const std::filesystem::path& publicKeyFile) {
    if (bytes.size() < kMagicSize + 1 + kDigestSize || bytes.substr(0, kMagicSize) != kMagic)
        return corrupt("格式不符");
    const std::string_view covered = bytes.substr(0, bytes.size() - kDigestSize);
    if (sha256(covered) != bytes.substr(covered.size())) return corrupt("摘要不一致");
    Result<std::size_t> first = checkSignature(covered, publicKeyFile);
    if (!first) return first.status();
    std::vector<Entry> entries;
    std::size_t at = *first;
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
        // A second signature entry could only be there to confuse a reader.
        if (!safeEntryName(name) || name == kSignatureEntry)
            return corrupt("条目名称不合法[" + name + "]");
        if (size > covered.size() - at || (kind == kFolder && size != 0))
            return corrupt("条目长度");
        entries.push_back({kind, mode, std::move(name), covered.substr(at, size)});
        at += size;
    }
    if (at != covered.size()) return corrupt("结束标记后有多余数据");
    return entries;
}

}  // namespace

Status writePackage(const std::filesystem::path& folder, const std::filesystem::path& archive,
                    const std::filesystem::path& privateKeyFile) {
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        paths.push_back(it->path());
    }
    if (ec) return statusFromErrno(ec.value(), "读取[" + folder.string() + "]");
    std::sort(paths.begin(), paths.end());
    // The signature's place is kept, and filled once everything after it is written.
    std::string out(kMagic, kMagicSize);
    out += signatureHeader();
    const std::size_t signatureAt = out.size();
    out.append(kSignatureSize, '\0');
    for (const auto& path : paths) {
        const auto status = std::filesystem::symlink_status(path, ec);
        if (ec) return statusFromErrno(ec.value(), "读取属性[" + path.string() + "]");
        const std::string name = path.lexically_relative(folder).generic_string();
        const auto mode = static_cast<std::uint32_t>(status.permissions()) & 0777u;
        if (name == kSignatureEntry) {
            return Status::error(ErrorKind::InvalidArgument,
                                 std::string("reserved name: ") + kSignatureEntry);
        }
        if (std::filesystem::is_directory(status)) {
            putEntryHeader(out, kFolder, mode, name, 0);
        } else if (std::filesystem::is_regular_file(status)) {
            Result<std::string> data = platform::readFile(path);
            if (!data) return data.status();
            putEntryHeader(out, kFile, mode, name, data->size());
            out += *data;
        } else {
            return Status::error(ErrorKind::Unsupported, "not a file or folder: " + path.string());
        }
    }
    out.push_back(kEnd);
    const std::string_view written(out);
    const std::string digest =
        signedDigest(written.substr(0, kMagicSize), written.substr(signatureAt + kSignatureSize));
    if (digest.empty()) return Status::error(ErrorKind::IoError, "SHA-512");
    Result<std::string> signature = signMessage(digest, privateKeyFile);
    if (!signature) return signature.status();
    out.replace(signatureAt, kSignatureSize, *signature);
    out += sha256(out);
    if (Status s = platform::createDirectories(archive.parent_path()); !s) return s;
    return platform::writeFileAtomically(archive, out);
}

Status verifyPackage(const std::filesystem::path& archive,
                     const std::filesystem::path& publicKeyFile) {
    Result<std::string> bytes = platform::readFile(archive);
    if (!bytes) return bytes.status();
    return parse(*bytes, publicKeyFile).status();
}

Status unpackPackage(const std::filesystem::path& archive, const std::filesystem::path& folder,
                     const std::filesystem::path& publicKeyFile) {
    Result<std::string> bytes = platform::readFile(archive);
    if (!bytes) return bytes.status();
    Result<std::vector<Entry>> entries = parse(*bytes, publicKeyFile);
    if (!entries) return entries.status();
    platform::FileSystem& files = platform::FileSystem::real();
    std::error_code ec;
    if (std::filesystem::exists(folder, ec) || !files.createDirectories(folder)) {
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
        if (Status s = files.setPermissions(target,
                                            static_cast<std::filesystem::perms>(entry.mode & 0777u),
                                            std::filesystem::perm_options::replace);
            !s)
            return s;
    }
    return Status::ok();
}

}  // namespace vantrel::updater
