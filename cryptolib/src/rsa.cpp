// RSA: raw PKCS#1 v1.5 operations, signatures and digital envelopes.
#include <openssl/decoder.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "internal.h"

using namespace korrim;

namespace korrim {
namespace {

Pkey decodeKey(const KLAV_RSA_KEY* holder, int selection) {
    if (holder == nullptr || holder->data == nullptr || holder->length <= 0) return Pkey();
    EVP_PKEY* key = nullptr;
    ERR_set_mark();
    OSSL_DECODER_CTX* decoder =
        OSSL_DECODER_CTX_new_for_pkey(&key, nullptr, nullptr, "RSA", selection, nullptr, nullptr);
    if (decoder != nullptr) {
        const unsigned char* data = holder->data;
        size_t length = static_cast<size_t>(holder->length);
        if (OSSL_DECODER_from_data(decoder, &data, &length) != 1) {
            EVP_PKEY_free(key);
            key = nullptr;
        }
        OSSL_DECODER_CTX_free(decoder);
    }
    // A holder that is not of the tried form leaves decoder noise behind.
    ERR_pop_to_mark();
    return Pkey(key);
}

}  // namespace

Pkey loadPrivateKey(const KLAV_RSA_KEY* holder) {
    return decodeKey(holder, EVP_PKEY_KEYPAIR);
}

Pkey loadPublicKey(const KLAV_RSA_KEY* holder) {
    Pkey key = decodeKey(holder, EVP_PKEY_PUBLIC_KEY);
    return key ? std::move(key) : decodeKey(holder, EVP_PKEY_KEYPAIR);
}

}  // namespace korrim

namespace {

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

enum class RsaOp { PublicEncrypt, PublicRecover, PrivateSign, PrivateDecrypt };

// One PKCS#1 v1.5 operation; out holds the modulus size.
int rsaRun(EVP_PKEY* key, RsaOp op, const unsigned char* in, int inLen, unsigned char* out,
           int* outLen) {
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx) return KLAV_ERR_RSA_KEY;
    size_t size = static_cast<size_t>(EVP_PKEY_get_size(key));
    int rc = 0;
    switch (op) {
        case RsaOp::PublicEncrypt:
            rc = EVP_PKEY_encrypt_init(ctx.get()) == 1 &&
                 EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                 EVP_PKEY_encrypt(ctx.get(), out, &size, in, static_cast<size_t>(inLen)) == 1;
            break;
        case RsaOp::PublicRecover:
            rc =
                EVP_PKEY_verify_recover_init(ctx.get()) == 1 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_verify_recover(ctx.get(), out, &size, in, static_cast<size_t>(inLen)) == 1;
            break;
        case RsaOp::PrivateSign:
            rc = EVP_PKEY_sign_init(ctx.get()) == 1 &&
                 EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                 EVP_PKEY_sign(ctx.get(), out, &size, in, static_cast<size_t>(inLen)) == 1;
            break;
        case RsaOp::PrivateDecrypt:
            rc = EVP_PKEY_decrypt_init(ctx.get()) == 1 &&
                 EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                 EVP_PKEY_decrypt(ctx.get(), out, &size, in, static_cast<size_t>(inLen)) == 1;
            break;
    }
    ERR_clear_error();
    if (!rc) return KLAV_ERR_CRYPTO;
    *outLen = static_cast<int>(size);
    return KLAV_OK;
}

