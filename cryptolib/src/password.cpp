// Password encryption: the 0x10000 construction under a key drawn from the
// password's MD5, behind a 16-byte check value.
#include <openssl/crypto.h>

#include <cstring>

#include "internal.h"

using namespace korrim;

namespace {

constexpr int kCheckSize = 16;

// D = MD5(password) is the key (K1 = D[0..7], K2 = D[8..15]); MD5(D) is the check.
bool deriveKeys(const char* password, unsigned char key[16], unsigned char check[16]) {
    int length = 0;
    return KLAV_HASH(KLAV_MD5, reinterpret_cast<const unsigned char*>(password),
                     static_cast<int>(std::strlen(password)), key, &length) == KLAV_OK &&
           KLAV_HASH(KLAV_MD5, key, 16, check, &length) == KLAV_OK;
}

}  // namespace

int KLAV_PasswordEncrypt(const char* password, const unsigned char* data, int length,
                         unsigned char* out, int* outLen) {
    if (password == nullptr || !validInput(data, length) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    unsigned char key[16];
    unsigned char check[kCheckSize];
    if (!deriveKeys(password, key, check)) return fail(KLAV_ERR_CRYPTO, outLen);
    int cipherLen = 0;
    const int rc = encryptDes2Padded(key, data, length, out + kCheckSize, &cipherLen);
    OPENSSL_cleanse(key, sizeof key);
    if (rc != KLAV_OK) return fail(rc, outLen);
    std::memcpy(out, check, kCheckSize);
    *outLen = cipherLen + kCheckSize;
    return KLAV_OK;
}

int KLAV_PasswordDecrypt(const char* password, const unsigned char* blob, int blobLen,
                         unsigned char* out, int* outLen) {
    if (password == nullptr || !validInput(blob, blobLen) || blobLen < kCheckSize ||
        out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    unsigned char key[16];
    unsigned char check[kCheckSize];
    if (!deriveKeys(password, key, check)) return fail(KLAV_ERR_CRYPTO, outLen);
    if (CRYPTO_memcmp(check, blob, kCheckSize) != 0) {
        OPENSSL_cleanse(key, sizeof key);
        return fail(KLAV_ERR_PASSWORD, outLen);
    }
    const int rc = decryptDes2Padded(key, blob + kCheckSize, blobLen - kCheckSize, out, outLen);
    OPENSSL_cleanse(key, sizeof key);
    return rc;
}
