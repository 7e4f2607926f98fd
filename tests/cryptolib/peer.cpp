#include "peer.h"

#include <sys/wait.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace korrim_test {

Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    }
    return bytes;
}

std::string toHex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return hex;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes pattern(size_t size, unsigned seed) {
    Bytes bytes(size);
    unsigned state = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}

void writeFile(const std::filesystem::path& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CommandResult openssl(const std::string& arguments) {
    CommandResult result;
    const std::string command = std::string(VANTREL_OPENSSL) + " " + arguments + " 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    unsigned char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.insert(result.output.end(), buffer, buffer + got);
    }
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

KLAV_SYMMETRIC_KEY symmetricKey(const Bytes& key) {
    KLAV_SYMMETRIC_KEY record;
    std::memset(&record, 0, sizeof record);
    record.keyLen = static_cast<uint32_t>(key.size());
    std::memcpy(record.key, key.data(), key.size());
    return record;
}

const TestPki& testPki() {
    static vantrel::testing::TempDir dir;
    static const TestPki pki = [] {
        TestPki p;
        p.keyPem = dir.path() / "key.pem";
        p.publicPem = dir.path() / "public.pem";
        p.certPem = dir.path() / "cert.pem";
        p.certDer = dir.path() / "cert.der";
        const std::string key = p.keyPem.string();
        if (openssl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out " + key).exitCode !=
                0 ||
            openssl("pkey -in " + key + " -pubout -out " + p.publicPem.string()).exitCode != 0 ||
            openssl("req -new -x509 -key " + key + " -days 3650 -set_serial 0x1A2B3C4D5E" +
                    " -subj '/C=CN/O=Vantrel Test/OU=Crypto/CN=korrim.test'" +
                    " -addext subjectKeyIdentifier=hash -out " + p.certPem.string())
                    .exitCode != 0 ||
            openssl("x509 -in " + p.certPem.string() + " -outform DER -out " + p.certDer.string())
                    .exitCode != 0) {
            throw std::runtime_error("openssl could not make the test key and certificate");
        }
        p.keyPemBytes = readFile(p.keyPem);
        p.publicPemBytes = readFile(p.publicPem);
        p.certPemBytes = readFile(p.certPem);
        p.certDerBytes = readFile(p.certDer);
        p.modulusBytes = 128;
        return p;
    }();
    return pki;
}

}  // namespace korrim_test
