#pragma once
// The installation package: one file holding a copy of the installation's bin/ folder,
// with a SHA-256 digest over everything before it. See doc/formats/package.md.
//
// Entry names are relative, '/'-separated and never leave the folder they are unpacked
// into; an archive with any other name, a bad digest or a broken structure is refused
// whole, before anything is written.

#include <filesystem>

#include "platform/status.h"

namespace vantrel::updater {

// Packs every file and folder below `folder` (symbolic links are refused) into `archive`,
// written atomically.
Status writePackage(const std::filesystem::path& folder, const std::filesystem::path& archive);
// Checks the digest, the structure and every entry name without writing anything.
Status verifyPackage(const std::filesystem::path& archive);
// Verifies, then unpacks into `folder` (created; must not exist yet).
Status unpackPackage(const std::filesystem::path& archive, const std::filesystem::path& folder);

}  // namespace vantrel::updater
