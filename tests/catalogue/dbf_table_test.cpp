#include "client/catalogue/dbf_table.h"

#include <gtest/gtest.h>

#include <thread>

#include "tests/catalogue/table_bytes.h"
#include "tests/support/temp_dir.h"

namespace vantrel::catalogue {
namespace {

using testing::HandField;
using testing::handTable;
using testing::readBytes;
using testing::writeBytes;

platform::LocalTime day(int y, int m, int d) {
    platform::LocalTime t;
    t.year = y;
    t.month = m;
    t.day = d;
    t.hour = 12;
    return t;
}

class DbfTableTest : public ::testing::Test {
  protected:
    DbfTableTest() : clock_(platform::fromLocalTime(day(2027, 3, 4))) {}

    // NAME C(8), CODE C(3): record length 12, header length 97.
    std::filesystem::path twoFieldTable(const std::vector<std::string>& records,
                                        long storedCount = -1) {
        auto path = dir_.path() / "t.dbf";
        writeBytes(path, handTable({{"NAME", 8}, {"CODE", 3}}, records, storedCount));
        return path;
    }

    testing::TempDir dir_;
    platform::FakeClock clock_;
};

TEST_F(DbfTableTest, readsFieldsUntrimmedAtTheirOffsets) {
    // setup
    auto path = twoFieldTable({" alpha   abc", "*beta    de "});
    CDbfImpl table(clock_);
    // act
    ASSERT_EQ(table.Open(path, 1), 1);
    std::string name, code, missing;
    table.GetFieldValue(0, 0, name);
    table.GetFieldValueByName(1, "code", code);
    table.GetFieldValueByName(0, "nosuch", missing);
    // verify
    EXPECT_EQ(table.GetRecordCount(), 2);
    EXPECT_EQ(table.GetFieldCount(), 2);
    EXPECT_EQ(name, "alpha   ");
    EXPECT_EQ(code, "de ");
    EXPECT_EQ(missing, "");
    DbfRow row;
    ASSERT_TRUE(table.ReadRow(1, row));
    EXPECT_TRUE(row.deleted());
    EXPECT_EQ(row.trimmed("NAME"), "beta");
}

TEST_F(DbfTableTest, recordCountComesFromTheFileLengthAndReachesTheHeaderAtClose) {
    // setup: the header claims 7 records, the file holds 2
    auto path = twoFieldTable({" a       b  ", " c       d  "}, 7);
    // act
    {
        CDbfImpl table(clock_);
        ASSERT_EQ(table.Open(path, 2), 1);
        EXPECT_EQ(table.GetRecordCount(), 2);
    }
    // verify: count 2, date 27-03-04, end-of-file marker after the last record
    const std::string bytes = readBytes(path);
    EXPECT_EQ(static_cast<unsigned char>(bytes[4]), 2);
    EXPECT_EQ(bytes.substr(1, 3), std::string("\x1b\x03\x04", 3));
    EXPECT_EQ(bytes[97 + 2 * 12], 0x1A);
}

TEST_F(DbfTableTest, readOnlyCloseLeavesTheFileUntouched) {
    auto path = twoFieldTable({" a       b  "}, 9);
    const std::string before = readBytes(path);
    {
        CDbfImpl table(clock_);
        ASSERT_EQ(table.Open(path, 1), 1);
    }
    EXPECT_EQ(readBytes(path), before);
}

TEST_F(DbfTableTest, flagBytesAreAcceptedAndZeroedByAReadWriteClose) {
    std::string bytes = handTable({{"NAME", 8}, {"CODE", 3}}, {" a       b  "});
    bytes[28] = 1;
    bytes[29] = 0x4D;
    bytes[31] = 7;
    auto path = dir_.path() / "t.dbf";
    writeBytes(path, bytes);
    {
        CDbfImpl table(clock_);
        ASSERT_EQ(table.Open(path, 2), 1);
    }
    EXPECT_EQ(readBytes(path).substr(28, 4), std::string(4, '\0'));
}

TEST_F(DbfTableTest, versionThirtyHexIsAccepted) {
    std::string bytes = handTable({{"NAME", 8}}, {});
    bytes[0] = 0x30;
    auto path = dir_.path() / "t.dbf";
    writeBytes(path, bytes);
    CDbfImpl table(clock_);
    EXPECT_EQ(table.Open(path, 1), 1);
}

// Each row damages a valid two-field table; the open must fail with the code given.
struct Damage {
    const char* what;
    void (*apply)(std::string&);
    int code;
};

const Damage kDamages[] = {
    {"version byte 0x04", [](std::string& b) { b[0] = 0x04; }, 1},
    {"reserved byte 12 set", [](std::string& b) { b[12] = 1; }, 1},
    {"reserved byte 27 set", [](std::string& b) { b[27] = 1; }, 1},
    {"header length 0", [](std::string& b) { b[8] = 0, b[9] = 0; }, 1},
    {"header length 5001",
     [](std::string& b) { b[8] = static_cast<char>(5001 & 0xFF), b[9] = 5001 >> 8; }, 1},
    {"header length negative", [](std::string& b) { b[9] = static_cast<char>(0x80); }, 1},
    {"record length 0", [](std::string& b) { b[10] = 0, b[11] = 0; }, 1},
    {"record length negative", [](std::string& b) { b[11] = static_cast<char>(0xFF); }, 1},
    {"record shorter than its fields", [](std::string& b) { b[10] = 11; }, 1},
    {"field length 0", [](std::string& b) { b[32 + 16] = 0; }, 1},
    {"terminator missing", [](std::string& b) { b[96] = ' '; }, 1},
    {"truncated inside the header", [](std::string& b) { b.resize(20); }, 1},
    {"truncated inside the descriptors", [](std::string& b) { b.resize(70); }, 1},
    {"empty file", [](std::string& b) { b.clear(); }, 1},
};

TEST_F(DbfTableTest, damagedHeadersAreRefusedWithCodeOne) {
    for (const Damage& d : kDamages) {
        SCOPED_TRACE(d.what);
        std::string bytes = handTable({{"NAME", 8}, {"CODE", 3}}, {" a       b  "});
        d.apply(bytes);
        auto path = dir_.path() / "t.dbf";
        writeBytes(path, bytes);
        const std::string before = readBytes(path);
        CDbfImpl table(clock_);
        EXPECT_EQ(table.Open(path, 2), -1);
        EXPECT_EQ(table.OpenError(), d.code);
        EXPECT_FALSE(table.IsOpen());
        EXPECT_EQ(table.GetRecordCount(), 0);
        EXPECT_EQ(readBytes(path), before) << "a refused table must not be written";
    }
}

TEST_F(DbfTableTest, moreThanAHundredFieldsAreRefused) {
    std::vector<HandField> fields;
    for (int i = 0; i < 101; ++i) fields.push_back({"F" + std::to_string(i), 1});
    auto path = dir_.path() / "wide.dbf";
    writeBytes(path, handTable(fields, {}));
    CDbfImpl table(clock_);
    EXPECT_EQ(table.Open(path, 1), -1);
    EXPECT_EQ(table.OpenError(), 1);
    fields.pop_back();
    writeBytes(path, handTable(fields, {}));
    EXPECT_EQ(table.Open(path, 1), 1);
    EXPECT_EQ(table.GetFieldCount(), 100);
}

TEST_F(DbfTableTest, anEarlyTerminatorEndsTheDescriptorList) {
    // Three descriptor slots by header length, the second holding the terminator.
    std::string bytes = handTable({{"NAME", 8}, {"CODE", 3}, {"MORE", 2}}, {});
    bytes[64] = 0x0D;
    bytes[10] = 12;  // record length of the first field alone, plus slack
    auto path = dir_.path() / "t.dbf";
    writeBytes(path, bytes);
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 1), 1);
    EXPECT_EQ(table.GetFieldCount(), 1);
}