int rawRsa(const KLAV_RSA_KEY* holder, bool privateKey, RsaOp op, const unsigned char* in,
           int inLen, unsigned char* out, int* outLen) {
    if (!validInput(in, inLen) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    Pkey key = privateKey ? loadPrivateKey(holder) : loadPublicKey(holder);
    if (!key) return fail(KLAV_ERR_RSA_KEY, outLen);
    const int rc = rsaRun(key.get(), op, in, inLen, out, outLen);
    return rc == KLAV_OK ? rc : fail(rc, outLen);
}

int signDigestCode(int sign) {
    switch (sign) {
        case KLAV_SIGN_MD5:
            return KLAV_MD5;
        case KLAV_SIGN_SHA1:
            return KLAV_SHA1;
        default:
            return 0;
    }
}

int verifyDigestCode(int verify) {
    switch (verify) {
        case KLAV_VERIFY_MD5:
            return KLAV_MD5;
        case KLAV_VERIFY_SHA1:
            return KLAV_SHA1;
        default:
            return 0;
    }
}

// The DigestInfo this library has always signed: the algorithm is OpenSSL's
// object number 108 whatever digest was used. Other holders of the library
// verify against exactly this encoding, so it stays.
constexpr int kDigestInfoObject = 108;

std::vector<unsigned char> digestInfo(const unsigned char* digest, int digestLen) {
    std::vector<unsigned char> encoded;
    X509_SIG* sig = X509_SIG_new();
    if (sig == nullptr) return encoded;
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* value = nullptr;
    X509_SIG_getm(sig, &algorithm, &value);
    unsigned char* der = nullptr;
    int length = 0;
    if (X509_ALGOR_set0(algorithm, OBJ_nid2obj(kDigestInfoObject), V_ASN1_NULL, nullptr) == 1 &&
        ASN1_OCTET_STRING_set(value, digest, digestLen) == 1 &&
        (length = i2d_X509_SIG(sig, &der)) > 0) {
        encoded.assign(der, der + length);
    }
    OPENSSL_free(der);
    X509_SIG_free(sig);
    return encoded;
}

// Digest of a file read in 4096-byte pieces: 1, 2 (cannot open) or 3.
int digestFile(int digest, const char* fileName, unsigned char* out, int* outLen) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) return KLAV_ERR_FILE;
    KLAV_HANDLE handle = nullptr;
    int rc = KLAV_HASHInit(digest, &handle);
    unsigned char piece[kPieceSize];
    while (rc == KLAV_OK) {
        const size_t got = std::fread(piece, 1, sizeof piece, file);
        if (got == 0) break;
        rc = KLAV_HASHUpdate(&handle, piece, static_cast<int>(got));
    }
    if (rc == KLAV_OK && std::ferror(file)) rc = KLAV_ERR_CRYPTO;
    std::fclose(file);
    if (rc != KLAV_OK) {
        if (handle != nullptr) KLAV_HASHFinal(&handle, out, outLen);
        return rc;
    }
    return KLAV_HASHFinal(&handle, out, outLen);
}

int signDigest(int digestCode, const KLAV_RSA_KEY* holder, const unsigned char* digest,
               int digestLen, unsigned char* signature, int* signatureLen) {
    Pkey key = loadPrivateKey(holder);
    if (!key) return fail(KLAV_ERR_RSA_KEY, signatureLen);
    (void)digestCode;
    const std::vector<unsigned char> info = digestInfo(digest, digestLen);
    if (info.empty()) return fail(KLAV_ERR_CRYPTO, signatureLen);
    const int rc = rsaRun(key.get(), RsaOp::PrivateSign, info.data(), static_cast<int>(info.size()),
                          signature, signatureLen);
    return rc == KLAV_OK ? rc : fail(rc, signatureLen);
}

int verifyDigest(const KLAV_RSA_KEY* holder, const unsigned char* digest, int digestLen,
                 const unsigned char* signature, int signatureLen, int* valid) {
    Pkey key = loadPublicKey(holder);
    if (!key) return KLAV_ERR_RSA_KEY;
    const std::vector<unsigned char> expected = digestInfo(digest, digestLen);
    if (expected.empty()) return KLAV_ERR_CRYPTO;
    *valid = 0;
    if (signatureLen != EVP_PKEY_get_size(key.get())) return KLAV_OK;
    std::vector<unsigned char> recovered(static_cast<size_t>(signatureLen));
    int recoveredLen = 0;
    if (rsaRun(key.get(), RsaOp::PublicRecover, signature, signatureLen, recovered.data(),
               &recoveredLen) != KLAV_OK) {
        return KLAV_OK;
    }
    *valid = static_cast<size_t>(recoveredLen) == expected.size() &&
             std::memcmp(recovered.data(), expected.data(), expected.size()) == 0;
    return KLAV_OK;
}

// Envelope ciphers: the code, the identifier byte the envelope carries, the cipher.
struct EnvelopeCipher {
    int code;
    unsigned char identifier;
    const EVP_CIPHER* (*cipher)();
};

const EVP_CIPHER* envelopeAes() {
    return aes128Cbc();
}

constexpr EnvelopeCipher kEnvelopeCiphers[] = {
    {KLAV_ENV_AES128_CBC, 1, envelopeAes},
    {KLAV_ENV_DES_CBC, 2, desCbc},
    {KLAV_ENV_DES3_CBC, 3, des3Cbc},
    {KLAV_ENV_SSF33_CBC, 4, EVP_ssf33_cbc},
};

// "ENV-KLAV-IV-16!" and a NUL; the 8-byte-block ciphers use the first half.
constexpr unsigned char kEnvelopeIv[16] = {0x45, 0x4E, 0x56, 0x2D, 0x4B, 0x4C, 0x41, 0x56,
                                           0x2D, 0x49, 0x56, 0x2D, 0x31, 0x36, 0x21, 0x00};

