// The file services against the test gateway: lists, version, delete, rename, and whole
// files moved by hand with their digests checked.

#include <gtest/gtest.h>

#include <condition_variable>

#include "client/transfer/block_state_layout.h"
#include "client/transfer/local_path.h"
#include "platform/files.h"
#include "tests/support/no_space_file_system.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t MiB = 1024 * 1024;

using FileServices = TransferGatewayFixture;
using testgateway::Delivery;

TEST_F(FileServices, listsFilesDirectoriesTodayAndHistory) {
    // setup
    putRemote("a.txt", 10);
    putRemote("b.dat", 2000);
    putRemote("Bullet/n.txt", 5);
    fs::create_directories(files->root() / "FTP_A_QS" / "20261207");
    putRemote("20261207/old.txt", 7);
    // "Today" is the gateway's business date (2026-12-08), whatever the machine's date.
    const auto box = files->root() / "FTP_A_QS";
    const auto onDay = [](int day) { return platform::fromLocalTime({2026, 12, day, 10}); };
    ASSERT_TRUE(platform::setFileTime(box / "a.txt", onDay(8)).isOk());
    ASSERT_TRUE(platform::setFileTime(box / "b.dat", onDay(6)).isOk());
    VornFileService service(*handle);
    std::vector<filesvc::ListEntry> entries;
    // act / verify: all entries of the root
    ASSERT_EQ(service.listFiles("FTP_A_QS", "*.*", entries), GatewayOutcome::Ok)
        << handle->LastError();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "20261207");
    EXPECT_TRUE(entries[0].isDirectory());
    EXPECT_TRUE(entries[1].isDirectory());
    EXPECT_EQ(entries[2].name, "a.txt");
    EXPECT_EQ(entries[2].size, 10);
    EXPECT_EQ(entries[3].name, "b.dat");
    EXPECT_EQ(entries[3].time.size(), 8u);
    // today's files leave out the old one (directories stay)
    ASSERT_EQ(service.listToday("FTP_A_QS", "*.txt", entries), GatewayOutcome::Ok);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "a.txt");
    ASSERT_EQ(service.listFiles("FTP_A_QS", "Bullet\\*.*", entries), GatewayOutcome::Ok);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "n.txt");
    ASSERT_EQ(service.listHistory("FTP_A_QS", "20261207\\*.txt", entries), GatewayOutcome::Ok);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "old.txt");
}

