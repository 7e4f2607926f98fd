// The real-time report service against the loopback gateway: reports arrive as they are
// published, a lost ".flag" is recovered through "sshbrev_back", the queue stays within its
// limit and fetches nothing twice, an interrupted fetch resumes, names never leave the
// receive directory, the packet size follows the answers, the manual receive, and the stop.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "client/execution/realtime/realtime_manual.h"
#include "client/execution/realtime/realtime_reports.h"
#include "client/execution/realtime/realtime_service.h"
#include "client/execution/runs/plan_thread_mgr.h"
#include "client/transfer/local_path.h"
#include "tests/transfer/transfer_gateway_fixture.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

constexpr const char* kDay = "20261208";

// A clock whose monotonic tick moves by `step` at every reading: an exchange reads it
// before and after, so `step` is how long each answer appears to take.
class SteppingClock final : public platform::Clock {
  public:
    platform::WallTime now() const override { return std::chrono::system_clock::now(); }
    platform::Tick tick() const override {
        std::lock_guard lock(mutex_);
        tick_ += step;
        return tick_;
    }
    milliseconds step{0};

  private:
    mutable std::mutex mutex_;
    mutable platform::Tick tick_{};
};

class RealtimeServiceTest : public TransferGatewayFixture {
  protected:
    RealtimeServiceTest() : clock(platform::fromLocalTime({2026, 12, 8, 10, 0, 0, 0, 2})) {}

    void SetUp() override {
        TransferGatewayFixture::SetUp();
        fs::create_directories(installation.localconfig());
    }
    void TearDown() override {
        stopThreads();
        TransferGatewayFixture::TearDown();
    }

    Context serviceContext() {
        Context c = context();
        c.clock = &clock;
        return c;
    }

    RealtimeService::Options options() {
        RealtimeService::Options o;
        o.makeSession = [this]() -> std::unique_ptr<CVornFtp> { return makeHandle(); };
        o.waitStep = milliseconds(5);
        o.idlePause = milliseconds(5);
        o.emptyPause = milliseconds(5);
        o.loginBackoffLimit = milliseconds(50);
        o.localList = localList;
        return o;
    }

    void startThreads() {
        service = std::make_unique<RealtimeService>(serviceContext(), days, options());
        service->startAsConfigured();
        traversal = std::thread([this] { service->traversalThread(stop); });
        download = std::thread([this] { service->downloadThread(stop); });
    }
    void stopThreads() {
        stop.set();
        if (traversal.joinable()) traversal.join();
        if (download.joinable()) download.join();
    }

    std::string publish(const std::string& name, std::size_t size, const char* day = kDay) {
        return putRemote(std::string(day) + "/" + name, size, "FTP_SSHB");
    }
    fs::path received(const std::string& name) { return root.path() / "sshbrev" / name; }

    // Moves the service's clock on by half a minute at a time until `done` holds; false when
    // it never does within the bound.
    template <class Done>
    bool advanceUntil(Done done, int rounds = 1500) {
        for (int i = 0; i < rounds; ++i) {
            if (done()) return true;
            clock.advance(milliseconds(30000));
            std::this_thread::sleep_for(milliseconds(10));
        }
        return done();
    }
    bool arrived(const std::string& name) {
        std::error_code ec;
        return fs::exists(realtime::flagPathOf(received(name)), ec);
    }
    std::string realtimeLog() {
        auto text =
            platform::readFile(logs.sssjLogPath(platform::RealClock::instance().localNow()));
        return text ? platform::gbkToUtf8Lossy(text.value()) : std::string();
    }

    platform::FakeClock clock;
    DayClock days{clock};
    platform::Event stop{platform::Event::Reset::Manual};
    FileMemList* localList = nullptr;
    std::unique_ptr<RealtimeService> service;
    std::thread traversal;
    std::thread download;
};