const EnvelopeCipher* envelopeByCode(int code) {
    for (const auto& entry : kEnvelopeCiphers) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

const EnvelopeCipher* envelopeByIdentifier(unsigned char identifier) {
    for (const auto& entry : kEnvelopeCiphers) {
        if (entry.identifier == identifier) return &entry;
    }
    return nullptr;
}

}  // namespace

int KLAV_RSAPublicKeyEnc(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                         unsigned char* out, int* outLen) {
    return rawRsa(key, false, RsaOp::PublicEncrypt, in, inLen, out, outLen);
}

int KLAV_RSAPublicKeyDec(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                         unsigned char* out, int* outLen) {
    return rawRsa(key, false, RsaOp::PublicRecover, in, inLen, out, outLen);
}

int KLAV_RSAPrivateKeyEnc(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                          unsigned char* out, int* outLen) {
    return rawRsa(key, true, RsaOp::PrivateSign, in, inLen, out, outLen);
}

int KLAV_RSAPrivateKeyDec(const KLAV_RSA_KEY* key, const unsigned char* in, int inLen,
                          unsigned char* out, int* outLen) {
    return rawRsa(key, true, RsaOp::PrivateDecrypt, in, inLen, out, outLen);
}

int KLAV_Sign(int sign, const KLAV_RSA_KEY* privateKey, const unsigned char* data, int length,
              unsigned char* signature, int* signatureLen) {
    const int digestCode = signDigestCode(sign);
    if (digestCode == 0) return fail(KLAV_ERR_DIGEST_ALG, signatureLen);
    if (signature == nullptr || signatureLen == nullptr) return fail(KLAV_ERR_CRYPTO, signatureLen);
    unsigned char digest[KLAV_MAX_DIGEST_SIZE];
    int digestLen = 0;
    if (KLAV_HASH(digestCode, data, length, digest, &digestLen) != KLAV_OK) {
        return fail(KLAV_ERR_CRYPTO, signatureLen);
    }
    return signDigest(digestCode, privateKey, digest, digestLen, signature, signatureLen);
}

int KLAV_SignFile(int sign, const KLAV_RSA_KEY* privateKey, const char* fileName,
                  unsigned char* signature, int* signatureLen) {
    const int digestCode = signDigestCode(sign);
    if (digestCode == 0) return fail(KLAV_ERR_DIGEST_ALG, signatureLen);
    if (fileName == nullptr || signature == nullptr || signatureLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, signatureLen);
    }
    unsigned char digest[KLAV_MAX_DIGEST_SIZE];
    int digestLen = 0;
    const int rc = digestFile(digestCode, fileName, digest, &digestLen);
    if (rc != KLAV_OK) return fail(rc, signatureLen);
    return signDigest(digestCode, privateKey, digest, digestLen, signature, signatureLen);
}

int KLAV_Verify(int verify, const KLAV_RSA_KEY* publicKey, const unsigned char* data, int length,
                const unsigned char* signature, int signatureLen, int* valid) {
    const int digestCode = verifyDigestCode(verify);
    if (digestCode == 0) return KLAV_ERR_DIGEST_ALG;
    if (!validInput(signature, signatureLen) || valid == nullptr) return KLAV_ERR_CRYPTO;
    unsigned char digest[KLAV_MAX_DIGEST_SIZE];
    int digestLen = 0;
    if (KLAV_HASH(digestCode, data, length, digest, &digestLen) != KLAV_OK) return KLAV_ERR_CRYPTO;
    return verifyDigest(publicKey, digest, digestLen, signature, signatureLen, valid);
}

int KLAV_VerifyFile(int verify, const KLAV_RSA_KEY* publicKey, const char* fileName,
                    const unsigned char* signature, int signatureLen, int* valid) {
    const int digestCode = verifyDigestCode(verify);
    if (digestCode == 0) return KLAV_ERR_DIGEST_ALG;
    if (fileName == nullptr || !validInput(signature, signatureLen) || valid == nullptr) {
        return KLAV_ERR_CRYPTO;
    }
    unsigned char digest[KLAV_MAX_DIGEST_SIZE];
    int digestLen = 0;
    const int rc = digestFile(digestCode, fileName, digest, &digestLen);
    if (rc != KLAV_OK) return rc;
    return verifyDigest(publicKey, digest, digestLen, signature, signatureLen, valid);
}

