#include "platform/mapped_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace vantrel::platform {
namespace {

class MappedFileTest : public ::testing::Test {
  protected:
    testing::TempDir dir_;
    std::filesystem::path path_ = dir_.path() / "filememlist.data";
};

TEST_F(MappedFileTest, aNewFileIsCreatedZeroFilledAtTheRequestedSize) {
    Result<MappedFile> file = MappedFile::open(path_, 10000, true);
    ASSERT_TRUE(file) << file.status().text();
    EXPECT_EQ(file->size(), 10000u);
    EXPECT_EQ(std::filesystem::file_size(path_), 10000u);
    for (std::size_t i = 0; i < file->size(); ++i) ASSERT_EQ(file->data()[i], 0) << i;
}

TEST_F(MappedFileTest, flushedBytesAreInTheFileWhenItIsReopened) {
    // setup
    {
        Result<MappedFile> file = MappedFile::open(path_, 3 * 4096, true);
        ASSERT_TRUE(file);
        // act: a range that straddles a page boundary and starts mid-page
        std::memcpy(file->data() + 4090, "block-state", 11);
        ASSERT_TRUE(file->flushRange(4090, 11));
    }
    // verify: through read() and through a new mapping of the file's own length
    EXPECT_EQ(readFile(path_).value().substr(4090, 11), "block-state");
    Result<MappedFile> again = MappedFile::open(path_, 0, false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), 3u * 4096);
    EXPECT_EQ(std::memcmp(again->data() + 4090, "block-state", 11), 0);
}

TEST_F(MappedFileTest, twoMappingsOfOneFileShareTheirBytes) {
    Result<MappedFile> writer = MappedFile::open(path_, 4096, true);
    Result<MappedFile> reader = MappedFile::open(path_, 4096, false);
    ASSERT_TRUE(writer && reader);
    writer->data()[100] = 0x5A;
    EXPECT_EQ(reader->data()[100], 0x5A);
}

TEST_F(MappedFileTest, aLongerFileIsNotCutAndAShortOneIsExtended) {
    ASSERT_TRUE(writeFileAtomically(path_, std::string(5000, 'x')));
    {
        Result<MappedFile> small = MappedFile::open(path_, 100, false);
        ASSERT_TRUE(small);
        EXPECT_EQ(small->size(), 100u);
    }
    EXPECT_EQ(std::filesystem::file_size(path_), 5000u);

    Result<MappedFile> large = MappedFile::open(path_, 8000, false);
    ASSERT_TRUE(large);
    EXPECT_EQ(std::filesystem::file_size(path_), 8000u);
    EXPECT_EQ(large->data()[4999], 'x');
    EXPECT_EQ(large->data()[5000], 0);
}

TEST_F(MappedFileTest, resizeGrowsTheFileAndKeepsTheContent) {
    Result<MappedFile> file = MappedFile::open(path_, 4096, true);
    ASSERT_TRUE(file);
    file->data()[4095] = 7;
    ASSERT_TRUE(file->resize(5 * 4096 + 3));
    EXPECT_EQ(file->size(), 5u * 4096 + 3);
    EXPECT_EQ(std::filesystem::file_size(path_), 5u * 4096 + 3);
    EXPECT_EQ(file->data()[4095], 7);
    EXPECT_EQ(file->data()[5 * 4096 + 2], 0);
    file->data()[5 * 4096 + 2] = 9;
    ASSERT_TRUE(file->flushRange(0, file->size()));
    EXPECT_EQ(readFile(path_).value().back(), 9);

    EXPECT_EQ(file->resize(10).kind(), ErrorKind::InvalidArgument) << "mappings only grow";
    EXPECT_EQ(file->size(), 5u * 4096 + 3);
}

TEST_F(MappedFileTest, flushRangesOutsideTheMappingAreRefused) {
    Result<MappedFile> file = MappedFile::open(path_, 4096, true);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->flushRange(4096, 0));
    EXPECT_TRUE(file->flushRange(0, 4096));
    EXPECT_EQ(file->flushRange(4000, 97).kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(file->flushRange(4097, 0).kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(file->flushRange(1, SIZE_MAX).kind(), ErrorKind::InvalidArgument)
        << "offset + length overflows";
}

TEST_F(MappedFileTest, openingFailsCleanly) {
    EXPECT_EQ(MappedFile::open(path_, 4096, false).status().kind(), ErrorKind::NotFound);
    EXPECT_FALSE(std::filesystem::exists(path_));
    EXPECT_EQ(MappedFile::open(path_, 0, true).status().kind(), ErrorKind::InvalidArgument)
        << "an empty file has nothing to map";
}

TEST_F(MappedFileTest, movingHandsOverTheMappingAndCloseReleasesIt) {
    Result<MappedFile> opened = MappedFile::open(path_, 4096, true);
    ASSERT_TRUE(opened);
    MappedFile first = std::move(opened).value();
    first.data()[0] = 1;
    MappedFile second = std::move(first);
    EXPECT_FALSE(
        first.isOpen());  // NOLINT(bugprone-use-after-move): the moved-from state is the contract
    ASSERT_TRUE(second.isOpen());
    EXPECT_EQ(second.data()[0], 1);
    second.close();
    EXPECT_FALSE(second.isOpen());
    EXPECT_EQ(second.flushRange(0, 1).kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(readFile(path_).value()[0], 1);
}

}  // namespace
}  // namespace vantrel::platform
