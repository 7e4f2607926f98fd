// libFuzzer target: an archive as the gateway may deliver it. The central-directory reader
// vets every received archive before the unpacker runs, so whatever the bytes are it must
// answer with a listing or an error: no crash, no hang, no read past the file, no
// allocation sized by a field the file merely claims.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/execution/unpacking/zip_directory.h"

namespace {

// Memory-backed when the machine has it: the unpacker syncs every file it writes.
std::filesystem::path scratchBase() {
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

std::filesystem::path scratchFile() {
    static const std::filesystem::path path = [] {
        std::string pattern = (scratchBase() / "zipfuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return std::filesystem::path(pattern) / "received.zip";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path archive = scratchFile();
    {
        // A plain write: the reader is under test, not the disk, and a sync per input
        // would slow the fuzzer a hundredfold.
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) std::abort();
    }
    const auto listing = vantrel::execution::readZipDirectory(archive);
    if (listing) {
        // Every entry's name came out of the file, so together they can never be longer.
        std::size_t names = 0;
        for (const auto& entry : listing->entries) names += entry.name.size();
        if (names > size) std::abort();
        if (!listing->isArchive && !listing->entries.empty()) std::abort();
    }
    return 0;
}
