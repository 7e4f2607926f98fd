#pragma once
// Opening a file or a folder with the program the desktop chooses for it (xdg-open, the
// counterpart of the shell's "open"). The opener's exit status decides: it reports a file
// nobody can open as a failure, where merely starting it would look like success.

#include <filesystem>
#include <string>

namespace vantrel {

// Runs `opener` (xdg-open; searched in PATH) on `target` and waits for it. Empty when it
// opened; else the operator's reason: "文件不存在" (also before starting anything, for a
// missing target), "没有可以打开此文件的程序" (no program for the type, or the program
// failed), or the start failure. Blocks while the opener runs: never on the GUI thread.
std::string OpenOnDesktop(const std::filesystem::path& target,
                          const std::filesystem::path& opener = "xdg-open");

}  // namespace vantrel
