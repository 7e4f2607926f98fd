#pragma once
// The installation root and the fixed places under it. Only main() derives the root from
// the running program; everything else receives an Installation, so tests run in a
// temporary root.

#include <filesystem>
#include <string>

#include "platform/clock.h"

namespace vantrel {

class Installation {
  public:
    Installation() = default;
    // `root` is the installation root; named locks live in `runtimeDirectory`.
    Installation(std::filesystem::path root, std::filesystem::path runtimeDirectory);
    // The root is the directory two levels above the program (`<root>/bin/<program>`).
    static Installation fromExecutable(const std::filesystem::path& executable);

    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& runtimeDirectory() const { return runtimeDirectory_; }
    std::filesystem::path bin() const { return root_ / "bin"; }
    std::filesystem::path log() const { return root_ / "log"; }
    std::filesystem::path data() const { return root_ / "data"; }
    std::filesystem::path localconfig() const { return root_ / "localconfig"; }
    std::filesystem::path clientIni() const { return localconfig() / "Client.ini"; }
    std::filesystem::path dataSizeIni() const { return localconfig() / "DataSize.ini"; }
    // The operator's manual beside the programs.
    std::filesystem::path userManual() const { return bin() / "vorn.pdf"; }
    // `tmp/YYYYMMDD/` for the given day's temporary transfer files.
    std::filesystem::path tmpForDay(const platform::LocalTime& day) const;

  private:
    std::filesystem::path root_;
    std::filesystem::path runtimeDirectory_;
};

}  // namespace vantrel
