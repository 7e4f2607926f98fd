// vantrel-cli's mailbox commands against the test gateway, and transfers killed with
// SIGKILL at random moments that must complete byte-exact when run again.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <thread>

#include "client/transfer/block_state_layout.h"
#include "tests/transfer/transfer_gateway_fixture.h"

extern char** environ;

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
namespace bs = blockstate;
constexpr std::size_t MiB = 1024 * 1024;

// The session cipher sets the pace of a transfer. Its bitsliced paths finish a
// file of a few tens of MiB before most random kills land, so the kill tests
// force its OpenSSL path on the client they spawn and on the gateway here.
struct OpensslCipherPath {
    OpensslCipherPath() { setenv("KORRIM_DES_PATH", "openssl", 1); }
    ~OpensslCipherPath() { unsetenv("KORRIM_DES_PATH"); }
    OpensslCipherPath(const OpensslCipherPath&) = delete;
    OpensslCipherPath& operator=(const OpensslCipherPath&) = delete;
};

// Records the offset of every download and upload packet, for the resume checks.
class OffsetSpy final : public testgateway::TransactionService {
  public:
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code == "40" && body && body->c > 0) {
            std::lock_guard lock(mutex);
            offsets.push_back(body->b);
        }
        return std::nullopt;
    }
    std::vector<std::int64_t> take() {
        std::lock_guard lock(mutex);
        return std::exchange(offsets, {});
    }
    std::mutex mutex;
    std::vector<std::int64_t> offsets;
};

// Lists "hostile\\*.*" with names that would steer a terminal, forge a listing line or
// cut themselves short if printed raw. Every name begins with "hostile-".
class HostileListing final : public testgateway::TransactionService {
  public:
    static std::vector<std::string> names() {
        return {"hostile-esc\x1b[2J",                                 // clears the screen
                "hostile-bell\x07",                                   // rings
                "hostile-cr\rFIL            1 20261208 09:00:00 ok",  // overwrites its own line
                "hostile-del\x7f",
                "hostile-two\nFIL            1 20261208 09:00:00 forged.txt",  // forges a line
                std::string("hostile-nul\0cut", 15)};
    }
    std::optional<testgateway::TransactionAnswer> handle(
        const testgateway::TransactionRequest& request) override {
        Result<filesvc::Body> body = filesvc::decodePayload(request.payload);
        if (request.code != "40" || !body || trimmed(request.record.function) != "00" ||
            filesvc::nameFromWire(body->name1).value() != "hostile\\*.*") {
            return std::nullopt;
        }
        std::string entries;
        for (const std::string& name : names())
            entries += filesvc::encodeEntry({"FIL", 1, "20261208", "09:00:00", name});
        testgateway::TransactionAnswer a;
        a.payload =
            filesvc::encodeBody("", "", 0, 0, static_cast<std::int32_t>(entries.size()), entries);
        return a;
    }
};

class CliMailbox : public TransferGatewayFixture {
  protected:
    void SetUp() override {
        gateway.addService(std::make_shared<HostileListing>());
        gateway.addService(spy);
        TransferGatewayFixture::SetUp();
        ASSERT_TRUE(platform::createDirectories(installation.localconfig()));
        ASSERT_TRUE(platform::writeFileAtomically(
            installation.clientIni(), "[GateMultiple]\nGateIP1=127.0.0.1\nGatePort1=" +
                                          std::to_string(gateway.gatewayPort()) +
                                          "\nFtpPort1=" + std::to_string(gateway.updatePort()) +
                                          "\nGateType=0\n[userinfo]\nOpertID=OPER01\n"));
        fs::create_directories(root.path() / "recv");
    }

    std::vector<std::string> argv(const std::vector<std::string>& args) {
        std::vector<std::string> all = {VANTREL_CLI, "--root", root.path().string()};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }

    pid_t spawn(const std::vector<std::string>& args) {
        std::vector<std::string> all = argv(args);
        std::vector<char*> raw;
        for (auto& a : all) raw.push_back(a.data());
        raw.push_back(nullptr);
        std::string password = "VANTREL_PASSWORD=pass1234";
        std::vector<char*> env;
        for (char** e = environ; *e; ++e) {
            if (std::string_view(*e).rfind("VANTREL_PASSWORD=", 0) != 0) env.push_back(*e);
        }
        env.push_back(password.data());
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const std::string out = (root.path() / "cli.out").string();
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // The exit code, or -1 when it had to be killed after `limit`.
    int wait(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(120)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run(const std::vector<std::string>& args) { return wait(spawn(args)); }

    std::string output() { return readLocal(root.path() / "cli.out"); }

    // Blocks recorded as done in a block state file (none when it does not exist).
    std::set<int> doneBlocks(const fs::path& state) {
        std::set<int> done;
        const std::string bytes = readLocal(state);
        if (bytes.size() < bs::kHeaderSize) return done;
        const int n = bs::load<std::int32_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()) +
                                             bs::header::kBlockCount);
        for (int i = 0; i < n && bs::recordOffset(i + 1) <= bytes.size(); ++i) {
            const auto* r =
                reinterpret_cast<const std::uint8_t*>(bytes.data()) + bs::recordOffset(i);
            if (bs::load<std::int32_t>(r + bs::task::kState) == 3) done.insert(i);
        }
        return done;
    }

    std::shared_ptr<OffsetSpy> spy = std::make_shared<OffsetSpy>();
};

TEST_F(CliMailbox, listsMovesRenamesAndDeletesWithinThePermissions) {
    const std::string bytes = putRemote("x.txt", 1000);
    putRemote("FTP_SG_FILE.txt", 10, "FTP_SG");
    ASSERT_EQ(run({"ls", "FTP_A_QS"}), 0) << output();
    EXPECT_NE(output().find("x.txt"), std::string::npos) << output();
    ASSERT_EQ(run({"get", "FTP_A_QS", "x.txt", (root.path() / "recv").string()}), 0) << output();
    EXPECT_EQ(readLocal(root.path() / "recv" / "x.txt"), bytes);
    ASSERT_EQ(run({"mv", "FTP_A_QS", "x.txt", "y.txt"}), 0) << output();
    EXPECT_TRUE(fs::exists(files->root() / "FTP_A_QS" / "y.txt"));
    ASSERT_EQ(run({"put", "FTP_A_QS", (root.path() / "recv" / "x.txt").string(), "z.txt"}), 0)
        << output();
    EXPECT_EQ(readLocal(files->root() / "FTP_A_QS" / "z.txt"), bytes);
    ASSERT_EQ(run({"rm", "FTP_A_QS", "y.txt"}), 0) << output();
    EXPECT_FALSE(fs::exists(files->root() / "FTP_A_QS" / "y.txt"));
    // FTP_SG grants only listing.
    EXPECT_EQ(run({"ls", "FTP_SG"}), 0) << output();
    EXPECT_EQ(run({"put", "FTP_SG", (root.path() / "recv" / "x.txt").string()}), 3);
    EXPECT_NE(output().find("该操作员无此信箱文件上传权限！"), std::string::npos);
    EXPECT_EQ(run({"rm", "FTP_SG", "FTP_SG_FILE.txt"}), 3);
    EXPECT_NE(output().find("该操作员无此信箱文件删除权限！"), std::string::npos);
    // An entry kind other than "C" grants nothing.
    EXPECT_EQ(run({"get", "FTP_B_QS", "a", (root.path() / "recv").string()}), 3);
}

