// Our tables against an independent reader and writer (python3-dbf): every shipped
// template and every kind of table the code writes must read there field by field as it
// reads here, and dBASE III tables written there must read here with the same values.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "client/catalogue/dbf_table.h"
#include "client/catalogue/mailbox_list_export.h"
#include "client/catalogue/table_schema.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/temp_dir.h"

namespace vantrel::catalogue {
namespace {

struct PeerTable {
    std::vector<std::string> fields;
    struct Record {
        bool deleted = false;
        std::vector<std::string> values;
    };
    std::vector<Record> records;
};

std::string unhex(const std::string& hex) {
    if (hex == "-") return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << command << "\n" << output;
    return output;
}

PeerTable peerDump(const std::filesystem::path& path) {
    std::istringstream lines(run(std::string(VANTREL_PYTHON3) + " " + VANTREL_DBF_PEER + " dump '" +
                                 path.string() + "' 2>&1"));
    PeerTable table;
    std::string line, word;
    std::getline(lines, line);
    std::istringstream names(line);
    while (names >> word) table.fields.push_back(word);
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        PeerTable::Record record;
        words >> word;
        record.deleted = word == "D";
        while (words >> word) record.values.push_back(unhex(word));
        table.records.push_back(record);
    }
    return table;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Every field of every record, as we read it, equals what the peer read.
void expectSameAsPeer(const std::filesystem::path& path) {
    SCOPED_TRACE(path.filename().string());
    const PeerTable peer = peerDump(path);
    CDbfImpl ours;
    ASSERT_EQ(ours.Open(path, 1), 1);
    ASSERT_EQ(static_cast<int>(peer.fields.size()), ours.GetFieldCount());
    ASSERT_EQ(static_cast<int>(peer.records.size()), ours.GetRecordCount());
    for (int f = 0; f < ours.GetFieldCount(); ++f) {
        EXPECT_EQ(peer.fields[static_cast<std::size_t>(f)],
                  lower(ours.handle()->fields()[static_cast<std::size_t>(f)].name));
    }
    DbfRow row;
    for (int r = 0; r < ours.GetRecordCount(); ++r) {
        ASSERT_TRUE(ours.ReadRow(r, row));
        const auto& expected = peer.records[static_cast<std::size_t>(r)];
        EXPECT_EQ(expected.deleted, row.deleted()) << "record " << r;
        for (int f = 0; f < ours.GetFieldCount(); ++f) {
            EXPECT_EQ(expected.values[static_cast<std::size_t>(f)], row.text(f))
                << "record " << r << " field " << f;
        }
    }
}

class DbfInteropTest : public ::testing::Test {
  protected:
    std::filesystem::path writeTemplate(const TableSpec& spec) {
        platform::LocalTime date;
        date.year = 2026;
        date.month = 1;
        date.day = 1;
        auto path = dir_.path() / spec.fileName;
        testing::writeBytes(path, BuildTableBytes(spec, date));
        return path;
    }
    testing::TempDir dir_;
};

TEST_F(DbfInteropTest, everyShippedTemplateReadsTheSameThere) {
    for (const TableSpec* spec : ShippedTemplates()) expectSameAsPeer(writeTemplate(*spec));
}

TEST_F(DbfInteropTest, rowsWithChineseTextAndDeletedRowsReadTheSameThere) {
    // setup: a download task table and a download list filled through CDbfImpl
    auto plans = writeTemplate(DownloadTaskTableSpec());
    auto list = writeTemplate(DownloadListSpec());
    {
        CDbfImpl table;
        ASSERT_EQ(table.Open(plans, 2), 1);
        for (int i = 0; i < 3; ++i) {
            const int r = table.AppendBlank();
            ASSERT_GE(r, 0);
            ASSERT_EQ(
                table.SetFieldValueByName(r, "plandes", "每日行情下载任务" + std::to_string(i)), 0);
            ASSERT_EQ(
                table.SetFieldValueByName(r, "planID", "20261208093000-0123" + std::to_string(i)),
                0);
            ASSERT_EQ(
                table.SetFieldValueByName(r, "recvpath", "/data/接收/" + std::string(300, 'x')), 0);
            ASSERT_EQ(table.SetFieldValueByName(r, "lastresult", "失败"), 0);
            ASSERT_EQ(table.SetFieldValueByName(r, "nextday", " "), 0);
        }
        ASSERT_EQ(MarkRecordDeleted(1, table), 0);
        CDbfImpl rows;
        ASSERT_EQ(rows.Open(list, 2), 1);
        ASSERT_EQ(
            rows.AppendRow({{"filename", "日报表20261208.zip"}, {"size", "1024"}, {"flag", "0"}}),
            0);
        ASSERT_EQ(rows.AppendRow({{"FILENAME", "b.txt"}, {"DISCRIPT", "连接超时"}}), 1);
    }
    expectSameAsPeer(plans);
    expectSameAsPeer(list);
    // act: pack, then compare again
    ASSERT_EQ(PackTable(plans), 0);
    expectSameAsPeer(plans);
    EXPECT_EQ(peerDump(plans).records.size(), 2u);
}

TEST_F(DbfInteropTest, theMailboxListExportReadsTheSameThere) {
    auto path = dir_.path() / "export.dbf";
    std::vector<MailboxListRow> rows = {{"..", "", "", ""},
                                        {"行情文件.dbf", "123456", "2026-12-08", "09:30:00"},
                                        {std::string(130, 'n'), "1", "2026-12-07", "23:59:59"}};
    std::string message;
    ASSERT_EQ(ExportMailboxList(path, {"FILENAME", "SIZE", "DATE", "TIME"}, rows,
                                platform::RealClock::instance(), message),
              1);
    EXPECT_EQ(message, "导出记录：2条\n导出文件：" + path.string());
    // header: 0x03, year - 1900, count 2, header length 161, record length 174, no end marker
    const std::string bytes = testing::readBytes(path);
    ASSERT_EQ(bytes.size(), 161u + 2 * 174);
    EXPECT_EQ(bytes[0], 0x03);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]),
              platform::RealClock::instance().localNow().year - 1900);
    EXPECT_EQ(bytes.substr(4, 8), std::string("\x02\0\0\0\xa1\0\xae\0", 8));
    EXPECT_EQ(bytes[160], 0x0D);
    expectSameAsPeer(path);
    const PeerTable peer = peerDump(path);
    ASSERT_EQ(peer.records.size(), 2u);
    EXPECT_EQ(peer.records[0].values[0].substr(0, 16), "行情文件.dbf");
    EXPECT_EQ(peer.records[1].values[0], std::string(125, 'n'));
}

