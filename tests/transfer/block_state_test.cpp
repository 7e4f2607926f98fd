// The block state store: geometry, window, resume, dispatch order, closing, corruption.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "client/transfer/block_state_layout.h"
#include "client/transfer/file_block_info.h"
#include "client/transfer/file_block_map.h"
#include "tests/transfer/block_state_fixture.h"

namespace vantrel::testing {
namespace {

namespace bs = blockstate;
namespace fs = std::filesystem;
constexpr std::int64_t MiB = 1024 * 1024;

using BlockGeometry = BlockStateFixture;

TEST_F(BlockGeometry, downloadOf25MiBHasThreeBlocksAndA2000ByteStateFile) {
    // act
    auto file = openFile(downloadItem(25 * MiB), false);
    // verify
    ASSERT_EQ(file->blockCount(), 3);
    EXPECT_EQ(file->block(0).start(), 0);
    EXPECT_EQ(file->block(0).end(), 10 * MiB);
    EXPECT_EQ(file->block(0).kind(), "01");
    EXPECT_EQ(file->block(1).start(), 10 * MiB);
    EXPECT_EQ(file->block(1).end(), 20 * MiB);
    EXPECT_EQ(file->block(1).kind(), "01");
    EXPECT_EQ(file->block(2).start(), 20 * MiB);
    EXPECT_EQ(file->block(2).end(), 25 * MiB);
    EXPECT_EQ(file->block(2).kind(), "03");
    EXPECT_EQ(fs::file_size(file->statePath()), 2000u);
    EXPECT_EQ(fs::file_size(file->dataPath()), static_cast<std::uintmax_t>(25 * MiB));
    EXPECT_EQ(file->dataPath(), dir_.path() / "recv" / "a.dat.tmp");
    EXPECT_EQ(file->statePath(), dir_.path() / "recv" / "a.dat.tmp.~block");
}

TEST_F(BlockGeometry, exactMultipleOfTheBlockSizeEndsWithTheLastKind) {
    auto file = openFile(downloadItem(20 * MiB), false);
    ASSERT_EQ(file->blockCount(), 2);
    EXPECT_EQ(file->block(1).kind(), "03");
    EXPECT_EQ(file->block(1).end(), 20 * MiB);
}

TEST_F(BlockGeometry, emptyDownloadHasAHeaderOnlyStateFile) {
    auto file = openFile(downloadItem(0), false);
    EXPECT_EQ(file->blockCount(), 0);
    EXPECT_EQ(fs::file_size(file->statePath()), 872u);
    EXPECT_EQ(file->nextBlock(), nullptr);
}

TEST_F(BlockGeometry, uploadOfAnySizeIsOneWholeFileBlock) {
    const std::string content(25 * MiB + 7, 'x');
    auto file = openFile(uploadItem(content), true);
    ASSERT_EQ(file->blockCount(), 1);
    EXPECT_EQ(file->block(0).start(), 0);
    EXPECT_EQ(file->block(0).end(), static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(file->block(0).kind(), "02");
    EXPECT_EQ(file->statePath(), dir_.path() / "send" / "out.dat.~block");
}

TEST_F(BlockGeometry, bulletinsAreReceivedUnderTheBulletFolder) {
    TransferItem item = downloadItem(100);
    item.kind = 2;
    auto file = openFile(item, false);
    EXPECT_EQ(file->dataPath(), dir_.path() / "recv" / "Bullet" / "a.dat.tmp");
}

TEST_F(BlockGeometry, filesOfTwoGiBAreRefusedBeforeAnythingIsWritten) {
    FileBlockInfo file(options());
    EXPECT_FALSE(file.open(downloadItem(std::int64_t{1} << 31), false, "VRELKA", "FTP_A_QS", "04"));
    EXPECT_NE(file.errorText().find("2GB"), std::string::npos) << file.errorText();
    EXPECT_FALSE(fs::exists(dir_.path() / "recv"));
}

TEST_F(BlockGeometry, escapingLocalNamesAreRefusedAndNothingIsWritten) {
    for (const char* name :
         {"../evil.txt", "..\\evil.txt", "/etc/evil", "sub/../../evil", "C:evil"}) {
        FileBlockInfo file(options());
        EXPECT_FALSE(file.open(downloadItem(10, name), false, "VRELKA", "FTP_A_QS", "04")) << name;
        EXPECT_NE(file.errorText().find("拒绝"), std::string::npos) << file.errorText();
    }
    EXPECT_FALSE(fs::exists(dir_.path() / "evil.txt"));
    EXPECT_FALSE(fs::exists(dir_.path() / "recv"));
}

TEST_F(BlockGeometry, missingTextsAreRefused) {
    FileBlockInfo file(options());
    EXPECT_FALSE(file.open(downloadItem(10), false, "", "FTP_A_QS", "04"));
    EXPECT_EQ(file.errorText(), "函数参数传递不正确！");
}

// The bytes of the worked example in doc/formats/block-state.md.
TEST_F(BlockGeometry, uploadStateFileMatchesTheWorkedExample) {
    TransferItem item = uploadItem(std::string(40000, 'u'), "a.txt");
    auto file = openFile(item, true);
    const std::string bytes = readAll(file->statePath());
    ASSERT_EQ(bytes.size(), 1248u);
    auto at = [&](std::size_t offset, std::size_t n) { return bytes.substr(offset, n); };
    EXPECT_EQ(at(0, 6), std::string("a.txt\0", 6));
    EXPECT_EQ(at(520, 7), std::string("VRELKA\0", 7));
    EXPECT_EQ(at(546, 3), std::string("03\0", 3));
    EXPECT_EQ(at(576, 4), std::string("00\0\0", 4));
    EXPECT_EQ(at(592, 8), std::string("\x40\x9c\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(860, 4), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(at(864, 4), std::string("\x05\0\0\0", 4));
    EXPECT_EQ(at(872, 8), std::string(8, '\0'));
    EXPECT_EQ(at(880, 8), std::string("\x40\x9c\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(888, 8), std::string("\x40\x9c\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(900, 2), "02");
    EXPECT_EQ(at(912, 4), std::string("\x01\0\0\0", 4));
    EXPECT_EQ(at(928, 4), std::string(4, '\0'));
    EXPECT_EQ(at(944, 8), std::string("\x00\x40\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(1000, 8), std::string("\x00\x40\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(1064, 8), std::string("\x00\x80\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(1072, 8), std::string("\x40\x1c\0\0\0\0\0\0", 8));
    EXPECT_EQ(at(1120, 4), std::string("\x02\0\0\0", 4));
    EXPECT_EQ(at(1184, 4), std::string("\x02\0\0\0", 4));
    EXPECT_EQ(at(600, 256), std::string(256, '\0'));
}

using BlockWindow = BlockStateFixture;

TEST_F(BlockWindow, firstWindowOfANewBlockHoldsFiveConsecutivePackets) {
    auto file = openFile(downloadItem(25 * MiB), false);
    BlockTask& block = file->block(1);
    std::vector<std::int64_t> offsets;
    while (auto p = file->nextPacket(block)) offsets.push_back(p->offset - block.start());
    EXPECT_EQ(offsets, (std::vector<std::int64_t>{0, 16384, 32768, 49152, 65536}));
    EXPECT_EQ(block.inFlight(), 5);
}

TEST_F(BlockWindow, threePacketBlockLeavesTwoSlotsFinished) {
    auto file = openFile(uploadItem(std::string(40000, 'u')), true);
    BlockTask& block = file->block(0);
    std::vector<std::int64_t> lengths;
    while (auto p = file->nextPacket(block, true)) lengths.push_back(p->length);
    EXPECT_EQ(lengths, (std::vector<std::int64_t>{16384, 16384, 7232}));
    for (std::int64_t offset : {0, 16384, 32768})
        EXPECT_TRUE(file->packetDone(block, offset, CPkgSize::kUploadSlots));
    EXPECT_TRUE(block.allDone());
    EXPECT_EQ(file->bytesDone(), 40000);
}

TEST_F(BlockWindow, fastAnswersGrowAndSlowAnswersShrinkThePacketSize) {
    auto file = openFile(downloadItem(25 * MiB), false);
    BlockTask& block = file->block(0);
    auto p = file->nextPacket(block);
    ASSERT_TRUE(file->markSent(block, *p, "0000000000000100"));
    clock_.advance(std::chrono::seconds(3));
    ASSERT_TRUE(file->packetDone(block, p->offset, CPkgSize::kDownloadSlots));
    EXPECT_EQ(block.packetSize(), 24576);

    // A fresh file starts at 16384 again; an answer after 9 s lowers it.
    auto other = openFile(downloadItem(25 * MiB, "b.dat"), false);
    BlockTask& slow = other->block(0);
    auto q = other->nextPacket(slow);
    ASSERT_TRUE(other->markSent(slow, *q, "0000000000000101"));
    clock_.advance(std::chrono::seconds(9));
    ASSERT_TRUE(other->packetDone(slow, q->offset, CPkgSize::kDownloadSlots));
    EXPECT_EQ(slow.packetSize(), 10922);
}

TEST_F(BlockWindow, growthStopsExactlyAtEachDirectionsLimit) {
    auto up = openFile(uploadItem(std::string(8 * MiB, 'u')), true);
    auto down = openFile(downloadItem(25 * MiB), false);
    for (auto [file, kind, limit] :
         {std::tuple{up.get(), CPkgSize::kUploadSlots, CPkgSize::kMaxUploadPacket},
          std::tuple{down.get(), CPkgSize::kDownloadSlots, CPkgSize::kMaxDownloadPacket}}) {
        BlockTask& block = file->block(0);
        for (int i = 0; i < 30 && !block.allDone(); ++i) {
            auto p = file->nextPacket(block);
            if (!p) break;
            ASSERT_TRUE(file->markSent(block, *p, "1"));
            ASSERT_TRUE(file->packetDone(block, p->offset, kind));
            EXPECT_LE(block.packetSize(), limit);
        }
        EXPECT_EQ(block.packetSize(), limit);
    }
}

TEST_F(BlockWindow, timedOutNamesPacketsSentLimitSecondsAgo) {
    auto file = openFile(downloadItem(MiB), false);
    BlockTask& block = file->block(0);
    auto p = file->nextPacket(block);
    ASSERT_TRUE(file->markSent(block, *p, "7"));
    std::string text;
    clock_.advance(std::chrono::milliseconds(9999));
    EXPECT_FALSE(block.timedOut(10, text));
    clock_.advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(block.timedOut(10, text));
    EXPECT_EQ(text, "交易包出现超时");
    EXPECT_EQ(block.resetInFlight(), 1);
    EXPECT_FALSE(block.timedOut(10, text));
}

TEST_F(BlockWindow, refusedSerialMakesItsPacketReadyAgain) {
    auto file = openFile(downloadItem(MiB), false);
    BlockTask& block = file->block(0);
    auto p = file->nextPacket(block);
    ASSERT_TRUE(file->markSent(block, *p, "0000000000000555"));
    EXPECT_FALSE(block.releaseSerial("0000000000000556"));
    EXPECT_TRUE(block.releaseSerial("0000000000000555"));
    EXPECT_EQ(block.inFlight(), 0);
    EXPECT_FALSE(file->awaiting(block, p->offset));
    EXPECT_FALSE(file->packetDone(block, p->offset, CPkgSize::kDownloadSlots));
    EXPECT_EQ(file->errorText(), "接收文件数据出现错误");
}

using BlockResume = BlockStateFixture;

TEST_F(BlockResume, resumesOnlyTheUnansweredPackets) {
    // setup: three packets sent, the middle one answered, then the process dies
    TransferItem item = downloadItem(25 * MiB);
    {
        auto file = openFile(item, false);
        BlockTask& block = file->block(0);
        for (int i = 0; i < 3; ++i) {
            auto p = file->nextPacket(block);
            ASSERT_TRUE(file->markSent(block, *p, std::to_string(i)));
        }
        ASSERT_TRUE(file->packetDone(block, 16384, CPkgSize::kDownloadSlots));
        file->block(2).setState(kBlockDone);
    }
    // act
    auto file = openFile(item, false);
    // verify
    EXPECT_TRUE(file->resumed());
    EXPECT_EQ(file->bytesDone(), 16384);
    EXPECT_EQ(file->block(2).state(), kBlockDone);
    BlockTask& block = file->block(0);
    EXPECT_EQ(block.inFlight(), 0);
    std::vector<std::int64_t> offsets;
    while (auto p = file->nextPacket(block, true)) offsets.push_back(p->offset);
    // 0 and 32768 again, the refill of the answered slot, and the two never sent.
    EXPECT_EQ(offsets.size(), 5u);
    EXPECT_EQ(offsets[0], 0);
    EXPECT_EQ(offsets[1], 32768);
    EXPECT_TRUE(std::find(offsets.begin(), offsets.end(), 16384) == offsets.end());
}

TEST_F(BlockResume, queuedTakenAndFailedBlocksReturnToIdleWithTheirCountersCleared) {
    TransferItem item = downloadItem(25 * MiB);
    {
        auto file = openFile(item, false);
        file->block(0).setState(kBlockTaken);
        file->block(0).incrementRepeat();
        file->block(1).setState(kBlockFailed);
    }
    auto file = openFile(item, false);
    EXPECT_EQ(file->block(0).state(), kBlockIdle);
    EXPECT_EQ(file->block(0).repeatCount(), 0);
    EXPECT_EQ(file->block(1).state(), kBlockIdle);
}

TEST_F(BlockResume, tmpFileOfTheWrongLengthRestartsFromZero) {
    TransferItem item = downloadItem(MiB);
    {
        auto file = openFile(item, false);
        auto p = file->nextPacket(file->block(0));
        ASSERT_TRUE(file->packetDone(file->block(0), p->offset, CPkgSize::kDownloadSlots));
    }
    fs::resize_file(dir_.path() / "recv" / "a.dat.tmp", 1000);
    auto file = openFile(item, false);
    EXPECT_FALSE(file->resumed());
    EXPECT_EQ(file->bytesDone(), 0);
    EXPECT_EQ(fs::file_size(file->dataPath()), static_cast<std::uintmax_t>(MiB));
    EXPECT_NE(file->errorText().find("对应数据文件大小不正确"), std::string::npos);
}

TEST_F(BlockResume, aTaskThatForbidsResumingStartsOver) {
    TransferItem item = downloadItem(MiB);
    {
        auto file = openFile(item, false);
        auto p = file->nextPacket(file->block(0));
        ASSERT_TRUE(file->packetDone(file->block(0), p->offset, CPkgSize::kDownloadSlots));
    }
    item.allowResume = false;
    auto file = openFile(item, false);
    EXPECT_FALSE(file->resumed());
    EXPECT_EQ(file->bytesDone(), 0);
}

using BlockDispatch = BlockStateFixture;

TEST_F(BlockDispatch, lastBlockRunsAloneAfterAllOthersAreDone) {
    auto file = openFile(downloadItem(35 * MiB), false);
    std::vector<int> claimed;
    while (BlockTask* b = file->claimNextBlock()) claimed.push_back(b->index());
    EXPECT_EQ(claimed, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(file->fileState(), kFileRunning);
    file->block(0).setState(kBlockDone);
    file->block(1).setState(kBlockDone);
    EXPECT_EQ(file->nextBlock(), nullptr);
    file->block(2).setState(kBlockDone);
    ASSERT_NE(file->nextBlock(), nullptr);
    EXPECT_EQ(file->nextBlock()->index(), 3);
    file->block(3).setState(kBlockDone);
    EXPECT_EQ(file->fileState(), kFileComplete);
}

TEST_F(BlockDispatch, fileStateFollowsTheBlocks) {
    auto file = openFile(downloadItem(25 * MiB), false);
    EXPECT_EQ(file->fileState(), kFileIdle);
    file->block(1).setState(kBlockTaken);
    EXPECT_EQ(file->fileState(), kFileRunning);
    EXPECT_TRUE(file->isTaken());
    file->block(0).setState(kBlockFailed);
    EXPECT_EQ(file->fileState(), kFileFailed);
    file->block(0).setState(kBlockDone);
    file->block(1).setState(kBlockDone);
    file->block(2).setState(kBlockFailedFinishing);
    EXPECT_EQ(file->fileState(), kFileLastBlockFailed);
}

TEST_F(BlockDispatch, aLastBlockThatFailedFinishingMoreThanThreeTimesIsNotDispatched) {
    auto file = openFile(downloadItem(5 * MiB), false);
    BlockTask& last = file->block(0);
    last.setState(kBlockFailedFinishing);
    for (int i = 0; i < 4; ++i) last.incrementRepeat();
    EXPECT_EQ(file->nextBlock(), nullptr);
}

using BlockClose = BlockStateFixture;

TEST_F(BlockClose, completeDownloadLosesItsTmpAndStateFiles) {
    auto file = openFile(downloadItem(100), false);
    file->block(0).setState(kBlockDone);
    file->close();
    EXPECT_FALSE(fs::exists(file->dataPath()));
    EXPECT_FALSE(fs::exists(file->statePath()));
}

TEST_F(BlockClose, runningDownloadKeepsBothToResumeLater) {
    auto file = openFile(downloadItem(100), false);
    file->block(0).setState(kBlockQueued);
    file->close();
    EXPECT_TRUE(fs::exists(file->dataPath()));
    EXPECT_TRUE(fs::exists(file->statePath()));
    EXPECT_EQ(readAll(file->statePath())[bs::header::kStopRequest], 1);
}

TEST_F(BlockClose, uploadNeverDeletesItsSource) {
    auto file = openFile(uploadItem("hello"), true);
    file->block(0).setState(kBlockFailed);
    file->close();
    EXPECT_TRUE(fs::exists(file->dataPath()));
    EXPECT_FALSE(fs::exists(file->statePath()));
}

TEST_F(BlockClose, closedFileLeavesNoLinksInItsRecords) {
    auto file = openFile(downloadItem(100), false);
    file->close();
    const std::string bytes = readAll(file->statePath());
    EXPECT_EQ(bytes.substr(bs::recordOffset(0) + bs::task::kFileLink, 8), std::string(8, '\0'));
    EXPECT_FALSE(file->block(0).hasController());
    EXPECT_EQ(file->block(0).state(), kBlockIdle);
}

TEST_F(BlockClose, registryStopsEveryFileOfATask) {
    FileBlockMap map(options());
    std::string error;
    TransferItem a = downloadItem(100, "a.dat");
    TransferItem b = downloadItem(100, "b.dat");
    b.taskId = "20261208093000-00099";
    FileBlockInfo* fa = map.create(a, false, "VRELKA", "FTP_A_QS", "04", error);
    FileBlockInfo* fb = map.create(b, false, "VRELKA", "FTP_A_QS", "04", error);
    ASSERT_TRUE(fa && fb) << error;
    EXPECT_EQ(map.create(a, false, "VRELKA", "FTP_A_QS", "04", error), fa);
    map.requestStop("20261208093000-00042");
    EXPECT_TRUE(fa->stopRequested());
    EXPECT_FALSE(fb->stopRequested());
    map.clearStop("20261208093000-00042");
    EXPECT_FALSE(fa->stopRequested());
    EXPECT_EQ(map.find("nothing", error), nullptr);
    EXPECT_EQ(error, "没有找到相应文件块信息！");
    map.remove({FileBlockMap::keyFor(a, false)});
    EXPECT_EQ(map.size(), 1u);
}

// Corruption: a state file that cannot be trusted is discarded and the transfer starts from
// zero; nothing crashes.
struct Damage {
    const char* what;
    std::function<void(const fs::path&)> apply;
    const char* reason;  // expected in the log line
};

class BlockCorruption : public BlockStateFixture, public ::testing::WithParamInterface<int> {};

void patch(const fs::path& p, std::size_t offset, const std::string& bytes) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
void flip(const fs::path& p, std::size_t offset) {
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    char c = 0;
    f.get(c);
    f.seekp(static_cast<std::streamoff>(offset));
    f.put(static_cast<char>(c ^ 0x5a));
}

const std::vector<Damage>& damages() {
    static const std::vector<Damage> table = {
        // A truncated file (the process died while it was being created).
        {"truncated to 100 bytes", [](const fs::path& p) { fs::resize_file(p, 100); },
         "文件长度不足"},
        {"truncated to nothing", [](const fs::path& p) { fs::resize_file(p, 0); }, "无法打开"},
        {"cut inside the last record", [](const fs::path& p) { fs::resize_file(p, 2000 - 10); },
         "文件长度与块数不符"},
        {"grown by junk", [](const fs::path& p) { fs::resize_file(p, 2010); },
         "文件长度与块数不符"},
        // Lies about lengths and counts.
        {"block count says 4",
         [](const fs::path& p) { patch(p, 860, std::string("\x04\0\0\0", 4)); }, "块数不符"},
        {"block count flipped", [](const fs::path& p) { flip(p, 860); }, "块数不符"},
        {"window size flipped", [](const fs::path& p) { flip(p, 864); }, "窗口大小不符"},
        {"file size flipped", [](const fs::path& p) { flip(p, 594); }, "文件大小不符"},
        {"direction flipped", [](const fs::path& p) { flip(p, 577); }, "传送方向不符"},
        {"remote name flipped", [](const fs::path& p) { flip(p, 0); }, "远程文件名不符"},
        {"bytes done negative", [](const fs::path& p) { patch(p, 591, "\x80"); },
         "已传送字节数不正确"},
        {"block end moved", [](const fs::path& p) { flip(p, 872 + 376 + 9); }, "块边界不正确"},
        {"next offset past the end", [](const fs::path& p) { flip(p, 872 + 23); }, "块边界不正确"},
        {"block kind flipped", [](const fs::path& p) { flip(p, 872 + 28); }, "块类型不正确"},
        {"block state 9", [](const fs::path& p) { patch(p, 872 + 36, "\x09"); }, "块状态不正确"},
        {"slot state 7", [](const fs::path& p) { patch(p, 872 + 56, "\x07"); }, "窗口状态不正确"},
        {"slot length negative", [](const fs::path& p) { patch(p, 872 + 56 + 23, "\x80"); },
         "窗口数据包范围不正确"},
        {"slot offset past next", [](const fs::path& p) { patch(p, 872 + 56 + 12, "\x01"); },
         "窗口数据包范围不正确"},
    };
    return table;
}

TEST_P(BlockCorruption, damagedStateFileRestartsTheDownloadFromZero) {
    const Damage& damage = damages()[static_cast<std::size_t>(GetParam())];
    // setup: a download with progress, then damage to its state file
    TransferItem item = downloadItem(25 * MiB);
    {
        auto file = openFile(item, false);
        auto p = file->nextPacket(file->block(0));
        ASSERT_TRUE(file->writeData(p->offset, "data", 4));
        ASSERT_TRUE(file->packetDone(file->block(0), p->offset, CPkgSize::kDownloadSlots));
    }
    const fs::path state = dir_.path() / "recv" / "a.dat.tmp.~block";
    damage.apply(state);
    // act
    auto file = openFile(item, false);
    // verify
    EXPECT_FALSE(file->resumed()) << damage.what;
    EXPECT_EQ(file->bytesDone(), 0) << damage.what;
    EXPECT_EQ(file->blockCount(), 3);
    EXPECT_EQ(fs::file_size(state), 2000u);
    std::string head(4, 'x');
    std::ifstream(file->dataPath(), std::ios::binary).read(head.data(), 4);
    EXPECT_EQ(head, std::string(4, '\0')) << damage.what;
    ASSERT_FALSE(logLines_.empty()) << damage.what;
    EXPECT_NE(logLines_.back().find(damage.reason), std::string::npos)
        << damage.what << ": " << logLines_.back();
    auto p = file->nextPacket(file->block(0));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->offset, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryDamage, BlockCorruption, ::testing::Range(0, 18));

TEST_F(BlockStateFixture, damagedUploadStateFileRestartsButKeepsTheSource) {
    TransferItem item = uploadItem(std::string(50000, 's'));
    {
        auto file = openFile(item, true);
        auto p = file->nextPacket(file->block(0));
        ASSERT_TRUE(file->packetDone(file->block(0), p->offset, CPkgSize::kUploadSlots));
    }
    fs::resize_file(dir_.path() / "send" / "out.dat.~block", 300);
    auto file = openFile(item, true);
    EXPECT_FALSE(file->resumed());
    EXPECT_EQ(file->bytesDone(), 0);
    EXPECT_EQ(readAll(file->dataPath()), std::string(50000, 's'));
}

TEST_F(BlockStateFixture, unsettledSlotsOfACrashDuringCreationGetTheirPackets) {
    // setup: the state file as it is before the window was laid out (all slots zero)
    TransferItem item = downloadItem(MiB);
    {
        auto file = openFile(item, false);
        file->close();
    }
    const fs::path state = dir_.path() / "recv" / "a.dat.tmp.~block";
    patch(state, 872 + 16, std::string(8, '\0'));       // next offset back to start
    patch(state, 872 + 56, std::string(64 * 5, '\0'));  // slots never written
    // act
    auto file = openFile(item, false);
    // verify: every byte of the block is still handed out
    EXPECT_TRUE(file->resumed());
    std::int64_t total = 0;
    for (int i = 0; i < 200 && !file->block(0).allDone(); ++i) {
        auto p = file->nextPacket(file->block(0));
        ASSERT_TRUE(p);
        total += p->length;
        ASSERT_TRUE(file->markSent(file->block(0), *p, "1"));
        ASSERT_TRUE(file->packetDone(file->block(0), p->offset, CPkgSize::kDownloadSlots));
    }
    EXPECT_EQ(total, MiB);
}

}  // namespace
}  // namespace vantrel::testing
