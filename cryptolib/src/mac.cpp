// MACs: HMAC (codes 1, 2) and the last padded CBC block (codes 4 to 32).
#include <openssl/core_names.h>
#include <openssl/err.h>

#include <memory>
#include <new>

#include "internal.h"

using namespace korrim;

namespace {

const char* hmacDigestName(int mac) {
    switch (mac) {
        case KLAV_MAC_HMAC_MD5:
            return "MD5";
        case KLAV_MAC_HMAC_SHA1:
            return "SHA1";
        default:
            return nullptr;
    }
}

const EVP_CIPHER* macCipher(int mac) {
    switch (mac) {
        case KLAV_MAC_DES_CBC:
            return desCbc();
        case KLAV_MAC_DES3_CBC:
            return des3Cbc();
        case KLAV_MAC_AES128_CBC:
            return aes128Cbc();
        case KLAV_MAC_SSF33_CBC:
            return EVP_ssf33_cbc();
        default:
            return nullptr;
    }
}

bool isMacCode(int mac) {
    return hmacDigestName(mac) != nullptr || macCipher(mac) != nullptr;
}

struct MacFree {
    void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};

EVP_MAC_CTX* newHmac(int mac, const KLAV_SYMMETRIC_KEY* key) {
    if (key->keyLen > sizeof key->key) return nullptr;
    std::unique_ptr<EVP_MAC, MacFree> hmac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!hmac) return nullptr;
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(hmac.get());
    if (ctx == nullptr) return nullptr;
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(
                               OSSL_MAC_PARAM_DIGEST, const_cast<char*>(hmacDigestName(mac)), 0),
                           OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(ctx, key->key, key->keyLen, params) != 1) {
        EVP_MAC_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

EVP_CIPHER_CTX* newCipherMac(int mac, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv,
                             int ivLen) {
    const EVP_CIPHER* cipher = macCipher(mac);
    if (cipher == nullptr || iv == nullptr || ivLen < EVP_CIPHER_get_iv_length(cipher)) {
        return nullptr;
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx != nullptr && EVP_EncryptInit_ex2(ctx, cipher, key->key, iv, nullptr) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

// Feeds data through the CBC chain; only the chaining state matters, the
// ciphertext of the full blocks is thrown away.
bool chain(EVP_CIPHER_CTX* ctx, const unsigned char* data, int length) {
    unsigned char scratch[kPieceSize + KLAV_MAX_BLOCK];
    for (int offset = 0; offset < length; offset += kPieceSize) {
        const int piece = length - offset < kPieceSize ? length - offset : kPieceSize;
        int written = 0;
        if (EVP_EncryptUpdate(ctx, scratch, &written, data + offset, piece) != 1) return false;
    }
    return true;
}

int finishHmac(EVP_MAC_CTX* ctx, unsigned char* out, int* outLen) {
    size_t size = 0;
    const int rc = EVP_MAC_final(ctx, out, &size, KLAV_MAX_DIGEST_SIZE);
    if (rc != 1 || ERR_peek_error() != 0) return fail(KLAV_ERR_CRYPTO, outLen);
    *outLen = static_cast<int>(size);
    return KLAV_OK;
}

int finishCipherMac(EVP_CIPHER_CTX* ctx, unsigned char* out, int* outLen) {
    const int rc = EVP_EncryptFinal_ex(ctx, out, outLen);
    return rc == 1 ? KLAV_OK : fail(rc, outLen);
}

bool isMacHandle(const KLAV_HANDLE* handle) {
    return (*handle)->kind == klav_context::kHmac || (*handle)->kind == klav_context::kCipherMac;
}

void release(KLAV_HANDLE* handle) {
    delete *handle;
    *handle = nullptr;
}

}  // namespace

int KLAV_MAC(int mac, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
             const unsigned char* data, int length, unsigned char* out, int* outLen) {
    if (!isMacCode(mac)) return fail(KLAV_ERR_MAC_ALG, outLen);
    if (key == nullptr || !validInput(data, length) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    if (hmacDigestName(mac) != nullptr) {
        ERR_clear_error();
        EVP_MAC_CTX* ctx = newHmac(mac, key);
        if (ctx == nullptr) return fail(KLAV_ERR_CRYPTO, outLen);
        int rc = KLAV_ERR_CRYPTO;
        if (EVP_MAC_update(ctx, data, static_cast<size_t>(length)) == 1) {
            rc = finishHmac(ctx, out, outLen);
        }
        EVP_MAC_CTX_free(ctx);
        return rc == KLAV_OK ? rc : fail(rc, outLen);
    }
    CipherCtx ctx(newCipherMac(mac, key, iv, ivLen));
    if (!ctx) return fail(KLAV_ERR_SETUP, outLen);
    if (!chain(ctx.get(), data, length)) return fail(KLAV_ERR_CRYPTO, outLen);
    return finishCipherMac(ctx.get(), out, outLen);
}

int KLAV_MACInit(int mac, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
                 const unsigned char* iv, int ivLen) {
    if (!isMacCode(mac)) return KLAV_ERR_MAC_ALG;
    if (handle == nullptr || key == nullptr) return KLAV_ERR_CRYPTO;
    *handle = nullptr;
    const bool isHmac = hmacDigestName(mac) != nullptr;
    std::unique_ptr<klav_context> context(
        new (std::nothrow) klav_context(isHmac ? klav_context::kHmac : klav_context::kCipherMac));
    if (!context) return KLAV_ERR_CRYPTO;
    if (isHmac) {
        ERR_clear_error();
        context->mac = newHmac(mac, key);
        if (context->mac == nullptr) return KLAV_ERR_CRYPTO;
    } else {
        context->cipher = newCipherMac(mac, key, iv, ivLen);
        if (context->cipher == nullptr) return KLAV_ERR_SETUP;
    }
    *handle = context.release();
    return KLAV_OK;
}

int KLAV_MACUpdate(KLAV_HANDLE* handle, const unsigned char* data, int length) {
    if (handle == nullptr || *handle == nullptr) return KLAV_ERR_CRYPTO;
    if (!isMacHandle(handle)) return KLAV_ERR_MAC_HANDLE;
    bool done = validInput(data, length);
    if (done && (*handle)->kind == klav_context::kHmac) {
        done = EVP_MAC_update((*handle)->mac, data, static_cast<size_t>(length)) == 1;
    } else if (done) {
        done = chain((*handle)->cipher, data, length);
    }
    if (!done) {
        release(handle);
        return KLAV_ERR_CRYPTO;
    }
    return KLAV_OK;
}

int KLAV_MACFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen) {
    if (handle == nullptr || *handle == nullptr) return fail(KLAV_ERR_CRYPTO, outLen);
    if (!isMacHandle(handle)) return fail(KLAV_ERR_MAC_HANDLE, outLen);
    int rc = KLAV_ERR_CRYPTO;
    if (out != nullptr && outLen != nullptr) {
        // Only errors of this final step count, not whatever the caller left queued.
        ERR_clear_error();
        rc = (*handle)->kind == klav_context::kHmac
                 ? finishHmac((*handle)->mac, out, outLen)
                 : finishCipherMac((*handle)->cipher, out, outLen);
    }
    release(handle);
    return rc == KLAV_OK ? rc : fail(rc, outLen);
}
