#pragma once
// What the transfer benchmarks share: this machine's openssl figure, the client's peak
// memory, a test gateway in a child process (so the memory figure is the client's), a
// logged-in client, and a file moved by five connections taking its blocks.

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "client/base/logs.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_services.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::bench {

namespace fs = std::filesystem;

inline double opensslFigure() {
    FILE* pipe =
        popen("openssl speed -evp des-ede -seconds 2 -bytes 16384 2>/dev/null | tail -1", "r");
    if (!pipe) return 0;
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    if (!got) return 0;
    const char* last = std::strrchr(line, ' ');
    return last ? std::atof(last + 1) * 1000.0 : 0;  // bytes per second
}

inline long peakKiB() {
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

inline testgateway::TestGatewaySettings settings() {
    return testgateway::parseSettings(
               "[gateway]\n[operator OPER01]\nPassword = pass1234\n"
               "Permission = VRELKA,FTP_A_QS,**,C\n"
               "Permission = VRELKA,FTP_B_QS,**,C\n")
        .value();
}

// Child: serves `root` until its parent closes the pipe. Writes the port to `portPipe`.
[[noreturn]] inline void serveGateway(const fs::path& root, int portPipe, int lifePipe) {
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
        : installation(root, root),
          logs(installation, platform::RealClock::instance(), notifier),
          port(port) {
        context.installation = installation;
        context.clock = &platform::RealClock::instance();
        context.notifier = &notifier;
        context.logs = &logs;
    }
    std::unique_ptr<CVornFtp> handle() {
        auto h = std::make_unique<CVornFtp>(context, process);
        h->SetGatewayList({GatewayEntry{"127.0.0.1", std::to_string(port), "1", "30"}}, 0, "",
                          "OPER01", "pass1234");
        if (!h->LoginToGateway()) std::fprintf(stderr, "login: %s\n", h->LastError().c_str());
        return h;
    }
    Installation installation;
    NullNotifier notifier;
    Logs logs;
    GatewayProcessState process;
    Context context;
    std::uint16_t port;
};

inline double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Five handles, each taking the next block of the file until none is left.
inline bool moveWithFive(Client& client, const TransferItem& item, bool upload,
                         const std::string& mailbox = "FTP_A_QS") {
    const std::string ftpType(upload ? filesvc::kUpload : filesvc::kDownload);
    FileBlockInfo::Options o;
    o.clock = &platform::RealClock::instance();
    FileBlockInfo file(o);
    if (!file.open(item, upload, "VRELKA", mailbox, ftpType)) return false;
    BlockTransferOptions options;
    options.clock = &platform::RealClock::instance();
    std::atomic<bool> ok{true};
    std::vector<std::thread> workers;
    for (int w = 0; w < 5; ++w) {
        workers.emplace_back([&] {
            auto h = client.handle();
            h->SetRoute("VRELKA", mailbox, ftpType);
            for (;;) {
                // The last block waits for the others, as the dispatcher does.
                BlockTask* block = file.claimNextBlock();
                if (!block) {
                    if (file.fileState() == kFileComplete || !ok) return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                block->setState(kBlockTaken);
                const GatewayOutcome got =
                    upload ? uploadBlock(*h, block, options) : downloadBlock(*block, *h, options);
                if (got != GatewayOutcome::Ok) {
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

// Forks the gateway child serving `mailboxes`; its port, or 0. Closing `life` ends it.
inline std::uint16_t startGatewayChild(const fs::path& mailboxes, pid_t& child, int& life) {
    int portPipe[2], lifePipe[2];
    if (pipe(portPipe) != 0 || pipe(lifePipe) != 0) return 0;
    child = fork();
    if (child == 0) {
        close(lifePipe[1]);
        serveGateway(mailboxes, portPipe[1], lifePipe[0]);
    }
    close(lifePipe[0]);
    life = lifePipe[1];
    std::uint16_t port = 0;
    if (read(portPipe[0], &port, sizeof port) != sizeof port) return 0;
    return port;
}

}  // namespace vantrel::bench
