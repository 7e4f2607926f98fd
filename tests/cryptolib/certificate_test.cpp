// PKCS#10 requests through openssl req -verify; certificate information
// against what openssl x509 prints.
#include <gtest/gtest.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <ctime>
#include <string>

#include "peer.h"
#include "tests/support/temp_dir.h"

namespace korrim_test {
namespace {

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

KLAV_SUBJECT fullSubject() {
    KLAV_SUBJECT s;
    std::memset(&s, 0, sizeof s);
    std::strcpy(s.country, "CN");
    std::strcpy(s.organization, "Vantrel");
    std::strcpy(s.organizationalUnit, "Crypto");
    std::strcpy(s.stateOrProvince, "Shanghai");
    std::strcpy(s.commonName, "client 01");
    std::strcpy(s.locality, "Pudong");
    std::strcpy(s.title, "Operator");
    std::strcpy(s.surname, "Li");
    std::strcpy(s.givenName, "Lei");
    std::strcpy(s.initials, "LL");
    std::strcpy(s.email, "op@example.com");
    return s;
}

class Pkcs10Test : public ::testing::Test {
  protected:
    // Writes the request and returns the tool's verdict and subject line.
    std::pair<int, std::string> verify(const Bytes& der, const std::string& extra = "") {
        const auto file = dir_.path() / "req.der";
        writeFile(file, der);
        const CommandResult r =
            openssl("req -inform DER -in " + file.string() +
                    " -verify -noout -subject -nameopt oneline,-esc_msb " + extra);
        return {r.exitCode, trimmed(text(r.output))};
    }
    Bytes generate(const KLAV_SUBJECT& subject, int digest, int form, int expected = KLAV_OK) {
        Bytes out(KLAV_PKCS10_OUT_MAX);
        int outLen = -1;
        EXPECT_EQ(KLAV_GenPKCS10(&subject, &key_, digest, form, out.data(), &outLen), expected);
        out.resize(expected == KLAV_OK ? static_cast<size_t>(outLen) : 0);
        return out;
    }

