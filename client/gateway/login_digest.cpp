#include "client/gateway/login_digest.h"

#include <algorithm>
#include <cstring>

#include "korrim/klav.h"
#include "platform/text_codec.h"

namespace vantrel {

namespace {

void md5(std::string_view data, unsigned char* out16) {
    unsigned char digest[KLAV_MAX_DIGEST_SIZE] = {};
    int length = 0;
    KLAV_HASH(KLAV_MD5, reinterpret_cast<const unsigned char*>(data.data()),
              static_cast<int>(data.size()), digest, &length);
    std::memcpy(out16, digest, 16);
}

std::string blankPadded(std::string_view text, std::size_t width) {
    std::string padded(text);
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded;
}

}  // namespace

LoginDigest computeLoginDigest(std::string_view password, std::string_view operatorCode,
                               std::string_view challenge) {
    LoginDigest result;
    unsigned char digest[16];

    std::string p = blankPadded(password, 8);
    md5(std::string_view(p).substr(0, 8), digest);
    result.h1 = frame::hexDigest(digest);

    challenge = challenge.substr(0, std::min<std::size_t>(challenge.size(), 16));
    challenge = challenge.substr(0, std::min(challenge.find('\0'), challenge.size()));

    md5(result.h1 + std::string(challenge), digest);
    result.h2 = frame::hexDigest(digest);

    std::string o = blankPadded(operatorCode, 8).substr(0, 8);
    md5(result.h2 + o + std::string(challenge) + result.h1, result.sessionKey.data());
    return result;
}

std::string fixedWidth(std::string_view utf8, std::size_t width) {
    std::string wire = platform::utf8ToGbkLossy(utf8);
    wire.resize(platform::gbkPrefixLength(wire, width));
    wire.append(width - wire.size(), ' ');
    return platform::gbkToUtf8Lossy(wire);
}

}  // namespace vantrel
