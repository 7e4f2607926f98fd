// DataSize.ini: kilobytes to bytes, each value brought into its range, low <= high always.

#include "client/config/data_size.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

constexpr std::int64_t KB = 1024;

class DataSizeTest : public ::testing::Test {
  protected:
    DataSizeSettings loadWith(const std::string& text) {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
        return DataSizeSettings::load(path_);
    }
    testing::TempDir dir_;
    std::filesystem::path path_ = dir_.path() / "DataSize.ini";
};

TEST_F(DataSizeTest, aMissingFileGivesTheBuiltInLimits) {
    const DataSizeSettings s = DataSizeSettings::load(dir_.path() / "absent.ini");
    EXPECT_TRUE(s.loaded());
    EXPECT_EQ(s.transIdBatch(), 10);
    EXPECT_EQ(s.receive(), (PacketSizeLimits{16 * KB, 8 * KB, 1024 * KB, 4, 8}));
    EXPECT_EQ(s.send(), (PacketSizeLimits{16 * KB, 8 * KB, 128 * KB, 4, 8}));
    EXPECT_EQ(s.receive(), DataSizeSettings().receive());
}

TEST_F(DataSizeTest, valuesInRangeAreKeptInBytes) {
    const DataSizeSettings s = loadWith(
        "[COMMUNICATION]\nFileSvrTransIdNum=50\n"
        "[rec]\ninit=64\nlowsize=32\nhighsize=512\nlowsec=5\nhighsec=7\n"
        "[snd]\ninit=8\nlowsize=16\nhighsize=64\nlowsec=4\nhighsec=4\n");
    EXPECT_EQ(s.transIdBatch(), 50);
    EXPECT_EQ(s.receive(), (PacketSizeLimits{64 * KB, 32 * KB, 512 * KB, 5, 7}));
    EXPECT_EQ(s.send(), (PacketSizeLimits{8 * KB, 16 * KB, 64 * KB, 4, 4}));
}

TEST_F(DataSizeTest, outOfRangeValuesFallBackPerKey) {
    const DataSizeSettings s = loadWith(
        "[COMMUNICATION]\nFileSvrTransIdNum=0\n"
        "[rec]\ninit=4\nlowsize=2\nhighsize=4096\nlowsec=1\nhighsec=30\n"
        "[snd]\ninit=129\nlowsize=\nhighsize=512\nlowsec=abc\nhighsec=-8\n");
    EXPECT_EQ(s.transIdBatch(), 10);
    // A receiving init of 4 KB gives 16,384; a sending highsize of 512 KB gives 131,072.
    EXPECT_EQ(s.receive(), (PacketSizeLimits{16384, 8192, 2097152, 4, 8}));
    EXPECT_EQ(s.send(), (PacketSizeLimits{16384, 8192, 131072, 4, 8}));
    EXPECT_EQ(loadWith("[COMMUNICATION]\nFileSvrTransIdNum=\n").transIdBatch(), 10);
    EXPECT_EQ(loadWith("[COMMUNICATION]\nFileSvrTransIdNum=-5\n").transIdBatch(), 10);
}

TEST_F(DataSizeTest, theLowLimitNeverEndsAboveTheHighLimit) {
    // A large lowsize beside an over-large highsize: both leave their ranges.
    DataSizeSettings s =
        loadWith("[rec]\nlowsize=4096\nhighsize=4096\n[snd]\nlowsize=1024\nhighsize=1024\n");
    EXPECT_EQ(s.receive().lowSize, 8 * KB);
    EXPECT_EQ(s.receive().highSize, 2048 * KB);
    EXPECT_EQ(s.send().lowSize, 8 * KB);
    EXPECT_EQ(s.send().highSize, 128 * KB);

    // Both in range but crossed: the low limit goes back to its minimum.
    s = loadWith("[rec]\nlowsize=512\nhighsize=256\nlowsec=8\nhighsec=5\n");
    EXPECT_EQ(s.receive().lowSize, 8 * KB);
    EXPECT_EQ(s.receive().highSize, 256 * KB);
    EXPECT_EQ(s.receive().lowSeconds, 4);
    EXPECT_EQ(s.receive().highSeconds, 5);

    // Seconds outside their range on both sides.
    s = loadWith("[snd]\nlowsec=20\nhighsec=30\n");
    EXPECT_EQ(s.send().lowSeconds, 4);
    EXPECT_EQ(s.send().highSeconds, 8);
}

TEST_F(DataSizeTest, hugeNumbersNeitherOverflowNorWrapIntoRange) {
    // 4,194,312 KB is 2^32 + 8 KB in bytes: a 32-bit product would wrap to 8,192.
    DataSizeSettings s = loadWith(
        "[rec]\ninit=4194312\nlowsize=4194312\nhighsize=99999999999999999999\n"
        "[COMMUNICATION]\nFileSvrTransIdNum=99999999999\n");
    EXPECT_EQ(s.receive().initialSize, 16 * KB);
    EXPECT_EQ(s.receive().lowSize, 8 * KB);
    // Only the first 10 characters are read: 9,999,999,999 KB, still out of range.
    EXPECT_EQ(s.receive().highSize, 2048 * KB);
    EXPECT_EQ(s.transIdBatch(), 2147483647);
    s = loadWith("[rec]\ninit=-9223372036854775808\nlowsize=-1\n");
    EXPECT_EQ(s.receive().initialSize, 16 * KB);
    EXPECT_EQ(s.receive().lowSize, 8 * KB);
}

TEST_F(DataSizeTest, malformedFilesGiveTheDefaults) {
    std::string junk;
    for (int i = 0; i < 70000; ++i) junk.push_back(static_cast<char>((i * 7919) % 256));
    EXPECT_EQ(loadWith(junk).send(), DataSizeSettings().send());
    // A huge line, and values with no section.
    EXPECT_EQ(loadWith("init=64\nhighsize=4\n" + std::string(1 << 20, '9')).receive(),
              DataSizeSettings().receive());
    EXPECT_EQ(loadWith("[snd]\ninit=" + std::string(500000, '1') + "\n").send().initialSize,
              16 * KB);
}

}  // namespace
}  // namespace vantrel
