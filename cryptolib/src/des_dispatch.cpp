// Key schedule of the bitsliced two-key Triple-DES and the choice of kernel.
#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>

#include "des_bitslice.h"
#include "des_tables.h"

namespace korrim::des {
namespace {

// The sixteen 48-bit round keys of one DES key, one bit per byte.
void roundKeys(const unsigned char key[8], uint8_t keys[16][48]) {
    uint64_t k = 0;
    for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
    uint8_t cd[56];
    for (int i = 0; i < 56; ++i) cd[i] = static_cast<uint8_t>((k >> (64 - kPc1[i])) & 1);
    for (int round = 0; round < 16; ++round) {
        for (int shift = 0; shift < kShifts[round]; ++shift) {
            const uint8_t c = cd[0];
            const uint8_t d = cd[28];
            std::memmove(cd, cd + 1, 27);
            std::memmove(cd + 28, cd + 29, 27);
            cd[27] = c;
            cd[55] = d;
        }
        for (int j = 0; j < 48; ++j) keys[round][j] = cd[kPc2[j] - 1];
    }
}

enum class Path { kOpenssl, kPortable, kAvx2, kAvx512 };

Path choosePath() {
    const bool avx2 = __builtin_cpu_supports("avx2");
    const bool avx512 = __builtin_cpu_supports("avx512f");
    if (const char* forced = std::getenv("KORRIM_DES_PATH"); forced != nullptr) {
        if (std::strcmp(forced, "openssl") == 0) return Path::kOpenssl;
        if (std::strcmp(forced, "portable") == 0) return Path::kPortable;
        if (std::strcmp(forced, "avx2") == 0 && avx2) return Path::kAvx2;
        if (std::strcmp(forced, "avx512") == 0 && avx512) return Path::kAvx512;
    }
    if (avx512) return Path::kAvx512;
    if (avx2) return Path::kAvx2;
    return Path::kPortable;
}

}  // namespace

void makeEdeSchedule(const unsigned char key[16], bool encrypt, EdeSchedule& schedule) {
    uint8_t k1[16][48];
    uint8_t k2[16][48];
    roundKeys(key, k1);
    roundKeys(key + 8, k2);
    // Encryption: K1 forwards, K2 backwards (a decryption), K1 forwards;
    // decryption runs the whole chain in reverse.
    for (int r = 0; r < 16; ++r) {
        const int forward = r;
        const int backward = 15 - r;
        for (int j = 0; j < 48; ++j) {
            const uint8_t outer = k1[encrypt ? forward : backward][j];
            const uint8_t inner = k2[encrypt ? backward : forward][j];
            schedule.mask[r][j] = uint64_t{0} - outer;
            schedule.mask[16 + r][j] = uint64_t{0} - inner;
            schedule.mask[32 + r][j] = uint64_t{0} - outer;
        }
    }
    OPENSSL_cleanse(k1, sizeof k1);
    OPENSSL_cleanse(k2, sizeof k2);
}

}  // namespace korrim::des

namespace korrim {

size_t des2EcbBatches(const unsigned char key[16], bool encrypt, const unsigned char* in,
                      unsigned char* out, size_t blocks) {
    static const des::Path path = des::choosePath();
    using Kernel = void (*)(const des::EdeSchedule&, const unsigned char*, unsigned char*, size_t);
    Kernel kernel = nullptr;
    size_t batch = 0;
    switch (path) {
        case des::Path::kOpenssl:
            return 0;
        case des::Path::kPortable:
            kernel = des::edePortable;
            batch = des::kPortableBatch;
            break;
        case des::Path::kAvx2:
            kernel = des::edeAvx2;
            batch = des::kAvx2Batch;
            break;
        case des::Path::kAvx512:
            kernel = des::edeAvx512;
            batch = des::kAvx512Batch;
            break;
    }
    const size_t batches = blocks / batch;
    if (batches == 0) return 0;
    des::EdeSchedule schedule;
    des::makeEdeSchedule(key, encrypt, schedule);
    kernel(schedule, in, out, batches);
    OPENSSL_cleanse(&schedule, sizeof schedule);
    return batches * batch;
}

}  // namespace korrim
