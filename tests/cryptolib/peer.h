// Helpers shared by the Korrim tests: byte strings, hex, files and the openssl
// command-line tool as an independent peer.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "korrim/klav.h"

namespace korrim_test {

using Bytes = std::vector<unsigned char>;

Bytes fromHex(std::string_view hex);
std::string toHex(const Bytes& bytes);
Bytes bytesOf(std::string_view text);
// Deterministic filler data of the given size.
Bytes pattern(size_t size, unsigned seed = 1);

void writeFile(const std::filesystem::path& path, const Bytes& content);
Bytes readFile(const std::filesystem::path& path);

struct CommandResult {
    int exitCode = -1;
    Bytes output;  // stdout
};

// Runs "openssl <arguments>" through the shell, stderr discarded.
CommandResult openssl(const std::string& arguments);

KLAV_SYMMETRIC_KEY symmetricKey(const Bytes& key);

// An RSA key and a self-signed certificate made once per test run by openssl.
struct TestPki {
    std::filesystem::path keyPem;  // PKCS#8 private key
    std::filesystem::path publicPem;
    std::filesystem::path certPem;
    std::filesystem::path certDer;
    Bytes keyPemBytes;
    Bytes publicPemBytes;
    Bytes certPemBytes;
    Bytes certDerBytes;
    int modulusBytes = 0;
};
const TestPki& testPki();

}  // namespace korrim_test
