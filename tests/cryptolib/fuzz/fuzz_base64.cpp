// KLAV_Base64Decode over arbitrary text. The first byte scales the capacity.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "korrim/klav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t capacity = (size - 1) * data[0] / 255;
    std::vector<unsigned char> out(capacity);
    int outLen = -1;
    const int rc = KLAV_Base64Decode(text.c_str(), static_cast<int>(capacity), out.data(), &outLen);
    if (rc == KLAV_OK && (outLen < 0 || static_cast<size_t>(outLen) > capacity)) std::abort();

    // Whatever decodes encodes back to text that decodes to the same bytes.
    if (rc == KLAV_OK) {
        std::vector<char> encoded(KLAV_BASE64_OUT_MAX(static_cast<size_t>(outLen)));
        int encodedLen = 0;
        if (KLAV_Base64Encode(out.data(), outLen, encoded.data(), &encodedLen) != KLAV_OK)
            std::abort();
        std::vector<unsigned char> again(static_cast<size_t>(outLen));
        int againLen = 0;
        if (KLAV_Base64Decode(encoded.data(), outLen, again.data(), &againLen) != KLAV_OK)
            std::abort();
        if (againLen != outLen || !std::equal(again.begin(), again.end(), out.begin()))
            std::abort();
    }
    return 0;
}
