// KLAV_Decrypt with every cipher code, and the Init/Update/Final family, over
// arbitrary input. Layout: code selector, 24 key bytes, 16 IV bytes, then data.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "korrim/klav.h"

namespace {

const int kCodes[] = {KLAV_DES3_ECB,
                      KLAV_DES3_CBC,
                      KLAV_AES128_ECB,
                      KLAV_AES128_CBC,
                      KLAV_SSF33_ECB,
                      KLAV_SSF33_CBC,
                      KLAV_DES_ECB,
                      KLAV_DES_CBC,
                      KLAV_DES_CFB8,
                      KLAV_DES2_ECB_PAD,
                      0x3};
constexpr size_t kHeader = 1 + 24 + 16;
constexpr unsigned char kSentinel = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) return 0;
    const int code = kCodes[data[0] % (sizeof kCodes / sizeof kCodes[0])];
    KLAV_SYMMETRIC_KEY key;
    std::memset(&key, 0, sizeof key);
    key.keyLen = 24;
    std::memcpy(key.key, data + 1, 24);
    const unsigned char* iv = data + 25;
    const unsigned char* in = data + kHeader;
    const int inLen = static_cast<int>(size - kHeader);

    // Exactly the documented capacity, so ASan sees any write past it; a
    // sentinel-filled buffer shows writes past the reported length.
    std::vector<unsigned char> out(static_cast<size_t>(inLen) + KLAV_MAX_BLOCK, kSentinel);
    int outLen = -1;
    const int rc = KLAV_Decrypt(code, &key, iv, 16, in, inLen, out.data(), &outLen);
    if (rc == KLAV_OK && (outLen < 0 || outLen > inLen)) std::abort();
    if (code == KLAV_DES2_ECB_PAD) {
        // The mended check: a rejected input leaves the buffer untouched, and
        // an accepted one writes nothing past its reported length.
        const size_t from = rc == KLAV_OK ? static_cast<size_t>(outLen) : 0;
        for (size_t i = from; i < out.size(); ++i) {
            if (out[i] != kSentinel) std::abort();
        }
        if (rc != KLAV_OK && rc != KLAV_ERR_CRYPTO) std::abort();
    }

    KLAV_HANDLE handle = nullptr;
    if (KLAV_DecryptInit(code, &handle, &key, iv) == KLAV_OK) {
        const int half = inLen / 2;
        std::vector<unsigned char> piece(static_cast<size_t>(inLen) + KLAV_MAX_BLOCK);
        int pieceLen = 0;
        bool live = KLAV_DecryptUpdate(&handle, in, half, piece.data(), &pieceLen) == KLAV_OK;
        live = live && KLAV_DecryptUpdate(&handle, in + half, inLen - half, piece.data(),
                                          &pieceLen) == KLAV_OK;
        if (live) KLAV_DecryptFinal(&handle, piece.data(), &pieceLen);
        if (handle != nullptr) std::abort();  // Final and failed Updates free it
    }
    return 0;
}
