// Local paths made from remote names never leave their directory.

#include <gtest/gtest.h>

#include "client/transfer/local_path.h"

namespace vantrel::testing {
namespace {

TEST(LocalPath, relativeNamesWithEitherSeparatorStayInside) {
    EXPECT_EQ(localPathInside("/recv", "a.txt").value(), std::filesystem::path("/recv/a.txt"));
    EXPECT_EQ(localPathInside("/recv", "Bullet\\b.txt").value(), std::filesystem::path("/recv/Bullet/b.txt"));
    EXPECT_EQ(localPathInside("/recv", "x/./y.txt").value(), std::filesystem::path("/recv/x/y.txt"));
    EXPECT_EQ(localPathInside("/recv", "a..b.txt").value(), std::filesystem::path("/recv/a..b.txt"));
}

TEST(LocalPath, escapingNamesAreRefused) {
    // Each row would leave the receive directory or names no file.
    for (const char* name : {"", "/etc/passwd", "\\etc\\passwd", "..", "../a", "a/../../b", "a\\..\\..\\b",
                             "C:\\x.txt", "c:x", "dir/", "dir\\", ".", "./"}) {
        auto r = localPathInside("/recv", name);
        EXPECT_FALSE(r) << name;
    }
}

TEST(LocalPath, baseNameTakesTheLastComponent) {
    EXPECT_EQ(remoteBaseName("Bullet\\a.txt"), "a.txt");
    EXPECT_EQ(remoteBaseName("x/y/z"), "z");
    EXPECT_EQ(remoteBaseName("plain"), "plain");
}

}  // namespace
}  // namespace vantrel::testing
