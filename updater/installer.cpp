#include "updater/installer.h"

#include <system_error>

#include "platform/file_system.h"
#include "platform/files.h"
#include "updater/package_archive.h"
#include "updater/package_signature.h"

namespace vantrel::updater {

Status installPackage(const Installation& installation, const std::filesystem::path& package) {
    const std::filesystem::path publicKey = installation.localconfig() / kPublicKeyFile;
    // Nothing is written before the whole package, its signature included, has been checked.
    if (Status verified = verifyPackage(package, publicKey); !verified) return verified;
    const std::filesystem::path bin = installation.bin();
    const std::filesystem::path fresh = installation.root() / "bin.new";
    const std::filesystem::path previous = installation.root() / "bin.old";
    platform::FileSystem& files = platform::FileSystem::real();
    // Left by an install that was cut off before its exchange.
    (void)files.removeAll(fresh);
    if (Status unpacked = unpackPackage(package, fresh, publicKey); !unpacked) {
        (void)files.removeAll(fresh);
        return unpacked;
    }
    std::error_code ec;
    if (!std::filesystem::exists(bin, ec)) return files.rename(fresh, bin);
    if (Status swapped = platform::exchangePaths(fresh, bin); !swapped) {
        (void)files.removeAll(fresh);
        return swapped;
    }
    // "bin.new" now holds the program that ran until now: it becomes the roll-back copy.
    (void)files.removeAll(previous);
    (void)files.rename(fresh, previous);
    return Status::ok();
}

}  // namespace vantrel::updater
