// "filememlist.data": the real-time report file list.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "client/transfer/file_mem_list.h"
#include "tests/support/temp_dir.h"
#include "tests/transfer/block_state_fixture.h"

namespace vantrel::testing {
namespace {

FileMemList::Record recordFor(const std::string& name, char fill) {
    FileMemList::Record r{};
    std::memcpy(r.data(), name.data(), name.size());
    std::memset(r.data() + FileMemList::kNameSize, fill,
                FileMemList::kRecordSize - FileMemList::kNameSize);
    return r;
}

TEST(FileMemListTest, theRecordBeyondFiveThousandIsRefusedAndLogged) {
    PreferMemoryTempDir memory;
    TempDir dir;
    std::vector<std::string> log;
    FileMemList list([&](std::string_view line) { log.emplace_back(line); });
    ASSERT_TRUE(list.open(dir.path() / "filememlist.data")) << list.errorText();
    EXPECT_EQ(std::filesystem::file_size(dir.path() / "filememlist.data"), 4u + 5000u * 1124u);
    for (int i = 0; i < 5000; ++i)
        ASSERT_TRUE(list.addOrUpdate(recordFor("f" + std::to_string(i), 'a')));
    EXPECT_FALSE(list.addOrUpdate(recordFor("f5000", 'a')));
    EXPECT_EQ(list.errorText(), "文件信息列表个数超过上限！");
    ASSERT_EQ(log.size(), 1u);
    // An update of a stored name still works when full.
    EXPECT_TRUE(list.addOrUpdate(recordFor("f17", 'z')));
    EXPECT_EQ(list.count(), 5000);
}

TEST(FileMemListTest, recordsSurviveReopeningAndRemovalMovesTheRestDown) {
    TempDir dir;
    const auto path = dir.path() / "filememlist.data";
    {
        FileMemList list;
        ASSERT_TRUE(list.open(path));
        ASSERT_TRUE(list.addOrUpdate(recordFor("a.txt", '1')));
        ASSERT_TRUE(list.addOrUpdate(recordFor("b.txt", '2')));
        ASSERT_TRUE(list.addOrUpdate(recordFor("c.txt", '3')));
        ASSERT_TRUE(list.addOrUpdate(recordFor("a.txt", '9')));
        ASSERT_TRUE(list.remove("b.txt"));
        EXPECT_FALSE(list.remove("b.txt"));
    }
    FileMemList list;
    ASSERT_TRUE(list.open(path));
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.find("a.txt")->at(300), '9');
    EXPECT_EQ(list.find("c.txt")->at(300), '3');
    EXPECT_FALSE(list.find("b.txt"));
}

TEST(FileMemListTest, aCountThatCannotBeRightIsResetInsteadOfTrusted) {
    TempDir dir;
    const auto path = dir.path() / "filememlist.data";
    {
        FileMemList list;
        ASSERT_TRUE(list.open(path));
        ASSERT_TRUE(list.addOrUpdate(recordFor("a.txt", '1')));
    }
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.write("\xff\xff\x00\x00", 4);  // 65535 records
    }
    FileMemList list;
    ASSERT_TRUE(list.open(path));
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(list.addOrUpdate(recordFor("b.txt", '2')));
}

}  // namespace
}  // namespace vantrel::testing
