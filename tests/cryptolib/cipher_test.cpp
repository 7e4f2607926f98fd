// Symmetric ciphers against the openssl command-line tool, the client's own
// 0x10000 construction and its edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "peer.h"
#include "tests/support/temp_dir.h"

namespace korrim_test {
namespace {

struct CliCipher {
    int code;
    const char* cliName;
    size_t keySize;
    size_t ivSize;  // 0: no IV on the command line
    bool legacy;
};

const Bytes kKey24 = fromHex("0123456789abcdeffedcba987654321089abcdef01234567");
const Bytes kIv16 = fromHex("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
const Bytes kCfb8Iv = bytesOf("KLAVCFB8");  // the library's fixed IV for 0x4000

const CliCipher kCliCiphers[] = {
    {KLAV_DES3_ECB, "des-ede3", 24, 0, false},      {KLAV_DES3_CBC, "des-ede3-cbc", 24, 8, false},
    {KLAV_AES128_ECB, "aes-128-ecb", 16, 0, false}, {KLAV_AES128_CBC, "aes-128-cbc", 16, 16, false},
    {KLAV_SSF33_ECB, "sm4-ecb", 16, 0, false},      {KLAV_SSF33_CBC, "sm4-cbc", 16, 16, false},
    {KLAV_DES_ECB, "des-ecb", 8, 0, true},          {KLAV_DES_CBC, "des-cbc", 8, 8, true},
    {KLAV_DES_CFB8, "des-cfb8", 8, 8, true},
};

class CliCipherTest : public ::testing::TestWithParam<CliCipher> {
  protected:
    std::string cliArguments(bool encrypt, const std::filesystem::path& in) const {
        const CliCipher& c = GetParam();
        std::string args = std::string("enc ") + (encrypt ? "-e" : "-d") + " -" + c.cliName +
                           " -K " + toHex(Bytes(kKey24.begin(), kKey24.begin() + c.keySize));
        if (c.code == KLAV_DES_CFB8) {
            args += " -iv " + toHex(kCfb8Iv);
        } else if (c.ivSize > 0) {
            args += " -iv " + toHex(Bytes(kIv16.begin(), kIv16.begin() + c.ivSize));
        }
        if (c.legacy) args += " -provider legacy -provider default";
        return args + " -in " + in.string();
    }

    Bytes callerIv() const {
        // 0x4000 ignores the caller's IV, so hand it something else on purpose.
        return GetParam().code == KLAV_DES_CFB8 ? fromHex("ffffffffffffffff") : kIv16;
    }

    vantrel::testing::TempDir dir_;
};

TEST_P(CliCipherTest, encryptsAndDecryptsLikeTheOpensslTool) {
    const CliCipher& c = GetParam();
    const KLAV_SYMMETRIC_KEY key = symmetricKey(Bytes(kKey24.begin(), kKey24.begin() + c.keySize));
    const Bytes iv = callerIv();
    // Whole blocks only, a final partial block, and more than one 4096-byte piece.
    for (size_t size : {size_t{0}, size_t{32}, size_t{37}, size_t{8195}}) {
        SCOPED_TRACE("size " + std::to_string(size));
        const Bytes plain = pattern(size, static_cast<unsigned>(size));
        const auto plainFile = dir_.path() / "plain";
        writeFile(plainFile, plain);

        // act: ours against the tool's encryption
        Bytes ours(size + KLAV_MAX_BLOCK);
        int oursLen = 0;
        ASSERT_EQ(KLAV_Encrypt(c.code, &key, iv.data(), static_cast<int>(iv.size()), plain.data(),
                               static_cast<int>(size), ours.data(), &oursLen),
                  KLAV_OK);
        ours.resize(static_cast<size_t>(oursLen));
        const CommandResult theirs = openssl(cliArguments(true, plainFile));
        ASSERT_EQ(theirs.exitCode, 0);
        EXPECT_EQ(toHex(ours), toHex(theirs.output));

        // the tool decrypts ours
        const auto cipherFile = dir_.path() / "cipher";
        writeFile(cipherFile, ours);
        const CommandResult back = openssl(cliArguments(false, cipherFile));
        ASSERT_EQ(back.exitCode, 0);
        EXPECT_EQ(back.output, plain);

        // we decrypt the tool's
        Bytes decrypted(theirs.output.size() + KLAV_MAX_BLOCK);
        int decryptedLen = 0;
        ASSERT_EQ(
            KLAV_Decrypt(c.code, &key, iv.data(), static_cast<int>(iv.size()), theirs.output.data(),
                         static_cast<int>(theirs.output.size()), decrypted.data(), &decryptedLen),
            KLAV_OK);
        decrypted.resize(static_cast<size_t>(decryptedLen));
        EXPECT_EQ(decrypted, plain);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryOpensslCode, CliCipherTest, ::testing::ValuesIn(kCliCiphers),
                         [](const auto& info) {
                             std::string name = info.param.cliName;
                             for (auto& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

// ---- code 0x10000 -------------------------------------------------------------

const Bytes kK1K2 = fromHex("0123456789abcdeffedcba9876543210");

class ClientCodeTest : public ::testing::Test {
  protected:
    // The tool's view of a ciphertext: two-key EDE per block, no padding.
    Bytes toolDecrypt(const Bytes& cipher) {
        const auto file = dir_.path() / "c";
        writeFile(file, cipher);
        CommandResult r =
            openssl("enc -d -des-ede -nopad -K " + toHex(kK1K2) + " -in " + file.string());
        EXPECT_EQ(r.exitCode, 0);
        return r.output;
    }
    Bytes toolEncrypt(const Bytes& padded) {
        const auto file = dir_.path() / "p";
        writeFile(file, padded);
        CommandResult r =
            openssl("enc -e -des-ede -nopad -K " + toHex(kK1K2) + " -in " + file.string());
        EXPECT_EQ(r.exitCode, 0);
        return r.output;
    }
    Bytes encrypt(const Bytes& plain) {
        Bytes out(plain.size() + 8);
        int outLen = -1;
        EXPECT_EQ(KLAV_Encrypt(KLAV_DES2_ECB_PAD, &key_, nullptr, 0, plain.data(),
                               static_cast<int>(plain.size()), out.data(), &outLen),
                  KLAV_OK);
        out.resize(static_cast<size_t>(outLen));
        return out;
    }

    KLAV_SYMMETRIC_KEY key_ = symmetricKey(kK1K2);
    vantrel::testing::TempDir dir_;
};

TEST_F(ClientCodeTest, padsWithTheFillerCountAndEncryptsEachBlockWithTwoKeyEde) {
    // Edge cases: 0 -> 8 bytes, 8 -> 16 with last byte 7, 13 -> 16 with last byte 2.
    struct Case {
        size_t size;
        size_t expected;
        unsigned char lastByte;
    };
    for (const Case& c : {Case{0, 8, 7}, Case{8, 16, 7}, Case{13, 16, 2}, Case{15, 16, 0},
                          Case{16384, 16392, 7}, Case{16383, 16384, 0}}) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        const Bytes plain = pattern(c.size, 7);
        const Bytes cipher = encrypt(plain);
        ASSERT_EQ(cipher.size(), c.expected);
        const Bytes padded = toolDecrypt(cipher);
        ASSERT_EQ(padded.size(), c.expected);
        EXPECT_EQ(padded.back(), c.lastByte);
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), padded.begin()));

        Bytes back(cipher.size());
        int backLen = -1;
        ASSERT_EQ(KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key_, nullptr, 0, cipher.data(),
                               static_cast<int>(cipher.size()), back.data(), &backLen),
                  KLAV_OK);
        EXPECT_EQ(backLen, static_cast<int>(c.size));
        back.resize(static_cast<size_t>(backLen));
        EXPECT_EQ(back, plain);
    }
}

TEST_F(ClientCodeTest, decryptsWhatTheToolEncryptsWhateverTheFiller) {
    // 5 data bytes, 2 filler bytes of any value, then the filler count 2.
    const Bytes padded = fromHex(
        "68656c6c6fa5a502"
        "0001020304050607"
        "1112131415ee5a02");
    const Bytes cipher = toolEncrypt(padded);
    Bytes out(cipher.size(), 0xCC);
    int outLen = -1;
    ASSERT_EQ(KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key_, nullptr, 0, cipher.data(),
                           static_cast<int>(cipher.size()), out.data(), &outLen),
              KLAV_OK);
    ASSERT_EQ(outLen, 21);
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + 21)),
              "68656c6c6fa5a502000102030405060711121314"
              "15");
    // Nothing lands past the reported length.
    EXPECT_EQ(out[21], 0xCC);
}