TEST_F(RealtimeServiceTest, reportsArriveAsTheyArePublishedWithFlagsOnlyForCompleteOnes) {
    // setup: two published reports, one still being published, one whose name climbs out
    const std::string first = publish("rpt_a.txt", 3000);
    publish("rpt_b.txt", 70000);
    const std::string partial = publish("rpt_c.txt", 500);
    std::ofstream(files->root() / "FTP_SSHB" / kDay / "rpt_c.txt.publishing").put('x');
    publish("..\\escape.txt", 10);

    // act
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_a.txt") && arrived("rpt_b.txt"); }));
    ASSERT_TRUE(advanceUntil([&] { return fs::exists(received("rpt_c.txt")); }));

    // verify: whole files, a flag that records the gateway's digest, none for rpt_c
    EXPECT_EQ(readLocal(received("rpt_a.txt")), first);
    auto flag = realtime::parseFlag(readLocal(realtime::flagPathOf(received("rpt_a.txt"))));
    ASSERT_TRUE(flag.isOk()) << flag.status().text();
    EXPECT_EQ(flag->size, 3000);
    EXPECT_EQ(flag->md5.size(), 32u);
    EXPECT_FALSE(fs::exists(realtime::flagPathOf(received("rpt_c.txt"))));
    EXPECT_FALSE(fs::exists(root.path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(root.path() / "sshbrev" / "escape.txt"));

    // act: a report published later arrives at a later pass; the one still being
    // published, unchanged, is not fetched again at every pass
    const std::string later = publish("rpt_d.txt", 1200);
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_d.txt"); }));
    EXPECT_EQ(readLocal(received("rpt_d.txt")), later);
    const int packetsBefore = files->counters().downloadPackets.load();
    for (int i = 0; i < 5; ++i) advanceUntil([] { return false; }, 1);
    EXPECT_EQ(files->counters().downloadPackets.load(), packetsBefore)
        << "an unchanged report being published is fetched again";

    // verify: the view's records
    const RealtimeSnapshot view = service->snapshot();
    EXPECT_EQ(view.statusText, "实时回报服务状态:运行");
    auto stateOf = [&](const std::string& name) {
        for (const auto& r : view.records)
            if (r.fileName == name) return r.state;
        return std::string("(none)");
    };
    EXPECT_EQ(stateOf("rpt_a.txt"), "完成下载");
    EXPECT_EQ(stateOf("rpt_c.txt"), "正在推送");
    EXPECT_EQ(stateOf("..\\escape.txt"), "出现错误");
    EXPECT_THAT(realtimeLog(), ::testing::HasSubstr("下载文件[rpt_d.txt]成功"));
}

// Regression: after a restart the view showed the day's reports without their 更新时间 and
// 更新结果 until each was fetched again.
TEST_F(RealtimeServiceTest, aRestartShowsEachKeptReportsUpdateTimeAndResultAsBefore) {
    // setup: a run of the service with its local list fetches two reports
    publish("rpt_a.txt", 3000);
    publish("rpt_b.txt", 5000);
    const fs::path listFile = root.path() / "filememlist.data";
    auto list = std::make_unique<FileMemList>();
    ASSERT_TRUE(list->open(listFile)) << list->errorText();
    localList = list.get();
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_a.txt") && arrived("rpt_b.txt"); }));
    auto lineOf = [&](const std::string& name) -> std::optional<RealtimeReportRecord> {
        for (const RealtimeReportRecord& r : service->snapshot().records)
            if (r.fileName == name) return r;
        return std::nullopt;
    };
    ASSERT_TRUE(advanceUntil([&] {
        const auto a = lineOf("rpt_a.txt");
        const auto b = lineOf("rpt_b.txt");
        return a && b && !a->downloadTime.empty() && !b->downloadTime.empty();
    }));
    const RealtimeReportRecord before[] = {*lineOf("rpt_a.txt"), *lineOf("rpt_b.txt")};
    const int packets = files->counters().downloadPackets.load();

    // act: the client stops and starts again with the list it kept on disk
    stopThreads();
    list.reset();
    stop.reset();
    list = std::make_unique<FileMemList>();
    ASSERT_TRUE(list->open(listFile)) << list->errorText();
    localList = list.get();
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return lineOf("rpt_a.txt") && lineOf("rpt_b.txt"); }));

    // verify: the same lines, and nothing fetched again
    for (const RealtimeReportRecord& was : before) {
        SCOPED_TRACE(was.fileName);
        const auto now = lineOf(was.fileName);
        ASSERT_TRUE(now);
        EXPECT_EQ(now->state, was.state);
        EXPECT_EQ(now->downloadTime, was.downloadTime);
        EXPECT_EQ(now->result, was.result);
        EXPECT_EQ(now->recordCount, was.recordCount);
    }
    EXPECT_EQ(files->counters().downloadPackets.load(), packets);
    stopThreads();
    localList = nullptr;
}

