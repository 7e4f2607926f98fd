// The sliding-window download and upload services against the test gateway.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "client/transfer/block_state_layout.h"
#include "client/transfer/file_block_info.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;

// Sees every request before the file services answer it.
class Spy final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        std::lock_guard lock(mutex);
        if (request.code == "40") {
            Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
            if (body)
                bodies.push_back(
                    {body->a, body->b, body->c, static_cast<std::int64_t>(body->data.size())});
            if (onPacket) onPacket(static_cast<int>(bodies.size()));
        }
        return std::nullopt;
    }
    struct Seen {
        std::int64_t a, b, c, dataSize;
    };
    // A copy taken under the lock: the gateway's threads may still be adding.
    std::vector<Seen> seen() {
        std::lock_guard lock(mutex);
        return bodies;
    }
    std::mutex mutex;
    std::vector<Seen> bodies;
    std::function<void(int)> onPacket;
};

// Answers download packets of "over.dat" with one byte more than asked for.
class OverlongAnswers final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code != "40" || !body || body->c < 0 ||
            filesvc::nameFromWire(body->name1).value() != "over.dat") {
            return std::nullopt;
        }
        testgateway::TransactionAnswer a;
        a.payload = filesvc::encodeBody(body->name1, "", body->a, body->b, body->c + 1,
                                        std::string(body->c + 1, 'o'));
        return a;
    }
};

class BlockTransfer : public TransferGatewayFixture {
  protected:
    void SetUp() override {
        gateway.addService(std::make_shared<OverlongAnswers>());
        gateway.addService(spy);
        TransferGatewayFixture::SetUp();
    }

    std::unique_ptr<FileBlockInfo> openDownload(const std::string& name, std::int64_t size) {
        TransferItem item;
        item.remoteName = name;
        item.localName = name;
        item.localDirectory = root.path() / "recv";
        item.fileSize = size;
        item.taskId = "20261208093000-00042";
        FileBlockInfo::Options o;
        o.clock = &platform::RealClock::instance();
        auto file = std::make_unique<FileBlockInfo>(o);
        EXPECT_TRUE(file->open(item, false, "VRELKA", "FTP_A_QS", "04")) << file->errorText();
        handle->SetRoute("VRELKA", "FTP_A_QS", "04");
        return file;
    }

    std::unique_ptr<FileBlockInfo> openUpload(const std::string& content,
                                              const std::string& name = "u.dat") {
        fs::create_directories(root.path() / "send");
        std::ofstream(root.path() / "send" / name, std::ios::binary) << content;
        TransferItem item;
        item.remoteName = name;
        item.localName = name;
        item.localDirectory = root.path() / "send";
        item.fileSize = static_cast<std::int64_t>(content.size());
        item.taskId = "20261208093000-00042";
        FileBlockInfo::Options o;
        o.clock = &platform::RealClock::instance();
        auto file = std::make_unique<FileBlockInfo>(o);
        EXPECT_TRUE(file->open(item, true, "VRELKA", "FTP_A_QS", "03")) << file->errorText();
        handle->SetRoute("VRELKA", "FTP_A_QS", "03");
        return file;
    }

    std::string tmpBytes(const FileBlockInfo& file) { return readLocal(file.dataPath()); }

    std::shared_ptr<Spy> spy = std::make_shared<Spy>();
};

TEST_F(BlockTransfer, threePacketBlockSendsThreeRequestsAndEndsAfterTheThirdAnswer) {
    const std::string bytes = putRemote("t.dat", 48 * 1024);
    auto file = openDownload("t.dat", 48 * 1024);
    ASSERT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    ASSERT_EQ(spy->seen().size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(spy->seen()[i].b, i * 16384);
        EXPECT_EQ(spy->seen()[i].a, 16384);
        EXPECT_EQ(spy->seen()[i].c, 16384);
    }
    EXPECT_TRUE(tmpBytes(*file) == bytes);
}