TEST_F(DbfTableTest, aTruncatedLastRecordIsNotCounted) {
    std::string bytes = handTable({{"NAME", 8}, {"CODE", 3}}, {" a       b  ", " c       d  "}, 5);
    bytes.resize(97 + 12 + 5);
    auto path = dir_.path() / "t.dbf";
    writeBytes(path, bytes);
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 1), 1);
    EXPECT_EQ(table.GetRecordCount(), 1);
    std::string text;
    table.GetFieldValue(1, 0, text);
    EXPECT_EQ(text, "");
}

TEST_F(DbfTableTest, missingFileFailsWithoutMessage) {
    CDbfImpl table(clock_);
    EXPECT_EQ(table.Open(dir_.path() / "absent.dbf", 1), -1);
    EXPECT_EQ(table.OpenError(), 2);
    EXPECT_EQ(table.LastError(), "");
    EXPECT_EQ(table.Open(twoFieldTable({}), 3), -1);
    EXPECT_EQ(table.OpenError(), 4);
}

TEST_F(DbfTableTest, setFieldPadsWithBlanksAndCutsLongTexts) {
    auto path = twoFieldTable({" a       b  "});
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 2), 1);
    std::string text;
    // act / verify: 12 bytes into 8 keep the first 8
    EXPECT_EQ(table.SetFieldValue(0, 0, "ABCDEFGHIJKL"), 0);
    table.GetFieldValue(0, 0, text);
    EXPECT_EQ(text, "ABCDEFGH");
    // 3 bytes are followed by 5 blanks
    EXPECT_EQ(table.SetFieldValueByName(0, "name", "xyz"), 0);
    table.GetFieldValue(0, 0, text);
    EXPECT_EQ(text, "xyz     ");
    // the neighbouring field is untouched
    table.GetFieldValue(0, 1, text);
    EXPECT_EQ(text, "b  ");
    // a Chinese text is cut before a character that would not fit whole
    EXPECT_EQ(table.SetFieldValue(1, 0, "中文"), 0);
    table.GetFieldValue(0, 1, text);
    EXPECT_EQ(text, "中 ");
}