TEST_F(RealtimeServiceTest, aDeletedFlagMovesTheDataAsideAndBothAreFetchedAgain) {
    // setup
    const std::string bytes = publish("rpt_a.txt", 4000);
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_a.txt"); }));

    // act
    fs::remove(realtime::flagPathOf(received("rpt_a.txt")));
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_a.txt"); }));

    // verify
    EXPECT_EQ(readLocal(received("rpt_a.txt")), bytes);
    EXPECT_EQ(readLocal(root.path() / "sshbrev" / "sshbrev_back" / "rpt_a.txt"), bytes);
    EXPECT_THAT(realtimeLog(), ::testing::HasSubstr("对应数据文件或者标志文件不存在"));
}

TEST_F(RealtimeServiceTest, aRefusedDownloadLoginIsLoggedOnceAndTheReportStaysQueued) {
    // setup: the traversal logs in and queues; the download thread's password is wrong
    publish("rpt_a.txt", 100);
    std::atomic<bool> wrongPassword{false};
    RealtimeService::Options o = options();
    o.makeSession = [&]() -> std::unique_ptr<CVornFtp> {
        return wrongPassword ? makeHandle("OPER01", "wrong") : makeHandle();
    };
    service = std::make_unique<RealtimeService>(serviceContext(), days, o);
    service->startAsConfigured();
    traversal = std::thread([this] { service->traversalThread(stop); });
    ASSERT_TRUE(advanceUntil([&] { return service->pendingCount() == 1; }, 500));
    wrongPassword = true;

    // act
    download = std::thread([this] { service->downloadThread(stop); });
    ASSERT_TRUE(advanceUntil([&] { return gateway.counters().refusedLogins.load() >= 4; }, 500));
    stopThreads();

    // verify
    const std::string log = realtimeLog();
    std::size_t lines = 0;
    for (std::size_t at = log.find("登陆服务器失败"); at != std::string::npos;
         at = log.find("登陆服务器失败", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u);
    EXPECT_EQ(service->pendingCount(), 1u);
}

TEST_F(RealtimeServiceTest, theQueueNeverHoldsMoreThanFiveAndNothingIsFetchedTwice) {
    // setup: twelve reports and a gateway slow enough that the queue fills
    for (int i = 0; i < 12; ++i) publish("rpt_" + std::to_string(i) + ".txt", 100 + i);
    gateway.faults().answerDelayMs = 20;

    // act
    startThreads();
    std::size_t most = 0;
    const bool all = advanceUntil([&] {
        most = std::max(most, service->pendingCount());
        for (int i = 0; i < 12; ++i)
            if (!arrived("rpt_" + std::to_string(i) + ".txt")) return false;
        return true;
    });

    // verify
    ASSERT_TRUE(all);
    EXPECT_LE(most, RealtimeService::kQueueLimit);
    EXPECT_GT(most, 1u);
    EXPECT_EQ(files->counters().downloadPackets.load(), 12);
}

TEST_F(RealtimeServiceTest, aFetchCutOffMidFileResumesAndTheDigestAgrees) {
    // setup: 16 KB packets, so the report takes many; every connection drops after a few
    ASSERT_TRUE(platform::writeFileAtomically(installation.dataSizeIni(),
                                              "[rec]\ninit=16\nlowsize=8\nhighsize=16\n"));
    const std::string bytes = publish("big.dat", 300000);
    gateway.faults().dropAfterPackets = 8;

    // act
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return arrived("big.dat"); }));

    // verify: byte-exact, and what crossed the wire is not a fetch from the start per drop
    EXPECT_EQ(readLocal(received("big.dat")), bytes);
    EXPECT_GE(gateway.counters().logins.load(), 4) << "the connection was never cut";
    EXPECT_LT(files->counters().downloadBytes.load(), 2 * 300000);
    EXPECT_FALSE(fs::exists(partialPathFor(received("big.dat"))));
}

