// Code 0x10000 on whichever DES path KORRIM_DES_PATH forces (ctest runs this
// program once per path), differential against OpenSSL's own two-key EDE:
// every length up to three batches and a block, keys of every kind, unaligned
// and in-place buffers, both directions.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "peer.h"
#include "tests/support/temp_dir.h"

namespace korrim_test {
namespace {

// Blocks per batch of the forced path; 0 when the processor lacks it.
size_t forcedBatch() {
    const char* forced = std::getenv("KORRIM_DES_PATH");
    const std::string path = forced != nullptr ? forced : "";
    if (path == "portable" || path == "openssl") return 64;
    if (path == "avx2") return __builtin_cpu_supports("avx2") ? 256 : 0;
    if (path == "avx512") return __builtin_cpu_supports("avx512f") ? 512 : 0;
    return 512;  // the automatic choice: the widest batch bounds the lengths
}

// The reference: the library's padding done by hand, then OpenSSL's EDE.
Bytes referenceEncrypt(const Bytes& key, const unsigned char* plain, size_t size) {
    const size_t padded = size - size % 8 + 8;
    Bytes block(padded, 0);
    if (size > 0) std::memcpy(block.data(), plain, size);
    block.back() = static_cast<unsigned char>(7 - size % 8);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    Bytes out(padded);
    int written = 0;
    const bool ok =
        EVP_EncryptInit_ex(ctx, EVP_des_ede_ecb(), nullptr, key.data(), nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
        EVP_EncryptUpdate(ctx, out.data(), &written, block.data(), static_cast<int>(padded)) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EXPECT_TRUE(ok);
    EXPECT_EQ(static_cast<size_t>(written), padded);
    return out;
}

class DesPathTest : public ::testing::Test {
  protected:
    void SetUp() override {
        batch_ = forcedBatch();
        if (batch_ == 0) GTEST_SKIP() << "the processor lacks the forced path's instructions";
    }

    // Encrypts and decrypts size bytes: out-of-place or in place, the input and
    // output misaligned by the given offsets, both directions against the reference.
    void roundTrip(const Bytes& keyBytes, size_t size, bool inPlace, size_t inOffset,
                   size_t outOffset) {
        SCOPED_TRACE("size " + std::to_string(size) + (inPlace ? " in place" : " out of place") +
                     " offsets " + std::to_string(inOffset) + "/" + std::to_string(outOffset) +
                     " key " + toHex(keyBytes));
        const KLAV_SYMMETRIC_KEY key = symmetricKey(keyBytes);
        Bytes plain(size);
        for (auto& b : plain) b = static_cast<unsigned char>(random_());
        const Bytes expected = referenceEncrypt(keyBytes, plain.data(), size);

        // Room for the offset, the padding block and a guard after it.
        Bytes inBuffer(size + 8 + 16 + 16, 0x5A);
        Bytes outBuffer(size + 8 + 16 + 16, 0x5A);
        unsigned char* in = inBuffer.data() + inOffset;
        unsigned char* out = inPlace ? in : outBuffer.data() + outOffset;
        if (size > 0) std::memcpy(in, plain.data(), size);
        int outLen = -1;
        ASSERT_EQ(KLAV_Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, in, static_cast<int>(size), out,
                               &outLen),
                  KLAV_OK);
        ASSERT_EQ(static_cast<size_t>(outLen), expected.size());
        ASSERT_EQ(0, std::memcmp(out, expected.data(), expected.size())) << "encryption differs";
        EXPECT_EQ(out[expected.size()], 0x5A) << "written past the ciphertext";

        // Decrypt the reference ciphertext, from a differently placed buffer.
        unsigned char* cipher = inPlace ? out : inBuffer.data() + (inOffset + 3) % 8;
        unsigned char* back = inPlace ? cipher : outBuffer.data() + (outOffset + 5) % 8;
        std::memcpy(cipher, expected.data(), expected.size());
        int backLen = -1;
        ASSERT_EQ(KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, cipher,
                               static_cast<int>(expected.size()), back, &backLen),
                  KLAV_OK);
        ASSERT_EQ(static_cast<size_t>(backLen), size);
        ASSERT_TRUE(size == 0 || std::memcmp(back, plain.data(), size) == 0)
            << "decryption differs";
    }

