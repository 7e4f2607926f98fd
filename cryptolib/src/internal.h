// Shared helpers of the Korrim implementation. Nothing here is exported.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "korrim/klav.h"

namespace korrim {

// Pieces in which data is fed to a cipher or digest and read from files.
inline constexpr int kPieceSize = 4096;

// Ciphers come from a library context of our own with the default and legacy
// providers loaded, so single DES works without touching the host program's
// provider set. Fetched once, on first use, from any thread.
const EVP_CIPHER* cipherForCode(int code);  // 0x1..0x2000, 0x4000, 0x10000; else null
bool isSymmetricCode(int code);
bool isStreamingCode(int code);  // the eight codes of the Init/Update/Final family

// SSF33 is backed by SM4: 16-byte key and block.
const EVP_CIPHER* EVP_ssf33_ecb();
const EVP_CIPHER* EVP_ssf33_cbc();
const EVP_CIPHER* desCbc();
const EVP_CIPHER* des3Cbc();
const EVP_CIPHER* aes128Cbc();

const EVP_MD* digestForCode(int code);  // 1 MD5, 2 SHA-1; else null

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// Records a failure length where the caller asked for one.
inline int fail(int status, int* outLen) {
    if (outLen != nullptr) *outLen = 0;
    return status;
}

// A data argument is usable when its length is not negative and it points
// somewhere whenever there is something to read.
inline bool validInput(const void* data, int length) {
    return length >= 0 && (data != nullptr || length == 0);
}

// The two-key Triple-DES construction with the library's own padding.
int encryptDes2Padded(const unsigned char key[16], const unsigned char* in, int inLen,
                      unsigned char* out, int* outLen);
int decryptDes2Padded(const unsigned char key[16], const unsigned char* in, int inLen,
                      unsigned char* out, int* outLen);

// RSA keys from a key holder. Null when the holder cannot be read.
Pkey loadPrivateKey(const KLAV_RSA_KEY* holder);
Pkey loadPublicKey(const KLAV_RSA_KEY* holder);

}  // namespace korrim

// Context behind a KLAV_HANDLE. The kind comes first: the MAC functions answer
// 785 for a handle that holds neither of their two kinds.
struct klav_context {
    enum Kind : uint32_t { kHmac = 0, kCipherMac = 1, kDigest = 2, kEncrypt = 3, kDecrypt = 4 };

    explicit klav_context(Kind k) : kind(k) {}
    ~klav_context();
    klav_context(const klav_context&) = delete;
    klav_context& operator=(const klav_context&) = delete;

    Kind kind;
    EVP_MD_CTX* digest = nullptr;
    EVP_MAC_CTX* mac = nullptr;
    EVP_CIPHER_CTX* cipher = nullptr;
};
