// Bitsliced two-key Triple-DES (EDE) in ECB mode: many blocks at once, one
// block per bit of a lane, the S-boxes evaluated as Boolean circuits, so no
// table is indexed by key or data. One implementation per instruction set;
// des2EcbBatches picks one when first called.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korrim::des {

// The 48 round keys of one EDE direction, each bit widened to a mask of all
// zeros or all ones so a kernel can spread it over a lane without branching.
struct EdeSchedule {
    uint64_t mask[48][48];
};

// Round keys for E(K1) D(K2) E(K1), or for its inverse when decrypting.
void makeEdeSchedule(const unsigned char key[16], bool encrypt, EdeSchedule& schedule);

// Each runs `batches` batches of its size, in place when in == out.
inline constexpr size_t kPortableBatch = 64;
inline constexpr size_t kAvx2Batch = 256;
inline constexpr size_t kAvx512Batch = 512;
void edePortable(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
                 size_t batches);
void edeAvx2(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
             size_t batches);
void edeAvx512(const EdeSchedule& schedule, const unsigned char* in, unsigned char* out,
               size_t batches);

}  // namespace korrim::des

namespace korrim {

// Encrypts or decrypts the leading whole batches of `blocks` 8-byte blocks
// with K1 = key[0..7], K2 = key[8..15]; returns how many blocks it did (0 on
// the OpenSSL path or when fewer blocks than a batch are given), the rest is
// the caller's. The path is the processor's best, unless KORRIM_DES_PATH
// names openssl, portable, avx2 or avx512 (a path the processor lacks falls
// back to the best one it has).
size_t des2EcbBatches(const unsigned char key[16], bool encrypt, const unsigned char* in,
                      unsigned char* out, size_t blocks);

}  // namespace korrim
