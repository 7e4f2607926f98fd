// KLAV_DecodeEnvelope. With an odd first byte the harness RSA-encrypts the
// next bytes as the key block (identifier and key) and appends the rest as the
// content, so the fuzzer explores what lies behind the RSA block; otherwise
// the input is the whole envelope.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "korrim/klav.h"

namespace {

std::string gPrivatePem;
constexpr int kModulusBytes = 128;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    EVP_PKEY* key = EVP_RSA_gen(1024);
    BIO* bio = BIO_new(BIO_s_mem());
    if (key == nullptr || bio == nullptr ||
        PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        std::abort();
    }
    char* pem = nullptr;
    const long length = BIO_get_mem_data(bio, &pem);
    gPrivatePem.assign(pem, static_cast<size_t>(length));
    BIO_free(bio);
    EVP_PKEY_free(key);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const KLAV_RSA_KEY key{reinterpret_cast<const unsigned char*>(gPrivatePem.data()),
                           static_cast<int>(gPrivatePem.size())};
    std::vector<unsigned char> envelope;
    if (data[0] & 1) {
        // data[1] bytes of key block (at most what PKCS#1 v1.5 fits), then content.
        const size_t blockLen = std::min<size_t>(
            {static_cast<size_t>(data[1] % 64), size - 2, static_cast<size_t>(kModulusBytes - 11)});
        envelope.resize(kModulusBytes);
        int rsaLen = 0;
        if (KLAV_RSAPublicKeyEnc(&key, data + 2, static_cast<int>(blockLen), envelope.data(),
                                 &rsaLen) != KLAV_OK) {
            std::abort();
        }
        envelope.insert(envelope.end(), data + 2 + blockLen, data + size);
    } else {
        envelope.assign(data + 1, data + size);
    }
    std::vector<unsigned char> out(envelope.size());
    int outLen = -1;
    const int rc = KLAV_DecodeEnvelope(0, &key, envelope.data(), static_cast<int>(envelope.size()),
                                       out.data(), &outLen);
    if (rc == KLAV_OK &&
        (outLen < 0 || static_cast<size_t>(outLen) > envelope.size() - kModulusBytes))
        std::abort();
    return 0;
}