TEST_F(DbfTableTest, setFieldFailuresLeaveTheirTexts) {
    auto path = twoFieldTable({" a       b  "});
    CDbfImpl table(clock_);
    EXPECT_EQ(table.SetFieldValue(0, 0, "x"), 1);
    EXPECT_EQ(table.LastError(), "找不到该dbf文件！");
    ASSERT_EQ(table.Open(path, 2), 1);
    EXPECT_EQ(table.SetFieldValue(0, 2, "x"), 1);
    EXPECT_EQ(table.LastError(), "没有找到对应记录！");
    EXPECT_EQ(table.SetFieldValue(2, 0, "x"), 1);
    EXPECT_EQ(table.LastError(), "数据超过可允许的最大范围！");
    EXPECT_EQ(table.SetFieldValueByName(0, "nosuch", "x"), 0);
    ASSERT_EQ(table.Open(path, 1), 1);
    EXPECT_EQ(table.SetFieldValue(0, 0, "x"), 1);
    EXPECT_EQ(table.LastError(), "设置DBF数据失败，错误代码：4");
}

TEST_F(DbfTableTest, settingTheRecordAfterTheLastAppendsIt) {
    auto path = twoFieldTable({});
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 2), 1);
    EXPECT_EQ(table.SetFieldValue(1, 0, "zz"), 0);
    EXPECT_EQ(table.GetRecordCount(), 1);
    // the header count is current before the table is closed
    EXPECT_EQ(static_cast<unsigned char>(readBytes(path)[4]), 1);
    std::string text;
    table.GetFieldValue(0, 0, text);
    EXPECT_EQ(text, "        ");
}

TEST_F(DbfTableTest, appendBlankNeedsAWritableTable) {
    auto path = twoFieldTable({});
    CDbfImpl table(clock_);
    EXPECT_EQ(table.AppendBlank(), -1);
    EXPECT_EQ(table.LastError(), "该dbf文件不存在!");
    ASSERT_EQ(table.Open(path, 1), 1);
    EXPECT_EQ(table.AppendBlank(), -1);
    EXPECT_EQ(table.LastError(), "添加一条文件记录失败，错误代码：4");
    ASSERT_EQ(table.Open(path, 2), 1);
    EXPECT_EQ(table.AppendBlank(), 0);
    EXPECT_EQ(table.AppendBlank(), 1);
    EXPECT_EQ(static_cast<unsigned char>(readBytes(path)[4]), 2);
}

TEST_F(DbfTableTest, invalidGbkBytesReadAsReplacementsWithoutHarm) {
    auto path = twoFieldTable({" \x81\x20\xff\xfe    ok "});
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 2), 1);
    std::string name, code;
    table.GetFieldValue(0, 0, name);
    table.GetFieldValue(0, 1, code);
    EXPECT_EQ(name.size(), 8u);
    EXPECT_EQ(table.LastError(), "DBF字段数据不是有效的GBK编码！");
    EXPECT_EQ(code, "ok ");
    // a text that GBK cannot hold is refused, the record stays as it was
    EXPECT_EQ(table.SetFieldValue(1, 0, "\xF0\x9F\x98\x80"), 1);
    table.GetFieldValue(0, 1, code);
    EXPECT_EQ(code, "ok ");
}