TEST_F(FileServices, versionQueryJoinsDateAndTimeDigits) {
    VornFileService service(*handle);
    std::string version;
    ASSERT_EQ(service.queryVersion("FTP_A_QS", "VERSION", version), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_EQ(version, "20261208093015");
}

TEST_F(FileServices, theGatewayRefusesAndRecordsAListSelectorTheProtocolDoesNotHave) {
    VornFileService service(*handle);
    // act: a list ("00") asking for changes since a version
    EXPECT_NE(service.mailboxRequest("00", "V20261208093015", "FTP_A_QS", "*.*"),
              GatewayOutcome::Ok);
    // verify: refused and recorded; the protocol's own selectors are not
    EXPECT_NE(handle->LastError().find("V20261208093015"), std::string::npos)
        << handle->LastError();
    EXPECT_EQ(files->takeViolations(),
              std::vector<std::string>{"list selector [V20261208093015] in FTP_A_QS"});
    std::vector<filesvc::ListEntry> entries;
    std::string version;
    EXPECT_EQ(service.listToday("FTP_A_QS", "*.*", entries), GatewayOutcome::Ok);
    EXPECT_EQ(service.listFiles("FTP_A_QS", "*.*", entries), GatewayOutcome::Ok);
    EXPECT_EQ(service.queryVersion("FTP_A_QS", "FTP_A_QS\\*.*", version), GatewayOutcome::Ok);
    EXPECT_TRUE(files->takeViolations().empty());
}

TEST_F(FileServices, listOfAMissingDirectoryCarriesTheTitleAndSerial) {
    VornFileService service(*handle);
    std::vector<filesvc::ListEntry> entries;
    EXPECT_NE(service.listFiles("FTP_A_QS", "nope\\*.*", entries), GatewayOutcome::Ok);
    EXPECT_EQ(handle->LastError().rfind("查询文件列表-失败(交易序列号:", 0), 0u)
        << handle->LastError();
    EXPECT_NE(handle->LastError().find("目录不存在"), std::string::npos);
}

TEST_F(FileServices, deleteAndRenameChangeTheMailbox) {
    putRemote("a.txt", 10);
    putRemote("b.txt", 10);
    VornFileService service(*handle);
    EXPECT_EQ(service.mailboxRequest(filesvc::kRename, "c.txt", "FTP_A_QS", "a.txt"),
              GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_EQ(service.mailboxRequest(filesvc::kDelete, "", "FTP_A_QS", "b.txt"), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_TRUE(fs::exists(files->root() / "FTP_A_QS" / "c.txt"));
    EXPECT_FALSE(fs::exists(files->root() / "FTP_A_QS" / "a.txt"));
    EXPECT_FALSE(fs::exists(files->root() / "FTP_A_QS" / "b.txt"));
    EXPECT_EQ(service.mailboxRequest(filesvc::kDelete, "", "FTP_A_QS", "b.txt"),
              GatewayOutcome::Refused);
    EXPECT_NE(handle->LastError().find("文件不存在"), std::string::npos);
}

TEST_F(FileServices, multiBlockDownloadArrivesByteExactAndLeavesNothingBehind) {
    const std::string bytes = putRemote("big.dat", static_cast<std::size_t>(21 * MiB + 123));
    std::string error;
    ASSERT_EQ(
        downloadFile(*handle, downloadRequest("big.dat", static_cast<std::int64_t>(bytes.size())),
                     env, error),
        GatewayOutcome::Ok)
        << error;
    EXPECT_TRUE(readLocal(root.path() / "recv" / "big.dat") == bytes);
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "big.dat.tmp"));
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "big.dat.tmp.~block"));
    EXPECT_EQ(files->counters().downloadBytes.load(), static_cast<long long>(bytes.size()));
}

// Watches the download requests that reach the gateway: the highest offset asked for so
// far, and on cue the connection ends at the first request at or past an offset.
class RequestWatch final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code != "40" || !body || body->c <= 0) return std::nullopt;
        std::lock_guard lock(mutex_);
        highest_ = std::max<std::int64_t>(highest_, body->b);
        changed_.notify_all();
        if (dropFrom_ > 0 && body->b >= dropFrom_) {
            dropFrom_ = 0;
            testgateway::TransactionAnswer drop;
            drop.delivery = Delivery::kDrop;
            return drop;
        }
        return std::nullopt;
    }
    void dropAtFirstRequestFrom(std::int64_t offset) {
        std::lock_guard lock(mutex_);
        dropFrom_ = offset;
    }
    // True once a request at or past `offset` arrived, waiting up to 20 s for it.
    bool waitForRequestFrom(std::int64_t offset) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return highest_ >= offset; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::int64_t highest_ = -1;
    std::int64_t dropFrom_ = 0;
};

// Holds the write of each block's final packet until the gateway has a request of the
// next block, and records whether it came while this block still had an answer to take.
class BoundaryGate final : public platform::FileSystemWrapper {
  public:
    explicit BoundaryGate(RequestWatch& watch)
        : FileSystemWrapper(platform::FileSystem::real()), watch_(watch) {}
    Result<std::unique_ptr<platform::File>> open(const std::filesystem::path& path,
                                                 platform::OpenMode mode) override {
        Result<std::unique_ptr<platform::File>> file = target().open(path, mode);
        if (!file) return file;
        return std::unique_ptr<platform::File>(
            std::make_unique<Gated>(std::move(file.value()), *this));
    }
    std::vector<bool> early;  // per block boundary, in order; written on the client thread

