// The mailbox session and its operations against the loopback test gateway: the refusals
// of a restricted operator, a round trip through every operation, the transfer handle
// logging in again after the gateway dropped it, and the progress a window polls.

#include "client/execution/session/mailbox_session.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include "tests/gateway/gateway_fixture.h"
#include "tools/testgateway/file_services.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

// Answers every question Yes, so a pressed Stop cancels.
class YesPrompt final : public UserPrompt {
  public:
    bool askYesNo(const std::string&, const std::string&, Icon) override {
        ++questions;
        return true;
    }
    void show(const std::string&, const std::string&, Icon) override {}
    std::atomic<int> questions{0};
};

std::string randomBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& c : bytes) c = static_cast<char>(rng());
    return bytes;
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class MailboxSessionTest : public GatewayFixture {
  protected:
    void SetUp() override {
        files = std::make_shared<testgateway::MailboxFileService>(root.path() / "mailboxes",
                                                                  "20261208");
        fs::create_directories(files->root() / "FTP_A_QS");
        fs::create_directories(recv);
        gateway.addService(files);
        GatewayFixture::SetUp();
        Context c = context();
        c.prompt = &prompt;
        interactive = std::make_unique<InteractiveGateway>(c);
        session = std::make_unique<MailboxSession>(*interactive);
        operations = std::make_unique<MailboxOperations>(*session, c, interactive->process(),
                                                         MailboxOperations::TransferHandle::Own);
        session->setGatewayList({entry(gateway.gatewayPort())}, 0, "OPER01", "pass1234");
        ASSERT_TRUE(session->loginToGateway()) << session->lastError();
    }

    void TearDown() override {
        operations.reset();
        if (interactive) interactive->disconnect();
        GatewayFixture::TearDown();
    }

    MailboxTransferItem remoteFile(const std::string& name, std::size_t size) {
        return {"FTP_A_QS", "", name, recv, size};
    }

    std::vector<std::string> names(const std::string& mailbox) {
        std::vector<filesvc::ListEntry> entries;
        std::string error;
        EXPECT_EQ(operations->list(mailbox, "", entries, error), GatewayOutcome::Ok) << error;
        std::vector<std::string> out;
        for (const auto& e : entries) out.push_back(e.name);
        std::sort(out.begin(), out.end());
        return out;
    }

    // The login states the window was told of, in order.
    std::vector<bool> loginStates() {
        std::vector<bool> states;
        for (const NotifierEvent& event : notifier.events()) {
            if (const auto* state = std::get_if<LoginStateChanged>(&event))
                states.push_back(state->loggedIn);
        }
        return states;
    }

    const fs::path recv = root.path() / "recv";
    YesPrompt prompt;
    std::shared_ptr<testgateway::MailboxFileService> files;
    std::unique_ptr<InteractiveGateway> interactive;
    std::unique_ptr<MailboxSession> session;
    std::unique_ptr<MailboxOperations> operations;
};

TEST_F(MailboxSessionTest, aRestrictedOperatorIsRefusedEachFunctionWithItsOwnText) {
    // FTP_SG grants OPER01 the list only; FTP_B_QS grants nothing (kind "X").
    struct Row {
        MailboxFunction function;
        const char* code;
        const char* refusal;
        bool allowedOnSg;
    };
    const Row rows[] = {
        {MailboxFunction::List, "00", "该操作员无此信箱获取文件列表权限！", true},
        {MailboxFunction::Delete, "01", "该操作员无此信箱文件删除权限！", false},
        {MailboxFunction::Rename, "02", "该操作员无此信箱文件重命名权限！", false},
        {MailboxFunction::Upload, "03", "该操作员无此信箱文件上传权限！", false},
        {MailboxFunction::Download, "04", "该操作员无此信箱文件下载权限！", false},
    };
    for (const Row& row : rows) {
        EXPECT_STREQ(mailboxFunctionCode(row.function), row.code);
        EXPECT_STREQ(mailboxRefusal(row.function), row.refusal);
        EXPECT_EQ(session->permits("FTP_SG", row.function), row.allowedOnSg) << row.code;
        EXPECT_FALSE(session->permits("FTP_B_QS", row.function)) << row.code;
        EXPECT_TRUE(session->permits("FTP_A_QS", row.function)) << row.code;
    }
    EXPECT_EQ(gateway.counters().permissionQueries.load(), 1);  // loaded once per login
}

