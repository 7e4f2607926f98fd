#pragma once
// The keyed digest of an upload list row: the MD5 digest of the file's content, encrypted
// by the device adapter (code 0x10000, 16 bytes in, 24 out) under the client's fixed key,
// written as 48 lower-case hex digits in an interleaved layout: character i is the high
// digit of byte i and character 24 + i its low digit.

#include <array>
#include <filesystem>
#include <optional>
#include <string>

namespace vantrel::catalogue {

// The 48-character digest of the file, or nothing when it cannot be read or encrypted.
std::optional<std::string> KeyedDigestOfFile(const std::filesystem::path& file);
// Whether `digest` still matches the file; any failure counts as "changed" (false).
bool KeyedDigestMatches(const std::filesystem::path& file, const std::string& digest);
// The same two from the file's MD5 digest (16 bytes, as fileMd5 gives it), for a caller
// that needs both without reading the file twice.
std::optional<std::string> KeyedDigestOfMd5(const std::string& md5);
bool KeyedDigestMatchesMd5(const std::string& md5, const std::string& digest);

// The interleaved text form of 24 bytes, and back (nothing for a malformed text).
std::string InterleavedHex(const std::array<unsigned char, 24>& bytes);
std::optional<std::array<unsigned char, 24>> FromInterleavedHex(const std::string& text);

}  // namespace vantrel::catalogue
