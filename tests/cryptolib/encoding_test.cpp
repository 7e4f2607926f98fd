// Base64 against RFC 4648 and the openssl tool; PEM/DER against openssl x509,
// req and pkey.
#include <gtest/gtest.h>

#include <string>

#include "peer.h"
#include "tests/support/temp_dir.h"

namespace korrim_test {
namespace {

std::string encode(const Bytes& data) {
    std::string out(KLAV_BASE64_OUT_MAX(data.size()), '\0');
    int outLen = -1;
    EXPECT_EQ(KLAV_Base64Encode(data.data(), static_cast<int>(data.size()), out.data(), &outLen),
              KLAV_OK);
    EXPECT_EQ(out[static_cast<size_t>(outLen)], '\0');
    out.resize(static_cast<size_t>(outLen));
    return out;
}

TEST(Base64, encodesRfc4648VectorsInOpensslLines) {
    // OpenSSL's Base64 filter ends every line, the last one too.
    EXPECT_EQ(encode(bytesOf("")), "");
    EXPECT_EQ(encode(bytesOf("f")), "Zg==\n");
    EXPECT_EQ(encode(bytesOf("fo")), "Zm8=\n");
    EXPECT_EQ(encode(bytesOf("foo")), "Zm9v\n");
    EXPECT_EQ(encode(bytesOf("foob")), "Zm9vYg==\n");
    EXPECT_EQ(encode(bytesOf("fooba")), "Zm9vYmE=\n");
    EXPECT_EQ(encode(bytesOf("foobar")), "Zm9vYmFy\n");
}

TEST(Base64, breaksLinesAfter64CharactersLikeTheTool) {
    vantrel::testing::TempDir dir;
    const auto file = dir.path() / "data";
    for (size_t size : {size_t{47}, size_t{48}, size_t{49}, size_t{96}, size_t{1000}}) {
        SCOPED_TRACE(size);
        const Bytes data = pattern(size, static_cast<unsigned>(size));
        writeFile(file, data);
        const CommandResult tool = openssl("base64 -e -in " + file.string());
        ASSERT_EQ(tool.exitCode, 0);
        EXPECT_EQ(encode(data), std::string(tool.output.begin(), tool.output.end()));
    }
}

TEST(Base64, decodesWithOrWithoutLineBreaks) {
    const Bytes data = pattern(1000, 2);
    const std::string lines = encode(data);
    std::string flat;
    for (char c : lines) {
        if (c != '\n') flat.push_back(c);
    }
    for (const std::string& text : {lines, flat}) {
        Bytes out(1000, 0);
        int outLen = 0;
        ASSERT_EQ(KLAV_Base64Decode(text.c_str(), 1000, out.data(), &outLen), KLAV_OK);
        EXPECT_EQ(outLen, 1000);
        EXPECT_EQ(out, data);
    }
    Bytes out(16);
    int outLen = 0;
    ASSERT_EQ(KLAV_Base64Decode("Zm9vYmE=", 16, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(std::string(out.begin(), out.begin() + outLen), "fooba");
    ASSERT_EQ(KLAV_Base64Decode("", 16, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(outLen, 0);
    // Nothing to decode needs no buffer at all (found by fuzzing).
    ASSERT_EQ(KLAV_Base64Decode("", 0, nullptr, &outLen), KLAV_OK);
    EXPECT_EQ(outLen, 0);
}

TEST(Base64, refusesBadTextAndShortBuffersWithoutWriting) {
    Bytes out(8, 0x77);
    int outLen = 5;
    EXPECT_EQ(KLAV_Base64Decode("Zm9v!mFy", 8, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_Base64Decode("Zm9vYmFy", 5, out.data(), &outLen), 3);
    EXPECT_EQ(outLen, 0);
    EXPECT_EQ(out, Bytes(8, 0x77));
    EXPECT_EQ(KLAV_Base64Decode(nullptr, 8, out.data(), &outLen), 3);
    EXPECT_EQ(KLAV_Base64Decode("Zg==", -1, out.data(), &outLen), 3);
    char text[8];
    EXPECT_EQ(KLAV_Base64Encode(out.data(), -1, text, &outLen), 3);
    EXPECT_EQ(KLAV_Base64Encode(nullptr, 3, text, &outLen), 3);
}

// ---- PEM and DER ----------------------------------------------------------------

class PemDerTest : public ::testing::Test {
  protected:
    Bytes pem2der(const Bytes& pem, int type, int expected = KLAV_OK) {
        Bytes out(pem.size());
        int outLen = -1;
        EXPECT_EQ(KLAV_Pem2Der(pem.data(), static_cast<int>(pem.size()), out.data(), &outLen, type),
                  expected);
        out.resize(expected == KLAV_OK ? static_cast<size_t>(outLen) : 0);
        return out;
    }
    Bytes der2pem(const Bytes& der, int type, int expected = KLAV_OK) {
        Bytes out(KLAV_DER2PEM_OUT_MAX(der.size()));
        int outLen = -1;
        EXPECT_EQ(KLAV_Der2Pem(der.data(), static_cast<int>(der.size()), out.data(), &outLen, type),
                  expected);
        if (expected != KLAV_OK) return {};
        EXPECT_EQ(out[static_cast<size_t>(outLen)], 0);
        out.resize(static_cast<size_t>(outLen));
        return out;
    }
    Bytes tool(const std::string& arguments) {
        const CommandResult r = openssl(arguments);
        EXPECT_EQ(r.exitCode, 0) << arguments;
        return r.output;
    }

    const TestPki& pki_ = testPki();
    vantrel::testing::TempDir dir_;
};

TEST_F(PemDerTest, certificatesConvertLikeOpensslX509) {
    EXPECT_EQ(pem2der(pki_.certPemBytes, KLAV_OBJ_CERTIFICATE), pki_.certDerBytes);
    EXPECT_EQ(der2pem(pki_.certDerBytes, KLAV_OBJ_CERTIFICATE),
              tool("x509 -inform DER -in " + pki_.certDer.string()));
}

TEST_F(PemDerTest, requestsConvertLikeOpensslReq) {
    const auto requestPem = dir_.path() / "req.pem";
    tool("req -new -key " + pki_.keyPem.string() + " -subj '/C=CN/CN=request' -out " +
         requestPem.string());
    const Bytes pem = readFile(requestPem);
    const Bytes der = tool("req -in " + requestPem.string() + " -outform DER");
    EXPECT_EQ(pem2der(pem, KLAV_OBJ_CERT_REQUEST), der);
    EXPECT_EQ(der2pem(der, KLAV_OBJ_CERT_REQUEST), pem);
}

TEST_F(PemDerTest, privateKeysConvertToAndFromPkcs8LikeOpensslPkcs8) {
    const Bytes der = tool("pkcs8 -topk8 -nocrypt -in " + pki_.keyPem.string() + " -outform DER");
    EXPECT_EQ(pem2der(pki_.keyPemBytes, KLAV_OBJ_PRIVATE_KEY), der);
    EXPECT_EQ(der2pem(der, KLAV_OBJ_PRIVATE_KEY), pki_.keyPemBytes);
    // A traditional PKCS#1 key reads too, and comes out as PKCS#8.
    const Bytes traditional = tool("rsa -in " + pki_.keyPem.string() + " -traditional");
    EXPECT_EQ(pem2der(traditional, KLAV_OBJ_PRIVATE_KEY), der);
    const Bytes traditionalDer =
        tool("rsa -in " + pki_.keyPem.string() + " -traditional -outform DER");
    EXPECT_EQ(der2pem(traditionalDer, KLAV_OBJ_PRIVATE_KEY), pki_.keyPemBytes);
}

TEST_F(PemDerTest, wrongTypesAndDamagedInputGiveTheirStatus) {
    EXPECT_TRUE(pem2der(pki_.certPemBytes, 4, KLAV_ERR_TYPE).empty());
    EXPECT_TRUE(der2pem(pki_.certDerBytes, 0, KLAV_ERR_TYPE).empty());
    // A certificate is not a request; truncated DER is nothing.
    pem2der(pki_.certPemBytes, KLAV_OBJ_CERT_REQUEST, KLAV_ERR_SETUP);
    der2pem(Bytes(pki_.certDerBytes.begin(), pki_.certDerBytes.end() - 10), KLAV_OBJ_CERTIFICATE,
            KLAV_ERR_SETUP);
    // An encrypted key is refused rather than prompting for a password.
    const Bytes encrypted =
        tool("pkey -in " + pki_.keyPem.string() + " -aes128 -passout pass:secret");
    pem2der(encrypted, KLAV_OBJ_PRIVATE_KEY, KLAV_ERR_SETUP);
    Bytes out(16);
    int outLen = 0;
    EXPECT_EQ(KLAV_Pem2Der(nullptr, 10, out.data(), &outLen, KLAV_OBJ_CERTIFICATE), 3);
    EXPECT_EQ(KLAV_Der2Pem(pki_.certDerBytes.data(), -1, out.data(), &outLen, KLAV_OBJ_CERTIFICATE),
              3);
}

}  // namespace
}  // namespace korrim_test