TEST_F(ClientCodeTest, rejectsInputThatNoEncryptionCouldHaveProducedWithoutWriting) {
    const Bytes good = encrypt(pattern(20, 3));
    const Bytes badCount = toolEncrypt(fromHex("0001020304050609"));  // filler count 9
    const Bytes count8 = toolEncrypt(fromHex("0001020304050608"));    // would eat a whole block
    struct Case {
        const char* what;
        Bytes input;
    };
    const Case cases[] = {
        {"empty", {}},
        {"not a multiple of 8", Bytes(good.begin(), good.end() - 3)},
        {"last byte above 7", badCount},
        {"last byte 8", count8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes out(64, 0xAA);
        int outLen = 12345;
        EXPECT_EQ(KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key_, nullptr, 0, c.input.data(),
                               static_cast<int>(c.input.size()), out.data(), &outLen),
                  KLAV_ERR_CRYPTO);
        EXPECT_EQ(outLen, 0);
        EXPECT_EQ(out, Bytes(64, 0xAA));
    }
}

TEST_F(ClientCodeTest, decryptsInPlaceAsTheGatewayChunksDo) {
    const Bytes plain = pattern(16384, 9);
    Bytes buffer = encrypt(plain);
    int outLen = 0;
    ASSERT_EQ(KLAV_Decrypt(KLAV_DES2_ECB_PAD, &key_, nullptr, 0, buffer.data(),
                           static_cast<int>(buffer.size()), buffer.data(), &outLen),
              KLAV_OK);
    buffer.resize(static_cast<size_t>(outLen));
    EXPECT_EQ(buffer, plain);
}

