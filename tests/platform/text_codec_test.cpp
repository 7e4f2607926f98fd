#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel::platform {
namespace {

struct GbkCase {
    const char* utf8;
    const char* gbk;
    const char* why;
};

// Byte values from the GBK code table.
const GbkCase kGbkCases[] = {
    {"", "", "empty"},
    {"abc 123\r\n", "abc 123\r\n", "ASCII passes through"},
    {"中文", "\xD6\xD0\xCE\xC4", "GB2312 characters"},
    {"信箱", "\xD0\xC5\xCF\xE4", "GB2312 characters"},
    {"丂", "\x81\x40", "a GBK extension character, first code"},
    {"系统启动！", "\xCF\xB5\xCD\xB3\xC6\xF4\xB6\xAF\xA3\xA1", "full-width exclamation mark"},
    {"A股公告.txt", "A\xB9\xC9\xB9\xAB\xB8\xE6.txt", "mixed ASCII and Chinese"},
};

TEST(GbkTest, convertsBothWaysByteExact) {
    for (const GbkCase& c : kGbkCases) {
        Result<std::string> gbk = utf8ToGbk(c.utf8);
        ASSERT_TRUE(gbk) << c.why << ": " << gbk.status().text();
        EXPECT_EQ(*gbk, c.gbk) << c.why;
        Result<std::string> back = gbkToUtf8(*gbk);
        ASSERT_TRUE(back) << c.why << ": " << back.status().text();
        EXPECT_EQ(*back, c.utf8) << c.why;
        EXPECT_EQ(gbkLength(c.utf8), std::string(c.gbk).size()) << c.why;
    }
}

TEST(GbkTest, aChineseCharacterCountsTwoBytes) {
    EXPECT_EQ(gbkLength("您已经运行了一个程序，不能再运行此程序!"), 19u * 2 + 1);
    EXPECT_EQ(gbkLength("DRAV信箱文件交换工具"), 4u + 8 * 2);
}

struct BadGbk {
    std::string bytes;
    std::size_t badAt;
    const char* why;
};

TEST(GbkTest, bytesThatAreNotGbkFailWithTheirOffset) {
    const BadGbk cases[] = {
        {"ab\x81", 2, "a lead byte without its trail byte at the end"},
        {"\x80", 0, "0x80 is no GBK byte (iconv would take it for the euro sign)"},
        {"x\xFF", 1, "0xFF is no GBK byte"},
        {"\xD6\xD0\x81\x7F", 2, "0x7F is no trail byte"},
        {"\x81\x20", 0, "a lead byte before ASCII"},
        {"\xA2\xA0", 0, "a well-formed pair with no character"},
    };
    for (const BadGbk& c : cases) {
        Result<std::string> utf8 = gbkToUtf8(c.bytes);
        ASSERT_FALSE(utf8) << c.why;
        EXPECT_EQ(utf8.status().kind(), ErrorKind::InvalidArgument) << c.why;
        EXPECT_NE(utf8.status().text().find("byte " + std::to_string(c.badAt)), std::string::npos)
            << c.why << ": " << utf8.status().text();
    }
}

TEST(GbkTest, textWithoutAGbkFormFailsStrictlyAndBecomesAQuestionMarkLossily) {
    EXPECT_EQ(utf8ToGbk("a😀b").status().kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(utf8ToGbk("€").status().kind(), ErrorKind::InvalidArgument) << "GBK has no euro sign";
    EXPECT_EQ(utf8ToGbk("bad \xC3").status().kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(utf8ToGbk("\xED\xA0\x80").status().kind(), ErrorKind::InvalidArgument)
        << "a UTF-8 surrogate";

    EXPECT_EQ(utf8ToGbkLossy("a😀中€b"), "a?\xD6\xD0?b");
    EXPECT_EQ(utf8ToGbkLossy("x\xC3"), "x?");
    EXPECT_EQ(utf8ToGbkLossy("\xF8\x80\x80z"), "???z")
        << "no UTF-8 lead byte: each byte is its own mark";
    EXPECT_EQ(utf8ToGbkLossy("\xE4\xB8z"), "?z")
        << "a cut sequence becomes one mark and z survives";
    EXPECT_EQ(gbkToUtf8Lossy("a\x80\xFF\xD6\xD0\xA2\xA0z\x81"), "a??中?z?");
    EXPECT_EQ(gbkLength("😀"), 1u);
}

TEST(GbkTest, prefixesNeverSplitACharacter) {
    const std::string gbk = utf8ToGbk("ab中文c信箱").value();  // 2 + 4 + 1 + 4 bytes
    const std::size_t expected[] = {0, 1, 2, 2, 4, 4, 6, 7, 7, 9, 9, 11, 11};
    for (std::size_t max = 0; max <= gbk.size() + 1; ++max) {
        const std::size_t length = gbkPrefixLength(gbk, max);
        EXPECT_EQ(length, expected[max]) << "maxBytes " << max;
        EXPECT_TRUE(gbkToUtf8(gbk.substr(0, length))) << "maxBytes " << max;
    }
    EXPECT_EQ(gbkPrefixLength("a\x81", 2), 2u) << "a lone lead byte at the end counts as one";
}

TEST(Utf16Test, convertsBothWaysIncludingSurrogatePairs) {
    const std::string utf8 = "A中😀\xC3\xA9";
    const std::u16string utf16 = u"A中😀é";
    EXPECT_EQ(utf8ToUtf16(utf8).value(), utf16);
    EXPECT_EQ(utf16ToUtf8(utf16).value(), utf8);
    EXPECT_EQ(utf16ToLeBytes(utf16), std::string("A\0\x2D\x4E\x3D\xD8\x00\xDE\xE9\x00", 10));
    EXPECT_EQ(leBytesToUtf16(utf16ToLeBytes(utf16)), utf16);
    EXPECT_EQ(leBytesToUtf16(std::string("A\0B", 3)), u"A") << "an odd last byte is dropped";
}

TEST(Utf16Test, malformedInputIsAnError) {
    EXPECT_FALSE(utf8ToUtf16("\xC0\xAF")) << "overlong";
    EXPECT_FALSE(utf8ToUtf16("\xE0\x80\xAF")) << "overlong";
    EXPECT_FALSE(utf8ToUtf16("\xED\xA0\x80")) << "surrogate";
    EXPECT_FALSE(utf8ToUtf16("\xF4\x90\x80\x80")) << "past U+10FFFF";
    EXPECT_FALSE(utf8ToUtf16("\xE4\xB8")) << "cut short";
    EXPECT_FALSE(utf8ToUtf16("\x80")) << "stray continuation byte";
    EXPECT_FALSE(utf16ToUtf8(u"\xD83D")) << "lone high surrogate at the end";
    EXPECT_FALSE(utf16ToUtf8(std::u16string{u'\xD83D', u'a'}))
        << "high surrogate without its low one";
    EXPECT_FALSE(utf16ToUtf8(u"\xDE00")) << "lone low surrogate";
}

}  // namespace
}  // namespace vantrel::platform
