// vantrel-cli serve as an operator runs it: scheduled work until SIGTERM, one client per
// machine, and a run killed with SIGKILL that resumes at the next start from its block
// state, delivering the file once and whole.

#include "tests/execution/cli_serve_fixture.h"

namespace vantrel::testing {
namespace {

TEST_F(CliServe, aRunKilledMidFileResumesAtTheNextStartAndDeliversTheFileOnceAndWhole) {
    // setup: a file of several blocks, answers slow enough to kill the run in the middle
    const std::int64_t size = 24 * 1024 * 1024 + 777;
    const std::string bytes = putRemote("big.dat", static_cast<std::size_t>(size));
    gateway.faults().answerDelayMs = 15;

    // act: SIGKILL once a good part has arrived
    pid_t serve = serveAndRunTheTask();
    for (int i = 0; i < 1200 && requested->bytes < size / 3; ++i) std::this_thread::sleep_for(25ms);
    ASSERT_GE(requested->bytes, size / 3) << output();
    kill(serve, SIGKILL);
    CliProcess::wait(serve);

    // verify: nothing delivered half, the partial file and its state are kept
    EXPECT_FALSE(fs::exists(recv / "big.dat"));
    EXPECT_TRUE(fs::exists(recv / "big.dat.tmp.~block"));

    // act: start again at full speed
    gateway.faults().answerDelayMs = 0;
    const std::int64_t before = requested->bytes;
    serve = serveAndRunTheTask();
    for (int i = 0; i < 2400 && !fs::exists(recv / "big.dat"); ++i)
        std::this_thread::sleep_for(25ms);

    // verify: a second client is refused while this one runs; SIGTERM stops it in order
    EXPECT_EQ(cli.run({"serve"}), 1);
    kill(serve, SIGTERM);
    EXPECT_EQ(CliProcess::wait(serve, 60s), 0) << output();
    EXPECT_TRUE(readLocal(recv / "big.dat") == bytes);
    EXPECT_FALSE(fs::exists(recv / "big.dat.tmp"));
    EXPECT_FALSE(fs::exists(recv / "big.dat.tmp.~block"));
    EXPECT_LT(requested->bytes - before, size) << "the second start fetched the whole file again";
    const std::string log = sysLog();
    EXPECT_NE(log.find("用户关闭系统，监控线程退出"), std::string::npos);
    EXPECT_NE(output().find("vantrel-cli serve: stopping"), std::string::npos);
}

TEST_F(CliServe, anUploadKilledMidFileSendsOnlyWhatWasMissingAtTheNextStart) {
    // setup: an upload task whose outbox holds a ready file of several blocks
    const fs::path send = root.path() / "send";
    const fs::path sent = root.path() / "sent";
    fs::create_directories(send);
    const std::string uploadId = "20261208090000-00043";
    addUploadTask(uploadId, send, sent);
    const std::int64_t size = 24 * 1024 * 1024 + 321;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::mt19937 rng(7);
    for (auto& c : bytes) c = static_cast<char>(rng());
    std::ofstream(send / "out.dat", std::ios::binary) << bytes;
    std::ofstream(send / "out.dat.rdy").flush();
    gateway.faults().answerDelayMs = 15;
    auto sentBytes = [this] { return files->counters().uploadBytes.load(); };

    // act: SIGKILL once a good part has been sent
    pid_t serve = cli.spawn({"serve"});
    for (int i = 0; i < 400 && !clientRunning(); ++i) std::this_thread::sleep_for(25ms);
    ASSERT_EQ(cli.run({"tasks", "run", uploadId}), 0) << output();
    for (int i = 0; i < 1200 && sentBytes() < size / 3; ++i) std::this_thread::sleep_for(25ms);
    ASSERT_GE(sentBytes(), size / 3) << output();
    kill(serve, SIGKILL);
    CliProcess::wait(serve);
    // verify: the source is still in the outbox
    ASSERT_TRUE(readLocal(send / "out.dat") == bytes);

    // act: start again at full speed; the run ends when the file has left the outbox
    gateway.faults().answerDelayMs = 0;
    const long long before = sentBytes();
    serve = cli.spawn({"serve"});
    for (int i = 0; i < 400 && !clientRunning(); ++i) std::this_thread::sleep_for(25ms);
    ASSERT_EQ(cli.run({"tasks", "run", uploadId}), 0) << output();
    for (int i = 0; i < 2400 && fs::exists(send / "out.dat"); ++i)
        std::this_thread::sleep_for(25ms);
    kill(serve, SIGTERM);
    EXPECT_EQ(CliProcess::wait(serve, 60s), 0) << output();

    // verify: the gateway holds the file whole (its digest agreed with the client's), the
    // source moved to the sent directory, and only what was missing went the second time
    EXPECT_FALSE(fs::exists(send / "out.dat"));
    EXPECT_TRUE(readLocal(files->root() / "FTP_A_QS" / "out.dat") == bytes);
    bool moved = false;
    for (const auto& entry : fs::directory_iterator(sent))
        moved = moved || readLocal(entry.path()) == bytes;
    EXPECT_TRUE(moved);
    EXPECT_LT(sentBytes() - before, size) << "the second start sent the whole file again";
    EXPECT_GE(files->counters().md5Queries.load(), 1);
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// serve killed by the test hook at a moment of a file's finishing, then started again.
class CliServeKilledWhileFinishing : public CliServe,
                                     public ::testing::WithParamInterface<const char*> {};

TEST_P(CliServeKilledWhileFinishing, aDownloadDeliversEachFileOnceAtTheNextStartAndTheRunEnds) {
    // setup: an archive of three files and a plain file
    putZip("day.zip", {{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}});
    const std::string plain = putRemote("plain.dat", 70000);

    // act: serve dies at the moment named, by SIGKILL
    cli.setExtraEnvironment({std::string("VANTREL_TEST_CRASH_AT=") + GetParam()});
    pid_t serve = serveAndRunTheTask();
    EXPECT_EQ(CliProcess::wait(serve), -1) << output();
    ASSERT_FALSE(fs::exists(recv / "plain.dat") && fs::exists(recv / "c.txt"))
        << "serve was not killed before the day was delivered";

    // act: start again; the run must end
    cli.setExtraEnvironment({});
    serve = serveAndRunTheTask();
    const bool ended = awaitLogLine(taskId, "下载任务结束运行，运行结果：");
    stopServe(serve);

    // verify: every file whole and in place, moved once over both starts, nothing left over
    const std::string log = taskLogs(taskId);
    ASSERT_TRUE(ended) << log;
    EXPECT_NE(log.find("下载任务结束运行，运行结果：成功"), std::string::npos) << log;
    EXPECT_EQ(readLocal(recv / "a.txt"), "alpha");
    EXPECT_EQ(readLocal(recv / "b.txt"), "bravo");
    EXPECT_EQ(readLocal(recv / "c.txt"), "charlie");
    EXPECT_TRUE(readLocal(recv / "plain.dat") == plain);
    EXPECT_FALSE(fs::exists(recv / "day.zip"));
    for (const char* entry : {"a.txt", "b.txt", "c.txt"}) {
        const std::string moved =
            std::string("移动压缩文件[day.zip]解压后的文件[") + entry + "]成功";
        EXPECT_EQ(occurrences(log, moved), 1u) << moved << "\n" << log;
    }
    EXPECT_EQ(occurrences(log, "移动文件[plain.dat]成功"), 1u) << log;
    EXPECT_EQ(leftovers(recv), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Moments, CliServeKilledWhileFinishing,
                         ::testing::Values("download-digest-verdict", "download-unpacked",
                                           "download-finished", "download-moving",
                                           "download-delivered", "download-recorded"));

class CliServeKilledBeforeTheMove : public CliServe,
                                    public ::testing::WithParamInterface<const char*> {};

TEST_P(CliServeKilledBeforeTheMove, anUploadMovesTheFileOnceAtTheNextStartWithoutSendingItAgain) {
    // setup: a ready file in the outbox
    const fs::path send = root.path() / "send";
    const fs::path sent = root.path() / "sent";
    fs::create_directories(send);
    const std::string uploadId = "20261208090000-00044";
    addUploadTask(uploadId, send, sent);
    const std::string bytes(30000, 'u');
    std::ofstream(send / "out.dat", std::ios::binary) << bytes;
    std::ofstream(send / "out.dat.rdy").flush();

    // act: serve dies at the moment named, once the gateway has confirmed the file
    cli.setExtraEnvironment({std::string("VANTREL_TEST_CRASH_AT=") + GetParam()});
    pid_t serve = cli.spawn({"serve"});
    for (int i = 0; i < 400 && !clientRunning(); ++i) std::this_thread::sleep_for(25ms);
    ASSERT_EQ(cli.run({"tasks", "run", uploadId}), 0) << output();
    EXPECT_EQ(CliProcess::wait(serve), -1) << output();
    ASSERT_TRUE(fs::exists(send / "out.dat"));
    const long long sentBefore = files->counters().uploadBytes.load();

    // act: start again; the run must end
    cli.setExtraEnvironment({});
    serve = cli.spawn({"serve"});
    for (int i = 0; i < 400 && !clientRunning(); ++i) std::this_thread::sleep_for(25ms);
    ASSERT_EQ(cli.run({"tasks", "run", uploadId}), 0) << output();
    const bool ended = awaitLogLine(uploadId, "上传任务结束运行，运行结果：");
    stopServe(serve);

    // verify: one copy in the sent directory, none left in the outbox, nothing sent again
    const std::string log = taskLogs(uploadId);
    ASSERT_TRUE(ended) << log;
    EXPECT_NE(log.find("上传任务结束运行，运行结果：成功"), std::string::npos) << log;
    EXPECT_TRUE(readLocal(files->root() / "FTP_A_QS" / "out.dat") == bytes);
    EXPECT_EQ(files->counters().uploadBytes.load(), sentBefore);
    std::vector<fs::path> copies;
    for (const auto& entry : fs::directory_iterator(sent)) copies.push_back(entry.path());
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(readLocal(copies.front()) == bytes);
    EXPECT_EQ(leftovers(send), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(send / "out.dat"));
}

INSTANTIATE_TEST_SUITE_P(Moments, CliServeKilledBeforeTheMove,
                         ::testing::Values("upload-confirmed", "upload-marked-sent"));

}  // namespace
}  // namespace vantrel::testing
