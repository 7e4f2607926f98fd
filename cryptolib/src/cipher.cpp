// Symmetric ciphers: one-shot, file and Init/Update/Final.
#include <openssl/crypto.h>

#include <cstring>

#include "des_bitslice.h"
#include "internal.h"

using namespace korrim;

namespace {

// The fixed IV of code 0x4000, "KLAVCFB8".
constexpr unsigned char kCfb8Iv[8] = {0x4B, 0x4C, 0x41, 0x56, 0x43, 0x46, 0x42, 0x38};

bool needsIv(const EVP_CIPHER* cipher) {
    return EVP_CIPHER_get_iv_length(cipher) > 0;
}

// Sets up ctx for an OpenSSL-backed code with the caller's IV where the mode has one.
bool initCipher(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* cipher, const KLAV_SYMMETRIC_KEY* key,
                const unsigned char* iv, int ivLen, bool encrypt) {
    const unsigned char* usedIv = nullptr;
    if (needsIv(cipher)) {
        if (iv == nullptr || ivLen < EVP_CIPHER_get_iv_length(cipher)) return false;
        usedIv = iv;
    }
    return EVP_CipherInit_ex2(ctx, cipher, key->key, usedIv, encrypt ? 1 : 0, nullptr) == 1;
}

int encryptStandard(const EVP_CIPHER* cipher, const KLAV_SYMMETRIC_KEY* key,
                    const unsigned char* iv, int ivLen, const unsigned char* in, int inLen,
                    unsigned char* out, int* outLen) {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || !initCipher(ctx.get(), cipher, key, iv, ivLen, true)) {
        return fail(KLAV_ERR_SETUP, outLen);
    }
    int total = 0;
    for (int offset = 0; offset < inLen; offset += kPieceSize) {
        const int piece = inLen - offset < kPieceSize ? inLen - offset : kPieceSize;
        int written = 0;
        const int rc = EVP_EncryptUpdate(ctx.get(), out + total, &written, in + offset, piece);
        if (rc != 1) return fail(rc, outLen);
        total += written;
    }
    int written = 0;
    const int rc = EVP_EncryptFinal_ex(ctx.get(), out + total, &written);
    if (rc != 1) return fail(rc, outLen);
    *outLen = total + written;
    return KLAV_OK;
}

int decryptStandard(const EVP_CIPHER* cipher, const KLAV_SYMMETRIC_KEY* key,
                    const unsigned char* iv, int ivLen, const unsigned char* in, int inLen,
                    unsigned char* out, int* outLen) {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || !initCipher(ctx.get(), cipher, key, iv, ivLen, false)) {
        return fail(KLAV_ERR_SETUP, outLen);
    }
    int total = 0;
    int rc = EVP_DecryptUpdate(ctx.get(), out, &total, in, inLen);
    if (rc != 1) return fail(rc, outLen);
    int written = 0;
    rc = EVP_DecryptFinal_ex(ctx.get(), out + total, &written);
    if (rc != 1) return fail(rc, outLen);
    *outLen = total + written;
    return KLAV_OK;
}

// DES in 8-bit CFB mode under the library's IV; output length equals input length.
int runCfb8(const KLAV_SYMMETRIC_KEY* key, const unsigned char* in, int inLen, unsigned char* out,
            int* outLen, bool encrypt) {
    const EVP_CIPHER* cipher = cipherForCode(KLAV_DES_CFB8);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (cipher == nullptr || !ctx ||
        EVP_CipherInit_ex2(ctx.get(), cipher, key->key, kCfb8Iv, encrypt ? 1 : 0, nullptr) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    int total = 0;
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), out, &total, in, inLen) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out + total, &written) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    *outLen = total + written;
    return KLAV_OK;
}

bool validCall(const KLAV_SYMMETRIC_KEY* key, const unsigned char* in, int inLen,
               const unsigned char* out, const int* outLen) {
    return key != nullptr && validInput(in, inLen) && out != nullptr && outLen != nullptr;
}

