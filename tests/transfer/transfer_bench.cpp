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

#include "client/base/logs.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_services.h"
#include "client/transfer/manual_transfer.h"
#include "tests/transfer/bench_support.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"

namespace fs = std::filesystem;
using namespace vantrel;
using namespace vantrel::bench;

namespace {

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(1 << 20), q(1 << 20);
    while (x && y) {
        x.read(p.data(), static_cast<std::streamsize>(p.size()));
        y.read(q.data(), static_cast<std::streamsize>(q.size()));
        if (x.gcount() != y.gcount() || !std::equal(p.begin(), p.begin() + x.gcount(), q.begin()))
            return false;
    }
    return x.eof() && y.eof();
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t mib = argc > 1 ? std::atoll(argv[1]) : 256;
    const std::int64_t size = mib * 1024 * 1024;
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("vantrel-bench-" + std::to_string(getpid()));
    const fs::path mailbox = work / "mailboxes" / "FTP_A_QS";
    const fs::path recv = work / "recv";
    fs::create_directories(mailbox);
    fs::create_directories(recv);
    {
        std::ofstream out(mailbox / "bench.dat", std::ios::binary);
        std::mt19937_64 rng(1);
        std::vector<std::uint64_t> chunk(1 << 17);
        for (std::int64_t done = 0; done < size;
             done += static_cast<std::int64_t>(chunk.size() * 8)) {
            for (auto& v : chunk) v = rng();
            out.write(reinterpret_cast<const char*>(chunk.data()),
                      static_cast<std::streamsize>(
                          std::min<std::int64_t>(size - done, chunk.size() * 8)));
        }
    }
    pid_t child = -1;
    int life = -1;
    const std::uint16_t port = startGatewayChild(work / "mailboxes", child, life);
    if (port == 0) return 1;

    const double openssl = opensslFigure();
    Client client(work, port);
    auto report = [&](const char* what, double secs, bool ok) {
        const double rate = static_cast<double>(size) / secs;
        std::printf("%-28s %s %8.2f MB/s  ratio to openssl des-ede %.2f  client peak RSS %ld KiB\n",
                    what, ok ? "ok    " : "FAILED", rate / 1e6, openssl > 0 ? rate / openssl : 0.0,
                    peakKiB());
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
        const bool ok = downloadFile(*h, r, env, error) == GatewayOutcome::Ok;
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
        const bool ok = uploadFile(*h, r, env, error) == GatewayOutcome::Ok;
        report("upload, 1 connection", seconds(t0), ok);
        if (!ok) std::fprintf(stderr, "%s\n", error.c_str());
    }
    timeWithFive("upload, 5 connections", "bench-up5.dat", true);
    close(life);
    waitpid(child, nullptr, 0);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