TEST_F(CliMailbox, lsPrintsHostileNamesEscapedOneEntryPerLineAndGetRefusesThem) {
    // act
    ASSERT_EQ(run({"ls", "FTP_A_QS", "hostile"}), 0) << output();
    const std::string out = output();
    // verify: no byte that steers a terminal, and one line per entry
    for (char raw : {'\x1b', '\x07', '\r', '\x7f', '\0'}) {
        EXPECT_EQ(out.find(raw), std::string::npos) << static_cast<int>(raw);
    }
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = std::min(out.find('\n', at), out.size());
        const std::string line = out.substr(at, end - at);
        if (line.find("hostile-") != std::string::npos) lines.push_back(line);
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), HostileListing::names().size()) << out;
    EXPECT_NE(lines[0].find("hostile-esc\\x1b[2J"), std::string::npos) << lines[0];
    EXPECT_NE(lines[4].find("hostile-two\\x0aFIL"), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find("hostile-nul\\x00cut"), std::string::npos) << lines[5];
    // A name with a control character is refused as a local file name, and nothing is made.
    EXPECT_EQ(
        run({"get", "FTP_A_QS", "hostile\\hostile-bell\x07", (root.path() / "recv").string()}), 1);
    EXPECT_NE(output().find("文件名[hostile-bell\\x07]含有控制字符，拒绝写入本地目录！"),
              std::string::npos)
        << output();
    EXPECT_TRUE(fs::is_empty(root.path() / "recv"));
}

TEST_F(CliMailbox, killedDownloadsResumeAndCompleteByteExact) {
    const OpensslCipherPath slow;
    const std::string bytes = putRemote("k.dat", 30 * MiB + 4321);
    const fs::path recv = root.path() / "recv";
    const fs::path state = recv / "k.dat.tmp.~block";
    std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed());
    int kills = 0;
    for (int trial = 0; trial < 12; ++trial) {
        const std::set<int> doneBefore = doneBlocks(state);
        spy->take();
        const pid_t pid = spawn({"get", "FTP_A_QS", "k.dat", recv.string()});
        // The first three runs end well before the whole file could arrive, so every seed
        // sees at least three kills; later ones may run long enough to finish.
        std::this_thread::sleep_for(std::chrono::milliseconds(
            std::uniform_int_distribution<int>(30, trial < 3 ? 250 : 700)(rng)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (WIFSIGNALED(status)) ++kills;
        // Blocks that were done before this run were not asked for again.
        for (std::int64_t offset : spy->take()) {
            EXPECT_EQ(doneBefore.count(static_cast<int>(offset / bs::kBlockSize)), 0u)
                << "offset " << offset;
        }
        if (finished) break;
    }
    RecordProperty("kills", kills);
    std::printf("download killed %d times\n", kills);
    EXPECT_GE(kills, 3);
    ASSERT_EQ(run({"get", "FTP_A_QS", "k.dat", recv.string()}), 0) << output();
    EXPECT_TRUE(readLocal(recv / "k.dat") == bytes);
    EXPECT_FALSE(fs::exists(recv / "k.dat.tmp"));
    EXPECT_FALSE(fs::exists(state));
}

TEST_F(CliMailbox, killedUploadsResumeAndCompleteByteExact) {
    const OpensslCipherPath slow;
    std::string bytes(24 * MiB + 99, '\0');
    std::mt19937 fill(7);
    for (auto& c : bytes) c = static_cast<char>(fill());
    fs::create_directories(root.path() / "send");
    const fs::path source = root.path() / "send" / "p.dat";
    std::ofstream(source, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed());
    int kills = 0;
    for (int trial = 0; trial < 14; ++trial) {
        const pid_t pid = spawn({"put", "FTP_A_QS", source.string()});
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 300)(rng)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFSIGNALED(status)) ++kills;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
    }
    RecordProperty("kills", kills);
    std::printf("upload killed %d times\n", kills);
    EXPECT_GE(kills, 3);
    ASSERT_EQ(run({"put", "FTP_A_QS", source.string()}), 0) << output();
    EXPECT_TRUE(readLocal(files->root() / "FTP_A_QS" / "p.dat") == bytes);
    EXPECT_FALSE(fs::exists(root.path() / "send" / "p.dat.~block"));
    EXPECT_TRUE(readLocal(source) == bytes);
}

}  // namespace
}  // namespace vantrel::testing
