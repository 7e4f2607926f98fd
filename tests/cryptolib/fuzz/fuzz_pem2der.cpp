// KLAV_Pem2Der over arbitrary text for each object type, and KLAV_Der2Pem of
// the same bytes taken as DER.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "korrim/klav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int type = data[0] % 4;  // 0 is not a type: status 2
    const unsigned char* in = data + 1;
    const int inLen = static_cast<int>(size - 1);

    std::vector<unsigned char> der(static_cast<size_t>(inLen));
    int derLen = -1;
    const int rc = KLAV_Pem2Der(in, inLen, der.data(), &derLen, type);
    if (rc == KLAV_OK && (derLen <= 0 || derLen > inLen)) std::abort();
    if (type == 0 && rc != KLAV_ERR_TYPE) std::abort();

    std::vector<unsigned char> pem(KLAV_DER2PEM_OUT_MAX(static_cast<size_t>(inLen)));
    int pemLen = -1;
    if (KLAV_Der2Pem(in, inLen, pem.data(), &pemLen, type) == KLAV_OK &&
        (pemLen <= 0 || static_cast<size_t>(pemLen) >= pem.size())) {
        std::abort();
    }
    return 0;
}
