// Every export answers missing buffers and negative lengths with a status and
// never touches memory it was not given; concurrent callers share nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "peer.h"

namespace korrim_test {
namespace {

struct Call {
    const char* what;
    std::function<int()> call;
    int expected;
};

TEST(Arguments, nullPointersAndNegativeLengthsGiveAStatus) {
    const TestPki& pki = testPki();
    const KLAV_RSA_KEY key{pki.keyPemBytes.data(), static_cast<int>(pki.keyPemBytes.size())};
    const KLAV_SYMMETRIC_KEY sym = symmetricKey(Bytes(24, 7));
    const Bytes iv(16, 1);
    Bytes in(64, 2);
    Bytes out(4096);
    int len = 0;
    int valid = 0;
    KLAV_HANDLE handle = nullptr;
    KLAV_CERT_INFO info;
    KLAV_CERT_SUMMARY summary;
    const KLAV_SUBJECT subject{};
    const unsigned char* cert = pki.certDerBytes.data();
    const int certLen = static_cast<int>(pki.certDerBytes.size());
    char* text = reinterpret_cast<char*>(out.data());

    const std::vector<Call> calls = {
        {"RSAPublicKeyEnc null key",
         [&] { return KLAV_RSAPublicKeyEnc(nullptr, in.data(), 8, out.data(), &len); }, 305},
        {"RSAPublicKeyDec null out",
         [&] { return KLAV_RSAPublicKeyDec(&key, in.data(), 8, nullptr, &len); }, 3},
        {"RSAPrivateKeyEnc null len",
         [&] { return KLAV_RSAPrivateKeyEnc(&key, in.data(), 8, out.data(), nullptr); }, 3},
        {"RSAPrivateKeyDec negative",
         [&] { return KLAV_RSAPrivateKeyDec(&key, in.data(), -8, out.data(), &len); }, 3},
        {"HASHInit null handle", [&] { return KLAV_HASHInit(KLAV_MD5, nullptr); }, 3},
        {"HASHUpdate null handle", [&] { return KLAV_HASHUpdate(nullptr, in.data(), 8); }, 3},
        {"HASHFinal empty handle", [&] { return KLAV_HASHFinal(&handle, out.data(), &len); }, 3},
        {"MAC null key",
         [&] {
             return KLAV_MAC(KLAV_MAC_HMAC_MD5, nullptr, nullptr, 0, in.data(), 8, out.data(),
                             &len);
         },
         3},
        {"MAC negative",
         [&] {
             return KLAV_MAC(KLAV_MAC_AES128_CBC, &sym, iv.data(), 16, in.data(), -1, out.data(),
                             &len);
         },
         3},
        {"MAC null out",
         [&] {
             return KLAV_MAC(KLAV_MAC_HMAC_SHA1, &sym, nullptr, 0, in.data(), 8, nullptr, &len);
         },
         3},
        {"MACInit null handle",
         [&] { return KLAV_MACInit(KLAV_MAC_HMAC_MD5, nullptr, &sym, nullptr, 0); }, 3},
        {"MACInit null key",
         [&] { return KLAV_MACInit(KLAV_MAC_HMAC_MD5, &handle, nullptr, nullptr, 0); }, 3},
        {"MACUpdate null handle", [&] { return KLAV_MACUpdate(nullptr, in.data(), 8); }, 3},
        {"MACFinal empty handle", [&] { return KLAV_MACFinal(&handle, out.data(), &len); }, 3},
        {"Sign null out",
         [&] { return KLAV_Sign(KLAV_SIGN_MD5, &key, in.data(), 8, nullptr, &len); }, 3},
        {"Sign negative",
         [&] { return KLAV_Sign(KLAV_SIGN_MD5, &key, in.data(), -8, out.data(), &len); }, 3},
        {"SignFile null name",
         [&] { return KLAV_SignFile(KLAV_SIGN_MD5, &key, nullptr, out.data(), &len); }, 3},
        {"Verify null signature",
         [&] { return KLAV_Verify(KLAV_VERIFY_MD5, &key, in.data(), 8, nullptr, 128, &valid); }, 3},
        {"VerifyFile null valid",
         [&] { return KLAV_VerifyFile(KLAV_VERIFY_MD5, &key, "x", in.data(), 8, nullptr); }, 3},
        {"EncryptFile null key",
         [&] { return KLAV_EncryptFile(KLAV_AES128_ECB, nullptr, nullptr, 0, "a", "b"); }, 3},
        {"DecryptFile null name",
         [&] { return KLAV_DecryptFile(KLAV_AES128_ECB, &sym, nullptr, 0, nullptr, "b"); }, 3},
        {"EncryptInit null handle",
         [&] { return KLAV_EncryptInit(KLAV_AES128_ECB, nullptr, &sym, nullptr); }, 3},
        {"DecryptInit null key",
         [&] { return KLAV_DecryptInit(KLAV_AES128_ECB, &handle, nullptr, nullptr); }, 3},
        {"DecryptInit CBC without IV",
         [&] { return KLAV_DecryptInit(KLAV_AES128_CBC, &handle, &sym, nullptr); }, 4},
        {"EncryptUpdate empty handle",
         [&] { return KLAV_EncryptUpdate(&handle, in.data(), 8, out.data(), &len); }, 3},
        {"DecryptFinal null handle", [&] { return KLAV_DecryptFinal(nullptr, out.data(), &len); },
         3},
        {"EncodeEnvelope null out",
         [&] {
             return KLAV_EncodeEnvelope(KLAV_ENV_AES128_CBC, &key, in.data(), 8, nullptr, &len);
         },
         3},
        {"EncodeEnvelope negative",
         [&] {
             return KLAV_EncodeEnvelope(KLAV_ENV_AES128_CBC, &key, in.data(), -1, out.data(), &len);
         },
         3},
        {"DecodeEnvelope null key",
         [&] { return KLAV_DecodeEnvelope(0, nullptr, in.data(), 64, out.data(), &len); }, 305},
        {"DecodeEnvelope negative",
         [&] { return KLAV_DecodeEnvelope(0, &key, in.data(), -64, out.data(), &len); }, 3},
        {"PasswordEncrypt null password",
         [&] { return KLAV_PasswordEncrypt(nullptr, in.data(), 8, out.data(), &len); }, 3},
        {"PasswordDecrypt null out",
         [&] { return KLAV_PasswordDecrypt("p", in.data(), 32, nullptr, &len); }, 3},
        {"Base64Encode null len", [&] { return KLAV_Base64Encode(in.data(), 8, text, nullptr); },
         3},
        {"Base64Decode null out", [&] { return KLAV_Base64Decode("Zm9v", 8, nullptr, &len); }, 3},
        {"Pem2Der negative",
         [&] { return KLAV_Pem2Der(in.data(), -5, out.data(), &len, KLAV_OBJ_CERTIFICATE); }, 3},
        {"Der2Pem null out",
         [&] { return KLAV_Der2Pem(cert, certLen, nullptr, &len, KLAV_OBJ_CERTIFICATE); }, 3},
        {"GenPKCS10 null out",
         [&] {
             return KLAV_GenPKCS10(&subject, &key, KLAV_SHA1, KLAV_PKCS10_ASCII, nullptr, &len);
         },
         3},
        {"GenPKCS10 null key",
         [&] {
             return KLAV_GenPKCS10(&subject, nullptr, KLAV_SHA1, KLAV_PKCS10_ASCII, out.data(),
                                   &len);
         },
         305},
        {"GetMyCert null out",
         [&] {
             const KLAV_SESSION session{cert, certLen, cert, certLen};
             return KLAV_GetMyCert(&session, nullptr);
         },
         3},
        {"GetPeerCert null session", [&] { return KLAV_GetPeerCert(nullptr, &summary); }, 3},
        {"GetCertInfo negative", [&] { return KLAV_GetCertInfo(cert, -1, &info); }, 3},
        {"GetCertInfoByOID null out",
         [&] { return KLAV_GetCertInfoByOID(cert, certLen, 82, nullptr, &len); }, 3},
        {"GetCertInfoByOID null len",
         [&] { return KLAV_GetCertInfoByOID(cert, certLen, 82, text, nullptr); }, 3},
        {"GetCertInfoByOIDEx null cert",
         [&] { return KLAV_GetCertInfoByOIDEx(nullptr, 82, text, &len); }, 3},
    };
    for (const Call& c : calls) {
        handle = nullptr;
        EXPECT_EQ(c.call(), c.expected) << c.what;
    }
}

TEST(Concurrency, threadsEncryptingWithEveryCodeAtOnceGetTheirOwnResults) {
    const int codes[] = {KLAV_DES3_CBC, KLAV_AES128_CBC, KLAV_SSF33_ECB,
                         KLAV_DES_CBC,  KLAV_DES_CFB8,   KLAV_DES2_ECB_PAD};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            const int code = codes[t];
            const KLAV_SYMMETRIC_KEY key = symmetricKey(pattern(24, static_cast<unsigned>(t) + 1));
            const Bytes iv = pattern(16, 99);
            for (int round = 0; round < 200; ++round) {
                const Bytes plain =
                    pattern(static_cast<size_t>(round * 7 + t), static_cast<unsigned>(round));
                Bytes cipher(plain.size() + 16);
                Bytes back(plain.size() + 16);
                int cipherLen = 0;
                int backLen = 0;
                if (KLAV_Encrypt(code, &key, iv.data(), 16, plain.data(),
                                 static_cast<int>(plain.size()), cipher.data(),
                                 &cipherLen) != KLAV_OK ||
                    KLAV_Decrypt(code, &key, iv.data(), 16, cipher.data(), cipherLen, back.data(),
                                 &backLen) != KLAV_OK ||
                    Bytes(back.begin(), back.begin() + backLen) != plain) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace korrim_test