    Bytes randomKey() {
        Bytes key(16);
        for (auto& b : key) b = static_cast<unsigned char>(random_());
        return key;
    }

    size_t batch_ = 0;
    std::mt19937 random_{20261208};
};

TEST_F(DesPathTest, everyLengthUpToThreeBatchesAndABlockMatchesOpenssl) {
    // Every block count from 0 to 3 batches + 1, with a changing partial
    // block, buffer placement and in-place use; a new key every 64 lengths.
    Bytes key = randomKey();
    for (size_t blocks = 0; blocks <= 3 * batch_ + 1; ++blocks) {
        if (blocks % 64 == 0) key = randomKey();
        const size_t size = blocks * 8 + blocks % 8;
        roundTrip(key, size, blocks % 2 == 1, blocks % 8, (blocks / 2) % 8);
        if (HasFatalFailure()) return;
    }
}

TEST_F(DesPathTest, weakSemiWeakAndParityKeysMatchOpensslAroundBatchEdges) {
    const char* halves[] = {
        // weak
        "0101010101010101", "fefefefefefefefe", "e0e0e0e0f1f1f1f1", "1f1f1f1f0e0e0e0e",
        // semi-weak, in their pairs
        "01fe01fe01fe01fe", "fe01fe01fe01fe01", "1fe01fe00ef10ef1", "e01fe01ff10ef10e",
        "01e001e001f101f1", "e001e001f101f101", "1ffe1ffe0efe0efe", "fe1ffe1ffe0efe0e",
        // parity bits all clear, all set, and odd parity broken
        "0000000000000000", "ffffffffffffffff", "133457799bbcdff0", "133457799bbcdff1"};
    const size_t count = sizeof halves / sizeof halves[0];
    for (size_t i = 0; i < count; ++i) {
        // Each half once with itself (single DES in effect) and once beside its neighbour
        // (so the semi-weak pairs meet).
        for (size_t j : {i, i ^ 1}) {
            const Bytes key = fromHex(std::string(halves[i]) + halves[j]);
            for (size_t blocks : {batch_ - 1, batch_, 2 * batch_ + 1}) {
                roundTrip(key, blocks * 8 + (i + j) % 8, (i + j) % 2 == 0, i % 8, j % 8);
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST_F(DesPathTest, agreesWithTheOpensslToolOnAGatewayChunk) {
    // The standard test key of the DES literature as both halves, and a
    // random second half, over one 16,384-byte chunk.
    vantrel::testing::TempDir dir;
    for (const Bytes& key : {fromHex("133457799bbcdff1133457799bbcdff1"), randomKey()}) {
        const KLAV_SYMMETRIC_KEY k = symmetricKey(key);
        const Bytes plain = pattern(16384, 11);
        Bytes cipher(16392);
        int cipherLen = 0;
        ASSERT_EQ(KLAV_Encrypt(KLAV_DES2_ECB_PAD, &k, nullptr, 0, plain.data(), 16384,
                               cipher.data(), &cipherLen),
                  KLAV_OK);
        ASSERT_EQ(cipherLen, 16392);
        writeFile(dir.path() / "c", cipher);
        const CommandResult tool = openssl("enc -d -des-ede -nopad -K " + toHex(key) + " -in " +
                                           (dir.path() / "c").string());
        ASSERT_EQ(tool.exitCode, 0);
        Bytes expected = plain;
        expected.resize(16392, 0);
        expected.back() = 7;
        EXPECT_EQ(tool.output, expected);
    }
}

}  // namespace
}  // namespace korrim_test
