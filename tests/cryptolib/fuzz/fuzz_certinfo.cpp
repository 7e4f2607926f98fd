// KLAV_GetCertInfo, the extension lookup and the session summaries over
// arbitrary certificate bytes (DER or PEM).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "korrim/klav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;        // length 0 would name a file
    const int nid = data[0] + 60;  // around the X.509 extension object numbers
    const unsigned char* cert = data + 1;
    const int length = static_cast<int>(size - 1);

    KLAV_CERT_INFO info;
    if (KLAV_GetCertInfo(cert, length, &info) == KLAV_OK) {
        if (std::memchr(info.subject, 0, sizeof info.subject) == nullptr ||
            std::memchr(info.issuer, 0, sizeof info.issuer) == nullptr ||
            std::memchr(info.serialNumber, 0, sizeof info.serialNumber) == nullptr) {
            std::abort();
        }
    }
    std::vector<char> hex(2 * static_cast<size_t>(length) + 1);
    int hexLen = -1;
    if (KLAV_GetCertInfoByOID(cert, length, nid, hex.data(), &hexLen) == KLAV_OK &&
        (hexLen < 0 || static_cast<size_t>(hexLen) >= hex.size() ||
         hex[static_cast<size_t>(hexLen)] != '\0')) {
        std::abort();
    }
    const KLAV_SESSION session{cert, length, nullptr, 0};
    KLAV_CERT_SUMMARY summary;
    if (KLAV_GetMyCert(&session, &summary) == KLAV_OK &&
        std::memchr(summary.commonName, 0, sizeof summary.commonName) == nullptr) {
        std::abort();
    }
    return 0;
}