int KLAV_EncodeEnvelope(int cipher, const KLAV_RSA_KEY* recipientPublicKey,
                        const unsigned char* data, int length, unsigned char* out, int* outLen) {
    const EnvelopeCipher* envelope = envelopeByCode(cipher);
    if (envelope == nullptr) return fail(KLAV_ERR_TYPE, outLen);
    if (!validInput(data, length) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const EVP_CIPHER* evp = envelope->cipher();
    unsigned char contentKey[32];
    if (evp == nullptr || RAND_bytes(contentKey, sizeof contentKey) != 1) {
        return fail(KLAV_ERR_SETUP, outLen);
    }
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    const bool ready =
        ctx && EVP_EncryptInit_ex2(ctx.get(), evp, contentKey, kEnvelopeIv, nullptr) == 1;
    const int keyLength = EVP_CIPHER_get_key_length(evp);
    unsigned char keyBlock[1 + sizeof contentKey];
    keyBlock[0] = envelope->identifier;
    std::memcpy(keyBlock + 1, contentKey, static_cast<size_t>(keyLength));
    OPENSSL_cleanse(contentKey, sizeof contentKey);
    if (!ready) {
        OPENSSL_cleanse(keyBlock, sizeof keyBlock);
        return fail(KLAV_ERR_SETUP, outLen);
    }
    Pkey key = loadPublicKey(recipientPublicKey);
    int rsaLength = 0;
    const int rc =
        key ? rsaRun(key.get(), RsaOp::PublicEncrypt, keyBlock, 1 + keyLength, out, &rsaLength)
            : KLAV_ERR_RSA_KEY;
    OPENSSL_cleanse(keyBlock, sizeof keyBlock);
    if (rc != KLAV_OK) return fail(rc, outLen);
    int total = rsaLength;
    for (int offset = 0; offset < length; offset += kPieceSize) {
        const int piece = length - offset < kPieceSize ? length - offset : kPieceSize;
        int written = 0;
        const int step = EVP_EncryptUpdate(ctx.get(), out + total, &written, data + offset, piece);
        if (step != 1) return fail(step, outLen);
        total += written;
    }
    int written = 0;
    const int step = EVP_EncryptFinal_ex(ctx.get(), out + total, &written);
    if (step != 1) return fail(step, outLen);
    *outLen = total + written;
    return KLAV_OK;
}

int KLAV_DecodeEnvelope(int /*reserved*/, const KLAV_RSA_KEY* privateKey,
                        const unsigned char* envelope, int envelopeLen, unsigned char* out,
                        int* outLen) {
    if (!validInput(envelope, envelopeLen) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    Pkey key = loadPrivateKey(privateKey);
    if (!key) return fail(KLAV_ERR_RSA_KEY, outLen);
    const int rsaLength = EVP_PKEY_get_size(key.get());
    if (rsaLength <= 0 || envelopeLen < rsaLength) return fail(KLAV_ERR_CRYPTO, outLen);
    std::vector<unsigned char> keyBlock(static_cast<size_t>(rsaLength));
    int keyBlockLen = 0;
    int rc = rsaRun(key.get(), RsaOp::PrivateDecrypt, envelope, rsaLength, keyBlock.data(),
                    &keyBlockLen);
    if (rc != KLAV_OK) return fail(rc, outLen);
    const EnvelopeCipher* cipher = keyBlockLen > 0 ? envelopeByIdentifier(keyBlock[0]) : nullptr;
    const EVP_CIPHER* evp = cipher != nullptr ? cipher->cipher() : nullptr;
    if (evp == nullptr) {
        OPENSSL_cleanse(keyBlock.data(), keyBlock.size());
        return fail(KLAV_ERR_ENVELOPE_CIPHER, outLen);
    }
    if (keyBlockLen < 1 + EVP_CIPHER_get_key_length(evp)) {
        OPENSSL_cleanse(keyBlock.data(), keyBlock.size());
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    const bool ready =
        ctx && EVP_DecryptInit_ex2(ctx.get(), evp, keyBlock.data() + 1, kEnvelopeIv, nullptr) == 1;
    OPENSSL_cleanse(keyBlock.data(), keyBlock.size());
    if (!ready) return fail(KLAV_ERR_SETUP, outLen);
    int total = 0;
    rc = EVP_DecryptUpdate(ctx.get(), out, &total, envelope + rsaLength, envelopeLen - rsaLength);
    if (rc != 1) return fail(rc, outLen);
    int written = 0;
    rc = EVP_DecryptFinal_ex(ctx.get(), out + total, &written);
    if (rc != 1) return fail(rc, outLen);
    *outLen = total + written;
    return KLAV_OK;
}
