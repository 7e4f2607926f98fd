#pragma once
// The installation package: one file holding a copy of the installation's bin/ folder,
// signed with the publisher's Ed25519 key (package_signature.h), with a SHA-256 digest over
// everything before it. See doc/formats/package.md.
//
// Entry names are relative, '/'-separated and never leave the folder they are unpacked
// into; an archive without a signature that verifies, with any other name, a bad digest or
// a broken structure is refused whole, before anything is written.

#include <filesystem>

#include "platform/status.h"

namespace vantrel::updater {

// The name of the entry that carries the signature (always the first entry).
inline constexpr const char* kSignatureEntry = "package.sig";

// Packs every file and folder below `folder` (symbolic links are refused) into `archive`,
// signed with the private key in `privateKeyFile`, written atomically.
Status writePackage(const std::filesystem::path& folder, const std::filesystem::path& archive,
                    const std::filesystem::path& privateKeyFile);
// Checks the digest, the signature against the public key in `publicKeyFile`, the
// structure and every entry name, without writing anything.
Status verifyPackage(const std::filesystem::path& archive,
                     const std::filesystem::path& publicKeyFile);
// Verifies, then unpacks into `folder` (created; must not exist yet). The signature entry
// is not unpacked.
Status unpackPackage(const std::filesystem::path& archive, const std::filesystem::path& folder,
                     const std::filesystem::path& publicKeyFile);

}  // namespace vantrel::updater
