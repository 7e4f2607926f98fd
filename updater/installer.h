#pragma once
// Installing a package: the installation's bin/ folder is replaced by the package's content
// in one step. The package is verified first, its signature against the public key in the
// installation's localconfig/ (kPublicKeyFile); it is unpacked beside bin/ into "bin.new",
// which then trades places with bin/ in a single exchange, and the previous program stays
// as "bin.old" for one roll-back (an older "bin.old" goes). localconfig/, log/ and data/
// are never touched.

#include <filesystem>

#include "client/base/installation.h"
#include "platform/status.h"

namespace vantrel::updater {

Status installPackage(const Installation& installation, const std::filesystem::path& package);

}  // namespace vantrel::updater