TEST_F(RealtimeServiceTest, anIdleConnectionTheGatewayDropsIsAWarningWhenTheServiceGoesOn) {
    // setup: every connection is closed at its fourth request, as a gateway drops idle
    // ones, so every few passes the traversal's list meets a closed connection
    publish("rpt_a.txt", 100);
    gateway.faults().dropAfterPackets = 4;

    // act
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_a.txt"); }));
    const int logins = gateway.counters().logins.load();
    ASSERT_TRUE(advanceUntil([&] { return gateway.counters().logins.load() >= logins + 6; }));
    publish("rpt_b.txt", 100);
    const bool fetchedAfterTheDrops = advanceUntil([&] { return arrived("rpt_b.txt"); });
    stopThreads();

    // verify: the service went on through the drops (the session logs in again and repeats
    // the list, so a drop may not surface at all), and no line of the log is an error
    EXPECT_TRUE(fetchedAfterTheDrops);
    EXPECT_THAT(realtimeLog(), ::testing::Not(::testing::HasSubstr("[错误]")));
}

TEST_F(RealtimeServiceTest, aGatewayThatStaysAwayAfterADropIsAnError) {
    // setup: the first list answers, then the gateway is gone
    publish("rpt_a.txt", 100);
    startThreads();
    ASSERT_TRUE(advanceUntil([&] { return arrived("rpt_a.txt"); }));

    // act
    gateway.stop();
    ASSERT_TRUE(
        advanceUntil([&] { return realtimeLog().find("[错误]") != std::string::npos; }, 50));
    stopThreads();

    // verify
    EXPECT_THAT(realtimeLog(), ::testing::HasSubstr("[错误]--查询实时回报文件列表[20261208]失败"));
}

TEST_F(RealtimeServiceTest, packetSizesDoubleAfterFastAnswersAndHalveAfterSlowOnes) {
    // setup: limits 8..64 KB, fast within 4 s, slow beyond 8 s
    ASSERT_TRUE(platform::writeFileAtomically(
        installation.dataSizeIni(),
        "[rec]\ninit=16\nlowsize=8\nhighsize=64\nlowsec=4\nhighsec=8\n"));
    publish("rpt.dat", 1000000);
    SteppingClock answers;
    CDRAVFtp ftp(*handle, DataSizeSettings::load(installation.dataSizeIni()), answers);
    const fs::path local = root.path() / "rpt.dat";
    std::int64_t offset = 0;
    std::vector<int> sizes;
    auto packet = [&] {
        const int n = ftp.transfer(CDRAVFtp::kDownload, "FTP_SSHB", std::string(kDay) + "\\rpt.dat",
                                   local, 1000000, offset);
        ASSERT_GT(n, 0) << ftp.errorText();
        offset += n;
        sizes.push_back(ftp.packetSize(CDRAVFtp::kDownload));
    };

    // act: three fast answers, one in between, four slow ones
    for (int i = 0; i < 3; ++i) packet();
    answers.step = milliseconds(6000);
    packet();
    answers.step = milliseconds(9000);
    for (int i = 0; i < 4; ++i) packet();

    // verify
    EXPECT_THAT(sizes,
                ::testing::ElementsAre(32768, 65536, 65536, 65536, 32768, 16384, 8192, 8192));
    EXPECT_EQ(readLocal(local), readLocal(files->root() / "FTP_SSHB" / kDay / "rpt.dat")
                                    .substr(0, static_cast<std::size_t>(offset)));

    // and the other direction: one upload packet lands where it was sent
    const fs::path outgoing = root.path() / "up.dat";
    const std::string up(5000, 'u');
    std::ofstream(outgoing, std::ios::binary).write(up.data(), 5000);
    EXPECT_EQ(ftp.transfer(CDRAVFtp::kUpload, "FTP_SSHB", "20261209\\up.dat", outgoing, 5000, 0),
              5000)
        << ftp.errorText();
    EXPECT_EQ(readLocal(files->root() / "FTP_SSHB" / "20261209" / "up.dat"), up);
}

