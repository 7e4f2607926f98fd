// RSA: raw operations, signatures and envelopes against the openssl tool;
// password encryption.
#include <gtest/gtest.h>

#include <string>

#include "peer.h"
#include "tests/support/temp_dir.h"

namespace korrim_test {
namespace {

KLAV_RSA_KEY holder(const Bytes& bytes) {
    return KLAV_RSA_KEY{bytes.data(), static_cast<int>(bytes.size())};
}

class RsaTest : public ::testing::Test {
  protected:
    const TestPki& pki_ = testPki();
    KLAV_RSA_KEY privateKey_ = holder(pki_.keyPemBytes);
    KLAV_RSA_KEY publicKey_ = holder(pki_.publicPemBytes);
    vantrel::testing::TempDir dir_;

    std::string pkeyutl(const std::string& arguments, const Bytes& input) {
        const auto in = dir_.path() / "in";
        writeFile(in, input);
        const CommandResult r = openssl("pkeyutl " + arguments + " -in " + in.string());
        EXPECT_EQ(r.exitCode, 0) << arguments;
        return toHex(r.output);
    }
    Bytes sign(int code, const Bytes& data) {
        Bytes signature(pki_.modulusBytes);
        int length = 0;
        EXPECT_EQ(KLAV_Sign(code, &privateKey_, data.data(), static_cast<int>(data.size()),
                            signature.data(), &length),
                  KLAV_OK);
        signature.resize(static_cast<size_t>(length));
        return signature;
    }
};

TEST_F(RsaTest, rawOperationsInteroperateWithPkeyutl) {
    const Bytes message = bytesOf("session key material");
    Bytes out(pki_.modulusBytes);
    int outLen = 0;

    // public encrypt here, private decrypt there
    ASSERT_EQ(KLAV_RSAPublicKeyEnc(&publicKey_, message.data(), static_cast<int>(message.size()),
                                   out.data(), &outLen),
              KLAV_OK);
    ASSERT_EQ(outLen, pki_.modulusBytes);
    EXPECT_EQ(pkeyutl("-decrypt -inkey " + pki_.keyPem.string(), out), toHex(message));

    // public encrypt there, private decrypt here
    const Bytes theirs =
        fromHex(pkeyutl("-encrypt -pubin -inkey " + pki_.publicPem.string(), message));
    ASSERT_EQ(KLAV_RSAPrivateKeyDec(&privateKey_, theirs.data(), static_cast<int>(theirs.size()),
                                    out.data(), &outLen),
              KLAV_OK);
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + outLen)), toHex(message));

    // private "encrypt" here is a type 1 signature the tool recovers, and back
    ASSERT_EQ(KLAV_RSAPrivateKeyEnc(&privateKey_, message.data(), static_cast<int>(message.size()),
                                    out.data(), &outLen),
              KLAV_OK);
    const Bytes signature(out.begin(), out.begin() + outLen);
    EXPECT_EQ(pkeyutl("-verifyrecover -pubin -inkey " + pki_.publicPem.string(), signature),
              toHex(message));
    ASSERT_EQ(KLAV_RSAPublicKeyDec(&publicKey_, signature.data(), outLen, out.data(), &outLen),
              KLAV_OK);
    EXPECT_EQ(toHex(Bytes(out.begin(), out.begin() + outLen)), toHex(message));
}

