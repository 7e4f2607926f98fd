// Local paths made from remote names never leave their directory.

#include <gtest/gtest.h>

#include <set>

#include "client/gateway/text_format.h"
#include "client/transfer/local_path.h"

namespace vantrel::testing {
namespace {

TEST(LocalPath, relativeNamesWithEitherSeparatorStayInside) {
    EXPECT_EQ(localPathInside("/recv", "a.txt").value(), std::filesystem::path("/recv/a.txt"));
    EXPECT_EQ(localPathInside("/recv", "Bullet\\b.txt").value(),
              std::filesystem::path("/recv/Bullet/b.txt"));
    EXPECT_EQ(localPathInside("/recv", "x/./y.txt").value(),
              std::filesystem::path("/recv/x/y.txt"));
    EXPECT_EQ(localPathInside("/recv", "a..b.txt").value(),
              std::filesystem::path("/recv/a..b.txt"));
}

TEST(LocalPath, escapingNamesAreRefused) {
    // Each row would leave the receive directory or names no file.
    for (const char* name : {"", "/etc/passwd", "\\etc\\passwd", "..", "../a", "a/../../b",
                             "a\\..\\..\\b", "C:\\x.txt", "c:x", "dir/", "dir\\", ".", "./"}) {
        auto r = localPathInside("/recv", name);
        EXPECT_FALSE(r) << name;
    }
}

// Gateway names reach a terminal and a message only escaped; as local names they are refused.
TEST(LocalPath, namesWithControlCharactersAreShownEscapedAndRefusedAsLocalNames) {
    struct Row {
        std::string name;
        const char* shown;
    };
    const Row rows[] = {
        {"a\x1b[31mred", "a\\x1b[31mred"},            // ESC: colours the terminal
        {"bell\x07", "bell\\x07"},                    // BEL
        {"over\rwrite", "over\\x0dwrite"},            // CR: overwrites the line shown
        {"two\nlines", "two\\x0alines"},              // LF: forges a listing line
        {"del\x7f", "del\\x7f"},                      // DEL
        {std::string("nul\0cut", 7), "nul\\x00cut"},  // NUL: would cut the name
        {"csi\xc2\x9b", "csi\\u009b"},                // U+009B, the one-byte CSI
        {"bad\xff", "bad\\xff"},                      // not UTF-8
        {"back\\x1b", "back\\\\x1b"},                 // a real backslash cannot pass for an escape
        {"报表_20261208.txt", "报表_20261208.txt"},   // kept as it is
    };
    for (const Row& row : rows) {
        EXPECT_EQ(escapeControlCharacters(row.name), row.shown);
        if (hasControlCharacter(row.name)) {
            auto r = localPathInside("/recv", row.name);
            ASSERT_FALSE(r) << row.shown;
            EXPECT_NE(r.status().text().find(row.shown), std::string::npos) << r.status().text();
            EXPECT_EQ(r.status().text().find_first_of("\x1b\x07\r\n\x7f"), std::string::npos);
        }
    }
}

TEST(LocalPath, partialFilesStayWithinTheNameLimitAndApartForEveryAcceptedName) {
    // setup: names of every length up to the limit, ASCII and Chinese
    std::set<std::string> seen;
    for (std::size_t length = 200; length <= kLocalNameLimit; ++length) {
        for (const std::string& unit : {std::string("a"), std::string("报")}) {
            std::string name;
            while (name.size() + unit.size() <= length) name += unit;
            name.resize(length, 'z');
            // act
            const std::filesystem::path partial =
                partialPathFor(std::filesystem::path("/recv") / name);
            // verify: the state file's name fits, the data file is beside the target, and
            // names that fit keep the plain rule
            const std::string state = partial.filename().string() + ".~block";
            EXPECT_LE(state.size(), kLocalNameLimit) << length;
            EXPECT_EQ(partial.parent_path(), std::filesystem::path("/recv"));
            if (name.size() + 11 <= kLocalNameLimit) {
                EXPECT_EQ(partial.filename().string(), name + ".tmp");
            }
            EXPECT_TRUE(seen.insert(partial.filename().string()).second) << length;
            // never cut inside a character
            EXPECT_EQ(escapeControlCharacters(partial.filename().string()).find("\\x"),
                      std::string::npos);
        }
    }
    EXPECT_FALSE(localPathInside("/recv", std::string(kLocalNameLimit + 1, 'a')));
}

TEST(LocalPath, baseNameTakesTheLastComponent) {
    EXPECT_EQ(remoteBaseName("Bullet\\a.txt"), "a.txt");
    EXPECT_EQ(remoteBaseName("x/y/z"), "z");
    EXPECT_EQ(remoteBaseName("plain"), "plain");
}

}  // namespace
}  // namespace vantrel::testing