// ---- lengths, codes and arguments ---------------------------------------------

TEST(CipherEdges, desCbcOver4097BytesGivesOnePieceAndOneByteThen4104Bytes) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(fromHex("133457799bbcdff1"));
    const Bytes iv = fromHex("0102030405060708");
    const Bytes plain = pattern(4097);
    Bytes out(4097 + 16);
    int outLen = 0;
    ASSERT_EQ(
        KLAV_Encrypt(KLAV_DES_CBC, &key, iv.data(), 8, plain.data(), 4097, out.data(), &outLen),
        KLAV_OK);
    EXPECT_EQ(outLen, 4104);
}

TEST(CipherEdges, unsupportedCodesAnswer304BeforeTouchingAnyBuffer) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kK1K2);
    Bytes out(32, 0x55);
    int outLen = 777;
    const Bytes in = pattern(16);
    for (int code : {0, 0x3, 0x40, 0x8000, 0x20000, -1}) {
        EXPECT_EQ(KLAV_Encrypt(code, &key, nullptr, 0, in.data(), 16, out.data(), &outLen), 304);
        EXPECT_EQ(KLAV_Decrypt(code, &key, nullptr, 0, in.data(), 16, out.data(), &outLen), 304);
    }
    EXPECT_EQ(outLen, 777);
    EXPECT_EQ(out, Bytes(32, 0x55));
    KLAV_HANDLE handle = nullptr;
    EXPECT_EQ(KLAV_EncryptInit(KLAV_DES_CFB8, &handle, &key, nullptr), 304);
    EXPECT_EQ(KLAV_DecryptInit(KLAV_DES2_ECB_PAD, &handle, &key, nullptr), 304);
    EXPECT_EQ(handle, nullptr);
}

TEST(CipherEdges, badArgumentsGiveAStatus) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kKey24);
    const Bytes in = pattern(16);
    Bytes out(64);
    int outLen = 0;
    for (int code : {KLAV_DES3_CBC, KLAV_DES_CFB8, KLAV_DES2_ECB_PAD}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(KLAV_Encrypt(code, nullptr, kIv16.data(), 16, in.data(), 16, out.data(), &outLen),
                  3);
        EXPECT_EQ(KLAV_Encrypt(code, &key, kIv16.data(), 16, nullptr, 16, out.data(), &outLen), 3);
        EXPECT_EQ(KLAV_Encrypt(code, &key, kIv16.data(), 16, in.data(), -1, out.data(), &outLen),
                  3);
        EXPECT_EQ(KLAV_Encrypt(code, &key, kIv16.data(), 16, in.data(), 16, nullptr, &outLen), 3);
        EXPECT_EQ(KLAV_Encrypt(code, &key, kIv16.data(), 16, in.data(), 16, out.data(), nullptr),
                  3);
        EXPECT_EQ(KLAV_Decrypt(code, &key, kIv16.data(), 16, in.data(), -8, out.data(), &outLen),
                  3);
    }
    // A CBC code without a whole IV cannot set up its context.
    EXPECT_EQ(KLAV_Encrypt(KLAV_AES128_CBC, &key, nullptr, 0, in.data(), 16, out.data(), &outLen),
              4);
    EXPECT_EQ(
        KLAV_Encrypt(KLAV_AES128_CBC, &key, kIv16.data(), 8, in.data(), 16, out.data(), &outLen),
        4);
}