TEST_F(RsaTest, rawOperationsReportUnreadableKeysAndFailures) {
    Bytes out(pki_.modulusBytes);
    int outLen = 0;
    const Bytes junk = bytesOf("not a key");
    const KLAV_RSA_KEY bad = holder(junk);
    const Bytes message = bytesOf("m");
    EXPECT_EQ(KLAV_RSAPublicKeyEnc(&bad, message.data(), 1, out.data(), &outLen), 305);
    EXPECT_EQ(KLAV_RSAPrivateKeyDec(nullptr, message.data(), 1, out.data(), &outLen), 305);
    // A public key cannot do the private half.
    EXPECT_EQ(KLAV_RSAPrivateKeyEnc(&publicKey_, message.data(), 1, out.data(), &outLen), 305);
    // Too long for PKCS#1 v1.5, and a ciphertext that is not one.
    const Bytes tooLong(pki_.modulusBytes, 1);
    EXPECT_EQ(
        KLAV_RSAPublicKeyEnc(&publicKey_, tooLong.data(), pki_.modulusBytes, out.data(), &outLen),
        3);
    EXPECT_EQ(
        KLAV_RSAPrivateKeyDec(&privateKey_, tooLong.data(), pki_.modulusBytes, out.data(), &outLen),
        3);
    EXPECT_EQ(outLen, 0);
    EXPECT_EQ(KLAV_RSAPublicKeyEnc(&publicKey_, nullptr, 4, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_RSAPublicKeyEnc(&publicKey_, message.data(), -4, out.data(), &outLen), 3);
}

TEST_F(RsaTest, signatureCarriesObject108AndTheDigestForPkeyutl) {
    const Bytes data = bytesOf("upload list of 2024-01-15");
    for (int code : {KLAV_SIGN_MD5, KLAV_SIGN_SHA1}) {
        SCOPED_TRACE(code);
        const Bytes signature = sign(code, data);
        ASSERT_EQ(signature.size(), static_cast<size_t>(pki_.modulusBytes));
        const Bytes digestInfo =
            fromHex(pkeyutl("-verifyrecover -pubin -inkey " + pki_.publicPem.string(), signature));
        // SEQUENCE { SEQUENCE { OID 1.2.840.113533.7.66.10 (object 108), NULL }, OCTET STRING
        // digest }
        Bytes expectedDigest(KLAV_MAX_DIGEST_SIZE);
        int digestLen = 0;
        ASSERT_EQ(KLAV_HASH(code == KLAV_SIGN_MD5 ? KLAV_MD5 : KLAV_SHA1, data.data(),
                            static_cast<int>(data.size()), expectedDigest.data(), &digestLen),
                  KLAV_OK);
        expectedDigest.resize(static_cast<size_t>(digestLen));
        const std::string algorithm = "300d06092a864886f67d07420a0500";
        const std::string octets =
            "04" + toHex(Bytes{static_cast<unsigned char>(digestLen)}) + toHex(expectedDigest);
        const size_t total = (algorithm.size() + octets.size()) / 2;
        EXPECT_EQ(toHex(digestInfo),
                  "30" + toHex(Bytes{static_cast<unsigned char>(total)}) + algorithm + octets);
    }
}

TEST_F(RsaTest, theToolNamesTheDigestInfoAlgorithmCast5) {
    const Bytes signature = sign(KLAV_SIGN_SHA1, bytesOf("x"));
    const auto recovered = dir_.path() / "digestinfo.der";
    writeFile(recovered, fromHex(pkeyutl("-verifyrecover -pubin -inkey " + pki_.publicPem.string(),
                                         signature)));
    const CommandResult parsed = openssl("asn1parse -inform DER -in " + recovered.string());
    ASSERT_EQ(parsed.exitCode, 0);
    const std::string text(parsed.output.begin(), parsed.output.end());
    EXPECT_NE(text.find(":cast5-cbc"), std::string::npos) << text;
}

TEST_F(RsaTest, signThenVerifyRoundTripsAndCatchesTampering) {
    Bytes data = pattern(10000, 4);
    struct Pair {
        int sign;
        int verify;
    };
    for (const Pair p :
         {Pair{KLAV_SIGN_MD5, KLAV_VERIFY_MD5}, Pair{KLAV_SIGN_SHA1, KLAV_VERIFY_SHA1}}) {
        SCOPED_TRACE(p.sign);
        Bytes signature = sign(p.sign, data);
        int valid = -1;
        ASSERT_EQ(KLAV_Verify(p.verify, &publicKey_, data.data(), static_cast<int>(data.size()),
                              signature.data(), static_cast<int>(signature.size()), &valid),
                  KLAV_OK);
        EXPECT_EQ(valid, 1);
        // The other digest, changed data, a changed signature, a short signature: all invalid.
        const int otherVerify = p.verify == KLAV_VERIFY_MD5 ? KLAV_VERIFY_SHA1 : KLAV_VERIFY_MD5;
        EXPECT_EQ(KLAV_Verify(otherVerify, &publicKey_, data.data(), static_cast<int>(data.size()),
                              signature.data(), static_cast<int>(signature.size()), &valid),
                  KLAV_OK);
        EXPECT_EQ(valid, 0);
        data[5000] ^= 1;
        EXPECT_EQ(KLAV_Verify(p.verify, &publicKey_, data.data(), static_cast<int>(data.size()),
                              signature.data(), static_cast<int>(signature.size()), &valid),
                  KLAV_OK);
        EXPECT_EQ(valid, 0);
        data[5000] ^= 1;
        signature[7] ^= 0x80;
        EXPECT_EQ(KLAV_Verify(p.verify, &publicKey_, data.data(), static_cast<int>(data.size()),
                              signature.data(), static_cast<int>(signature.size()), &valid),
                  KLAV_OK);
        EXPECT_EQ(valid, 0);
        signature[7] ^= 0x80;
        EXPECT_EQ(KLAV_Verify(p.verify, &publicKey_, data.data(), static_cast<int>(data.size()),
                              signature.data(), static_cast<int>(signature.size()) - 1, &valid),
                  KLAV_OK);
        EXPECT_EQ(valid, 0);
    }
}

TEST_F(RsaTest, fileVariantsAgreeWithTheDataVariants) {
    const Bytes data = pattern(3 * 4096 + 1, 8);
    const auto file = dir_.path() / "signed.bin";
    writeFile(file, data);
    Bytes signature(pki_.modulusBytes);
    int length = 0;
    ASSERT_EQ(KLAV_SignFile(KLAV_SIGN_SHA1, &privateKey_, file.c_str(), signature.data(), &length),
              KLAV_OK);
    signature.resize(static_cast<size_t>(length));
    // PKCS#1 v1.5 signatures are deterministic: the file signature equals the data signature.
    EXPECT_EQ(signature, sign(KLAV_SIGN_SHA1, data));
    int valid = -1;
    ASSERT_EQ(KLAV_VerifyFile(KLAV_VERIFY_SHA1, &publicKey_, file.c_str(), signature.data(), length,
                              &valid),
              KLAV_OK);
    EXPECT_EQ(valid, 1);
    const auto missing = dir_.path() / "missing";
    EXPECT_EQ(
        KLAV_SignFile(KLAV_SIGN_SHA1, &privateKey_, missing.c_str(), signature.data(), &length), 2);
    EXPECT_EQ(KLAV_VerifyFile(KLAV_VERIFY_SHA1, &publicKey_, missing.c_str(), signature.data(),
                              pki_.modulusBytes, &valid),
              2);
}

TEST_F(RsaTest, signatureCodesAreCheckedPerDirection) {
    const Bytes data = bytesOf("x");
    Bytes signature(pki_.modulusBytes);
    int length = 0;
    int valid = 0;
    // Verify codes do not sign and sign codes do not verify.
    for (int code : {0, 1, 2, KLAV_VERIFY_MD5, KLAV_VERIFY_SHA1}) {
        EXPECT_EQ(KLAV_Sign(code, &privateKey_, data.data(), 1, signature.data(), &length), 288)
            << code;
    }
    for (int code : {0, 1, 2, KLAV_SIGN_MD5, KLAV_SIGN_SHA1}) {
        EXPECT_EQ(KLAV_Verify(code, &publicKey_, data.data(), 1, signature.data(),
                              pki_.modulusBytes, &valid),
                  288)
            << code;
    }
    const Bytes junk = bytesOf("junk");
    const KLAV_RSA_KEY bad = holder(junk);
    EXPECT_EQ(KLAV_Sign(KLAV_SIGN_MD5, &bad, data.data(), 1, signature.data(), &length), 305);
    EXPECT_EQ(KLAV_Sign(KLAV_SIGN_MD5, &privateKey_, nullptr, 1, signature.data(), &length), 3);
    EXPECT_EQ(KLAV_Verify(KLAV_VERIFY_MD5, &publicKey_, data.data(), -1, signature.data(),
                          pki_.modulusBytes, &valid),
              3);
    EXPECT_EQ(KLAV_Verify(KLAV_VERIFY_MD5, &publicKey_, data.data(), 1, signature.data(),
                          pki_.modulusBytes, nullptr),
              3);
}

// ---- envelopes ------------------------------------------------------------------

TEST_F(RsaTest, envelopesRoundTripForEveryCipher) {
    for (int code :
         {KLAV_ENV_DES3_CBC, KLAV_ENV_AES128_CBC, KLAV_ENV_SSF33_CBC, KLAV_ENV_DES_CBC}) {
        for (size_t size : {size_t{0}, size_t{16}, size_t{4096 * 2 + 3}}) {
            SCOPED_TRACE(std::to_string(code) + " " + std::to_string(size));
            const Bytes data = pattern(size, static_cast<unsigned>(code));
            Bytes envelope(KLAV_ENVELOPE_OUT_MAX(size, static_cast<size_t>(pki_.modulusBytes)));
            int envelopeLen = 0;
            ASSERT_EQ(KLAV_EncodeEnvelope(code, &publicKey_, data.data(), static_cast<int>(size),
                                          envelope.data(), &envelopeLen),
                      KLAV_OK);
            EXPECT_GT(envelopeLen, pki_.modulusBytes + static_cast<int>(size));
            Bytes out(static_cast<size_t>(envelopeLen));
            int outLen = 0;
            ASSERT_EQ(KLAV_DecodeEnvelope(0, &privateKey_, envelope.data(), envelopeLen, out.data(),
                                          &outLen),
                      KLAV_OK);
            out.resize(static_cast<size_t>(outLen));
            EXPECT_EQ(out, data);
        }
    }
}

TEST_F(RsaTest, envelopeKeyBlockCarriesTheIdentifierAndTheToolReadsIt) {
    const Bytes data = bytesOf("payload");
    Bytes envelope(1024);
    int envelopeLen = 0;
    ASSERT_EQ(KLAV_EncodeEnvelope(KLAV_ENV_DES3_CBC, &publicKey_, data.data(), 7, envelope.data(),
                                  &envelopeLen),
              KLAV_OK);
    const Bytes rsaBlock(envelope.begin(), envelope.begin() + pki_.modulusBytes);
    const Bytes keyBlock = fromHex(pkeyutl("-decrypt -inkey " + pki_.keyPem.string(), rsaBlock));
    ASSERT_EQ(keyBlock.size(), size_t{25});
    EXPECT_EQ(keyBlock[0], 3);
    // The content is Triple-DES CBC under that key and the library's envelope IV.
    const auto body = dir_.path() / "body";
    writeFile(body, Bytes(envelope.begin() + pki_.modulusBytes, envelope.begin() + envelopeLen));
    const CommandResult plain =
        openssl("enc -d -des-ede3-cbc -K " + toHex(Bytes(keyBlock.begin() + 1, keyBlock.end())) +
                " -iv 454e562d4b4c4156 -in " + body.string());
    ASSERT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.output, data);
}

