// Symmetric ciphers over files and across Init/Update/Final calls.
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "internal.h"

using namespace korrim;

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileClose>;

// Piece size read from an input file. A 0x10000 ciphertext piece is one
// 4096-byte plaintext piece plus its 8 bytes of padding.
int inputPieceSize(int cipher, bool encrypt) {
    return cipher == KLAV_DES2_ECB_PAD && !encrypt ? kPieceSize + 8 : kPieceSize;
}

int transformFile(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
                  std::FILE* input, std::FILE* output, bool encrypt) {
    const int pieceSize = inputPieceSize(cipher, encrypt);
    std::vector<unsigned char> piece(static_cast<size_t>(pieceSize));
    std::vector<unsigned char> result(static_cast<size_t>(pieceSize + 2 * KLAV_MAX_BLOCK));
    const bool streaming = isStreamingCode(cipher);
    CipherCtx ctx;
    if (streaming) {
        ctx.reset(EVP_CIPHER_CTX_new());
        const EVP_CIPHER* evp = cipherForCode(cipher);
        const unsigned char* usedIv = nullptr;
        if (!ctx || evp == nullptr) return KLAV_ERR_SETUP;
        if (EVP_CIPHER_get_iv_length(evp) > 0) {
            if (iv == nullptr || ivLen < EVP_CIPHER_get_iv_length(evp)) return KLAV_ERR_SETUP;
            usedIv = iv;
        }
        if (EVP_CipherInit_ex2(ctx.get(), evp, key->key, usedIv, encrypt ? 1 : 0, nullptr) != 1) {
            return KLAV_ERR_SETUP;
        }
    }
    for (;;) {
        const size_t got = std::fread(piece.data(), 1, piece.size(), input);
        if (got == 0) break;
        int written = 0;
        int rc = KLAV_OK;
        if (streaming) {
            rc = EVP_CipherUpdate(ctx.get(), result.data(), &written, piece.data(),
                                  static_cast<int>(got));
        } else if (encrypt) {
            rc = KLAV_Encrypt(cipher, key, iv, ivLen, piece.data(), static_cast<int>(got),
                              result.data(), &written);
        } else {
            rc = KLAV_Decrypt(cipher, key, iv, ivLen, piece.data(), static_cast<int>(got),
                              result.data(), &written);
        }
        if (rc != KLAV_OK) return rc;
        if (std::fwrite(result.data(), 1, static_cast<size_t>(written), output) !=
            static_cast<size_t>(written)) {
            return KLAV_ERR_CRYPTO;
        }
        if (got < piece.size()) break;
    }
    if (std::ferror(input)) return KLAV_ERR_CRYPTO;
    if (streaming) {
        int written = 0;
        const int rc = EVP_CipherFinal_ex(ctx.get(), result.data(), &written);
        if (rc != 1) return rc;
        if (std::fwrite(result.data(), 1, static_cast<size_t>(written), output) !=
            static_cast<size_t>(written)) {
            return KLAV_ERR_CRYPTO;
        }
    }
    return KLAV_OK;
}

int runFile(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
            const char* inFile, const char* outFile, bool encrypt) {
    if (!isSymmetricCode(cipher)) return KLAV_ERR_CIPHER_ALG;
    if (key == nullptr || inFile == nullptr || outFile == nullptr) return KLAV_ERR_CRYPTO;
    File input(std::fopen(inFile, "rb"));
    if (!input) return KLAV_ERR_FILE;
    File output(std::fopen(outFile, "wb"));
    if (!output) return KLAV_ERR_FILE;
    int rc = transformFile(cipher, key, iv, ivLen, input.get(), output.get(), encrypt);
    if (std::fclose(output.release()) != 0 && rc == KLAV_OK) rc = KLAV_ERR_CRYPTO;
    // A half-written output would pass for a whole one.
    if (rc != KLAV_OK) std::remove(outFile);
    return rc;
}