  private:
    class Gated final : public platform::FileWrapper {
      public:
        Gated(std::unique_ptr<platform::File> file, BoundaryGate& gate)
            : FileWrapper(std::move(file)), gate_(gate) {}
        Status writeAt(std::int64_t offset, const void* bytes, std::size_t length) override {
            const std::int64_t end = offset + static_cast<std::int64_t>(length);
            if (length > 0 && end % blockstate::kBlockSize == 0)
                gate_.early.push_back(gate_.watch_.waitForRequestFrom(end));
            return FileWrapper::writeAt(offset, bytes, length);
        }

      private:
        BoundaryGate& gate_;
    };
    RequestWatch& watch_;
};

class BlockBoundaries : public TransferGatewayFixture {
  protected:
    void SetUp() override {
        gateway.addService(watch);
        TransferGatewayFixture::SetUp();
    }
    std::shared_ptr<RequestWatch> watch = std::make_shared<RequestWatch>();
};

TEST_F(BlockBoundaries, oneConnectionAsksForTheNextBlockBeforeTakingTheLastAnswerOfTheCurrent) {
    // setup: three blocks, the last a short one
    const std::int64_t size = 2 * blockstate::kBlockSize + 4097;
    const std::string bytes = putRemote("p.dat", static_cast<std::size_t>(size));
    BoundaryGate gate(*watch);
    env.files = &gate;
    // Serial numbers for the whole file up front: a batch asked for mid-file would be answered
    // behind the answer the gate holds, and the next block's request would wait for both.
    ASSERT_TRUE(handle->IsLoggedIn() || handle->LoginToGateway()) << handle->LastError();
    ASSERT_EQ(handle->RequestTransSerials(kMailboxOrganisation, "FTP_A_QS",
                                          std::string(filesvc::kDownload), 500, handle->Serials()),
              GatewayOutcome::Ok)
        << handle->LastError();
    // act
    std::string error;
    ASSERT_EQ(downloadFile(*handle, downloadRequest("p.dat", size), env, error), GatewayOutcome::Ok)
        << error;
    // verify: both boundaries were crossed with the next block already asked for, and no
    // packet was asked for twice
    EXPECT_EQ(gate.early, (std::vector<bool>{true, true}));
    EXPECT_TRUE(readLocal(root.path() / "recv" / "p.dat") == bytes);
    EXPECT_EQ(files->counters().downloadBytes.load(), size);
}

TEST_F(BlockBoundaries, downloadDroppedRightAtABlockBoundaryResumesFromItsBlockState) {
    // setup
    const std::int64_t size = 2 * blockstate::kBlockSize + 4097;
    const std::string bytes = putRemote("d.dat", static_cast<std::size_t>(size));
    const fs::path state = root.path() / "recv" / "d.dat.tmp.~block";
    std::string error;
    // act: the connection ends at the first request of the second block, with no attempt
    // left; the state kept on disk is all the next run has
    watch->dropAtFirstRequestFrom(blockstate::kBlockSize);
    env.attempts = 1;
    EXPECT_NE(downloadFile(*handle, downloadRequest("d.dat", size), env, error),
              GatewayOutcome::Ok);
    ASSERT_TRUE(fs::exists(state));
    // act: the next run loses its connection at the last block's first request and
    // finishes on its retry
    watch->dropAtFirstRequestFrom(2 * blockstate::kBlockSize);
    env.attempts = 3;
    ASSERT_EQ(downloadFile(*handle, downloadRequest("d.dat", size), env, error), GatewayOutcome::Ok)
        << error;
    // verify: the file is whole (its digest was checked too) and its state is gone
    EXPECT_TRUE(readLocal(root.path() / "recv" / "d.dat") == bytes);
    EXPECT_FALSE(fs::exists(state));
}

TEST_F(FileServices, uploadArrivesByteExactAndItsDigestIsChecked) {
    std::string bytes(3 * MiB + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 1000);
    fs::create_directories(root.path() / "send");
    std::ofstream(root.path() / "send" / "up.dat", std::ios::binary) << bytes;
    ManualTransferRequest r;
    r.mailbox = "FTP_A_QS";
    r.remoteName = "up.dat";
    r.localFile = root.path() / "send" / "up.dat";
    std::string error;
    ASSERT_EQ(uploadFile(*handle, r, env, error), GatewayOutcome::Ok) << error;
    EXPECT_TRUE(readLocal(files->root() / "FTP_A_QS" / "up.dat") == bytes);
    EXPECT_FALSE(fs::exists(root.path() / "send" / "up.dat.~block"));
    EXPECT_TRUE(fs::exists(root.path() / "send" / "up.dat"));
    EXPECT_EQ(files->counters().md5Queries.load(), 1);
}

