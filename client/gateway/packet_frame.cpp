#include "client/gateway/packet_frame.h"

#include <cstring>

#include "korrim/klav.h"

namespace vantrel::frame {

namespace {

void putBigEndian(char* out, std::uint32_t v) {
    out[0] = static_cast<char>(v >> 24);
    out[1] = static_cast<char>(v >> 16);
    out[2] = static_cast<char>(v >> 8);
    out[3] = static_cast<char>(v);
}

void putLittleEndian(char* out, std::uint32_t v) {
    out[0] = static_cast<char>(v);
    out[1] = static_cast<char>(v >> 8);
    out[2] = static_cast<char>(v >> 16);
    out[3] = static_cast<char>(v >> 24);
}

std::uint32_t getBigEndian(const char* p) {
    auto b = [p](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[i])); };
    return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

KLAV_SYMMETRIC_KEY cipherKey(const SessionKey& key) {
    KLAV_SYMMETRIC_KEY k{};
    k.keyLen = 16;
    k.algorithm = KLAV_DES2_ECB_PAD;
    std::memcpy(k.key, key.data(), key.size());
    return k;
}

Status corrupt(std::string text) {
    return Status::error(ErrorKind::Corruption, std::move(text));
}

}  // namespace

void writeHeader(char* out, std::uint32_t bodyLength, std::uint32_t plainLength, HeaderForm form) {
    putBigEndian(out, bodyLength);
    out[4] = '0';
    if (form == HeaderForm::Standard) {
        putBigEndian(out + 5, plainLength);
    } else {
        putLittleEndian(out + 5, plainLength);
    }
    std::memset(out + 9, form == HeaderForm::FastLogin ? '\0' : ' ', 8);
}

std::string makePacket(std::size_t bodyLength) {
    std::string packet(kHeaderSize + bodyLength, '\0');
    writeHeader(packet.data(), static_cast<std::uint32_t>(bodyLength),
                static_cast<std::uint32_t>(bodyLength));
    return packet;
}

std::uint32_t readBodyLength(const char* header) {
    return getBigEndian(header);
}
std::uint32_t readPlainLength(const char* header) {
    return getBigEndian(header + 5);
}

std::string_view messageCode(std::string_view packet) {
    return packet.size() < kCodeOffset + 2 ? std::string_view() : packet.substr(kCodeOffset, 2);
}

std::size_t encryptedSize(std::size_t plainLength) {
    std::size_t full = plainLength / kPlainChunk;
    std::size_t rest = plainLength % kPlainChunk;
    std::size_t size = full * kCipherChunk;
    if (rest != 0 || plainLength == 0) size += rest - rest % 8 + 8;
    return size;
}

Status encryptBody(std::string& packet, const SessionKey& key) {
    std::string scratch;
    return encryptBody(packet, key, scratch);
}

Status encryptBody(std::string& packet, const SessionKey& key, std::string& out) {
    if (packet.size() < kHeaderSize) return corrupt("packet shorter than its header");
    const std::size_t plainLength = packet.size() - kHeaderSize;
    const KLAV_SYMMETRIC_KEY k = cipherKey(key);
    // Every byte is written below; the resize only keeps the buffer's memory.
    out.resize(kHeaderSize + encryptedSize(plainLength));
    std::size_t in = kHeaderSize;
    std::size_t at = kHeaderSize;
    do {
        std::size_t n = std::min(kPlainChunk, packet.size() - in);
        int outLen = 0;
        int rc = KLAV_Encrypt(KLAV_DES2_ECB_PAD, &k, nullptr, 0,
                              reinterpret_cast<const unsigned char*>(packet.data() + in),
                              static_cast<int>(n),
                              reinterpret_cast<unsigned char*>(out.data() + at), &outLen);
        if (rc != KLAV_OK || outLen != static_cast<int>(n - n % 8 + 8)) {
            return Status::error(ErrorKind::IoError, "KLAV_Encrypt()=" + std::to_string(rc));
        }
        in += n;
        at += static_cast<std::size_t>(outLen);
    } while (in < packet.size());
    std::memcpy(out.data(), packet.data(), kHeaderSize);
    writeHeader(out.data(), static_cast<std::uint32_t>(at - kHeaderSize),
                static_cast<std::uint32_t>(plainLength));
    // Keep the original blanks/flag bytes at 9..16 as they were.
    std::memcpy(out.data() + 9, packet.data() + 9, 8);
    packet.swap(out);
    return Status::ok();
}

Status decryptBody(std::string& packet, const SessionKey& key) {
    std::string scratch;
    return decryptBody(packet, key, scratch);
}

Status decryptBody(std::string& packet, const SessionKey& key, std::string& out) {
    if (packet.size() < kHeaderSize) return corrupt("packet shorter than its header");
    const std::size_t cipherLength = packet.size() - kHeaderSize;
    const std::size_t plainLength = readPlainLength(packet.data());
    if (cipherLength == 0 || cipherLength % 8 != 0) {
        return corrupt("ciphertext of " + std::to_string(cipherLength) +
                       " bytes is not whole blocks");
    }
    if (plainLength >= cipherLength) {
        return corrupt("plain length " + std::to_string(plainLength) +
                       " does not fit ciphertext of " + std::to_string(cipherLength));
    }
    const KLAV_SYMMETRIC_KEY k = cipherKey(key);
    out.resize(kHeaderSize + cipherLength);
    std::size_t in = kHeaderSize;
    std::size_t at = kHeaderSize;
    std::size_t plainLeft = plainLength;
    while (in < packet.size()) {
        // Full chunks while more than one chunk of plain bytes remains; the rest is the last.
        const bool full = plainLeft > kPlainChunk;
        std::size_t n = full ? kCipherChunk : packet.size() - in;
        if (n > packet.size() - in) return corrupt("ciphertext ends inside a chunk");
        int outLen = 0;
        int rc = KLAV_Decrypt(KLAV_DES2_ECB_PAD, &k, nullptr, 0,
                              reinterpret_cast<const unsigned char*>(packet.data() + in),
                              static_cast<int>(n),
                              reinterpret_cast<unsigned char*>(out.data() + at), &outLen);
        if (rc != KLAV_OK || outLen < 0 || static_cast<std::size_t>(outLen) > plainLeft ||
            (full && static_cast<std::size_t>(outLen) != kPlainChunk)) {
            return corrupt("KLAV_Decrypt()=" + std::to_string(rc));
        }
        in += n;
        at += static_cast<std::size_t>(outLen);
        plainLeft -= static_cast<std::size_t>(outLen);
    }
    if (plainLeft != 0) {
        return corrupt("decrypted body is " + std::to_string(plainLength - plainLeft) +
                       " bytes, header says " + std::to_string(plainLength));
    }
    std::memcpy(out.data(), packet.data(), kHeaderSize);
    out.resize(at);
    writeHeader(out.data(), static_cast<std::uint32_t>(plainLength),
                static_cast<std::uint32_t>(plainLength));
    std::memcpy(out.data() + 9, packet.data() + 9, 8);
    packet.swap(out);
    return Status::ok();
}

std::string hexDigest(const unsigned char* digest16) {
    static const char kHex[] = "0123456789abcdef";
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kHex[digest16[i] >> 4];
        text[2 * i + 1] = kHex[digest16[i] & 15];
    }
    return text;
}

}  // namespace vantrel::frame
