// The bitsliced EDE kernel as a template over the lane type: uint64_t or a
// vector of 64-bit words. Included only by the per-instruction-set sources,
// each compiled with its own flags; everything here has internal linkage so
// the linker can never hand one source's wide code to another's caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "des_bitslice.h"
#include "des_sboxes.h"
#include "des_tables.h"

namespace korrim::des {
namespace {

// For each S-box output bit (S-box 1 first, most significant bit first), the
// position in the round function's output that it lands on.
struct OutputPositions {
    uint8_t of[32];
    constexpr OutputPositions() : of() {
        for (int i = 0; i < 32; ++i) of[kP[i] - 1] = static_cast<uint8_t>(i);
    }
};
inline constexpr OutputPositions kLandsOn{};

// Transposes a 64x64 bit matrix in place: afterwards bit j of a[i] is what
// bit i of a[j] was (bit 0 the least significant).
inline void transpose64(uint64_t a[64]) {
    uint64_t mask = 0x00000000FFFFFFFFull;
    for (int width = 32; width != 0; width >>= 1, mask ^= mask << width) {
        for (int k = 0; k < 64; k = ((k | width) + 1) & ~width) {
            const uint64_t t = ((a[k] >> width) ^ a[k | width]) & mask;
            a[k | width] ^= t;
            a[k] ^= t << width;
        }
    }
}

inline uint64_t loadBigEndian(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

inline void storeBigEndian(unsigned char* p, uint64_t v) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
}

// target ^= f(source, round key): expansion, key, S-boxes, permutation.
template <typename T>
inline void feistel(T* target, const T* source, const uint64_t* key) {
    T x[48];
    for (int j = 0; j < 48; ++j) x[j] = source[kE[j] - 1] ^ (T{} + key[j]);
    const uint8_t* p = kLandsOn.of;
    sbox1(x[0], x[1], x[2], x[3], x[4], x[5], target[p[0]], target[p[1]], target[p[2]],
          target[p[3]]);
    sbox2(x[6], x[7], x[8], x[9], x[10], x[11], target[p[4]], target[p[5]], target[p[6]],
          target[p[7]]);
    sbox3(x[12], x[13], x[14], x[15], x[16], x[17], target[p[8]], target[p[9]], target[p[10]],
          target[p[11]]);
    sbox4(x[18], x[19], x[20], x[21], x[22], x[23], target[p[12]], target[p[13]], target[p[14]],
          target[p[15]]);
    sbox5(x[24], x[25], x[26], x[27], x[28], x[29], target[p[16]], target[p[17]], target[p[18]],
          target[p[19]]);
    sbox6(x[30], x[31], x[32], x[33], x[34], x[35], target[p[20]], target[p[21]], target[p[22]],
          target[p[23]]);
    sbox7(x[36], x[37], x[38], x[39], x[40], x[41], target[p[24]], target[p[25]], target[p[26]],
          target[p[27]]);
    sbox8(x[42], x[43], x[44], x[45], x[46], x[47], target[p[28]], target[p[29]], target[p[30]],
          target[p[31]]);
}

// Sixteen rounds that start with a = L, b = R and end with a = L16, b = R16.
// The next DES of the chain starts from R16 L16, so it is called with the
// halves' roles exchanged; the final and initial permutations between two
// DES cancel out.
template <typename T>
inline void sixteenRounds(T* a, T* b, const uint64_t (*keys)[48]) {
    for (int r = 0; r < 16; r += 2) {
        feistel(a, b, keys[r]);
        feistel(b, a, keys[r + 1]);
    }
}

// Runs batches of 64 * sizeof(T) / 8 blocks through the schedule's 48 rounds.
template <typename T>
void edeBatches(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
                size_t batches) {
    constexpr size_t kWords = sizeof(T) / sizeof(uint64_t);
    constexpr size_t kBatchBytes = 64 * kWords * 8;
    for (size_t batch = 0; batch < batches; ++batch) {
        const unsigned char* from = in + batch * kBatchBytes;
        unsigned char* to = out + batch * kBatchBytes;
        // Plane p holds bit p + 1 (counted from the most significant) of every
        // block; word w of a plane covers blocks 64w .. 64w + 63.
        uint64_t planes[64][kWords];
        for (size_t w = 0; w < kWords; ++w) {
            uint64_t rows[64];
            for (size_t j = 0; j < 64; ++j) rows[j] = loadBigEndian(from + (64 * w + j) * 8);
            transpose64(rows);
            for (size_t p = 0; p < 64; ++p) planes[p][w] = rows[63 - p];
        }
        T left[32];
        T right[32];
        for (int i = 0; i < 32; ++i) {
            std::memcpy(&left[i], planes[kIp[i] - 1], sizeof(T));
            std::memcpy(&right[i], planes[kIp[32 + i] - 1], sizeof(T));
        }
        sixteenRounds(left, right, schedule.mask);
        sixteenRounds(right, left, schedule.mask + 16);
        sixteenRounds(left, right, schedule.mask + 32);
        // Pre-output R16 L16, then the final permutation (the inverse of IP).
        for (int k = 0; k < 64; ++k) {
            const T& bit = k < 32 ? right[k] : left[k - 32];
            std::memcpy(planes[kIp[k] - 1], &bit, sizeof(T));
        }
        for (size_t w = 0; w < kWords; ++w) {
            uint64_t rows[64];
            for (size_t p = 0; p < 64; ++p) rows[63 - p] = planes[p][w];
            transpose64(rows);
            for (size_t j = 0; j < 64; ++j) storeBigEndian(to + (64 * w + j) * 8, rows[j]);
        }
    }
}

}  // namespace
}  // namespace korrim::des