TEST_F(MailboxSessionTest, listsDownloadsUploadsRenamesAndDeletesInOneRoundTrip) {
    // setup
    const std::string bytes = randomBytes(300 * 1024);
    writeBytes(files->root() / "FTP_A_QS" / "a.dat", bytes);
    writeBytes(root.path() / "send" / "local.dat", bytes + "tail");
    // act + verify
    EXPECT_EQ(session->userCode(), "U0000042");
    EXPECT_EQ(session->operatorCode(), "OPER01");
    std::optional<filesvc::ListEntry> found;
    std::string error;
    ASSERT_EQ(operations->findFile("FTP_A_QS", "a.dat", found, error), GatewayOutcome::Ok) << error;
    ASSERT_TRUE(found);
    EXPECT_EQ(found->size, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(operations->findFile("FTP_A_QS", "none.dat", found, error), GatewayOutcome::Ok);
    EXPECT_FALSE(found);

    TransferProgress progress;
    const TransferOutcome down = operations->transfer(TransferDirection::Download,
                                                      remoteFile("a.dat", bytes.size()), progress);
    ASSERT_EQ(down.outcome, GatewayOutcome::Ok) << down.text;
    EXPECT_TRUE(readBytes(recv / "a.dat") == bytes);

    MailboxTransferItem up{"FTP_A_QS", "", "b.dat", root.path() / "send", 0, "local.dat"};
    const TransferOutcome sent = operations->transfer(TransferDirection::Upload, up, progress);
    ASSERT_EQ(sent.outcome, GatewayOutcome::Ok) << sent.text;
    EXPECT_TRUE(readBytes(files->root() / "FTP_A_QS" / "b.dat") == bytes + "tail");

    ASSERT_EQ(operations->rename("FTP_A_QS", "b.dat", "c.dat", error), GatewayOutcome::Ok) << error;
    ASSERT_EQ(operations->remove("FTP_A_QS", "a.dat", error), GatewayOutcome::Ok) << error;
    EXPECT_EQ(names("FTP_A_QS"), std::vector<std::string>{"c.dat"});
    // Files moved on a handle of their own: the session logged in once, the transfers once.
    EXPECT_EQ(gateway.counters().logins.load(), 2);
}

TEST_F(MailboxSessionTest, theTransferHandleLogsInAgainAfterTheGatewayDroppedIt) {
    // setup: the transfer handle is logged in, then every connection drops at its next packet.
    const std::string bytes = randomBytes(200 * 1024);
    writeBytes(files->root() / "FTP_A_QS" / "w.dat", "warm");
    writeBytes(files->root() / "FTP_A_QS" / "d.dat", bytes);
    TransferProgress progress;
    ASSERT_EQ(
        operations->transfer(TransferDirection::Download, remoteFile("w.dat", 4), progress).outcome,
        GatewayOutcome::Ok);
    gateway.faults().dropAfterPackets = 1;
    const TransferOutcome dropped = operations->transfer(
        TransferDirection::Download, remoteFile("d.dat", bytes.size()), progress);
    // The front ends tell the operator of the lost connection by this outcome alone.
    EXPECT_EQ(dropped.outcome, GatewayOutcome::PeerClosed) << dropped.text;
    EXPECT_TRUE(losesConnection(dropped.outcome));
    gateway.faults().dropAfterPackets = 0;
    const int loginsBefore = gateway.counters().logins.load();
    // act
    const TransferOutcome again = operations->transfer(TransferDirection::Download,
                                                       remoteFile("d.dat", bytes.size()), progress);
    // verify
    ASSERT_EQ(again.outcome, GatewayOutcome::Ok) << again.text;
    EXPECT_TRUE(readBytes(recv / "d.dat") == bytes);
    EXPECT_EQ(gateway.counters().logins.load(), loginsBefore + 1);
    // The session's own connection carried nothing meanwhile and still answers.
    EXPECT_EQ(names("FTP_A_QS"), (std::vector<std::string>{"d.dat", "w.dat"}));
}

TEST_F(MailboxSessionTest, progressSnapshotsGrowToTheFileSizeAndStopEndsTheQueue) {
    // setup
    const std::size_t size = 3 * 1024 * 1024;
    writeBytes(files->root() / "FTP_A_QS" / "big.dat", randomBytes(size));
    writeBytes(files->root() / "FTP_A_QS" / "next.dat", "next");
    TransferProgress progress;
    std::atomic<bool> done{false};
    TransferOutcome outcome;
    // act: a window polls while the file moves on a worker
    std::thread worker([&] {
        outcome = operations->transfer(TransferDirection::Download, remoteFile("big.dat", size),
                                       progress);
        done = true;
    });
    std::vector<std::int64_t> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int i = 0; i < 100000 && !done && std::chrono::steady_clock::now() < deadline; ++i) {
        const TransferSnapshot now = progress.snapshot();
        if (seen.empty() || seen.back() != now.bytesDone) seen.push_back(now.bytesDone);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    worker.join();
    const TransferSnapshot last = progress.snapshot();
    seen.push_back(last.bytesDone);
    // verify
    ASSERT_EQ(outcome.outcome, GatewayOutcome::Ok) << outcome.text;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(last.bytesDone, static_cast<std::int64_t>(size));
    EXPECT_EQ(last.fileSize, static_cast<std::int64_t>(size));
    EXPECT_EQ(last.fileName, "big.dat");
    EXPECT_FALSE(last.statusLine.empty());

    // A Stop answered Yes cancels the file and skips the rest of the queue.
    progress.stopPressed = true;
    const std::vector<TransferOutcome> outcomes = operations->transferQueue(
        TransferDirection::Download, {remoteFile("big.dat", size), remoteFile("next.dat", 4)},
        progress);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].outcome, GatewayOutcome::Cancelled);
    EXPECT_EQ(prompt.questions.load(), 1);
    EXPECT_FALSE(fs::exists(recv / "next.dat"));
}

