// The file-service body and list entries, with vectors worked out by hand from
// doc/formats/file-list.md.

#include <gtest/gtest.h>

#include "client/transfer/file_service_body.h"
#include "client/transfer/mem_data_buf.h"

namespace vantrel::testing {
namespace {

using namespace filesvc;

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

TEST(FileServiceBody, downloadRequestOf16KiBAt32KiB) {
    const std::string name = wireName("abcd.txt").value();
    const std::string body = encodeBody(name, "", 16384, 32768, 16384, {});
    ASSERT_EQ(body.size(), 30u);  // 14 + N1 16
    EXPECT_EQ(body.substr(0, 14), bytes({16, 0, 0, 0, 0x40, 0, 0, 0, 0x80, 0, 0, 0, 0x40, 0}));
    EXPECT_EQ(body.substr(14, 4), bytes({'a', 0, 'b', 0}));
}

TEST(FileServiceBody, md5QueryCarriesMinusOne) {
    const std::string body = encodeBody("", wireName("x").value(), 5000, 5000, -1, {});
    EXPECT_EQ(body.substr(0, 14),
              bytes({0, 2, 0, 0, 0x13, 0x88, 0, 0, 0x13, 0x88, -1, -1, -1, -1}));
    Result<Body> back = decodePayload(body);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->c, -1);
    EXPECT_EQ(back->a, 5000);
}

TEST(FileServiceBody, namesOfMoreThan127CharactersCannotBeSent) {
    EXPECT_TRUE(wireName(std::string(127, 'n')));
    Result<std::string> tooLong = wireName(std::string(128, 'n'));
    ASSERT_FALSE(tooLong);
    EXPECT_EQ(tooLong.status().text(), "UNICODE出错");
    EXPECT_EQ(wireName("中文").value(), bytes({0x2d, 0x4e, 0x87, 0x65}));
}

TEST(FileServiceBody, truncatedAnswersAreRefused) {
    const std::string body = encodeBody(wireName("abc").value(), "", 1, 2, 3, "xyz");
    EXPECT_FALSE(decodePayload(body.substr(0, 13)));
    EXPECT_FALSE(decodePayload(body.substr(0, 18)));  // name passes the end
    EXPECT_FALSE(decodeBody(std::string(158, '\0')));
    Result<Body> ok = decodePayload(body);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->data, "xyz");
}

// Two entries with names of 10 and 20 bytes: C = (24 + 10) + (24 + 20) = 78.
const std::string kTwoEntries =
    bytes({10}) + "FIL" + bytes({0, 0, 0x03, 0xe8}) + "20261208" + "09:30:15" +
    bytes({'a', 0, '.', 0, 't', 0, 'x', 0, 't', 0}) + bytes({20}) + "DIR" + bytes({0, 0, 0, 0}) +
    "20261207" + "23:59:59" +
    bytes({'B', 0, 'u', 0, 'l', 0, 'l', 0, 'e', 0, 't', 0, '0', 0, '1', 0, '2', 0, '3', 0});

TEST(FileListEntries, twoEntriesComeWithC78) {
    ASSERT_EQ(kTwoEntries.size(), 78u);
    auto entries = parseEntries(kTwoEntries, 78);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ((*entries)[0].name, "a.txt");
    EXPECT_EQ((*entries)[0].size, 1000);
    EXPECT_EQ((*entries)[0].date, "20261208");
    EXPECT_EQ((*entries)[0].time, "09:30:15");
    EXPECT_TRUE((*entries)[1].isDirectory());
    EXPECT_EQ((*entries)[1].name, "Bullet0123");
    EXPECT_EQ(encodeEntry((*entries)[0]) + encodeEntry((*entries)[1]), kTwoEntries);
}

TEST(FileListEntries, edgeCasesOfTheWalk) {
    // C = 0 lists nothing even with bytes behind it.
    EXPECT_TRUE(parseEntries(kTwoEntries, 0)->empty());
    // C covering only the first entry stops after it.
    EXPECT_EQ(parseEntries(kTwoEntries, 34)->size(), 1u);
    // An entry that would pass the end of the received data is not read.
    EXPECT_EQ(parseEntries(kTwoEntries.substr(0, 70), 78)->size(), 1u);
    // A name of odd length is not UTF-16.
    std::string odd = kTwoEntries.substr(0, 34);
    odd[0] = 9;
    EXPECT_EQ(parseEntries(odd, 34).status().text(), "Unicode转ASCII出错");
}

TEST(FileListEntries, versionComesFromAFirstVerEntryOnly) {
    ListEntry ver{"VER", 0, "20261208", "09:30:15", "v"};
    ListEntry file{"FIL", 1, "20261208", "09:30:15", "f"};
    EXPECT_EQ(versionOf({ver, file}), "20261208093015");
    EXPECT_EQ(versionOf({file, ver}), "");
    EXPECT_EQ(versionOf({}), "");
}

TEST(MemDataBuf, rangesPastTheLengthFailAndLongMessagesMoveToTheHeap) {
    CMemDataBuf buf;
    ASSERT_TRUE(buf.resize(10));
    EXPECT_EQ(buf.write(5, "hello", 5), 0);
    EXPECT_EQ(buf.write(6, "hello", 5), -1);
    ASSERT_TRUE(buf.resize(CMemDataBuf::kInlineSize + 10));
    char out[5];
    EXPECT_EQ(buf.read(5, out, 5), 0);
    EXPECT_EQ(std::string(out, 5), "hello");  // kept across the move to the heap
    EXPECT_EQ(buf.write(CMemDataBuf::kInlineSize + 5, "hello", 5), 0);
    buf.clear();
    EXPECT_EQ(buf.length(), 0u);
    EXPECT_EQ(buf.read(0, out, 1), -1);
}

}  // namespace
}  // namespace vantrel::testing
