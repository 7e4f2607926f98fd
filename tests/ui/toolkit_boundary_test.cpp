// The core stays free of the GUI toolkit: no source outside client/ui/ and updater/
// includes a Qt header.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

bool isSource(const fs::path& p) {
    const auto ext = p.extension();
    return ext == ".h" || ext == ".cpp" || ext == ".hpp" || ext == ".cc" || ext == ".c";
}

TEST(ToolkitBoundaryTest, noQtHeaderOutsideTheWindowsAndTheUpdater) {
    const fs::path top = VANTREL_SOURCE_DIR;
    const std::regex qtInclude(R"(^\s*#\s*include\s*[<"](Q[A-Za-z]+|Qt[A-Za-z]*/)[^>"]*[>"])");
    std::vector<std::string> offenders;
    std::size_t scanned = 0;
    for (const char* folder : {"client", "platform", "cryptolib"}) {
        std::error_code ec;
        for (fs::recursive_directory_iterator it(top / folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            const fs::path& p = it->path();
            if (it->is_directory() && p == top / "client" / "ui") {
                it.disable_recursion_pending();
                continue;
            }
            if (!it->is_regular_file() || !isSource(p)) continue;
            ++scanned;
            std::ifstream in(p);
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                if (std::regex_search(line, qtInclude)) {
                    offenders.push_back(fs::relative(p, top).string() + ":" + std::to_string(n));
                }
            }
        }
    }
    EXPECT_GT(scanned, 10u);
    EXPECT_TRUE(offenders.empty()) << offenders.front();
}

}  // namespace
