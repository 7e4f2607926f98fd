// Base64 (OpenSSL's 64-column form) and PEM/DER conversion.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <vector>

#include "internal.h"

using namespace korrim;

namespace {

struct EncodeCtxFree {
    void operator()(EVP_ENCODE_CTX* ctx) const { EVP_ENCODE_CTX_free(ctx); }
};
using EncodeCtx = std::unique_ptr<EVP_ENCODE_CTX, EncodeCtxFree>;

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

// Encrypted PEM keys are refused rather than prompting on a terminal.
int noPassword(char*, int, int, void*) {
    return -1;
}

// DER of a PEM object, or empty when the text holds no object of the type.
std::vector<unsigned char> pemToDer(const unsigned char* in, int inLen, int type) {
    std::vector<unsigned char> der;
    Bio bio(BIO_new_mem_buf(in, inLen));
    if (!bio) return der;
    unsigned char* encoded = nullptr;
    int length = -1;
    if (type == KLAV_OBJ_CERTIFICATE) {
        X509* cert = PEM_read_bio_X509(bio.get(), nullptr, noPassword, nullptr);
        if (cert != nullptr) length = i2d_X509(cert, &encoded);
        X509_free(cert);
    } else if (type == KLAV_OBJ_PRIVATE_KEY) {
        EVP_PKEY* key = PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr);
        PKCS8_PRIV_KEY_INFO* info = key != nullptr ? EVP_PKEY2PKCS8(key) : nullptr;
        if (info != nullptr) length = i2d_PKCS8_PRIV_KEY_INFO(info, &encoded);
        PKCS8_PRIV_KEY_INFO_free(info);
        EVP_PKEY_free(key);
    } else {
        X509_REQ* request = PEM_read_bio_X509_REQ(bio.get(), nullptr, noPassword, nullptr);
        if (request != nullptr) length = i2d_X509_REQ(request, &encoded);
        X509_REQ_free(request);
    }
    if (length > 0) der.assign(encoded, encoded + length);
    OPENSSL_clear_free(encoded, length > 0 ? static_cast<size_t>(length) : 0);
    return der;
}

// PEM text of a DER object written into bio; false when the DER does not parse.
bool derToPem(const unsigned char* in, int inLen, int type, BIO* bio) {
    const unsigned char* cursor = in;
    bool written = false;
    if (type == KLAV_OBJ_CERTIFICATE) {
        X509* cert = d2i_X509(nullptr, &cursor, inLen);
        written = cert != nullptr && PEM_write_bio_X509(bio, cert) == 1;
        X509_free(cert);
    } else if (type == KLAV_OBJ_PRIVATE_KEY) {
        EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &cursor, inLen);
        written = key != nullptr && PEM_write_bio_PKCS8PrivateKey(bio, key, nullptr, nullptr, 0,
                                                                  nullptr, nullptr) == 1;
        EVP_PKEY_free(key);
    } else {
        X509_REQ* request = d2i_X509_REQ(nullptr, &cursor, inLen);
        written = request != nullptr && PEM_write_bio_X509_REQ(bio, request) == 1;
        X509_REQ_free(request);
    }
    return written;
}

bool isObjectType(int type) {
    return type == KLAV_OBJ_CERTIFICATE || type == KLAV_OBJ_PRIVATE_KEY ||
           type == KLAV_OBJ_CERT_REQUEST;
}

}  // namespace

int KLAV_Base64Encode(const unsigned char* in, int inLen, char* out, int* outLen) {
    if (!validInput(in, inLen) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    EncodeCtx ctx(EVP_ENCODE_CTX_new());
    if (!ctx) return fail(KLAV_ERR_CRYPTO, outLen);
    EVP_EncodeInit(ctx.get());
    auto* text = reinterpret_cast<unsigned char*>(out);
    int total = 0;
    if (inLen > 0 && EVP_EncodeUpdate(ctx.get(), text, &total, in, inLen) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    int written = 0;
    EVP_EncodeFinal(ctx.get(), text + total, &written);
    total += written;
    out[total] = '\0';
    *outLen = total;
    return KLAV_OK;
}

int KLAV_Base64Decode(const char* text, int outCapacity, unsigned char* out, int* outLen) {
    // With no capacity there is nothing to write, so out may be null.
    if (text == nullptr || outCapacity < 0 || (out == nullptr && outCapacity > 0) ||
        outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const size_t textLen = std::strlen(text);
    if (textLen > static_cast<size_t>(INT32_MAX / 2)) return fail(KLAV_ERR_CRYPTO, outLen);
    EncodeCtx ctx(EVP_ENCODE_CTX_new());
    if (!ctx) return fail(KLAV_ERR_CRYPTO, outLen);
    std::vector<unsigned char> decoded(textLen / 4 * 3 + 3);
    EVP_DecodeInit(ctx.get());
    int total = 0;
    if (EVP_DecodeUpdate(ctx.get(), decoded.data(), &total,
                         reinterpret_cast<const unsigned char*>(text),
                         static_cast<int>(textLen)) < 0) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    int written = 0;
    if (EVP_DecodeFinal(ctx.get(), decoded.data() + total, &written) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    total += written;
    if (total > outCapacity) return fail(KLAV_ERR_CRYPTO, outLen);
    if (total > 0) std::memcpy(out, decoded.data(), static_cast<size_t>(total));
    *outLen = total;
    return KLAV_OK;
}

int KLAV_Pem2Der(const unsigned char* in, int inLen, unsigned char* out, int* outLen, int type) {
    if (!isObjectType(type)) return fail(KLAV_ERR_TYPE, outLen);
    if (!validInput(in, inLen) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const std::vector<unsigned char> der = pemToDer(in, inLen, type);
    ERR_clear_error();
    if (der.empty() || der.size() > static_cast<size_t>(inLen)) return fail(KLAV_ERR_SETUP, outLen);
    std::memcpy(out, der.data(), der.size());
    *outLen = static_cast<int>(der.size());
    return KLAV_OK;
}

int KLAV_Der2Pem(const unsigned char* in, int inLen, unsigned char* out, int* outLen, int type) {
    if (!isObjectType(type)) return fail(KLAV_ERR_TYPE, outLen);
    if (!validInput(in, inLen) || inLen > INT32_MAX / 2 || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    Bio bio(BIO_new(BIO_s_mem()));
    const bool written = bio && derToPem(in, inLen, type, bio.get());
    ERR_clear_error();
    if (!written) return fail(KLAV_ERR_SETUP, outLen);
    char* pem = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &pem);
    if (length <= 0 ||
        length >= static_cast<long>(KLAV_DER2PEM_OUT_MAX(static_cast<long>(inLen)))) {
        return fail(KLAV_ERR_SETUP, outLen);
    }
    std::memcpy(out, pem, static_cast<size_t>(length));
    out[length] = '\0';
    *outLen = static_cast<int>(length);
    return KLAV_OK;
}
