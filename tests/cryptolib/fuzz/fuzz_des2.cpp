// Code 0x10000 against OpenSSL's two-key EDE on fuzzer-chosen keys and data:
// encryption must equal the hand-padded reference, decryption of the result
// must give the data back, and decrypting the data itself as ciphertext must
// agree with the reference decryption. Layout: 16 key bytes, then data.
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "korrim/klav.h"

namespace {

std::vector<unsigned char> reference(const unsigned char* key, const unsigned char* in, size_t size,
                                     bool encrypt) {
    std::vector<unsigned char> out(size);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    const bool ok =
        ctx != nullptr &&
        EVP_CipherInit_ex(ctx, EVP_des_ede_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
        (size == 0 || EVP_CipherUpdate(ctx, out.data(), &written, in, static_cast<int>(size)) == 1);
    EVP_CIPHER_CTX_free(ctx);
    if (!ok || static_cast<size_t>(written) != size) std::abort();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 16) return 0;
    KLAV_SYMMETRIC_KEY key;
    std::memset(&key, 0, sizeof key);
    key.keyLen = 16;
    std::memcpy(key.key, data, 16);
    const unsigned char* in = data + 16;
    const size_t inLen = size - 16;

    std::vector<unsigned char> padded(inLen - inLen % 8 + 8, 0);
    std::memcpy(padded.data(), in, inLen);
    padded.back() = static_cast<unsigned char>(7 - inLen % 8);
    const std::vector<unsigned char> expected =
        reference(key.key, padded.data(), padded.size(), true);
    std::vector<unsigned char> cipher(padded.size());
    int cipherLen = -1;
    if (KLAV_Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, in, static_cast<int>(inLen),
                     cipher.data(), &cipherLen) != KLAV_OK ||
        cipher != expected) {
        std::abort();
    }
    std::vector<unsigned char> back(cipher.size());
    int backLen = -1;
    if (KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, cipher.data(), cipherLen, back.data(),
                     &backLen) != KLAV_OK ||
        static_cast<size_t>(backLen) != inLen || std::memcmp(back.data(), in, inLen) != 0) {
        std::abort();
    }

    // The data as ciphertext, in place: accepted exactly when its last plain byte is 0..7.
    const size_t whole = inLen - inLen % 8;
    if (whole == 0) return 0;
    const std::vector<unsigned char> plain = reference(key.key, in, whole, false);
    std::vector<unsigned char> buffer(in, in + whole);
    int outLen = -1;
    const int rc = KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, buffer.data(),
                                static_cast<int>(whole), buffer.data(), &outLen);
    if (plain.back() > 7) {
        if (rc != KLAV_ERR_CRYPTO) std::abort();
    } else if (rc != KLAV_OK || static_cast<size_t>(outLen) != whole - plain.back() - 1 ||
               std::memcmp(buffer.data(), plain.data(), static_cast<size_t>(outLen)) != 0) {
        std::abort();
    }
    return 0;
}