    const TestPki& pki_ = testPki();
    KLAV_RSA_KEY key_{pki_.keyPemBytes.data(), static_cast<int>(pki_.keyPemBytes.size())};
    vantrel::testing::TempDir dir_;
};

TEST_F(Pkcs10Test, requestVerifiesWithTheToolAndListsTheSubjectInOrder) {
    for (int digest : {KLAV_MD5, KLAV_SHA1}) {
        SCOPED_TRACE(digest);
        const auto [exitCode, subject] = verify(generate(fullSubject(), digest, KLAV_PKCS10_ASCII));
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(
            subject,
            "subject=C = CN, O = Vantrel, OU = Crypto, ST = Shanghai, CN = client 01, L = Pudong, "
            "title = Operator, SN = Li, GN = Lei, initials = LL, emailAddress = op@example.com");
    }
}

TEST_F(Pkcs10Test, emptyFieldsAreSkippedAndTheVersionIsZero) {
    KLAV_SUBJECT subject;
    std::memset(&subject, 0, sizeof subject);
    std::strcpy(subject.commonName, "only me");
    const Bytes der = generate(subject, KLAV_SHA1, KLAV_PKCS10_ASCII);
    EXPECT_EQ(verify(der).second, "subject=CN = only me");
    const auto file = dir_.path() / "r.der";
    writeFile(file, der);
    EXPECT_NE(text(openssl("req -inform DER -noout -text -in " + file.string()).output)
                  .find("Version: 1 (0x0)"),
              std::string::npos);
}

TEST_F(Pkcs10Test, form2StoresGbkTextAsUtf8Strings) {
    KLAV_SUBJECT subject;
    std::memset(&subject, 0, sizeof subject);
    std::strcpy(subject.organization, "\xD6\xD0\xCE\xC4");  // "中文" in GBK
    std::strcpy(subject.commonName, "abc");
    const Bytes der = generate(subject, KLAV_SHA1, KLAV_PKCS10_UTF8);
    const auto [exitCode, line] = verify(der);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(line, "subject=O = \xE4\xB8\xAD\xE6\x96\x87, CN = abc");
    const auto file = dir_.path() / "r.der";
    writeFile(file, der);
    const std::string parsed = text(openssl("asn1parse -inform DER -in " + file.string()).output);
    size_t utf8Strings = 0;
    for (size_t at = parsed.find("UTF8STRING"); at != std::string::npos;
         at = parsed.find("UTF8STRING", at + 1)) {
        ++utf8Strings;
    }
    EXPECT_EQ(utf8Strings, size_t{2});
}

TEST_F(Pkcs10Test, unsupportedArgumentsAndUnusableInputGiveTheirStatus) {
    generate(fullSubject(), KLAV_SHA1, 3, KLAV_ERR_TYPE);
    generate(fullSubject(), 3, KLAV_PKCS10_ASCII, KLAV_ERR_TYPE);
    KLAV_SUBJECT badCountry = fullSubject();
    std::strcpy(badCountry.country, "CHN");  // a country is two letters
    generate(badCountry, KLAV_SHA1, KLAV_PKCS10_ASCII, KLAV_ERR_SETUP);
    KLAV_SUBJECT badGbk = fullSubject();
    std::strcpy(badGbk.commonName, "\xFF\xFF");
    generate(badGbk, KLAV_SHA1, KLAV_PKCS10_UTF8, KLAV_ERR_SETUP);
    // Every field filled to the brim, without terminators, still stays within bounds.
    KLAV_SUBJECT full;
    std::memset(&full, 'a', sizeof full);
    std::memcpy(full.country, "CN", 3);
    const Bytes der = generate(full, KLAV_SHA1, KLAV_PKCS10_ASCII, KLAV_ERR_SETUP);
    Bytes out(KLAV_PKCS10_OUT_MAX);
    int outLen = 0;
    const Bytes junk = bytesOf("junk");
    const KLAV_RSA_KEY badKey{junk.data(), 4};
    const KLAV_SUBJECT subject = fullSubject();
    EXPECT_EQ(KLAV_GenPKCS10(&subject, &badKey, KLAV_SHA1, KLAV_PKCS10_ASCII, out.data(), &outLen),
              305);
    EXPECT_EQ(KLAV_GenPKCS10(nullptr, &key_, KLAV_SHA1, KLAV_PKCS10_ASCII, out.data(), &outLen), 3);
}

// ---- certificate information ------------------------------------------------------

int64_t toolTime(const std::string& line) {
    // "notBefore=Dec  8 01:48:33 2026 GMT"
    struct tm fields {};
    const char* value = std::strchr(line.c_str(), '=') + 1;
    if (strptime(value, "%b %d %H:%M:%S %Y GMT", &fields) == nullptr) return -2;
    return static_cast<int64_t>(timegm(&fields));
}

class CertInfoTest : public ::testing::Test {
  protected:
    std::string tool(const std::string& what, const std::filesystem::path& cert) {
        return trimmed(text(openssl("x509 -noout -in " + cert.string() + " " + what).output));
    }
    void expectMatchesTool(const KLAV_CERT_INFO& info, const std::filesystem::path& cert) {
        EXPECT_EQ(info.version, 2);
        EXPECT_EQ("serial=" + std::string(info.serialNumber), tool("-serial", cert));
        EXPECT_EQ("subject=" + std::string(info.subject),
                  tool("-subject -nameopt oneline,-esc_msb", cert));
        EXPECT_EQ("issuer=" + std::string(info.issuer),
                  tool("-issuer -nameopt oneline,-esc_msb", cert));
        EXPECT_EQ(info.notBefore, toolTime(tool("-startdate", cert)));
        EXPECT_EQ(info.notAfter, toolTime(tool("-enddate", cert)));
    }

