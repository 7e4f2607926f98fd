#pragma once
// Ed25519 signatures of installation packages, through OpenSSL. The organisation that
// publishes updates signs each package with its private key; every installation holds the
// matching public key (kPublicKeyFile in localconfig/) and refuses a package whose
// signature does not verify. Both keys are PEM files as `openssl genpkey -algorithm
// ed25519` and `openssl pkey -pubout` write them.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel::updater {

inline constexpr const char* kPublicKeyFile = "package-signing.pub";
inline constexpr std::size_t kSignatureSize = 64;

// The 64-byte signature of `message` under the private key in `privateKeyFile`.
Result<std::string> signMessage(std::string_view message,
                                const std::filesystem::path& privateKeyFile);

// Ok when `signature` is the signature of `message` under the public key in
// `publicKeyFile`; otherwise the Chinese reason (no key, unusable key, wrong signature).
Status verifySignature(std::string_view message, std::string_view signature,
                       const std::filesystem::path& publicKeyFile);

}  // namespace vantrel::updater
