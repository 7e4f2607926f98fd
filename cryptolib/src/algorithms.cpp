// Algorithm tables: code to OpenSSL cipher or digest, fetched once.
#include <openssl/provider.h>

#include <mutex>

#include "internal.h"

namespace korrim {
namespace {

struct CipherTable {
    OSSL_LIB_CTX* library = nullptr;
    const EVP_CIPHER* des3Ecb = nullptr;
    const EVP_CIPHER* des3Cbc = nullptr;
    const EVP_CIPHER* aesEcb = nullptr;
    const EVP_CIPHER* aesCbc = nullptr;
    const EVP_CIPHER* sm4Ecb = nullptr;
    const EVP_CIPHER* sm4Cbc = nullptr;
    const EVP_CIPHER* desEcb = nullptr;
    const EVP_CIPHER* desCbc = nullptr;
    const EVP_CIPHER* desCfb8 = nullptr;
    const EVP_CIPHER* des2Ecb = nullptr;
};

// Lives for the whole process: handles and contexts of any thread may refer to
// the fetched ciphers until exit.
const CipherTable& table() {
    static CipherTable t;
    static std::once_flag once;
    std::call_once(once, [] {
        t.library = OSSL_LIB_CTX_new();
        if (t.library == nullptr) return;
        // Single DES lives in the legacy provider; everything else in default.
        OSSL_PROVIDER_load(t.library, "default");
        OSSL_PROVIDER_load(t.library, "legacy");
        auto fetch = [](const char* name) -> const EVP_CIPHER* {
            return EVP_CIPHER_fetch(t.library, name, nullptr);
        };
        t.des3Ecb = fetch("DES-EDE3-ECB");
        t.des3Cbc = fetch("DES-EDE3-CBC");
        t.aesEcb = fetch("AES-128-ECB");
        t.aesCbc = fetch("AES-128-CBC");
        t.sm4Ecb = fetch("SM4-ECB");
        t.sm4Cbc = fetch("SM4-CBC");
        t.desEcb = fetch("DES-ECB");
        t.desCbc = fetch("DES-CBC");
        t.desCfb8 = fetch("DES-CFB8");
        t.des2Ecb = fetch("DES-EDE-ECB");
    });
    return t;
}

}  // namespace

const EVP_CIPHER* EVP_ssf33_ecb() {
    return table().sm4Ecb;
}
const EVP_CIPHER* EVP_ssf33_cbc() {
    return table().sm4Cbc;
}
const EVP_CIPHER* desCbc() {
    return table().desCbc;
}
const EVP_CIPHER* des3Cbc() {
    return table().des3Cbc;
}
const EVP_CIPHER* aes128Cbc() {
    return table().aesCbc;
}

const EVP_CIPHER* cipherForCode(int code) {
    const CipherTable& t = table();
    switch (code) {
        case KLAV_DES3_ECB:
            return t.des3Ecb;
        case KLAV_DES3_CBC:
            return t.des3Cbc;
        case KLAV_AES128_ECB:
            return t.aesEcb;
        case KLAV_AES128_CBC:
            return t.aesCbc;
        case KLAV_SSF33_ECB:
            return EVP_ssf33_ecb();
        case KLAV_SSF33_CBC:
            return EVP_ssf33_cbc();
        case KLAV_DES_ECB:
            return t.desEcb;
        case KLAV_DES_CBC:
            return t.desCbc;
        case KLAV_DES_CFB8:
            return t.desCfb8;
        case KLAV_DES2_ECB_PAD:
            return t.des2Ecb;
        default:
            return nullptr;
    }
}

bool isStreamingCode(int code) {
    switch (code) {
        case KLAV_DES3_ECB:
        case KLAV_DES3_CBC:
        case KLAV_AES128_ECB:
        case KLAV_AES128_CBC:
        case KLAV_SSF33_ECB:
        case KLAV_SSF33_CBC:
        case KLAV_DES_ECB:
        case KLAV_DES_CBC:
            return true;
        default:
            return false;
    }
}

bool isSymmetricCode(int code) {
    return isStreamingCode(code) || code == KLAV_DES_CFB8 || code == KLAV_DES2_ECB_PAD;
}

const EVP_MD* digestForCode(int code) {
    switch (code) {
        case KLAV_MD5:
            return EVP_md5();
        case KLAV_SHA1:
            return EVP_sha1();
        default:
            return nullptr;
    }
}

}  // namespace korrim

klav_context::~klav_context() {
    EVP_MD_CTX_free(digest);
    EVP_MAC_CTX_free(mac);
    EVP_CIPHER_CTX_free(cipher);
}