    const TestPki& pki_ = testPki();
    vantrel::testing::TempDir dir_;
};

TEST_F(CertInfoTest, readsDerPemAndFilesAlike) {
    KLAV_CERT_INFO info;
    ASSERT_EQ(KLAV_GetCertInfo(pki_.certDerBytes.data(), static_cast<int>(pki_.certDerBytes.size()),
                               &info),
              KLAV_OK);
    expectMatchesTool(info, pki_.certPem);
    EXPECT_STREQ(info.serialNumber, "1A2B3C4D5E");
    ASSERT_EQ(KLAV_GetCertInfo(pki_.certPemBytes.data(), static_cast<int>(pki_.certPemBytes.size()),
                               &info),
              KLAV_OK);
    expectMatchesTool(info, pki_.certPem);
    for (const auto& file : {pki_.certDer, pki_.certPem}) {
        ASSERT_EQ(KLAV_GetCertInfo(reinterpret_cast<const unsigned char*>(file.c_str()), 0, &info),
                  KLAV_OK);
        expectMatchesTool(info, pki_.certPem);
    }
}

TEST_F(CertInfoTest, datesAfter2049ComeFromGeneralizedTime) {
    const auto cert = dir_.path() / "long.pem";
    ASSERT_EQ(openssl("req -new -x509 -key " + pki_.keyPem.string() +
                      " -days 36500 -subj '/CN=long' -out " + cert.string())
                  .exitCode,
              0);
    const Bytes pem = readFile(cert);
    KLAV_CERT_INFO info;
    ASSERT_EQ(KLAV_GetCertInfo(pem.data(), static_cast<int>(pem.size()), &info), KLAV_OK);
    EXPECT_EQ(info.notAfter, toolTime(tool("-enddate", cert)));
    EXPECT_GT(info.notAfter, int64_t{4102444800});  // after 2100-01-01
}

TEST_F(CertInfoTest, extensionValuesComeAsUpperCaseHex) {
    // Subject key identifier: an OCTET STRING (04 14) around the 20-byte key id.
    std::string keyId = tool("-ext subjectKeyIdentifier", pki_.certPem);
    keyId = keyId.substr(keyId.find('\n') + 1);
    std::string expected = "0414";
    for (char c : keyId) {
        if (std::isxdigit(static_cast<unsigned char>(c))) expected.push_back(c);
    }
    std::string out(2 * pki_.certDerBytes.size() + 1, '\0');
    int outLen = 0;
    ASSERT_EQ(
        KLAV_GetCertInfoByOID(pki_.certDerBytes.data(), static_cast<int>(pki_.certDerBytes.size()),
                              NID_subject_key_identifier, out.data(), &outLen),
        KLAV_OK);
    EXPECT_EQ(outLen, 44);
    EXPECT_EQ(std::string(out.c_str()), expected);
    EXPECT_EQ(
        KLAV_GetCertInfoByOID(pki_.certDerBytes.data(), static_cast<int>(pki_.certDerBytes.size()),
                              NID_subject_alt_name, out.data(), &outLen),
        1025);
}

TEST_F(CertInfoTest, objectVariantsReadTheCallersCertificate) {
    const unsigned char* cursor = pki_.certDerBytes.data();
    X509* cert = d2i_X509(nullptr, &cursor, static_cast<long>(pki_.certDerBytes.size()));
    ASSERT_NE(cert, nullptr);
    KLAV_CERT_INFO info;
    EXPECT_EQ(KLAV_GetCertInfoEx(cert, &info), KLAV_OK);
    expectMatchesTool(info, pki_.certPem);
    std::string out(2 * pki_.certDerBytes.size() + 1, '\0');
    int outLen = 0;
    EXPECT_EQ(KLAV_GetCertInfoByOIDEx(cert, NID_basic_constraints, out.data(), &outLen), KLAV_OK);
    EXPECT_EQ(std::string(out.c_str()), "30030101FF");  // CA:TRUE
    X509_free(cert);
    EXPECT_EQ(KLAV_GetCertInfoEx(nullptr, &info), 3);
}

TEST_F(CertInfoTest, unreadableCertificatesGive1024) {
    KLAV_CERT_INFO info;
    const Bytes junk = pattern(300);
    EXPECT_EQ(KLAV_GetCertInfo(junk.data(), 300, &info), 1024);
    const auto missing = dir_.path() / "missing.cer";
    EXPECT_EQ(KLAV_GetCertInfo(reinterpret_cast<const unsigned char*>(missing.c_str()), 0, &info),
              1024);
    std::string out(16, '\0');
    int outLen = 0;
    EXPECT_EQ(
        KLAV_GetCertInfoByOID(junk.data(), 300, NID_subject_key_identifier, out.data(), &outLen),
        1024);
    EXPECT_EQ(KLAV_GetCertInfo(junk.data(), -1, &info), 3);
    EXPECT_EQ(KLAV_GetCertInfo(nullptr, 10, &info), 3);
    EXPECT_EQ(KLAV_GetCertInfo(junk.data(), 300, nullptr), 3);
}

TEST_F(CertInfoTest, sessionSummariesOfOwnAndPeerCertificates) {
    KLAV_SESSION session{pki_.certPemBytes.data(), static_cast<int>(pki_.certPemBytes.size()),
                         nullptr, 0};
    KLAV_CERT_SUMMARY summary;
    ASSERT_EQ(KLAV_GetMyCert(&session, &summary), KLAV_OK);
    EXPECT_STREQ(summary.commonName, "korrim.test");
    EXPECT_STREQ(summary.serialNumber, "1A2B3C4D5E");
    EXPECT_EQ(summary.notAfter, toolTime(tool("-enddate", pki_.certPem)));
    EXPECT_EQ(KLAV_GetPeerCert(&session, &summary), 4);
    const Bytes junk = pattern(50);
    session.peerCert = junk.data();
    session.peerCertLength = 50;
    EXPECT_EQ(KLAV_GetPeerCert(&session, &summary), 1024);
    EXPECT_EQ(KLAV_GetMyCert(nullptr, &summary), 3);
}

}  // namespace
}  // namespace korrim_test
