#pragma once
// The gateway's packet frame: a 17-byte header, a 2-character message code, fixed-width
// records, then a payload; after the login request, bodies travel encrypted in chunks.
//
// Header: [0,4) body length, big-endian (after encryption: the encrypted size);
//         [4] '0'; [5,9) plain body length, big-endian (the login requests write it
//         little-endian); [9,17) eight blanks (the fast-transfer login: zero bytes).
// See doc/formats/gateway-frame.md.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel::frame {

inline constexpr std::size_t kHeaderSize = 17;
inline constexpr std::size_t kCodeOffset = 17;
inline constexpr std::size_t kRecordOffset = 19;
inline constexpr std::size_t kRecordSize = 126;
inline constexpr std::size_t kPayloadOffset = 145;  // header + code + record
// Bodies are encrypted in chunks of this many plain bytes; a full chunk grows to 16,392.
inline constexpr std::size_t kPlainChunk = 16384;
inline constexpr std::size_t kCipherChunk = 16392;
// Packets travel in pieces of at most this many bytes.
inline constexpr std::size_t kPiece = 16640;
// No message of the protocol comes near this; a header announcing more is corrupt.
inline constexpr std::uint32_t kMaxBodyLength = 64u << 20;

// Message codes.
inline constexpr std::string_view kLoginCode = "E0";
inline constexpr std::string_view kFastLoginCode = "80";
inline constexpr std::string_view kPermissionCode = "E6";
inline constexpr std::string_view kSerialRequestCode = "22";
inline constexpr std::string_view kSerialAnswerCode = "23";
inline constexpr std::string_view kFileServiceCode = "40";

enum class HeaderForm {
    Standard,   // plain length big-endian, eight blanks
    Login,      // plain length little-endian, eight blanks
    FastLogin,  // plain length little-endian, eight zero bytes
};

using SessionKey = std::array<unsigned char, 16>;

// Writes a 17-byte header at `out`.
void writeHeader(char* out, std::uint32_t bodyLength, std::uint32_t plainLength,
                 HeaderForm form = HeaderForm::Standard);
// A packet of `bodyLength` zero bytes after a standard header with both lengths set.
std::string makePacket(std::size_t bodyLength);
std::uint32_t readBodyLength(const char* header);
std::uint32_t readPlainLength(const char* header);
// The 2-character message code of a packet ("" when too short).
std::string_view messageCode(std::string_view packet);

// Size of a body of `plainLength` bytes once encrypted: each chunk of n plain bytes gives
// n - n % 8 + 8.
std::size_t encryptedSize(std::size_t plainLength);

// Encrypts the body of `packet` (header + plain body) in place, chunk by chunk with code
// 0x10000, and writes the encrypted length at offset 0 and the plain length at offset 5.
// Fails with the reason (the crypto library's code) when a chunk cannot be encrypted.
Status encryptBody(std::string& packet, const SessionKey& key);
// Reverses encryptBody: reads the plain length at offset 5, decrypts chunk by chunk and
// rewrites both length fields with the plain length. Fails (Corruption) on a ciphertext
// that is not a whole number of 8-byte blocks, chunks that do not add up to the plain
// length, or a chunk the crypto library rejects; `packet` is then unchanged.
Status decryptBody(std::string& packet, const SessionKey& key);

// The same, built in `scratch` and swapped with `packet`: a connection that keeps its
// scratch buffer across packets reuses two buffers instead of taking fresh memory (and
// its page faults) for every packet of up to 2 MiB. `scratch` holds no meaning afterwards.
Status encryptBody(std::string& packet, const SessionKey& key, std::string& scratch);
Status decryptBody(std::string& packet, const SessionKey& key, std::string& scratch);

// 32 lower-case hex digits of 16 bytes.
std::string hexDigest(const unsigned char* digest16);

}  // namespace vantrel::frame