TEST_F(FileServices, emptyFilesTravelBothWays) {
    putRemote("empty.txt", 0);
    std::string error;
    ASSERT_EQ(downloadFile(*handle, downloadRequest("empty.txt", 0), env, error),
              GatewayOutcome::Ok)
        << error;
    EXPECT_EQ(fs::file_size(root.path() / "recv" / "empty.txt"), 0u);
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "empty.txt.tmp.~block"));
    fs::create_directories(root.path() / "send");
    std::ofstream(root.path() / "send" / "zero.txt").flush();
    ManualTransferRequest r;
    r.mailbox = "FTP_A_QS";
    r.remoteName = "zero.txt";
    r.localFile = root.path() / "send" / "zero.txt";
    ASSERT_EQ(uploadFile(*handle, r, env, error), GatewayOutcome::Ok) << error;
    EXPECT_TRUE(fs::exists(files->root() / "FTP_A_QS" / "zero.txt"));
}

TEST_F(FileServices, corruptedPacketFailsTheDigestAndTheFileIsNotDelivered) {
    const std::string bytes = putRemote("c.dat", 300000);
    files->faults().corruptNextDownload = true;
    std::string error;
    EXPECT_EQ(downloadFile(*handle, downloadRequest("c.dat", 300000), env, error),
              GatewayOutcome::Failed);
    EXPECT_EQ(error,
              "文件:c.dat校验错误,下载的文件可能被破坏。\n\r请不要使用断点续传功能重新下载该文件!");
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "c.dat"));
    // The progress was discarded: the next run fetches everything again and succeeds.
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "c.dat.tmp.~block"));
    ASSERT_EQ(downloadFile(*handle, downloadRequest("c.dat", 300000), env, error),
              GatewayOutcome::Ok)
        << error;
    EXPECT_TRUE(readLocal(root.path() / "recv" / "c.dat") == bytes);
}

TEST_F(FileServices, aSizeLieIsNeverDeliveredAsGood) {
    putRemote("l.dat", 50000);
    for (int lie : {1000, -1000}) {
        files->faults().sizeLie = lie;
        VornFileService service(*handle);
        std::vector<filesvc::ListEntry> entries;
        ASSERT_EQ(service.listFiles("FTP_A_QS", "l.dat", entries), GatewayOutcome::Ok)
            << handle->LastError();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].size, 50000 + lie);
        std::string error;
        EXPECT_NE(downloadFile(*handle, downloadRequest("l.dat", entries[0].size), env, error),
                  GatewayOutcome::Ok)
            << lie;
        EXPECT_FALSE(fs::exists(root.path() / "recv" / "l.dat")) << lie;
    }
}