TEST_F(BlockTransfer, answerPassingTheFileEndIsRefusedAndNothingIsWritten) {
    auto file = openDownload("over.dat", 1000);
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::PastFileEnd);
    EXPECT_EQ(handle->LastError(), "下载文件[over.dat]-下载数据偏移量超过文件大小！");
    EXPECT_EQ(tmpBytes(*file), std::string(1000, '\0'));
    EXPECT_EQ(file->bytesDone(), 0);
}

// The answer names another offset than asked for, so no in-flight packet matches it; the
// range check alone must fail the block, without waiting for the packet time-out (30 s).
TEST_F(BlockTransfer, answerWithAnOffsetPastTheFileEndFailsAtOnceWithMinus109) {
    putRemote("p.dat", 1000);
    for (int lie : {1, -1}) {  // B + C = S + 1, and B < 0
        auto file = openDownload("p.dat", 1000);
        files->faults().nextOffsetLie = lie;
        EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::PastFileEnd)
            << lie;
        EXPECT_EQ(handle->LastError(), "下载文件[p.dat]-下载数据偏移量超过文件大小！");
        EXPECT_EQ(tmpBytes(*file), std::string(1000, '\0'));
        EXPECT_EQ(file->bytesDone(), 0);
        file->close();
    }
}

// The answer to the packet at 0 claims to be the packet at 16384, which is in flight too.
TEST_F(BlockTransfer, answerThatLiesAboutItsOffsetIsWrittenNowhere) {
    const std::string bytes = putRemote("o.dat", 48 * 1024);
    auto file = openDownload("o.dat", 48 * 1024);
    files->faults().nextOffsetLie = 16384;
    // act: the lie fails the block once the honest answers are in
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "下载文件[o.dat]-下载数据偏移量与请求不符！");
    // verify: packet 0's bytes were not written at 16384, and the packet at 0 is not done
    EXPECT_FALSE(tmpBytes(*file).substr(16384, 16384) == bytes.substr(0, 16384));
    EXPECT_TRUE(tmpBytes(*file).substr(0, 16384) == std::string(16384, '\0'));
    EXPECT_LE(file->bytesDone(), 2 * 16384);
    // the next attempt asks for packet 0 again and completes the block
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_TRUE(tmpBytes(*file) == bytes);
}

TEST_F(BlockTransfer, uploadOf40000BytesSendsThreeCutPackets) {
    const std::string content(40000, 'k');
    auto file = openUpload(content);
    ASSERT_EQ(uploadBlock(*handle, &file->block(0), env.options), GatewayOutcome::Ok)
        << handle->LastError();
    ASSERT_EQ(spy->seen().size(), 3u);
    EXPECT_EQ(spy->seen()[2].b, 32768);
    EXPECT_EQ(spy->seen()[2].c, 7232);
    EXPECT_EQ(spy->seen()[2].a, 40000);
    EXPECT_EQ(spy->seen()[2].dataSize, 7232);
    EXPECT_EQ(readLocal(files->root() / "FTP_A_QS" / "u.dat"), content);
}

TEST_F(BlockTransfer, errorAnswerIsReturnedOnlyAfterTheOtherAnswersAreWritten) {
    const std::string bytes = putRemote("e.dat", 5 * 16384);
    files->faults().failPacket(1, "0015");
    auto file = openDownload("e.dat", 5 * 16384);
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Refused);
    EXPECT_EQ(handle->LastError().rfind("下载文件[e.dat]-0015-无此交易权限[VRELKA-FTP_A_QS-04]", 0),
              0u)
        << handle->LastError();
    EXPECT_EQ(file->block(0).inFlight(), 0);
    // Every packet sent was answered and written, but the refused one.
    const std::int64_t sent = static_cast<std::int64_t>(spy->seen().size());
    EXPECT_EQ(file->bytesDone(), (sent - 1) * 16384);
    // The next call sends the refused packet and those never sent, nothing else.
    ASSERT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_EQ(static_cast<std::int64_t>(spy->seen().size()) - sent, 5 - (sent - 1));
    bool refusedSentAgain = false;
    for (std::size_t i = static_cast<std::size_t>(sent); i < spy->seen().size(); ++i) {
        refusedSentAgain = refusedSentAgain || spy->seen()[i].b == 16384;
    }
    EXPECT_TRUE(refusedSentAgain);
    EXPECT_TRUE(tmpBytes(*file) == bytes);
}