int initStream(int cipher, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
               const unsigned char* iv, bool encrypt) {
    if (!isStreamingCode(cipher)) return KLAV_ERR_CIPHER_ALG;
    if (handle == nullptr || key == nullptr) return KLAV_ERR_CRYPTO;
    *handle = nullptr;
    const EVP_CIPHER* evp = cipherForCode(cipher);
    if (evp == nullptr) return KLAV_ERR_SETUP;
    const bool withIv = EVP_CIPHER_get_iv_length(evp) > 0;
    if (withIv && iv == nullptr) return KLAV_ERR_SETUP;
    std::unique_ptr<klav_context> context(
        new (std::nothrow) klav_context(encrypt ? klav_context::kEncrypt : klav_context::kDecrypt));
    if (!context) return KLAV_ERR_SETUP;
    context->cipher = EVP_CIPHER_CTX_new();
    if (context->cipher == nullptr ||
        EVP_CipherInit_ex2(context->cipher, evp, key->key, withIv ? iv : nullptr, encrypt ? 1 : 0,
                           nullptr) != 1) {
        return KLAV_ERR_SETUP;
    }
    *handle = context.release();
    return KLAV_OK;
}

bool holds(const KLAV_HANDLE* handle, klav_context::Kind kind) {
    return handle != nullptr && *handle != nullptr && (*handle)->kind == kind;
}

void release(KLAV_HANDLE* handle) {
    delete *handle;
    *handle = nullptr;
}

int updateStream(KLAV_HANDLE* handle, klav_context::Kind kind, const unsigned char* in, int inLen,
                 unsigned char* out, int* outLen) {
    if (!holds(handle, kind)) return fail(KLAV_ERR_CRYPTO, outLen);
    if (!validInput(in, inLen) || out == nullptr || outLen == nullptr) {
        release(handle);
        return fail(KLAV_ERR_CRYPTO, outLen);
    }
    const int rc = EVP_CipherUpdate((*handle)->cipher, out, outLen, in, inLen);
    if (rc != 1) {
        release(handle);
        return fail(rc, outLen);
    }
    return KLAV_OK;
}

int finishStream(KLAV_HANDLE* handle, klav_context::Kind kind, unsigned char* out, int* outLen) {
    if (!holds(handle, kind)) return fail(KLAV_ERR_CRYPTO, outLen);
    int rc = KLAV_ERR_CRYPTO;
    if (out != nullptr && outLen != nullptr)
        rc = EVP_CipherFinal_ex((*handle)->cipher, out, outLen);
    release(handle);
    return rc == 1 ? KLAV_OK : fail(rc, outLen);
}

}  // namespace

int KLAV_EncryptFile(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
                     const char* inFile, const char* outFile) {
    return runFile(cipher, key, iv, ivLen, inFile, outFile, true);
}

int KLAV_DecryptFile(int cipher, const KLAV_SYMMETRIC_KEY* key, const unsigned char* iv, int ivLen,
                     const char* inFile, const char* outFile) {
    return runFile(cipher, key, iv, ivLen, inFile, outFile, false);
}

int KLAV_EncryptInit(int cipher, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
                     const unsigned char* iv) {
    return initStream(cipher, handle, key, iv, true);
}

int KLAV_EncryptUpdate(KLAV_HANDLE* handle, const unsigned char* in, int inLen, unsigned char* out,
                       int* outLen) {
    return updateStream(handle, klav_context::kEncrypt, in, inLen, out, outLen);
}

int KLAV_EncryptFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen) {
    return finishStream(handle, klav_context::kEncrypt, out, outLen);
}

int KLAV_DecryptInit(int cipher, KLAV_HANDLE* handle, const KLAV_SYMMETRIC_KEY* key,
                     const unsigned char* iv) {
    return initStream(cipher, handle, key, iv, false);
}

int KLAV_DecryptUpdate(KLAV_HANDLE* handle, const unsigned char* in, int inLen, unsigned char* out,
                       int* outLen) {
    return updateStream(handle, klav_context::kDecrypt, in, inLen, out, outLen);
}

int KLAV_DecryptFinal(KLAV_HANDLE* handle, unsigned char* out, int* outLen) {
    return finishStream(handle, klav_context::kDecrypt, out, outLen);
}
