// Digests, HMAC and cipher MACs against published vectors and the openssl tool;
// random bytes.
#include <gtest/gtest.h>

#include <string>

#include "peer.h"
#include "tests/support/temp_dir.h"

namespace korrim_test {
namespace {

std::string hash(int code, const Bytes& data) {
    Bytes out(KLAV_MAX_DIGEST_SIZE);
    int outLen = 0;
    const int rc = KLAV_HASH(code, data.data(), static_cast<int>(data.size()), out.data(), &outLen);
    if (rc != KLAV_OK) return "status " + std::to_string(rc);
    out.resize(static_cast<size_t>(outLen));
    return toHex(out);
}

TEST(Digests, md5MatchesRfc1321) {
    struct Vector {
        const char* data;
        const char* md5;
    };
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Vector& v : vectors) EXPECT_EQ(hash(KLAV_MD5, bytesOf(v.data)), v.md5) << v.data;
}

TEST(Digests, sha1MatchesFips180) {
    EXPECT_EQ(hash(KLAV_SHA1, bytesOf("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hash(KLAV_SHA1, bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // One million 'a', fed in pieces through the Init/Update/Final family.
    KLAV_HANDLE handle = nullptr;
    ASSERT_EQ(KLAV_HASHInit(KLAV_SHA1, &handle), KLAV_OK);
    const Bytes thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(KLAV_HASHUpdate(&handle, thousand.data(), 1000), KLAV_OK);
    Bytes out(KLAV_MAX_DIGEST_SIZE);
    int outLen = 0;
    ASSERT_EQ(KLAV_HASHFinal(&handle, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(handle, nullptr);
    out.resize(static_cast<size_t>(outLen));
    EXPECT_EQ(toHex(out), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Digests, unknownCodesAndBadArgumentsGiveTheirStatus) {
    EXPECT_EQ(hash(3, bytesOf("abc")), "status 288");
    EXPECT_EQ(hash(0, bytesOf("abc")), "status 288");
    KLAV_HANDLE handle = nullptr;
    EXPECT_EQ(KLAV_HASHInit(3, &handle), 288);
    EXPECT_EQ(handle, nullptr);
    Bytes out(KLAV_MAX_DIGEST_SIZE);
    int outLen = 0;
    EXPECT_EQ(KLAV_HASH(KLAV_MD5, nullptr, 4, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_HASH(KLAV_MD5, out.data(), -1, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_HASH(KLAV_MD5, out.data(), 4, nullptr, &outLen), 3);
    EXPECT_EQ(KLAV_HASH(KLAV_MD5, out.data(), 4, out.data(), nullptr), 3);
    EXPECT_EQ(KLAV_HASHInit(KLAV_MD5, nullptr), 3);
    // A failing update frees the handle.
    ASSERT_EQ(KLAV_HASHInit(KLAV_MD5, &handle), KLAV_OK);
    EXPECT_EQ(KLAV_HASHUpdate(&handle, nullptr, 5), 3);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(KLAV_HASHUpdate(&handle, out.data(), 5), 3);
    EXPECT_EQ(KLAV_HASHFinal(&handle, out.data(), &outLen), 3);
}

// ---- HMAC ---------------------------------------------------------------------

struct HmacVector {
    Bytes key;
    Bytes data;
    const char* md5;
    const char* sha1;
};

std::vector<HmacVector> rfc2202() {
    Bytes key4;
    for (unsigned char b = 1; b <= 0x19; ++b) key4.push_back(b);
    return {
        {Bytes(16, 0x0b), bytesOf("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d", nullptr},
        {Bytes(20, 0x0b), bytesOf("Hi There"), nullptr, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {bytesOf("Jefe"), bytesOf("what do ya want for nothing?"),
         "750c783e6ab0b503eaa86e310a5db738", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {Bytes(16, 0xaa), Bytes(50, 0xdd), "56be34521d144c88dbb8c733f0e8b3f6", nullptr},
        {Bytes(20, 0xaa), Bytes(50, 0xdd), nullptr, "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
        {key4, Bytes(50, 0xcd), "697eaf0aca3a3aea3a75164746ffaa79",
         "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
        {Bytes(16, 0x0c), bytesOf("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c",
         nullptr},
        {Bytes(20, 0x0c), bytesOf("Test With Truncation"), nullptr,
         "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
        {Bytes(80, 0xaa), bytesOf("Test Using Larger Than Block-Size Key - Hash Key First"),
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd", "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Bytes(80, 0xaa),
         bytesOf("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "6f630fad67cda0ee1fb1f562db3aa53e", "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    };
}

std::string mac(int code, const KLAV_SYMMETRIC_KEY& key, const Bytes& iv, const Bytes& data) {
    Bytes out(KLAV_MAX_DIGEST_SIZE);
    int outLen = 0;
    const int rc = KLAV_MAC(code, &key, iv.data(), static_cast<int>(iv.size()), data.data(),
                            static_cast<int>(data.size()), out.data(), &outLen);
    if (rc != KLAV_OK) return "status " + std::to_string(rc);
    out.resize(static_cast<size_t>(outLen));
    return toHex(out);
}

// The same MAC through the handle family, the data in three pieces.
std::string macPiecewise(int code, const KLAV_SYMMETRIC_KEY& key, const Bytes& iv,
                         const Bytes& data) {
    KLAV_HANDLE handle = nullptr;
    int rc = KLAV_MACInit(code, &handle, &key, iv.data(), static_cast<int>(iv.size()));
    if (rc != KLAV_OK) return "status " + std::to_string(rc);
    const size_t third = data.size() / 3;
    const size_t cuts[] = {0, third, 2 * third, data.size()};
    for (int i = 0; i < 3; ++i) {
        rc =
            KLAV_MACUpdate(&handle, data.data() + cuts[i], static_cast<int>(cuts[i + 1] - cuts[i]));
        if (rc != KLAV_OK) return "status " + std::to_string(rc);
    }
    Bytes out(KLAV_MAX_DIGEST_SIZE);
    int outLen = 0;
    rc = KLAV_MACFinal(&handle, out.data(), &outLen);
    if (rc != KLAV_OK) return "status " + std::to_string(rc);
    out.resize(static_cast<size_t>(outLen));
    return toHex(out);
}

TEST(Hmac, matchesRfc2202OneShotAndPiecewise) {
    for (const HmacVector& v : rfc2202()) {
        const KLAV_SYMMETRIC_KEY key = symmetricKey(v.key);
        if (v.md5 != nullptr) {
            EXPECT_EQ(mac(KLAV_MAC_HMAC_MD5, key, {}, v.data), v.md5);
            EXPECT_EQ(macPiecewise(KLAV_MAC_HMAC_MD5, key, {}, v.data), v.md5);
        }
        if (v.sha1 != nullptr) {
            EXPECT_EQ(mac(KLAV_MAC_HMAC_SHA1, key, {}, v.data), v.sha1);
            EXPECT_EQ(macPiecewise(KLAV_MAC_HMAC_SHA1, key, {}, v.data), v.sha1);
        }
    }
}

TEST(Hmac, usesOnlyTheStatedKeyLength) {
    KLAV_SYMMETRIC_KEY key = symmetricKey(bytesOf("Jefe"));
    key.key[4] = 'X';  // beyond keyLen: must not count
    EXPECT_EQ(mac(KLAV_MAC_HMAC_MD5, key, {}, bytesOf("what do ya want for nothing?")),
              "750c783e6ab0b503eaa86e310a5db738");
    key.keyLen = sizeof key.key + 1;
    EXPECT_EQ(mac(KLAV_MAC_HMAC_MD5, key, {}, bytesOf("x")), "status 3");
}

// ---- cipher MACs ----------------------------------------------------------------

TEST(CipherMac, isTheLastPaddedCbcBlockOfTheOpensslTool) {
    struct Case {
        int code;
        const char* cli;
        size_t keySize;
        size_t block;
        bool legacy;
    };
    const Bytes keyBytes = fromHex("0123456789abcdeffedcba987654321089abcdef01234567");
    const Bytes iv = fromHex("00112233445566778899aabbccddeeff");
    vantrel::testing::TempDir dir;
    const auto file = dir.path() / "data";
    for (const Case& c : {Case{KLAV_MAC_DES_CBC, "des-cbc", 8, 8, true},
                          Case{KLAV_MAC_DES3_CBC, "des-ede3-cbc", 24, 8, false},
                          Case{KLAV_MAC_AES128_CBC, "aes-128-cbc", 16, 16, false},
                          Case{KLAV_MAC_SSF33_CBC, "sm4-cbc", 16, 16, false}}) {
        for (size_t size : {size_t{0}, size_t{48}, size_t{5000}}) {
            SCOPED_TRACE(std::string(c.cli) + " " + std::to_string(size));
            const Bytes data = pattern(size, 3);
            writeFile(file, data);
            const CommandResult tool = openssl(
                std::string("enc -e -") + c.cli + " -K " +
                toHex(Bytes(keyBytes.begin(), keyBytes.begin() + c.keySize)) + " -iv " +
                toHex(Bytes(iv.begin(), iv.begin() + c.block)) +
                (c.legacy ? " -provider legacy -provider default" : "") + " -in " + file.string());
            ASSERT_EQ(tool.exitCode, 0);
            const Bytes last(tool.output.end() - static_cast<long>(c.block), tool.output.end());
            const KLAV_SYMMETRIC_KEY key =
                symmetricKey(Bytes(keyBytes.begin(), keyBytes.begin() + c.keySize));
            EXPECT_EQ(mac(c.code, key, iv, data), toHex(last));
            EXPECT_EQ(macPiecewise(c.code, key, iv, data), toHex(last));
        }
    }
}

TEST(MacHandles, unknownCodesAndForeignHandlesGetTheirOwnStatus) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(Bytes(16, 1));
    const Bytes iv(16, 0);
    for (int code : {0, 3, 64, 0x10000}) {
        EXPECT_EQ(mac(code, key, iv, bytesOf("x")), "status 768");
        KLAV_HANDLE handle = nullptr;
        EXPECT_EQ(KLAV_MACInit(code, &handle, &key, iv.data(), 16), 768);
        EXPECT_EQ(handle, nullptr);
    }
    // A digest handle is neither of the MAC kinds: 785, and it stays usable.
    KLAV_HANDLE digest = nullptr;
    ASSERT_EQ(KLAV_HASHInit(KLAV_MD5, &digest), KLAV_OK);
    Bytes out(KLAV_MAX_DIGEST_SIZE);
    int outLen = 0;
    EXPECT_EQ(KLAV_MACUpdate(&digest, out.data(), 4), KLAV_ERR_MAC_HANDLE);
    EXPECT_EQ(KLAV_MACFinal(&digest, out.data(), &outLen), KLAV_ERR_MAC_HANDLE);
    ASSERT_NE(digest, nullptr);
    EXPECT_EQ(KLAV_HASHFinal(&digest, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + outLen)), "d41d8cd98f00b204e9800998ecf8427e");
    // A cipher MAC without an IV cannot set up.
    EXPECT_EQ(mac(KLAV_MAC_AES128_CBC, key, {}, bytesOf("x")), "status 4");
}

// ---- random -----------------------------------------------------------------------

TEST(Random, fillsUpTo16384BytesAndRefusesMore) {
    Bytes first(16385, 0);
    Bytes second(16384, 0);
    EXPECT_EQ(KLAV_GenRandData(16384, first.data()), KLAV_OK);
    EXPECT_EQ(KLAV_GenRandData(16384, second.data()), KLAV_OK);
    EXPECT_NE(Bytes(first.begin(), first.begin() + 16384), second);
    EXPECT_EQ(first[16384], 0);
    EXPECT_EQ(KLAV_GenRandData(16385, first.data()), 256);
    EXPECT_EQ(KLAV_GenRandData(-1, first.data()), 3);
    EXPECT_EQ(KLAV_GenRandData(16, nullptr), 3);
    EXPECT_EQ(KLAV_GenRandData(0, nullptr), KLAV_OK);
}

}  // namespace
}  // namespace korrim_test
