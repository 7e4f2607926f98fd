#pragma once
// The start-up and timer check of free space on the drive that holds the program.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vantrel {

class DiskSpaceCheck {
  public:
    // Free bytes of the file system holding a path; empty when the system cannot tell.
    using FreeSpaceSource =
        std::function<std::optional<std::uint64_t>(const std::filesystem::path&)>;

    // `directory` is the installation's bin/ directory. The default source asks the system.
    explicit DiskSpaceCheck(std::filesystem::path directory, FreeSpaceSource source = {});

    // True when at least `minimumMegabytes` are free, or when the system cannot tell.
    // When false, `message` holds the operator's warning text.
    bool enough(int minimumMegabytes, std::string& message) const;

    // Whole megabytes in a byte count, as a 32-bit number (saturating).
    static std::uint32_t megabytes(std::uint64_t bytes);

  private:
    std::filesystem::path directory_;
    FreeSpaceSource source_;
};

}  // namespace vantrel