TEST_F(RealtimeServiceTest, theManualReceiveFetchesChosenReportsOfADayRange) {
    // setup
    const std::string a = publish("a.txt", 300, "20261207");
    publish("b.txt", 400, kDay);
    RealtimeManualReceive manual(serviceContext(), *handle);
    std::vector<ManualReport> listed;

    // act and verify: the checks first
    EXPECT_EQ(manual.query(kDay, "20261207", listed), -1);
    EXPECT_EQ(manual.errorText(), "开始时间不能大于结束时间！");
    EXPECT_EQ(manual.query("20261201", "20261202", listed), -1);
    EXPECT_EQ(manual.errorText(), "文件列表为空！");
    EXPECT_EQ(manual.prepareDirectory(root.path() / "sshbrev").text(),
              "手动接收目录不能和实时回报服务目录一致!");

    ASSERT_EQ(manual.query("20261207", kDay, listed), 2) << manual.errorText();
    const fs::path target = root.path() / "by_hand";
    ASSERT_TRUE(manual.prepareDirectory(target).isOk());
    auto results = manual.fetch({0, 99}, listed, target);
    ASSERT_TRUE(results.isOk());
    ASSERT_EQ(results->size(), 2u);
    EXPECT_EQ((*results)[0].result, "下载成功");
    EXPECT_EQ((*results)[1].result, "找不到文件信息");
    EXPECT_EQ(readLocal(target / "a.txt"), a);
    EXPECT_EQ(CConfig(installation).readRealtimeReportSettings().manualReceivePath,
              target.string());
}

TEST_F(RealtimeServiceTest, oneNameOnTwoDaysIsFetchedForEachDayAndKeptApart) {
    // setup: "rpt.txt" is published on both days, with other bytes on each
    const std::string first = publish("rpt.txt", 700, "20261207");
    const std::string second = publish("rpt.txt", 900, kDay);
    const std::string once = publish("once.txt", 500, kDay);
    RealtimeManualReceive manual(serviceContext(), *handle);
    std::vector<ManualReport> listed;
    ASSERT_EQ(manual.query("20261207", kDay, listed), 3) << manual.errorText();
    const fs::path target = root.path() / "by_hand";
    // act
    auto results = manual.fetch({0, 1, 2}, listed, target);
    // verify: each day's report in a folder of its day; a name of one day stays flat
    ASSERT_TRUE(results.isOk()) << results.status().text();
    ASSERT_EQ(results->size(), 3u);
    for (const ManualFetchResult& r : *results) EXPECT_EQ(r.result, "下载成功") << r.error;
    EXPECT_EQ(readLocal(target / "20261207" / "rpt.txt"), first);
    EXPECT_EQ(readLocal(target / kDay / "rpt.txt"), second);
    EXPECT_EQ(readLocal(target / "once.txt"), once);
    EXPECT_FALSE(fs::exists(target / "rpt.txt"));
    std::vector<fs::path> files;
    for (const ManualFetchResult& r : *results) files.push_back(r.file);
    EXPECT_THAT(files,
                ::testing::UnorderedElementsAre(target / "20261207" / "rpt.txt",
                                                target / kDay / "rpt.txt", target / "once.txt"));
}