TEST_F(RsaTest, envelopeFailuresHaveTheirOwnStatus) {
    const Bytes data = bytesOf("payload");
    Bytes envelope(1024);
    int envelopeLen = 0;
    EXPECT_EQ(KLAV_EncodeEnvelope(0x1, &publicKey_, data.data(), 7, envelope.data(), &envelopeLen),
              2);
    const Bytes junk = bytesOf("junk");
    const KLAV_RSA_KEY bad = holder(junk);
    EXPECT_EQ(KLAV_EncodeEnvelope(KLAV_ENV_AES128_CBC, &bad, data.data(), 7, envelope.data(),
                                  &envelopeLen),
              305);

    // An identifier outside 1 to 4.
    Bytes keyBlock(17, 0x42);
    keyBlock[0] = 9;
    Bytes forged(pki_.modulusBytes + 16);
    int forgedLen = 0;
    ASSERT_EQ(KLAV_RSAPublicKeyEnc(&publicKey_, keyBlock.data(), 17, forged.data(), &forgedLen),
              KLAV_OK);
    Bytes out(forged.size());
    int outLen = 0;
    EXPECT_EQ(KLAV_DecodeEnvelope(0, &privateKey_, forged.data(), static_cast<int>(forged.size()),
                                  out.data(), &outLen),
              306);
    // A key block shorter than its cipher's key.
    keyBlock.assign({1, 2, 3});
    ASSERT_EQ(KLAV_RSAPublicKeyEnc(&publicKey_, keyBlock.data(), 3, forged.data(), &forgedLen),
              KLAV_OK);
    EXPECT_EQ(KLAV_DecodeEnvelope(0, &privateKey_, forged.data(), static_cast<int>(forged.size()),
                                  out.data(), &outLen),
              3);
    // Shorter than one RSA block; an RSA block that does not decrypt.
    EXPECT_EQ(KLAV_DecodeEnvelope(0, &privateKey_, forged.data(), pki_.modulusBytes - 1, out.data(),
                                  &outLen),
              3);
    const Bytes noise = pattern(static_cast<size_t>(pki_.modulusBytes) + 16, 77);
    EXPECT_EQ(KLAV_DecodeEnvelope(0, &privateKey_, noise.data(), static_cast<int>(noise.size()),
                                  out.data(), &outLen),
              3);
}