TEST_F(DbfInteropTest, theListWorkbookOpensAsAZipWithOneRowPerEntryAndGoesOnInANewSheet) {
    // setup: Chinese names, a size that is a number, an empty cell, markup characters
    const std::array<std::string, 4> titles = {"名称", "大小(B)", "创建日期", "类型"};
    const std::vector<MailboxListRow> rows = {
        {"行情文件.dbf", "123456", "2026-12-08 09:30", "文件"},
        {"sub", "", "2026-12-07 23:59", "文件夹"},
        {"a<b>&c.txt", "0", "2026-12-06 00:00", "文件"}};
    auto book = [this](const std::string& name) { return dir_.path() / name; };
    auto dump = [](const std::filesystem::path& path) {
        return run(std::string(VANTREL_PYTHON3) + " " + VANTREL_XLSX_PEER + " dump '" +
                   path.string() + "' 2>&1");
    };

    // act: one sheet, then the same rows on sheets of two rows each, over an older file
    ASSERT_TRUE(ExportMailboxListWorkbook(book("list.xlsx"), titles, rows));
    std::ofstream(book("split.xlsx")) << "an older file";
    ASSERT_TRUE(ExportMailboxListWorkbook(book("split.xlsx"), titles, rows, 2));

    // verify: the titles head each sheet; every entry is a row, in order
    EXPECT_EQ(dump(book("list.xlsx")),
              "sheet Sheet1\n"
              "名称\t大小(B)\t创建日期\t类型\n"
              "行情文件.dbf\t123456\t2026-12-08 09:30\t文件\n"
              "sub\t\t2026-12-07 23:59\t文件夹\n"
              "a<b>&c.txt\t0\t2026-12-06 00:00\t文件\n");
    EXPECT_EQ(dump(book("split.xlsx")),
              "sheet Sheet1\n"
              "名称\t大小(B)\t创建日期\t类型\n"
              "行情文件.dbf\t123456\t2026-12-08 09:30\t文件\n"
              "sub\t\t2026-12-07 23:59\t文件夹\n"
              "sheet Sheet2\n"
              "名称\t大小(B)\t创建日期\t类型\n"
              "a<b>&c.txt\t0\t2026-12-06 00:00\t文件\n");
    EXPECT_FALSE(std::filesystem::exists(book("split.xlsx.tmp")));
    EXPECT_FALSE(
        ExportMailboxListWorkbook(dir_.path() / "no" / "such" / "list.xlsx", titles, rows));
}

TEST_F(DbfInteropTest, tablesWrittenThereReadTheSameHere) {
    // setup: a dBASE III table written by the peer, with a deleted record
    auto spec = dir_.path() / "spec.txt";
    {
        std::ofstream out(spec);
        out << "FLAGNAME C(64); UPDATETIME C(19)\n"
            << "VORNQS\t2026-12-08 09:00:00\n"
            << "*VORNJS\t\n"
            << "标志文件\t\n";
    }
    auto path = dir_.path() / "peer.conf";
    run(std::string(VANTREL_PYTHON3) + " " + VANTREL_DBF_PEER + " write '" + path.string() + "' '" +
        spec.string() + "' 2>&1");
    // act / verify
    expectSameAsPeer(path);
    CDbfImpl table;
    ASSERT_EQ(table.Open(path, 2), 1);
    std::string text;
    table.GetFieldValueByName(2, "flagname", text);
    EXPECT_EQ(TrimText(text), "标志文件");
    // a row we append to their table reads there too
    ASSERT_EQ(table.AppendRow({{"FLAGNAME", "新标志"}, {"UPDATETIME", "2026-12-08 10:00:00"}}), 3);
    table.Close();
    expectSameAsPeer(path);
}

}  // namespace
}  // namespace vantrel::catalogue