TEST_F(BlockTransfer, lateAnswersAfterE999Or0014DoNotFailTheDownload) {
    for (const char* code : {"E999", "0014"}) {
        const std::string name = std::string("r") + code + ".dat";
        const std::string bytes = putRemote(name, 400000);
        files->faults().failPacket(2, code);
        auto file = openDownload(name, 400000);
        ASSERT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
            << code << ": " << handle->LastError();
        EXPECT_TRUE(tmpBytes(*file) == bytes) << code;
    }
}

TEST_F(BlockTransfer, packetThatCannotBeReadIsNotSent) {
    auto file = openUpload(std::string(40000, 'x'), "short.dat");
    fs::resize_file(root.path() / "send" / "short.dat", 20000);
    EXPECT_EQ(uploadBlock(*handle, &file->block(0), env.options), GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "上传文件服务-读文件失败!");
    for (auto& b : spy->seen()) EXPECT_EQ(b.b, 0) << "only the readable packet went out";
}

TEST_F(BlockTransfer, uploadResendsAfterE999AndGivesUpOn0014) {
    const std::string content(300000, 'w');
    files->faults().failPacket(1, "E999");
    auto file = openUpload(content);
    ASSERT_EQ(uploadBlock(*handle, &file->block(0), env.options), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_EQ(readLocal(files->root() / "FTP_A_QS" / "u.dat"), content);

    files->faults().failPacket(0, "0014");
    auto again = openUpload(std::string(300000, 'v'), "v.dat");
    EXPECT_EQ(uploadBlock(*handle, &again->block(0), env.options), GatewayOutcome::NewSession);
    EXPECT_EQ(handle->LastError(), "上传文件服务-交易返回错误");
}

TEST_F(BlockTransfer, stopRequestLetsInFlightAnswersInThenStops) {
    putRemote("s.dat", 20 * 16384);
    auto file = openDownload("s.dat", 20 * 16384);
    FileBlockInfo* raw = file.get();
    spy->onPacket = [raw](int n) {
        if (n == 2) raw->setStopRequest(true);
    };
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::TaskStopped);
    EXPECT_EQ(handle->LastError(), "用户停止任务！");
    EXPECT_EQ(file->block(0).inFlight(), 0);
    // Everything that was sent was answered and counted.
    std::int64_t sent = 0;
    for (auto& b : spy->seen()) sent += b.c;
    EXPECT_EQ(file->bytesDone(), sent);
}

TEST_F(BlockTransfer, droppedConnectionResendsExactlyTheUnansweredPackets) {
    const std::string bytes = putRemote("d.dat", 3 * 1024 * 1024);
    auto file = openDownload("d.dat", 3 * 1024 * 1024);
    gateway.faults().dropAfterPackets = 6;
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::PeerClosed);
    gateway.faults().dropAfterPackets = 0;
    const std::int64_t kept = file->bytesDone();
    const long long fetchedBefore = files->counters().downloadBytes.load();
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    ASSERT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_TRUE(tmpBytes(*file) == bytes);
    // The second call fetched what was missing, and nothing already answered.
    EXPECT_EQ(files->counters().downloadBytes.load() - fetchedBefore,
              static_cast<long long>(bytes.size()) - kept);
}

