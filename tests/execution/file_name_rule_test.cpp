// Which names a task asks for today, and which received files are unpacked.

#include <gtest/gtest.h>

#include "client/execution/runs/file_name_rule.h"

namespace vantrel::execution {
namespace {

platform::LocalTime day(int year, int month, int dayOfMonth) {
    platform::LocalTime t;
    t.year = year;
    t.month = month;
    t.day = dayOfMonth;
    return t;
}

TEST(FileNameRule, suffixFormsGiveTheMonthInHexAndTheDay) {
    struct Row {
        const char* rule;
        platform::LocalTime today;
        const char* expected;
    } rows[] = {
        {"*.%", day(2026, 1, 21), "*.121"},
        {"*.[%]", day(2026, 1, 21), "*.121"},
        {"%", day(2026, 1, 21), "121"},  // no ".": the whole rule is the suffix
        {"!%", day(2026, 10, 10), "A10"},
        {"x.[!%]", day(2026, 11, 5), "x.B05"},
        {"ab.c.%", day(2026, 12, 9), "ab.c.c09"},   // split at the last "."
        {"abc.[%-1]", day(2025, 3, 1), "abc.228"},  // non-leap year
        {"abc.[%-1]", day(2024, 3, 1), "abc.229"},  // leap year
        {"abc.[%+1]", day(2024, 2, 28), "abc.229"},
        {"abc.[%-366]", day(2025, 3, 1), "abc.229"},  // back across a leap day
        {"x.[%-1]", day(2026, 1, 1), "x.c31"},        // back across the year boundary
        {"x.[!%-1]", day(2026, 1, 1), "x.C31"},
        {"x.[%+2]", day(2025, 12, 31), "x.102"},  // forward across it
        {"x.[!%+01]", day(2026, 12, 31), "x.101"},
        {"x.[%-0]", day(2026, 7, 4), "x.704"},
        // Anything else stays as written.
        {"abc.[%-x]", day(2025, 3, 1), "abc.[%-x]"},
        {"abc.[%-]", day(2025, 3, 1), "abc.[%-]"},
        {"abc.[%+1x]", day(2025, 3, 1), "abc.[%+1x]"},
        {"abc.[%-1234567890]", day(2025, 3, 1), "abc.[%-1234567890]"},
        {"abc.![%]", day(2025, 3, 1), "abc.![%]"},
        {"abc.%%", day(2025, 3, 1), "abc.%%"},
        {"abc.[%", day(2025, 3, 1), "abc.[%"},
        {"abc", day(2025, 3, 1), "abc"},
        {"a?c.*", day(2025, 3, 1), "a?c.*"},
    };
    for (const Row& row : rows) {
        Result<std::string> name = applyFileNameRule(row.rule, row.today);
        ASSERT_TRUE(name) << row.rule;
        EXPECT_EQ(name.value(), row.expected) << row.rule;
    }
    Result<std::string> empty = applyFileNameRule("", day(2025, 3, 1));
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.status().text(), "文件名为空!");
}

TEST(FileNameRule, filesWithoutAnExtensionOrOfAnExcludedTypeAreNotUnpacked) {
    const std::vector<std::string> saved = {"docx", "pptx",
                                            "xlsx"};  // what a save of an empty list writes
    struct Row {
        const char* name;
        bool unpack;
    } rows[] = {
        {"a.zip", true},        {"a.tar.gz", true}, {"a.docx.zip", true},
        {"dir\\a.zip", true},   {"A.DOCX", false},                      // compared without case
        {"report.Docx", false}, {"noext", false},   {"trail.", false},  // an empty extension
        {"dir.v2/file", false},  // a directory's dot is no extension
    };
    for (const Row& row : rows) EXPECT_EQ(shouldUnpack(row.name, saved), row.unpack) << row.name;
    EXPECT_TRUE(shouldUnpack("a.docx", {}));
}

}  // namespace
}  // namespace vantrel::execution