// Regression: after a gateway restart the status bar stayed 离线 through work that went
// well, 重新登录 did nothing, and the numbers of the old connection went out on the new one.
TEST_F(MailboxSessionTest, aGatewayRestartShowsOfflineThenOnlineWithAFreshLoginAndNumbers) {
    // setup: the window's session has worked and holds numbers of the list route
    writeBytes(files->root() / "FTP_A_QS" / "a.dat", "a");
    ASSERT_EQ(names("FTP_A_QS"), std::vector<std::string>{"a.dat"});
    ASSERT_EQ(loginStates(), std::vector<bool>{true});
    const std::uint16_t port = gateway.gatewayPort();
    const std::uint16_t updatePort = gateway.updatePort();

    // act: the gateway goes down under the window
    gateway.stop();
    std::vector<filesvc::ListEntry> entries;
    std::string error;
    EXPECT_NE(operations->list("FTP_A_QS", "", entries, error), GatewayOutcome::Ok);

    // verify: offline
    EXPECT_FALSE(session->isLoggedIn());
    EXPECT_EQ(loginStates(), (std::vector<bool>{true, false}));

    // act: the gateway is back and the operator logs in again, as 重新登录 does
    ASSERT_TRUE(gateway.start(port, updatePort));
    session->dropIfLoggedIn();
    session->setGatewayList({entry(port)}, 0, "OPER01", "pass1234");
    ASSERT_TRUE(session->loginToGateway()) << session->lastError();

    // verify: online, and the restarted gateway's own numbers serve the list
    EXPECT_EQ(loginStates(), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(names("FTP_A_QS"), std::vector<std::string>{"a.dat"});

    // act: a restart while the window idles; the next list logs in again by itself
    gateway.stop();
    ASSERT_TRUE(gateway.start(port, updatePort));
    EXPECT_EQ(names("FTP_A_QS"), std::vector<std::string>{"a.dat"});

    // verify: the window saw the drop and the new login
    EXPECT_TRUE(session->isLoggedIn());
    EXPECT_EQ(loginStates(), (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(gateway.serialViolations(), std::vector<std::string>{});
}

}  // namespace
}  // namespace vantrel