TEST_F(BlockTransfer, silentGatewayTimesOutAndTheNextCallResends) {
    const std::string bytes = putRemote("q.dat", 40000);
    handle = makeHandle();
    handle->SetGatewayList({entry(gateway.gatewayPort(), "1")}, 0, "", "OPER01", "pass1234");
    ASSERT_TRUE(handle->LoginToGateway());
    // A first file fills the serial pool, so the wait is for packets, not for numbers.
    putRemote("warm.dat", 100);
    auto warm = openDownload("warm.dat", 100);
    ASSERT_EQ(downloadBlock(warm->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    auto file = openDownload("q.dat", 40000);
    gateway.faults().answerDelayMs = 2500;
    EXPECT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::TimedOut);
    EXPECT_EQ(handle->LastError().rfind("交易超时,下载文件[q.dat]-", 0), 0u) << handle->LastError();
    EXPECT_FALSE(handle->IsLoggedIn());
    gateway.faults().answerDelayMs = 0;
    ASSERT_TRUE(handle->LoginToGateway());
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    ASSERT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    EXPECT_TRUE(tmpBytes(*file) == bytes);
}

TEST_F(BlockTransfer, resumedUploadSendsOnlyTheUnansweredPackets) {
    const std::string content(100000, 'r');
    {
        auto file = openUpload(content);
        BlockTask& block = file->block(0);
        for (int i = 0; i < 3; ++i) {
            auto p = file->nextPacket(block, true);
            ASSERT_TRUE(file->markSent(block, *p, "0"));
        }
        ASSERT_TRUE(file->packetDone(block, 0, CPkgSize::kUploadSlots));
        ASSERT_TRUE(file->packetDone(block, 16384, CPkgSize::kUploadSlots));
    }
    auto file = openUpload(content);
    ASSERT_EQ(uploadBlock(*handle, &file->block(0), env.options), GatewayOutcome::Ok)
        << handle->LastError();
    std::int64_t sent = 0;
    for (auto& b : spy->seen()) {
        EXPECT_GE(b.b, 32768);
        sent += b.c;
    }
    EXPECT_EQ(sent, 100000 - 32768);
}

class ScriptedObserver final : public TransferObserver {
  public:
    void begins(const std::string& name) override { began = name; }
    void progress(const TransferProgressRecord& r) override { records.push_back(r); }
    bool stopPressed() override { return pressStop && !std::exchange(pressed, true); }
    void resumed() override { ++resumes; }
    std::string began;
    std::vector<TransferProgressRecord> records;
    bool pressStop = false;
    bool pressed = false;
    int resumes = 0;
};

class ScriptedPrompt final : public UserPrompt {
  public:
    bool askYesNo(const std::string& caption, const std::string& text, Icon) override {
        asked = caption + "|" + text;
        return answer;
    }
    void show(const std::string&, const std::string&, Icon) override {}
    bool answer = false;
    std::string asked;
};

TEST_F(BlockTransfer, interactiveDownloadReportsProgressAndAsksBeforeCancelling) {
    putRemote("i.dat", 200000);
    auto file = openDownload("i.dat", 200000);
    ScriptedObserver observer;
    ScriptedPrompt prompt;
    observer.pressStop = true;
    prompt.answer = false;
    ASSERT_EQ(downloadBlockInteractive(file->block(0), *handle, env.options, observer, prompt),
              GatewayOutcome::Ok);
    EXPECT_EQ(prompt.asked, "停止下载文件|是否要取消下载?");
    EXPECT_EQ(observer.resumes, 1);
    EXPECT_EQ(observer.began, "i.dat");
    ASSERT_FALSE(observer.records.empty());
    EXPECT_EQ(observer.records.back().bytesDone, 200000);
    EXPECT_EQ(observer.records.back().statusLine,
              "正在接收文件[i.dat](200000B / 200000B ), 请稍候...");

    putRemote("j.dat", 2000000);
    auto other = openDownload("j.dat", 2000000);
    ScriptedObserver cancelling;
    cancelling.pressStop = true;
    prompt.answer = true;
    EXPECT_EQ(downloadBlockInteractive(other->block(0), *handle, env.options, cancelling, prompt),
              GatewayOutcome::Cancelled);
    EXPECT_EQ(other->block(0).inFlight(), 0);
}

TEST_F(BlockTransfer, requestBuilderCutsUploadPacketsAndRefusesBadRequests) {
    VornFileService service(*handle);
    handle->SetRoute("VRELKA", "FTP_A_QS", "03");
    const std::string data(2000, 'p');
    std::string answer;
    std::string serial;
    char flag = '0';
    ASSERT_EQ(service.takeSerial(serial, flag), GatewayOutcome::Ok) << handle->LastError();
    // The last 1000 bytes of a 5000-byte file asked as 2000 bytes go out as 1000.
    ASSERT_EQ(service.sendRequest(serial, flag, "", "cut.dat", 5000, 4000, 2000, data),
              GatewayOutcome::Ok);
    ASSERT_EQ(handle->ReceiveResponse(answer), GatewayOutcome::Ok) << handle->LastError();
    ASSERT_EQ(spy->seen().size(), 1u);
    EXPECT_EQ(spy->seen()[0].c, 1000);
    EXPECT_EQ(spy->seen()[0].dataSize, 1000);
    EXPECT_EQ(service.sendRequest("2026120800000998", '0', "", "cut.dat", 5000, 6000, 10, data),
              GatewayOutcome::BadArguments);
    EXPECT_EQ(handle->LastError(), "偏移量出错!");
    EXPECT_EQ(
        service.sendRequest("2026120800000997", '0', "", std::string(128, 'n'), 5000, 0, 10, data),
        GatewayOutcome::BadArguments);
    EXPECT_EQ(handle->LastError(), "UNICODE出错");
    handle->SetRoute("VRELKA", "FTP_A_QS", "05");
    EXPECT_EQ(service.sendRequest("2026120800000996", '0', "a", "", 0, 0, 0, {}),
              GatewayOutcome::BadArguments);
    EXPECT_EQ(handle->LastError(), "不支持的FTP_TYPE!");
    handle->Disconnect();
    handle->SetRoute("VRELKA", "FTP_A_QS", "04");
    EXPECT_EQ(service.sendRequest("2026120800000995", '0', "a", "", 0, 0, 0, {}),
              GatewayOutcome::Failed);
    EXPECT_EQ(handle->LastError(), "系统未登录!");
}

TEST_F(BlockTransfer, interactiveUploadAsksItsOwnQuestionAndCancels) {
    auto file = openUpload(std::string(3 * 1024 * 1024, 'c'), "cancel.dat");
    ScriptedObserver observer;
    observer.pressStop = true;
    ScriptedPrompt prompt;
    prompt.answer = true;
    EXPECT_EQ(uploadBlockInteractive(*handle, &file->block(0), env.options, observer, prompt),
              GatewayOutcome::Cancelled);
    EXPECT_EQ(prompt.asked, "停止上传文件|是否要取消上传?");
    EXPECT_EQ(file->block(0).inFlight(), 0);
    EXPECT_LT(file->bytesDone(), 3 * 1024 * 1024);
}

TEST_F(BlockTransfer, threeWorkersShareTheBlocksOfOneFile) {
    // setup: one file of four blocks, three workers with their own handles
    const std::string bytes = putRemote("w.dat", 35 * 1024 * 1024 + 5);
    auto file = openDownload("w.dat", static_cast<std::int64_t>(bytes.size()));
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    // act
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back([&] {
            auto h = makeHandle();
            if (!h->LoginToGateway()) {
                ++failures;
                return;
            }
            h->SetRoute("VRELKA", "FTP_A_QS", "04");
            for (int spins = 0; spins < 20000 && file->fileState() != kFileComplete; ++spins) {
                BlockTask* block = file->claimNextBlock();
                if (!block) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
                block->setState(kBlockTaken);
                const GatewayOutcome got = downloadBlock(*block, *h, env.options);
                block->setState(got == GatewayOutcome::Ok ? kBlockDone : kBlockIdle);
                if (got != GatewayOutcome::Ok) ++failures;
            }
        });
    }
    for (auto& t : workers) t.join();
    // verify
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(file->fileState(), kFileComplete);
    EXPECT_EQ(file->bytesDone(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_TRUE(tmpBytes(*file) == bytes);
}

// A user saw 591,279 K/s and 00:00:00 from 45% of a resumed 400 MB file: the speed divided
// the whole file's bytes by the time since the current block began.
TEST_F(BlockTransfer, resumedFileSpeedCountsOnlyTheBytesOfThisSessionAcrossItsBlocks) {
    // setup: three blocks, the first already received by an earlier run
    using blockstate::kBlockSize;
    const std::int64_t size = 2 * kBlockSize + 2 * 16384;
    putRemote("r.dat", static_cast<std::size_t>(size));
    auto file = openDownload("r.dat", size);
    ASSERT_EQ(downloadBlock(file->block(0), *handle, env.options), GatewayOutcome::Ok)
        << handle->LastError();
    platform::FakeClock clock(platform::WallTime{});
    BlockTransferOptions options = env.options;
    options.clock = &clock;
    TransferSession session{clock.tick()};
    options.session = &session;
    // Each answer takes 500 ms of the injected clock, after its record is made.
    struct Pacing final : TransferObserver {
        platform::FakeClock& clock;
        std::vector<TransferProgressRecord> records;
        explicit Pacing(platform::FakeClock& c) : clock(c) {}
        void begins(const std::string&) override {}
        void progress(const TransferProgressRecord& r) override {
            records.push_back(r);
            clock.advance(std::chrono::milliseconds(500));
        }
        bool stopPressed() override { return false; }
        void resumed() override {}
    } observer(clock);
    ScriptedPrompt prompt;
    // act
    for (int b = 1; b <= 2; ++b) {
        ASSERT_EQ(downloadBlockInteractive(file->block(b), *handle, options, observer, prompt),
                  GatewayOutcome::Ok)
            << handle->LastError();
    }
    // verify: at every record, this session's bytes over this session's time
    ASSERT_GT(observer.records.size(), 20u);
    for (std::size_t i : {std::size_t{10}, std::size_t{20}}) {
        const TransferProgressRecord& r = observer.records[i];
        const double moved = static_cast<double>(r.bytesDone - kBlockSize);
        const double seconds = 0.5 * static_cast<double>(i);
        EXPECT_NEAR(std::stod(r.speed), moved / seconds / 1024.0, 0.01) << i;
        const long left = static_cast<long>((size - r.bytesDone) / (moved / seconds));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%02ld:%02ld:%02ld", left / 3600, left / 60 % 60,
                      left % 60);
        EXPECT_EQ(r.remaining, expected) << i;
    }
    // The earlier run's 10 MiB are nobody's speed: counting them would at least double it.
    EXPECT_LT(std::stod(observer.records[10].speed) * 1024.0 * 5.0,
              static_cast<double>(observer.records[10].bytesDone) / 2.0);
    EXPECT_EQ(session.bytesMoved, size - kBlockSize);
}

TEST(ProgressRecord, formatsSpeedAndRemainingTime) {
    const TransferProgressRecord r =
        makeProgressRecord(false, "a.dat", 1024 * 100, 1024 * 1000, 1024 * 100, 10.0);
    EXPECT_EQ(r.speed, "    10.00K");
    EXPECT_EQ(r.remaining, "00:01:30");
    EXPECT_EQ(r.statusLine, "正在发送文件[a.dat](102400B / 1024000B ), 请稍候...");
}

}  // namespace
}  // namespace vantrel::testing
