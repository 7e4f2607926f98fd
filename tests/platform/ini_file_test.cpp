#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <random>
#include <thread>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace vantrel::platform {
namespace {

class IniFileTest : public ::testing::Test {
  protected:
    std::filesystem::path write(const std::string& content) {
        const std::filesystem::path path = dir_.path() / "Client.ini";
        EXPECT_TRUE(writeFileAtomically(path, content));
        return path;
    }
    std::string contentOf(const std::filesystem::path& path) { return readFile(path).value(); }

    testing::TempDir dir_;
};

TEST_F(IniFileTest, missingFileSectionOrKeyGivesTheDefault) {
    const IniFile absent(dir_.path() / "nothing.ini");
    EXPECT_EQ(absent.getString("network", "GateIP", "127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(absent.getInt("network", "TransCounts", 5), 5);

    const IniFile ini(write("[network]\nGateIP=10.0.0.1\n"));
    EXPECT_EQ(ini.getString("system", "GateIP", "d"), "d");
    EXPECT_EQ(ini.getString("network", "GatePort", "8888"), "8888");
    EXPECT_EQ(ini.getInt("network", "GatePort", 8888), 8888);
}

TEST_F(IniFileTest, sectionsAndKeysCompareWithoutCase) {
    const IniFile ini(write("[Network]\ngateIP=10.0.0.1\n"));
    EXPECT_EQ(ini.getString("NETWORK", "GATEIP", ""), "10.0.0.1");
    EXPECT_EQ(ini.getString("network", "gateip", ""), "10.0.0.1");
}

TEST_F(IniFileTest, valuesAreTrimmedAndLoseOnePairOfQuotes) {
    const IniFile ini(
        write("  [ s ]  \n"
              "  a  =  plain value \t\n"
              "b=\"  quoted \"\n"
              "c='single'\n"
              "d=\"unbalanced\n"
              "e=\"\"x\"\"\n"
              "f=\n"
              "g=a=b\n"));
    EXPECT_EQ(ini.getString("s", "a", "-"), "plain value");
    EXPECT_EQ(ini.getString("s", "b", "-"), "  quoted ");
    EXPECT_EQ(ini.getString("s", "c", "-"), "single");
    EXPECT_EQ(ini.getString("s", "d", "-"), "\"unbalanced");
    EXPECT_EQ(ini.getString("s", "e", "-"), "\"x\"");
    EXPECT_EQ(ini.getString("s", "f", "-"), "") << "an empty value present is not the default";
    EXPECT_EQ(ini.getString("s", "g", "-"), "a=b");
}

TEST_F(IniFileTest, integerReadsStopAtTheFirstNonDigit) {
    const IniFile ini(
        write("[n]\n"
              "trailing=12ab\n"
              "negative=-3\n"
              "plus=+7\n"
              "padded=  42  \n"
              "letters=abc\n"
              "sign=-\n"
              "empty=\n"
              "hex=0x10\n"
              "huge=99999999999\n"
              "tiny=-99999999999\n"
              "quoted=\"15\"\n"));
    EXPECT_EQ(ini.getInt("n", "trailing", 0), 12);
    EXPECT_EQ(ini.getInt("n", "negative", 0), -3);
    EXPECT_EQ(ini.getInt("n", "plus", 0), 7);
    EXPECT_EQ(ini.getInt("n", "padded", 0), 42);
    EXPECT_EQ(ini.getInt("n", "letters", 9), 9);
    EXPECT_EQ(ini.getInt("n", "sign", 9), 9);
    EXPECT_EQ(ini.getInt("n", "empty", 9), 9);
    EXPECT_EQ(ini.getInt("n", "hex", 9), 0);
    EXPECT_EQ(ini.getInt("n", "huge", 0), INT_MAX);
    EXPECT_EQ(ini.getInt("n", "tiny", 0), INT_MIN);
    EXPECT_EQ(ini.getInt("n", "quoted", 0), 15);
}

TEST_F(IniFileTest, lengthLimitedReadsCountCharactersNotBytes) {
    const IniFile ini(write("[p]\npath=中文abc\n"));
    EXPECT_EQ(ini.getString("p", "path", "", 2), "中文");
    EXPECT_EQ(ini.getString("p", "path", "", 4), "中文ab");
    EXPECT_EQ(ini.getString("p", "path", "", 100), "中文abc");
    EXPECT_EQ(ini.getString("p", "none", "默认值", 2), "默认");
}

TEST_F(IniFileTest, firstKeyWinsAndRepeatedSectionsAreSearched) {
    const IniFile ini(
        write("key=outside any section\n"
              "[a]\nx=1\nx=2\n"
              "[b]\ny=3\n"
              "[A]\nz=4\n"
              "; x=5\n"));
    EXPECT_EQ(ini.getInt("a", "x", 0), 1);
    EXPECT_EQ(ini.getInt("a", "z", 0), 4);
    EXPECT_EQ(ini.getInt("b", "z", 0), 0);
    EXPECT_EQ(ini.getString("", "key", "none"), "none");
}

TEST_F(IniFileTest, readsCrLfFilesAndFilesWithAByteOrderMark) {
    const IniFile crlf(write("[s]\r\nk=v\r\nlast=end"));
    EXPECT_EQ(crlf.getString("s", "k", ""), "v");
    EXPECT_EQ(crlf.getString("s", "last", ""), "end");

    const IniFile bom(write("\xEF\xBB\xBF[s]\nk=v\n"));
    EXPECT_EQ(bom.getString("s", "k", ""), "v");
}

TEST_F(IniFileTest, writingOneKeyKeepsEveryOtherLineByteForByte) {
    // setup
    const std::string before =
        "; settings written by hand\r\n"
        "[network]\r\n"
        "GateIP = 10.0.0.1   ; not a comment to the reader\r\n"
        "TransCounts=5\r\n"
        "\r\n"
        "# another comment\r\n"
        "[system]\r\n"
        "HistoryDays=30\r\n";
    IniFile ini(write(before));
    // act
    ASSERT_TRUE(ini.setInt("NETWORK", "transcounts", 8));
    // verify
    std::string expected = before;
    expected.replace(expected.find("TransCounts=5"), 13, "TransCounts=8");
    EXPECT_EQ(contentOf(ini.path()), expected);
    EXPECT_EQ(ini.getInt("network", "TransCounts", 0), 8);
}

TEST_F(IniFileTest, aNewKeyGoesAfterTheLastKeyOfItsSection) {
    IniFile ini(write("[a]\nx=1\n\n; about b\n[b]\ny=2"));
    ASSERT_TRUE(ini.setString("A", "new", "v"));
    EXPECT_EQ(contentOf(ini.path()), "[a]\nx=1\nnew=v\n\n; about b\n[b]\ny=2\n");

    ASSERT_TRUE(ini.setString("b", "z", "3"));
    EXPECT_EQ(contentOf(ini.path()), "[a]\nx=1\nnew=v\n\n; about b\n[b]\ny=2\nz=3\n");
}

TEST_F(IniFileTest, aMissingSectionIsAppendedInTheFilesLineEnds) {
    IniFile ini(write("[a]\r\nx=1"));
    ASSERT_TRUE(ini.setString("update", "version", "1.30"));
    EXPECT_EQ(contentOf(ini.path()), "[a]\r\nx=1\r\n[update]\r\nversion=1.30\r\n");
}

TEST_F(IniFileTest, writingCreatesAMissingFile) {
    IniFile ini(dir_.path() / "DataSize.ini");
    ASSERT_TRUE(ini.setInt("size", "lowsize", 4096));
    EXPECT_EQ(contentOf(ini.path()), "[size]\nlowsize=4096\n");
}

TEST_F(IniFileTest, rewritingAKeyKeepsItsSpellingAndTheByteOrderMark) {
    IniFile ini(write("\xEF\xBB\xBF[S]\nMailSavePath=old\n"));
    ASSERT_TRUE(ini.setString("s", "mailsavepath", "/data/中文"));
    EXPECT_EQ(contentOf(ini.path()), "\xEF\xBB\xBF[S]\nMailSavePath=/data/中文\n");
}

TEST_F(IniFileTest, namesAndValuesThatWouldBreakTheFileAreRefused) {
    const std::string before = "[s]\nk=v\n";
    IniFile ini(write(before));
    EXPECT_EQ(ini.setString("s", "k", "two\nlines").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(ini.setString("s", "k", "cr\rinside").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(ini.setString("s", "a=b", "v").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(ini.setString("s", "", "v").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(ini.setString("s", "[x", "v").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(ini.setString("s]", "k", "v").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(ini.setString("", "k", "v").kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(contentOf(ini.path()), before);
}

TEST_F(IniFileTest, binaryJunkGivesDefaultsAndCanStillBeWritten) {
    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
    std::string junk(64 * 1024, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    IniFile ini(write(junk));

    EXPECT_EQ(ini.getString("network", "GateIP", "127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(ini.getInt("network", "TransCounts", 5), 5);
    ASSERT_TRUE(ini.setString("network", "TransCounts", "6"));
    EXPECT_EQ(ini.getInt("network", "TransCounts", 5), 6);
    EXPECT_TRUE(contentOf(ini.path()).starts_with(junk)) << "the junk before stays as it was";
}

TEST_F(IniFileTest, junkLinesAroundRealOnesAreSkipped) {
    const IniFile ini(
        write(std::string("\0\0[\0]=\xff\n[", 9) + "\n=\n===\n[s]\n\x01\x02junk\nk=v\n[\n"));
    EXPECT_EQ(ini.getString("s", "k", "-"), "v");
    EXPECT_EQ(ini.getString("s", "", "-"), "-");
}

TEST_F(IniFileTest, hugeLinesDoNotHideTheKeysAroundThem) {
    const std::string huge(8 * 1024 * 1024, 'x');
    const IniFile ini(write("[a]\nbefore=1\n" + huge + "\nafter=2\nlong=" + huge + "\n[b]\nk=3\n"));
    EXPECT_EQ(ini.getInt("a", "before", 0), 1);
    EXPECT_EQ(ini.getInt("a", "after", 0), 2);
    EXPECT_EQ(ini.getString("a", "long", "").size(), huge.size());
    EXPECT_EQ(ini.getString("a", "long", "", 259).size(), 259u);
    EXPECT_EQ(ini.getInt("b", "k", 0), 3);
    EXPECT_EQ(ini.getInt("b", "missing", 7), 7);
}

TEST_F(IniFileTest, aDirectoryInPlaceOfTheFileGivesDefaultsAndAWriteError) {
    const std::filesystem::path path = dir_.path() / "Client.ini";
    std::filesystem::create_directory(path);
    IniFile ini(path);
    EXPECT_EQ(ini.getString("s", "k", "d"), "d");
    EXPECT_FALSE(ini.setString("s", "k", "v"));
}

// A reader keeps what it read until the file changes: a change of the same size, made in
// place or by a replacement within the same second, must still be seen.
TEST_F(IniFileTest, aChangeOfTheSameSizeIsSeenAtTheNextRead) {
    const std::filesystem::path path = write("[system]\nHistoryDays=30\n");
    const IniFile ini(path);
    ASSERT_EQ(ini.getInt("system", "HistoryDays", 0), 30);
    ASSERT_EQ(ini.getInt("system", "HistoryDays", 0), 30);

    write("[system]\nHistoryDays=31\n");
    EXPECT_EQ(ini.getInt("system", "HistoryDays", 0), 31) << "replaced whole";

    std::ofstream(path, std::ios::binary | std::ios::trunc) << "[system]\nHistoryDays=32\n";
    EXPECT_EQ(IniFile(path).getInt("system", "HistoryDays", 0), 32) << "rewritten in place";

    IniFile writer(path);
    ASSERT_TRUE(writer.setInt("system", "HistoryDays", 33));
    EXPECT_EQ(ini.getInt("system", "HistoryDays", 0), 33) << "written through another reader";

    std::filesystem::remove(path);
    EXPECT_EQ(ini.getInt("system", "HistoryDays", 7), 7) << "removed";
}

TEST_F(IniFileTest, concurrentWritersInOneProcessLoseNoKey) {
    IniFile ini(dir_.path() / "Client.ini");
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&ini, t] {
            IniFile own(ini.path());
            for (int k = 0; k < 25; ++k) {
                EXPECT_TRUE(own.setInt("s", "t" + std::to_string(t) + "k" + std::to_string(k), k));
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    for (int t = 0; t < 4; ++t) {
        for (int k = 0; k < 25; ++k)
            EXPECT_EQ(ini.getInt("s", "t" + std::to_string(t) + "k" + std::to_string(k), -1), k);
    }
}

}  // namespace
}  // namespace vantrel::platform
