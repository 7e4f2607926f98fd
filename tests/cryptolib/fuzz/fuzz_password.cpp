// KLAV_PasswordDecrypt. With an odd first byte the harness puts the right
// check value in front, so the fuzzer reaches the decryption behind it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "korrim/klav.h"

namespace {
constexpr char kPassword[] = "fuzz-password";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<unsigned char> blob;
    if (data[0] & 1) {
        unsigned char d[16];
        unsigned char check[16];
        int len = 0;
        KLAV_HASH(KLAV_MD5, reinterpret_cast<const unsigned char*>(kPassword), sizeof kPassword - 1,
                  d, &len);
        KLAV_HASH(KLAV_MD5, d, 16, check, &len);
        blob.assign(check, check + 16);
    }
    blob.insert(blob.end(), data + 1, data + size);
    std::vector<unsigned char> out(blob.size(), 0x5A);
    int outLen = -1;
    const int rc = KLAV_PasswordDecrypt(kPassword, blob.data(), static_cast<int>(blob.size()),
                                        out.data(), &outLen);
    if (rc == KLAV_OK && (outLen < 0 || static_cast<size_t>(outLen) + 17 > blob.size()))
        std::abort();
    if (rc != KLAV_OK) {
        for (unsigned char b : out) {
            if (b != 0x5A) std::abort();  // refused input writes nothing
        }
    }
    return 0;
}
