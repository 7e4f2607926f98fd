// Random bytes and digests (one-shot and Init/Update/Final).
#include <openssl/rand.h>

#include <new>

#include "internal.h"

using namespace korrim;

int KLAV_GenRandData(int length, unsigned char* buffer) {
    if (length > KLAV_MAX_RANDOM) return KLAV_ERR_RAND_LENGTH;
    if (!validInput(buffer, length)) return KLAV_ERR_CRYPTO;
    if (length == 0) return KLAV_OK;
    return RAND_bytes(buffer, length) == 1 ? KLAV_OK : KLAV_ERR_CRYPTO;
}

int KLAV_HASH(int digest, const unsigned char* data, int length, unsigned char* out, int* outLen) {
    const EVP_MD* md = digestForCode(digest);
    if (md == nullptr) return fail(KLAV_ERR_DIGEST_ALG, outLen);
    if (!validInput(data, length) || out == nullptr || outLen == nullptr) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    MdCtx ctx(EVP_MD_CTX_new());
    unsigned int size = 0;
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1 ||
        EVP_DigestUpdate(ctx.get(), data, static_cast<size_t>(length)) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), out, &size) != 1) {
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    *outLen = static_cast<int>(size);
    return KLAV_OK;
}

int KLAV_HASHInit(int digest, KLAV_HANDLE* handle) {
    const EVP_MD* md = digestForCode(digest);
    if (md == nullptr) return KLAV_ERR_DIGEST_ALG;
    if (handle == nullptr) return KLAV_ERR_CRYPTO;
    *handle = nullptr;
    auto* context = new (std::nothrow) klav_context(klav_context::kDigest);
    if (context == nullptr) return KLAV_ERR_CRYPTO;
    context->digest = EVP_MD_CTX_new();
    if (context->digest == nullptr || EVP_DigestInit_ex(context->digest, md, nullptr) != 1) {
        delete context;
        return KLAV_ERR_CRYPTO;
    }
    *handle = context;
    return KLAV_OK;
}

namespace {

bool isDigestHandle(const KLAV_HANDLE* handle) {
    return handle != nullptr && *handle != nullptr && (*handle)->kind == klav_context::kDigest;
}

void release(KLAV_HANDLE* handle) {
    delete *handle;
    *handle = nullptr;
}

}  // namespace

int KLAV_HASHUpdate(KLAV_HANDLE* handle, const unsigned char* data, int length) {
    if (!isDigestHandle(handle)) return KLAV_ERR_CRYPTO;
    if (!validInput(data, length) ||
        EVP_DigestUpdate((*handle)->digest, data, static_cast<size_t>(length)) != 1) {
        release(handle);
        return KLAV_ERR_CRYPTO;
    }
    return KLAV_OK;
}

int KLAV_HASHFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen) {
    if (!isDigestHandle(handle)) return fail(KLAV_ERR_CRYPTO, outLen);
    unsigned int size = 0;
    const bool done = out != nullptr && outLen != nullptr &&
                      EVP_DigestFinal_ex((*handle)->digest, out, &size) == 1;
    release(handle);
    if (!done) return fail(KLAV_ERR_CRYPTO, outLen);
    *outLen = static_cast<int>(size);
    return KLAV_OK;
}