TEST_F(RealtimeServiceTest, theServiceStopsWithinTheThreadManagersStopTimeMidFetch) {
    // setup: a slow gateway, so the stop comes while a report is on its way
    publish("big.dat", 400000);
    ASSERT_TRUE(platform::writeFileAtomically(installation.dataSizeIni(),
                                              "[rec]\ninit=8\nlowsize=8\nhighsize=8\n"));
    gateway.faults().answerDelayMs = 300;
    RealtimeService realtimeService(serviceContext(), days, options());
    realtimeService.startAsConfigured();
    ThreadManagerOptions o;
    o.realtime = &realtimeService;
    o.makeSession = [this]() -> std::unique_ptr<CVornFtp> { return makeHandle(); };
    CPlanThreadMgr threads(context(), process, std::move(o));
    threads.StartThreads(1);
    ASSERT_TRUE(advanceUntil([&] { return files->counters().downloadPackets.load() > 0; }, 1000));

    // act
    realtimeService.prepareExit();
    threads.StopThreads();

    // verify
    EXPECT_THAT(sysLog(), ::testing::Not(::testing::HasSubstr("未能按时结束")));
    EXPECT_THAT(realtimeLog(), ::testing::HasSubstr("系统退出，退出实时回报服务"));
    EXPECT_FALSE(realtimeService.running());
}

