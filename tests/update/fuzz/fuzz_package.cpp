// libFuzzer target: an update package as a hostile or broken update server may hand it over.
// Most inputs are wrapped in a valid signature and digest made with a key of the target's
// own, so that the fuzzer gets past both and reaches the entry parser and the unpacker;
// inputs whose first byte is odd go in raw, for the magic, digest and signature checks.
// Nothing may crash, and nothing may be written outside the folder a package unpacks into.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "updater/package_archive.h"
#include "updater/package_signature.h"

namespace {

namespace fs = std::filesystem;

// Memory-backed when the machine has it: the unpacker syncs every file it writes.
std::filesystem::path scratchBase() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

constexpr std::string_view kMagic = "VTPKG1\n";

struct Scratch {
    fs::path root;
    fs::path publicKey;
    EVP_PKEY* key = nullptr;  // kept for the whole run: loading a PEM key costs milliseconds
};

void writePublicKey(const fs::path& path, EVP_PKEY* key) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr) std::abort();
    const int written = PEM_write_PUBKEY(out, key);
    std::fclose(out);
    if (written != 1) std::abort();
}

const Scratch& scratch() {
    static const Scratch made = [] {
        std::string pattern = (scratchBase() / "pkgfuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        Scratch s{pattern, fs::path(pattern) / "signing.pub"};
        EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
        if (key == nullptr) std::abort();
        writePublicKey(s.publicKey, key);
        s.key = key;
        return s;
    }();
    return made;
}

std::string digest(const EVP_MD* md, std::string_view a, std::string_view b = {}) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (context == nullptr || EVP_DigestInit_ex(context, md, nullptr) != 1 ||
        EVP_DigestUpdate(context, a.data(), a.size()) != 1 ||
        EVP_DigestUpdate(context, b.data(), b.size()) != 1 ||
        EVP_DigestFinal_ex(context, out, &length) != 1) {
        std::abort();
    }
    EVP_MD_CTX_free(context);
    return std::string(reinterpret_cast<const char*>(out), length);
}

std::string sign(std::string_view message) {
    std::string signature(vantrel::updater::kSignatureSize, '\0');
    std::size_t length = signature.size();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    if (context == nullptr ||
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, scratch().key) != 1 ||
        EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &length, bytes,
                       message.size()) != 1 ||
        length != signature.size()) {
        std::abort();
    }
    EVP_MD_CTX_free(context);
    return signature;
}

// The package's signature entry as the writer lays it out, then the fuzzed entries, signed
// and closed with the digest.
std::string signedPackage(std::string_view entries) {
    std::string out(kMagic);
    out += 'F';
    out += std::string("\x00\x00\x01\xA4\x00\x0B", 6);
    out += vantrel::updater::kSignatureEntry;
    out += std::string("\x00\x00\x00\x00\x00\x00\x00\x40", 8);
    out += sign(digest(EVP_sha512(), kMagic, entries));
    out += entries;
    out += digest(EVP_sha256(), out);
    return out;
}

// Everything below `folder` must have been made there, never through a link to elsewhere.
void checkStaysInside(const fs::path& folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (fs::is_symlink(it->symlink_status())) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool raw = (data[0] & 1) != 0;
    const std::string package = raw ? std::string(input.substr(1)) : signedPackage(input.substr(1));

    const Scratch& s = scratch();
    const fs::path archive = s.root / "update.pkg";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(package.data(), static_cast<std::streamsize>(package.size()));
        if (!out) std::abort();
    }
    const fs::path folder = s.root / "unpacked";
    std::error_code ec;
    fs::remove_all(folder, ec);
    const bool verified = vantrel::updater::verifyPackage(archive, s.publicKey).isOk();
    const bool unpacked = vantrel::updater::unpackPackage(archive, folder, s.publicKey).isOk();
    // Unpacking verifies first: nothing the check refuses may be unpacked.
    if (unpacked && !verified) std::abort();
    if (fs::exists(folder)) checkStaysInside(folder);
    // Nothing but the scratch files and the unpack folder may appear beside the archive.
    for (const auto& entry : fs::directory_iterator(s.root, ec)) {
        const fs::path name = entry.path().filename();
        if (name != "update.pkg" && name != "unpacked" && name != "signing.pub") {
            std::abort();
        }
    }
    return 0;
}
