// transfer_bench [MiB]: download and upload of one file over loopback against the test
// gateway, with one connection and with five connections taking blocks of the same file;
// the five-connection results are compared byte for byte outside the timing.
// Prints MB/s, the client's peak resident memory and the ratio to this machine's own
// `openssl speed -evp des-ede` figure measured in the same run. Not a test: it asserts
// nothing. The gateway runs in a child process, so the memory figure is the client's.
//
//   build/tests/transfer_bench 256

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "client/config/logs.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_services.h"
#include "client/transfer/manual_transfer.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"

namespace fs = std::filesystem;
using namespace vantrel;

namespace {

double opensslFigure() {
    FILE* pipe = popen("openssl speed -evp des-ede -seconds 2 -bytes 16384 2>/dev/null | tail -1", "r");
    if (!pipe) return 0;
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    if (!got) return 0;
    const char* last = std::strrchr(line, ' ');
    return last ? std::atof(last + 1) * 1000.0 : 0;  // bytes per second
}

long peakKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

testgateway::TestGatewaySettings settings() {
    return testgateway::parseSettings("[gateway]\n[operator OPER01]\nPassword = pass1234\n"
                                      "Permission = VRELKA,FTP_A_QS,**,C\n")
        .value();
}

// Child: serves `root` until its parent closes the pipe. Writes the port to `portPipe`.
[[noreturn]] void serveGateway(const fs::path& root, int portPipe, int lifePipe) {
    testgateway::TestGateway gateway(settings());
    gateway.addService(std::make_shared<testgateway::MailboxFileService>(root, "20261208"));
    if (!gateway.start()) _exit(1);
    const std::uint16_t port = gateway.gatewayPort();
    (void)!write(portPipe, &port, sizeof port);
    char c;
    while (read(lifePipe, &c, 1) > 0) {
    }
    gateway.stop();
    _exit(0);
}

struct Client {
    Client(const fs::path& root, std::uint16_t port)
        : installation(root, root), logs(installation, platform::RealClock::instance(), notifier), port(port) {
        context.installation = installation;
        context.clock = &platform::RealClock::instance();
        context.notifier = &notifier;
        context.logs = &logs;
    }
    std::unique_ptr<CVornFtp> handle() {
        auto h = std::make_unique<CVornFtp>(context, process);
        h->SetGatewayList({GatewayEntry{"127.0.0.1", std::to_string(port), "1", "30"}}, 0, "", "OPER01", "pass1234");
        if (h->LoginToGateway() != 1) std::fprintf(stderr, "login: %s\n", h->LastError().c_str());
        return h;
    }
    Installation installation;
    NullNotifier notifier;
    Logs logs;
    GatewayProcessState process;
    Context context;
    std::uint16_t port;
};

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Five handles, each taking the next block of the file until none is left.
bool moveWithFive(Client& client, const TransferItem& item, bool upload) {
    const std::string ftpType(upload ? filesvc::kUpload : filesvc::kDownload);
    FileBlockInfo::Options o;
    o.clock = &platform::RealClock::instance();
    FileBlockInfo file(o);
    if (!file.open(item, upload, "VRELKA", "FTP_A_QS", ftpType)) return false;
    BlockTransferOptions options;
    options.clock = &platform::RealClock::instance();
    std::atomic<bool> ok{true};
    std::vector<std::thread> workers;
    for (int w = 0; w < 5; ++w) {
        workers.emplace_back([&] {
            auto h = client.handle();
            h->SetRoute("VRELKA", "FTP_A_QS", ftpType);
            for (;;) {
                // The last block waits for the others, as the dispatcher does.
                BlockTask* block = file.claimNextBlock();
                if (!block) {
                    if (file.fileState() == kFileComplete || !ok) return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                block->setState(kBlockTaken);
                const int rc = upload ? uploadBlock(*h, block, options) : downloadBlock(*block, *h, options);
                if (rc != 0) {
                    std::fprintf(stderr, "block %d: %s\n", block->index(), h->LastError().c_str());
                    ok = false;
                    return;
                }
                block->setState(kBlockDone);
            }
        });
    }
    for (auto& t : workers) t.join();
    // A finished download is moved into place before closing, which drops its data file.
    if (ok && !upload) {
        std::error_code ec;
        fs::rename(file.dataPath(), item.localDirectory / item.localName, ec);
        ok = !ec;
    }
    file.close();
    return ok;
}

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(1 << 20), q(1 << 20);
    while (x && y) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin())) return false;
    }
    return x.eof() && y.eof();
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 256;
    const std::int64_t size = mib * 1024 * 1024;
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("vantrel-bench-" + std::to_string(getpid()));
    const fs::path mailbox = work / "mailboxes" / "FTP_A_QS";
    const fs::path recv = work / "recv";
    fs::create_directories(mailbox);
    fs::create_directories(recv);
    {
        std::ofstream out(mailbox / "bench.dat", std::ios::binary);
        std::mt19937_64 rng(1);
        std::vector<std::uint64_t> chunk(1 << 17);
        for (std::int64_t done = 0; done < size; done += static_cast<std::int64_t>(chunk.size() * 8)) {
            for (auto& v : chunk) v = rng();
            out.write(reinterpret_cast<const char*>(chunk.data()),
                      static_cast<std::streamsize>(std::min<std::int64_t>(size - done, chunk.size() * 8)));
        }
    }
    int portPipe[2], lifePipe[2];
    if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
        close(lifePipe[1]);
        serveGateway(work / "mailboxes", portPipe[1], lifePipe[0]);
    }
    close(lifePipe[0]);
    std::uint16_t port = 0;
    if (read(portPipe[0], &port, sizeof port) != sizeof port) return 1;

    const double openssl = opensslFigure();
    Client client(work, port);
    auto report = [&](const char* what, double secs, bool ok) {
        const double rate = static_cast<double>(size) / secs;
        std::printf("%-28s %s %8.2f MB/s  ratio to openssl des-ede %.2f  client peak RSS %ld KiB\n", what,
                    ok ? "ok    " : "FAILED", rate / 1e6, openssl > 0 ? rate / openssl : 0.0, peakKiB());
    };
    std::printf("file %lld MiB; openssl speed -evp des-ede (16384-byte blocks): %.2f MB/s\n",
                static_cast<long long>(mib), openssl / 1e6);

    ManualTransferEnvironment env;
    env.options.clock = &platform::RealClock::instance();
    std::string error;
    {
        auto h = client.handle();
        ManualTransferRequest r;
        r.mailbox = "FTP_A_QS";
        r.remoteName = "bench.dat";
        r.localDirectory = recv;
        r.fileSize = size;
        auto t0 = std::chrono::steady_clock::now();
        const bool ok = downloadFile(*h, r, env, error) == 0;
        report("download, 1 connection", seconds(t0), ok);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
    }
    // Five connections on recv/bench5.dat and the mailbox's `remote`, then a byte comparison
    // outside the timing.
    auto timeWithFive = [&](const char* what, const std::string& remote, bool upload) {
        TransferItem item;
        item.remoteName = remote;
        item.localName = "bench5.dat";
        item.localDirectory = recv;
        item.fileSize = size;
        item.taskId = remote;
        auto t0 = std::chrono::steady_clock::now();
        bool ok = moveWithFive(client, item, upload);
        const double secs = seconds(t0);
        ok = ok && sameBytes(recv / item.localName, mailbox / remote);
        report(what, secs, ok);
    };
    timeWithFive("download, 5 connections", "bench.dat", false);
    {
        auto h = client.handle();
        ManualTransferRequest r;
        r.mailbox = "FTP_A_QS";
        r.remoteName = "bench-up.dat";
        r.localFile = recv / "bench.dat";
        auto t0 = std::chrono::steady_clock::now();
        const bool ok = uploadFile(*h, r, env, error) == 0;
        report("upload, 1 connection", seconds(t0), ok);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
    }
    timeWithFive("upload, 5 connections", "bench-up5.dat", true);
    close(lifePipe[1]);
    waitpid(child, nullptr, 0);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
