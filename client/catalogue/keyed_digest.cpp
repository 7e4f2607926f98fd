#include "client/catalogue/keyed_digest.h"

#include <cstdint>
#include <cstring>

#include "client/transfer/file_services.h"
#include "korrim/klav.h"
#include "tamsor/klav_ext.h"

namespace vantrel::catalogue {
namespace {

constexpr int kDeviceCipher = 0x10000;

// The key is the same for every file and installation; lists written by one build verify
// only with a build that assembles the same key.
KLAV_SYMMETRIC_KEY digestKey() {
    static constexpr std::uint32_t kParts[4] = {0x7A3C91E4u, 0x1F08B65Du, 0xC42E7713u, 0x5DB9A0F2u};
    KLAV_SYMMETRIC_KEY key{};
    key.keyLen = 16;
    key.algorithm = kDeviceCipher;
    for (int i = 0; i < 4; ++i) {
        for (int b = 0; b < 4; ++b)
            key.key[i * 4 + b] = static_cast<unsigned char>(kParts[i] >> (8 * b));
    }
    return key;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string InterleavedHex(const std::array<unsigned char, 24>& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string text(48, '0');
    for (std::size_t i = 0; i < 24; ++i) {
        text[i] = kDigits[bytes[i] >> 4];
        text[24 + i] = kDigits[bytes[i] & 0x0F];
    }
    return text;
}

std::optional<std::array<unsigned char, 24>> FromInterleavedHex(const std::string& text) {
    if (text.size() != 48) return std::nullopt;
    std::array<unsigned char, 24> bytes;
    for (std::size_t i = 0; i < 24; ++i) {
        const int high = hexValue(text[i]);
        const int low = hexValue(text[24 + i]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return bytes;
}

std::optional<std::string> KeyedDigestOfMd5(const std::string& md5) {
    if (md5.size() != 16) return std::nullopt;
    const KLAV_SYMMETRIC_KEY key = digestKey();
    unsigned char out[KLAV_CIPHER_OUT_MAX(16)];
    int length = 0;
    if (CKLAV_EXT::Encrypt(kDeviceCipher, &key, nullptr, 0,
                           reinterpret_cast<const unsigned char*>(md5.data()), 16, out,
                           &length) != KLAV_OK ||
        length != 24) {
        return std::nullopt;
    }
    std::array<unsigned char, 24> bytes;
    std::memcpy(bytes.data(), out, 24);
    return InterleavedHex(bytes);
}

bool KeyedDigestMatchesMd5(const std::string& md5, const std::string& digest) {
    if (md5.size() != 16) return false;
    const auto bytes = FromInterleavedHex(digest);
    if (!bytes) return false;
    const KLAV_SYMMETRIC_KEY key = digestKey();
    unsigned char out[KLAV_CIPHER_OUT_MAX(24)];
    int length = 0;
    if (CKLAV_EXT::Decrypt(kDeviceCipher, &key, nullptr, 0, bytes->data(), 24, out, &length) !=
            KLAV_OK ||
        length != 16) {
        return false;
    }
    return std::memcmp(md5.data(), out, 16) == 0;
}

std::optional<std::string> KeyedDigestOfFile(const std::filesystem::path& file) {
    return KeyedDigestOfMd5(fileMd5(file));
}

bool KeyedDigestMatches(const std::filesystem::path& file, const std::string& digest) {
    return KeyedDigestMatchesMd5(fileMd5(file), digest);
}

}  // namespace vantrel::catalogue