TEST(CipherEdges, aWrongPaddingIsTheCiphersOwnFailureValue) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kKey24);
    const Bytes garbage = pattern(32);
    Bytes out(64);
    int outLen = 0;
    EXPECT_EQ(
        KLAV_Decrypt(KLAV_AES128_ECB, &key, nullptr, 0, garbage.data(), 32, out.data(), &outLen),
        0);
    EXPECT_EQ(outLen, 0);
}

// ---- Init/Update/Final and files ---------------------------------------------

TEST(CipherStreams, piecewiseEncryptionAndDecryptionMatchOneShot) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kKey24);
    const Bytes plain = pattern(1000, 5);
    for (int code : {KLAV_DES3_ECB, KLAV_DES3_CBC, KLAV_AES128_ECB, KLAV_AES128_CBC, KLAV_SSF33_ECB,
                     KLAV_SSF33_CBC, KLAV_DES_ECB, KLAV_DES_CBC}) {
        SCOPED_TRACE(code);
        Bytes oneShot(plain.size() + 16);
        int oneShotLen = 0;
        ASSERT_EQ(KLAV_Encrypt(code, &key, kIv16.data(), 16, plain.data(), 1000, oneShot.data(),
                               &oneShotLen),
                  KLAV_OK);
        oneShot.resize(static_cast<size_t>(oneShotLen));

        // Uneven pieces, including an empty one.
        Bytes streamed;
        KLAV_HANDLE handle = nullptr;
        ASSERT_EQ(KLAV_EncryptInit(code, &handle, &key, kIv16.data()), KLAV_OK);
        size_t offset = 0;
        for (size_t piece : {size_t{1}, size_t{0}, size_t{17}, size_t{500}, size_t{482}}) {
            Bytes out(piece + 16);
            int outLen = 0;
            ASSERT_EQ(KLAV_EncryptUpdate(&handle, plain.data() + offset, static_cast<int>(piece),
                                         out.data(), &outLen),
                      KLAV_OK);
            streamed.insert(streamed.end(), out.begin(), out.begin() + outLen);
            offset += piece;
        }
        Bytes last(16);
        int lastLen = 0;
        ASSERT_EQ(KLAV_EncryptFinal(&handle, last.data(), &lastLen), KLAV_OK);
        EXPECT_EQ(handle, nullptr);
        streamed.insert(streamed.end(), last.begin(), last.begin() + lastLen);
        EXPECT_EQ(streamed, oneShot);

        Bytes decrypted;
        ASSERT_EQ(KLAV_DecryptInit(code, &handle, &key, kIv16.data()), KLAV_OK);
        for (size_t at = 0; at < oneShot.size(); at += 24) {
            const size_t piece = std::min<size_t>(24, oneShot.size() - at);
            Bytes out(piece + 16);
            int outLen = 0;
            ASSERT_EQ(KLAV_DecryptUpdate(&handle, oneShot.data() + at, static_cast<int>(piece),
                                         out.data(), &outLen),
                      KLAV_OK);
            decrypted.insert(decrypted.end(), out.begin(), out.begin() + outLen);
        }
        ASSERT_EQ(KLAV_DecryptFinal(&handle, last.data(), &lastLen), KLAV_OK);
        decrypted.insert(decrypted.end(), last.begin(), last.begin() + lastLen);
        EXPECT_EQ(decrypted, plain);
    }
}

