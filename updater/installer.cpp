#include "updater/installer.h"

#include <system_error>

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
    std::error_code ec;
    // Left by an install that was cut off before its exchange.
    std::filesystem::remove_all(fresh, ec);
    if (Status unpacked = unpackPackage(package, fresh, publicKey); !unpacked) {
        std::filesystem::remove_all(fresh, ec);
        return unpacked;
    }
    if (!std::filesystem::exists(bin, ec)) {
        std::filesystem::rename(fresh, bin, ec);
        return ec ? statusFromErrno(ec.value(), "改名[" + fresh.string() + "]") : Status::ok();
    }
    if (Status swapped = platform::exchangePaths(fresh, bin); !swapped) {
        std::filesystem::remove_all(fresh, ec);
        return swapped;
    }
    // "bin.new" now holds the program that ran until now: it becomes the roll-back copy.
    std::filesystem::remove_all(previous, ec);
    std::filesystem::rename(fresh, previous, ec);
    return Status::ok();
}

}  // namespace vantrel::updater
