#include "client/app/desktop_open.h"

#include "platform/child_process.h"

namespace vantrel {

std::string OpenOnDesktop(const std::filesystem::path& target,
                          const std::filesystem::path& opener) {
    std::error_code ec;
    if (!std::filesystem::exists(target, ec)) return "文件不存在";
    platform::ChildOptions options;
    options.program = opener;
    options.arguments = {target.string()};
    options.quiet = true;
    options.noTerminal = true;
    const Result<int> exit = platform::runAndWait(options);
    if (!exit) return "没有可以打开此文件的程序(" + exit.status().text() + ")";
    // xdg-open: 2 the file is missing, 3 no tool for it, 4 the action failed.
    switch (exit.value()) {
        case 0:
            return {};
        case 2:
            return "文件不存在";
        default:
            return "没有可以打开此文件的程序";
    }
}

}  // namespace vantrel