TEST_F(DbfTableTest, markDeletedAndFindByPlanId) {
    auto path = dir_.path() / "plans.dbf";
    writeBytes(path, handTable({{"planid", 6}, {"X", 1}},
                               {" id-1  a", "*id-2  b", " ID-3  c", " id-2  d"}));
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 2), 1);
    EXPECT_EQ(FindRecordByPlanId("id-2", table), 1) << "deleted records are not skipped";
    EXPECT_EQ(FindRecordByPlanId("id-3", table), -1) << "ids compare case-sensitively";
    EXPECT_EQ(FindRecordByPlanId("id", table), -1);
    EXPECT_EQ(MarkRecordDeleted(2, table), 0);
    DbfRow row;
    ASSERT_TRUE(table.ReadRow(2, row));
    EXPECT_TRUE(row.deleted());
    EXPECT_EQ(MarkRecordDeleted(4, table), -1);
    EXPECT_EQ(LastDbfErrorText(), "没有找到该条记录！");
    ASSERT_EQ(table.Open(path, 1), 1);
    EXPECT_EQ(MarkRecordDeleted(0, table), -1);
    EXPECT_EQ(LastDbfErrorText(), "设置DBF删除位失败，错误代码：4");
}

TEST_F(DbfTableTest, packingRemovesDeletedRecordsInOneStep) {
    // setup: 25 records (more than two copy chunks), 2 and 5 deleted
    std::vector<std::string> records;
    for (int i = 0; i < 25; ++i) {
        std::string r = (i == 2 || i == 5) ? "*" : " ";
        std::string name = "r" + std::to_string(i);
        name.resize(8, ' ');
        records.push_back(r + name + "abc");
    }
    auto path = twoFieldTable(records);
    // act
    ASSERT_EQ(PackTable(path), 0);
    // verify
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 1), 1);
    ASSERT_EQ(table.GetRecordCount(), 23);
    EXPECT_EQ(static_cast<unsigned char>(readBytes(path)[4]), 23);
    std::vector<std::string> names;
    DbfRow row;
    for (int i = 0; i < 23; ++i) {
        ASSERT_TRUE(table.ReadRow(i, row));
        names.push_back(row.trimmed("NAME"));
    }
    EXPECT_EQ(names[1], "r1");
    EXPECT_EQ(names[2], "r3");
    EXPECT_EQ(names[3], "r4");
    EXPECT_EQ(names[4], "r6");
    EXPECT_EQ(names[22], "r24");
}

TEST_F(DbfTableTest, removeRecordKeepsTheOthersAndRefusesBadIndexes) {
    auto path = twoFieldTable({" r0      abc", " r1      abc", " r2      abc"});
    EXPECT_EQ(RemoveRecord(path, 3), -1);
    EXPECT_EQ(RemoveRecord(path, -1), -1);
    ASSERT_EQ(RemoveRecord(path, 1), 0);
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 1), 1);
    ASSERT_EQ(table.GetRecordCount(), 2);
    std::string text;
    table.GetFieldValue(1, 0, text);
    EXPECT_EQ(text, "r2      ");
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
}

TEST_F(DbfTableTest, packingARefusedTableChangesNothing) {
    auto path = dir_.path() / "bad.dbf";
    writeBytes(path, "not a table at all, just text");
    EXPECT_EQ(PackTable(path), -1);
    EXPECT_EQ(readBytes(path), "not a table at all, just text");
}

TEST_F(DbfTableTest, aCursorWalksEveryRecordAcrossChunksWhileTheCurrentOneIsWritten) {
    std::vector<std::string> records;
    for (int i = 0; i < 12000; ++i) {
        std::string name = std::to_string(i);
        name.resize(8, ' ');
        records.push_back(" " + name + "abc");
    }
    auto path = twoFieldTable(records);
    CDbfImpl table(clock_);
    ASSERT_EQ(table.Open(path, 2), 1);
    DbfCursor cursor(table);
    DbfRow row;
    int index = -1, seen = 0;
    while (cursor.Next(index, row)) {
        ASSERT_EQ(index, seen);
        ASSERT_EQ(row.trimmed("NAME"), std::to_string(seen));
        ASSERT_EQ(table.SetFieldValue(1, index, "new"), 0);
        ++seen;
    }
    EXPECT_EQ(seen, 12000);
    std::string code;
    table.GetFieldValue(11999, 1, code);
    EXPECT_EQ(code, "new");
}

TEST_F(DbfTableTest, twoHandlesOnOneTableSeeEachOthersAppends) {
    auto path = twoFieldTable({});
    CDbfImpl writer(clock_), reader(clock_);
    ASSERT_EQ(writer.Open(path, 2), 1);
    ASSERT_EQ(writer.AppendBlank(), 0);
    ASSERT_EQ(reader.Open(path, 1), 1);
    EXPECT_EQ(reader.GetRecordCount(), 1);
}

}  // namespace
}  // namespace vantrel::catalogue