TEST_F(RealtimeServiceTest, reportsPublishedSecondsBeforeMidnightAreFetchedAfterIt) {
    // setup: the day's last pass, 20 s before midnight, fetched what there was. The times
    // are made before the threads run (mktime's time zone set-up is not theirs to share).
    const platform::WallTime published = platform::fromLocalTime({2026, 12, 8, 23, 59, 55, 0, 2});
    const platform::WallTime afterMidnight = platform::fromLocalTime({2026, 12, 9, 0, 0, 15, 0, 3});
    clock.setLocal({2026, 12, 8, 23, 59, 40, 0, 2});
    publish("rpt_day.txt", 1000);
    startThreads();
    for (int i = 0; i < 1000 && !arrived("rpt_day.txt"); ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_TRUE(arrived("rpt_day.txt"));

    // act: after that pass, more reports than the queue holds come out just before
    // midnight; the next pass comes after it
    clock.set(published);
    std::vector<std::string> late;
    for (int i = 0; i < 7; ++i) {
        late.push_back("rpt_late" + std::to_string(i) + ".txt");
        publish(late.back(), 200 + static_cast<std::size_t>(i));
    }
    clock.set(afterMidnight);

    // verify: every one of them is fetched, well within the hour after midnight
    EXPECT_TRUE(advanceUntil(
        [&] { return std::all_of(late.begin(), late.end(), [&](auto& n) { return arrived(n); }); },
        60));
    // and they are no lines of the new day's view: it starts empty and stays so
    EXPECT_THAT(service->snapshot().records, ::testing::IsEmpty());
    for (const NotifierEvent& event : notifier.events()) {
        if (const auto* line = std::get_if<RealtimeReportChanged>(&event)) {
            EXPECT_EQ(line->record.fileName.rfind("rpt_late", 0), std::string::npos);
        }
    }
}

// Regression: in the window the real-time list went out with serial numbers handed out for
// other routes. A block of numbers a download asked for without waiting was still on its
// way when the file was done, and the manual receive's request took it for its own.
TEST_F(RealtimeServiceTest, manualTransfersAndTheManualReceiveShareTheHandleButNoSerials) {
    // setup: reports of the day, and mailbox files of several blocks and of a few packets
    publish("rpt_a.txt", 3000);
    publish("rpt_b.txt", 70000);
    const std::string big = putRemote("big.dat", 11 * 1024 * 1024 + 77);
    const std::string small = putRemote("small.dat", 300000);
    RealtimeManualReceive manual(serviceContext(), *handle);
    std::vector<ManualReport> listed;
    std::string error;

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const fs::path into = root.path() / ("recv" + std::to_string(round));
        ManualTransferRequest request = downloadRequest("big.dat", std::ssize(big));
        request.localDirectory = into;

        // act: the operator's day, every service on the one handle
        ASSERT_EQ(downloadFile(*handle, request, env, error), GatewayOutcome::Ok) << error;
        ASSERT_EQ(manual.query(kDay, kDay, listed), 2) << manual.errorText();
        for (const std::size_t size : {300000u, 1048579u, 2097157u}) {
            const std::string name = "up" + std::to_string(size) + ".dat";
            std::string bytes(size, '\0');
            for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + round);
            fs::create_directories(root.path() / "send");
            std::ofstream(root.path() / "send" / name, std::ios::binary) << bytes;
            ManualTransferRequest up;
            up.mailbox = "FTP_A_QS";
            up.remoteName = name;
            up.localFile = root.path() / "send" / name;
            ASSERT_EQ(uploadFile(*handle, up, env, error), GatewayOutcome::Ok) << error;
            ASSERT_EQ(manual.query(kDay, kDay, listed), 2) << manual.errorText();
            std::vector<filesvc::ListEntry> entries;
            ASSERT_EQ(VornFileService(*handle).listFiles("FTP_A_QS", "*.*", entries),
                      GatewayOutcome::Ok)
                << handle->LastError();
            ASSERT_GE(entries.size(), 2u);
            // A task dialog's preview of a day's history, on a route of its own.
            ASSERT_EQ(VornFileService(*handle).listHistory("FTP_A_QS", "20261207\\*.*", entries),
                      GatewayOutcome::Ok)
                << handle->LastError();
        }
        auto fetched = manual.fetch({0, 1}, listed, into / "by_hand");
        ASSERT_TRUE(fetched.isOk());
        for (const ManualFetchResult& result : *fetched) EXPECT_EQ(result.result, "下载成功");
        request = downloadRequest("small.dat", std::ssize(small));
        request.localDirectory = into;
        ASSERT_EQ(downloadFile(*handle, request, env, error), GatewayOutcome::Ok) << error;

        // verify
        EXPECT_TRUE(readLocal(into / "big.dat") == big);
        EXPECT_TRUE(readLocal(into / "small.dat") == small);
    }
    EXPECT_EQ(gateway.serialViolations(), std::vector<std::string>{});
    EXPECT_EQ(gateway.counters().logins.load(), 1) << "no exchange lost the connection";
}

// Regression: the first 查询 after an idle spell failed with "批量申请交易序列号
// [VRELKA-FTP_SSHB-00]失败-网关主动关闭连接!!"; the second worked.
TEST_F(RealtimeServiceTest, theFirstQueryAfterTheGatewayDroppedTheIdleConnectionWorks) {
    // setup: a session that has drawn numbers, then idles until the gateway drops it
    publish("rpt_a.txt", 3000);
    RealtimeManualReceive manual(serviceContext(), *handle);
    std::vector<ManualReport> listed;
    ASSERT_EQ(manual.query(kDay, kDay, listed), 1) << manual.errorText();
    gateway.dropConnections();

    // act
    const int count = manual.query(kDay, kDay, listed);

    // verify: made again with a fresh login and fresh numbers
    EXPECT_EQ(count, 1) << manual.errorText();
    EXPECT_TRUE(handle->IsLoggedIn());
    EXPECT_EQ(gateway.counters().logins.load(), 2);
    EXPECT_EQ(gateway.serialViolations(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vantrel::testing