TEST_F(FileServices, remoteNamesThatLeaveTheReceiveDirectoryAreRefused) {
    std::string error;
    for (const char* name : {"..\\..\\evil.txt", "/etc/passwd", "sub/../../evil"}) {
        ManualTransferRequest r = downloadRequest(name, 10);
        // remoteBaseName keeps only the last component; a bare ".." is refused.
        r.remoteName = name;
        (void)downloadFile(*handle, r, env, error);
    }
    EXPECT_NE(downloadFile(*handle, downloadRequest("..", 10), env, error), GatewayOutcome::Ok);
    EXPECT_NE(error.find("拒绝"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(root.path() / "evil.txt"));
    EXPECT_FALSE(fs::exists(root.path().parent_path() / "evil.txt"));
}

TEST_F(FileServices, md5QueryOnlyOnTheTransferRoutes) {
    putRemote("m.txt", 100);
    fs::create_directories(root.path() / "x");
    std::ofstream(root.path() / "x" / "m.txt", std::ios::binary) << std::string(100, 'q');
    VornFileService service(*handle);
    handle->SetRoute("VRELKA", "FTP_A_QS", "02");
    EXPECT_EQ(service.md5Check(root.path() / "x" / "m.txt", "m.txt", 100), -1);
    EXPECT_EQ(handle->LastError(), "Md5校验类型不正确[02]失败!");
}

// A gateway that declares more than it sends and keeps the connection open costs one
// answer time-out per attempt (TimeOut = 1 here), then the usual retry path takes over.
TEST_F(FileServices, halfSentAnswerTimesOutWithinTheAnswerTimeOut) {
    const std::string bytes = putRemote("h.dat", 100000);
    handle = std::make_unique<CVornFtp>(context(), process);
    handle->SetGatewayList({entry(gateway.gatewayPort(), "1")}, 0, "", "OPER01", "pass1234");
    ASSERT_TRUE(handle->LoginToGateway()) << handle->LastError();
    VornFileService service(*handle);
    std::vector<filesvc::ListEntry> entries;
    for (Delivery spoiled : {Delivery::kHalfThenStall, Delivery::kLongerThanSent}) {
        // act: a list answer cut short
        files->faults().nextListDelivery = spoiled;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(service.listFiles("FTP_A_QS", "*.*", entries), GatewayOutcome::TimedOut);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        RecordProperty(spoiled == Delivery::kHalfThenStall ? "halfSentListSeconds"
                                                           : "longerThanSentListSeconds",
                       std::to_string(seconds));
        // verify: the receive's own text, and the next call logs in again and lists
        EXPECT_NE(handle->LastError().find("接收超时"), std::string::npos) << handle->LastError();
        EXPECT_FALSE(handle->IsLoggedIn());
        EXPECT_EQ(service.listFiles("FTP_A_QS", "*.*", entries), GatewayOutcome::Ok)
            << handle->LastError();
        EXPECT_EQ(entries.size(), 2u);  // Bullet, h.dat
    }
    // A data packet and the digest answer cut short: each attempt is retried, and the file
    // arrives whole in one run without being fetched twice.
    files->faults().nextDownloadDelivery = Delivery::kHalfThenStall;
    files->faults().nextMd5Delivery = Delivery::kLongerThanSent;
    std::string error;
    ASSERT_EQ(downloadFile(*handle, downloadRequest("h.dat", 100000), env, error),
              GatewayOutcome::Ok)
        << error;
    EXPECT_TRUE(readLocal(root.path() / "recv" / "h.dat") == bytes);
    EXPECT_EQ(files->counters().md5Queries.load(), 2);
}

// Only a digest that differs may discard a finished download; a lost answer keeps it.
TEST_F(FileServices, lostMd5AnswerKeepsTheCompleteDownloadAndALaterRunOnlyVerifies) {
    const std::string bytes = putRemote("k.dat", static_cast<std::size_t>(21 * MiB));
    env.attempts = 1;
    for (Delivery lost : {Delivery::kDrop, Delivery::kUndecryptable}) {
        // setup: every block arrives, the digest answer does not
        files->faults().nextMd5Delivery = lost;
        const long long fetchedBefore = files->counters().downloadBytes.load();
        std::string error;
        // act
        EXPECT_EQ(downloadFile(*handle, downloadRequest("k.dat", 21 * MiB), env, error),
                  GatewayOutcome::NotVerified);
        // verify: nothing delivered, nothing discarded
        EXPECT_FALSE(fs::exists(root.path() / "recv" / "k.dat"));
        EXPECT_EQ(fs::file_size(root.path() / "recv" / "k.dat.tmp"),
                  static_cast<std::uintmax_t>(21 * MiB));
        EXPECT_TRUE(fs::exists(root.path() / "recv" / "k.dat.tmp.~block"));
        EXPECT_EQ(files->counters().downloadBytes.load() - fetchedBefore,
                  lost == Delivery::kDrop ? 21 * MiB : 0)
            << "the second round resumes the finished file and only asks for its digest";
        if (lost == Delivery::kUndecryptable) {
            // The receive's own reason, never bytes of the undecrypted answer.
            EXPECT_EQ(error, "接收数据失败，失败原因:解密数据失败,KLAV_Decrypt() failed!");
        }
    }
    // A later run only verifies, then delivers.
    const long long fetchedBefore = files->counters().downloadBytes.load();
    std::string error;
    ASSERT_EQ(downloadFile(*handle, downloadRequest("k.dat", 21 * MiB), env, error),
              GatewayOutcome::Ok)
        << error;
    EXPECT_EQ(files->counters().downloadBytes.load(), fetchedBefore);
    EXPECT_TRUE(readLocal(root.path() / "recv" / "k.dat") == bytes);
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "k.dat.tmp"));
    EXPECT_FALSE(fs::exists(root.path() / "recv" / "k.dat.tmp.~block"));
}