int runCipher(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
              const unsigned char* in, int inLen, unsigned char* out, int* outLen, bool encrypt) {
    if (!isSymmetricCode(cipher)) return KLAV_ERR_CIPHER_ALG;
    if (!validCall(key, in, inLen, out, outLen)) return fail(KLAV_ERR_CRYPTO, outLen);
    if (cipher == KLAV_DES2_ECB_PAD) {
        return encrypt ? encryptDes2Padded(key->key, in, inLen, out, outLen)
                       : decryptDes2Padded(key->key, in, inLen, out, outLen);
    }
    if (cipher == KLAV_DES_CFB8) return runCfb8(key, in, inLen, out, outLen, encrypt);
    const EVP_CIPHER* evp = cipherForCode(cipher);
    if (evp == nullptr) return fail(KLAV_ERR_SETUP, outLen);
    return encrypt ? encryptStandard(evp, key, iv, ivLen, in, inLen, out, outLen)
                   : decryptStandard(evp, key, iv, ivLen, in, inLen, out, outLen);
}

}  // namespace

namespace korrim {

int encryptDes2Padded(const unsigned char key[16], const unsigned char* in, int inLen,
                      unsigned char* out, int* outLen) {
    const int remainder = inLen % 8;
    const int padded = inLen - remainder + 8;
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_EncryptInit_ex2(ctx.get(), cipherForCode(KLAV_DES2_ECB_PAD), key, nullptr,
                                    nullptr) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    // The filler carries no meaning; zeros keep earlier buffer contents from leaking.
    if (inLen > 0) std::memmove(out, in, static_cast<size_t>(inLen));
    std::memset(out + inLen, 0, static_cast<size_t>(padded - inLen));
    out[padded - 1] = static_cast<unsigned char>(7 - remainder);
    // Whole batches take the bitsliced path; the remaining blocks go through OpenSSL.
    const int done =
        static_cast<int>(des2EcbBatches(key, true, out, out, static_cast<size_t>(padded / 8)) * 8);
    const int rest = padded - done;
    int written = 0;
    if (rest > 0 && (EVP_EncryptUpdate(ctx.get(), out + done, &written, out + done, rest) != 1 ||
                     written != rest)) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    *outLen = padded;
    return KLAV_OK;
}

int decryptDes2Padded(const unsigned char key[16], const unsigned char* in, int inLen,
                      unsigned char* out, int* outLen) {
    if (inLen <= 0 || inLen % 8 != 0) return fail(KLAV_ERR_CRYPTO, outLen);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_DecryptInit_ex2(ctx.get(), cipherForCode(KLAV_DES2_ECB_PAD), key, nullptr,
                                    nullptr) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    // The last block is checked before anything reaches out, so a rejected
    // input leaves the caller's buffer untouched.
    unsigned char last[8];
    int written = 0;
    if (EVP_DecryptUpdate(ctx.get(), last, &written, in + inLen - 8, 8) != 1 || written != 8) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const int fillerAndCount = last[7] + 1;
    if (fillerAndCount > 8) {
        OPENSSL_cleanse(last, sizeof last);
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const int head = inLen - 8;
    const int done =
        static_cast<int>(des2EcbBatches(key, false, in, out, static_cast<size_t>(head / 8)) * 8);
    const int rest = head - done;
    if (rest > 0 && (EVP_DecryptUpdate(ctx.get(), out + done, &written, in + done, rest) != 1 ||
                     written != rest)) {
        OPENSSL_cleanse(last, sizeof last);
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    std::memcpy(out + head, last, static_cast<size_t>(8 - fillerAndCount));
    OPENSSL_cleanse(last, sizeof last);
    *outLen = inLen - fillerAndCount;
    return KLAV_OK;
}

}  // namespace korrim

int KLAV_Encrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
                 const unsigned char* in, int inLen, unsigned char* out, int* outLen) {
    return runCipher(cipher, key, iv, ivLen, in, inLen, out, outLen, true);
}

int KLAV_Decrypt(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
                 const unsigned char* in, int inLen, unsigned char* out, int* outLen) {
    return runCipher(cipher, key, iv, ivLen, in, inLen, out, outLen, false);
}