TEST(CipherStreams, aFailingUpdateFreesTheHandleAndAWrongFamilyIsRefused) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kKey24);
    KLAV_HANDLE handle = nullptr;
    Bytes out(64);
    int outLen = 0;
    ASSERT_EQ(KLAV_EncryptInit(KLAV_AES128_ECB, &handle, &key, nullptr), KLAV_OK);
    EXPECT_EQ(KLAV_EncryptUpdate(&handle, out.data(), -1, out.data(), &outLen), KLAV_ERR_CRYPTO);
    EXPECT_EQ(handle, nullptr);

    ASSERT_EQ(KLAV_EncryptInit(KLAV_AES128_ECB, &handle, &key, nullptr), KLAV_OK);
    EXPECT_EQ(KLAV_DecryptUpdate(&handle, out.data(), 16, out.data(), &outLen), KLAV_ERR_CRYPTO);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(KLAV_EncryptFinal(&handle, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(outLen, 16);
}

class CipherFiles : public ::testing::Test {
  protected:
    vantrel::testing::TempDir dir_;
    std::filesystem::path plainFile_ = dir_.path() / "plain.bin";
    std::filesystem::path cipherFile_ = dir_.path() / "cipher.bin";
    std::filesystem::path backFile_ = dir_.path() / "back.bin";
};

TEST_F(CipherFiles, everyCodeRoundTripsThroughFiles) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kKey24);
    const Bytes plain = pattern(3 * 4096 + 77, 11);
    writeFile(plainFile_, plain);
    for (int code :
         {KLAV_DES3_ECB, KLAV_DES3_CBC, KLAV_AES128_ECB, KLAV_AES128_CBC, KLAV_SSF33_ECB,
          KLAV_SSF33_CBC, KLAV_DES_ECB, KLAV_DES_CBC, KLAV_DES_CFB8, KLAV_DES2_ECB_PAD}) {
        SCOPED_TRACE(code);
        ASSERT_EQ(
            KLAV_EncryptFile(code, &key, kIv16.data(), 16, plainFile_.c_str(), cipherFile_.c_str()),
            KLAV_OK);
        ASSERT_EQ(
            KLAV_DecryptFile(code, &key, kIv16.data(), 16, cipherFile_.c_str(), backFile_.c_str()),
            KLAV_OK);
        EXPECT_EQ(readFile(backFile_), plain);
    }
}

TEST_F(CipherFiles, streamedCodesWriteWhatOneShotWrites) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kKey24);
    const Bytes plain = pattern(2 * 4096 + 5, 12);
    writeFile(plainFile_, plain);
    ASSERT_EQ(KLAV_EncryptFile(KLAV_DES3_CBC, &key, kIv16.data(), 8, plainFile_.c_str(),
                               cipherFile_.c_str()),
              KLAV_OK);
    Bytes oneShot(plain.size() + 16);
    int len = 0;
    ASSERT_EQ(KLAV_Encrypt(KLAV_DES3_CBC, &key, kIv16.data(), 8, plain.data(),
                           static_cast<int>(plain.size()), oneShot.data(), &len),
              KLAV_OK);
    oneShot.resize(static_cast<size_t>(len));
    EXPECT_EQ(readFile(cipherFile_), oneShot);
}

TEST_F(CipherFiles, theClientCodePadsEach4096BytePieceOnItsOwn) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kK1K2);
    const Bytes plain = pattern(4096 + 100, 13);
    writeFile(plainFile_, plain);
    ASSERT_EQ(KLAV_EncryptFile(KLAV_DES2_ECB_PAD, &key, nullptr, 0, plainFile_.c_str(),
                               cipherFile_.c_str()),
              KLAV_OK);
    Bytes expected;
    for (size_t at = 0; at < plain.size(); at += 4096) {
        const size_t piece = std::min<size_t>(4096, plain.size() - at);
        Bytes out(piece + 8);
        int len = 0;
        ASSERT_EQ(KLAV_Encrypt(KLAV_DES2_ECB_PAD, &key, nullptr, 0, plain.data() + at,
                               static_cast<int>(piece), out.data(), &len),
                  KLAV_OK);
        expected.insert(expected.end(), out.begin(), out.begin() + len);
    }
    EXPECT_EQ(readFile(cipherFile_), expected);
    EXPECT_EQ(expected.size(), size_t{4104 + 104});
}

TEST_F(CipherFiles, missingInputGivesTwoAndBadCiphertextLeavesNoOutput) {
    const KLAV_SYMMETRIC_KEY key = symmetricKey(kK1K2);
    const auto missing = dir_.path() / "missing.bin";
    writeFile(plainFile_, pattern(10));
    EXPECT_EQ(
        KLAV_EncryptFile(KLAV_AES128_ECB, &key, nullptr, 0, missing.c_str(), cipherFile_.c_str()),
        2);
    EXPECT_EQ(KLAV_EncryptFile(KLAV_AES128_ECB, &key, nullptr, 0, plainFile_.c_str(),
                               (dir_.path() / "no" / "such" / "dir").c_str()),
              2);
    writeFile(cipherFile_, pattern(100));  // not a multiple of 8
    EXPECT_EQ(KLAV_DecryptFile(KLAV_DES2_ECB_PAD, &key, nullptr, 0, cipherFile_.c_str(),
                               backFile_.c_str()),
              3);
    EXPECT_FALSE(std::filesystem::exists(backFile_));
}

}  // namespace
}  // namespace korrim_test