TEST_F(FileServices, undecryptableAnswerReportsTheReceiveErrorNotCiphertext) {
    putRemote("d.dat", 10);
    VornFileService service(*handle);
    std::vector<filesvc::ListEntry> entries;
    files->faults().nextListDelivery = Delivery::kUndecryptable;
    EXPECT_EQ(service.listFiles("FTP_A_QS", "*.*", entries), GatewayOutcome::Failed);
    const std::string text = handle->LastError();
    EXPECT_EQ(text.substr(0, text.find('(')), "查询文件列表-失败") << text;
    EXPECT_EQ(text.substr(text.find(')') + 1), ",解密数据失败,KLAV_Decrypt() failed!") << text;
}

// Gateway names are at most 127 characters, so a long name is a Chinese one: 82 characters
// of 3 bytes and one ASCII letter make 247 bytes, whose "<name>.tmp.~block" would be 258.
TEST_F(FileServices, longNamesDownloadWithTheirStateFilesWithinTheNameLimit) {
    std::string chinese;
    for (int i = 0; i < 84; ++i) chinese += "文";
    for (const std::string& name : {chinese.substr(0, 82 * 3) + "x", chinese + "y"}) {
        ASSERT_LE(name.size(), kLocalNameLimit);
        const std::string bytes = putRemote(name, 70000);
        std::string error;
        ASSERT_EQ(downloadFile(*handle, downloadRequest(name, 70000), env, error),
                  GatewayOutcome::Ok)
            << name.size() << ": " << error;
        EXPECT_TRUE(readLocal(root.path() / "recv" / name) == bytes);
        fs::remove(root.path() / "recv" / name);
        EXPECT_TRUE(fs::is_empty(root.path() / "recv"))
            << "nothing left behind for " << name.size() << " bytes";
    }
    // A name the local file system cannot hold is refused before anything is created.
    std::string error;
    EXPECT_EQ(downloadFile(*handle, downloadRequest(chinese + "文z", 10), env, error),
              GatewayOutcome::BadArguments);
    EXPECT_NE(error.find("超过本地文件名上限255字节"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(root.path() / "recv"));
}

// The disk fills at the sizing of the ".tmp", at a block-state flush or at a data write:
// each run ends with the system's reason, delivers nothing, and a run with space completes
// byte-exact from what the full-disk runs kept.
TEST_F(FileServices, fullDiskDuringADownloadFailsClearlyAndALaterRunCompletes) {
    const std::string bytes = putRemote("f.dat", 200000);
    testing::NoSpaceFileSystem disk;
    env.files = &disk;
    for (int n = 1; n <= 12; ++n) {
        disk.failFrom(n);
        std::string error;
        EXPECT_NE(downloadFile(*handle, downloadRequest("f.dat", 200000), env, error),
                  GatewayOutcome::Ok)
            << n;
        EXPECT_NE(error.find("磁盘空间不足"), std::string::npos) << n << ": " << error;
        EXPECT_FALSE(fs::exists(root.path() / "recv" / "f.dat")) << n;
        disk.spaceBack();
    }
    std::string error;
    ASSERT_EQ(downloadFile(*handle, downloadRequest("f.dat", 200000), env, error),
              GatewayOutcome::Ok)
        << error;
    EXPECT_TRUE(readLocal(root.path() / "recv" / "f.dat") == bytes);
}

}  // namespace
}  // namespace vantrel::testing