// ---- password encryption ----------------------------------------------------------

TEST(PasswordEncryption, isTheClientCodeUnderTheMd5OfThePasswordBehindItsCheck) {
    const Bytes data = bytesOf("operator secret");
    Bytes blob(data.size() + 24);
    int blobLen = 0;
    ASSERT_EQ(KLAV_PasswordEncrypt("pa55word", data.data(), static_cast<int>(data.size()),
                                   blob.data(), &blobLen),
              KLAV_OK);
    ASSERT_EQ(blobLen, 16 + 16);
    // D = MD5("pa55word"), check = MD5(D), ciphertext = 0x10000 under K1|K2 = D.
    Bytes d(16);
    int dLen = 0;
    ASSERT_EQ(
        KLAV_HASH(KLAV_MD5, reinterpret_cast<const unsigned char*>("pa55word"), 8, d.data(), &dLen),
        KLAV_OK);
    Bytes check(16);
    ASSERT_EQ(KLAV_HASH(KLAV_MD5, d.data(), 16, check.data(), &dLen), KLAV_OK);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 16), check);
    vantrel::testing::TempDir dir;
    writeFile(dir.path() / "c", Bytes(blob.begin() + 16, blob.begin() + blobLen));
    const CommandResult padded =
        openssl("enc -d -des-ede -nopad -K " + toHex(d) + " -in " + (dir.path() / "c").string());
    ASSERT_EQ(padded.exitCode, 0);
    EXPECT_EQ(Bytes(padded.output.begin(), padded.output.begin() + 15), data);
    EXPECT_EQ(padded.output.back(), 0);

    Bytes out(static_cast<size_t>(blobLen));
    int outLen = 0;
    ASSERT_EQ(KLAV_PasswordDecrypt("pa55word", blob.data(), blobLen, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + outLen), data);
}

TEST(PasswordEncryption, aWrongPasswordGives276AndWritesNothing) {
    const Bytes data = pattern(100);
    Bytes blob(data.size() + 24);
    int blobLen = 0;
    ASSERT_EQ(KLAV_PasswordEncrypt("right", data.data(), 100, blob.data(), &blobLen), KLAV_OK);
    Bytes out(200, 0xEE);
    int outLen = 99;
    EXPECT_EQ(KLAV_PasswordDecrypt("wrong", blob.data(), blobLen, out.data(), &outLen), 276);
    EXPECT_EQ(outLen, 0);
    EXPECT_EQ(out, Bytes(200, 0xEE));
    // Too short for a check value, a damaged ciphertext length, null arguments.
    EXPECT_EQ(KLAV_PasswordDecrypt("right", blob.data(), 15, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_PasswordDecrypt("right", blob.data(), blobLen - 1, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_PasswordDecrypt(nullptr, blob.data(), blobLen, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_PasswordEncrypt("right", data.data(), -1, out.data(), &outLen), 3);
}

}  // namespace
}  // namespace korrim_test
