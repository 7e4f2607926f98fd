// vantrel-testgateway [--settings FILE] [--mailbox-root DIR] [--gateway-port N] [--update-port N]
//                     [--ports-file FILE] [--drop-after N] [--delay-ms N] [--fail-next CODE]
//                     [--update-root DIR] [--update-value NAME=VALUE]... [--realtime-drip SECONDS]
// A loopback gateway and update server on 127.0.0.1. Port 0 (the default) picks free ports;
// the chosen ports are printed ("gateway port N", "update port M") and, with --ports-file,
// written to FILE as "gateway=N" and "update=M" lines. With a mailbox root (option or
// settings file) it also serves the mailbox files under it; with an update root, the update
// server's fast downloads of the files under that one. --update-value sets a value the
// update server answers by name (replacing one of that name). --realtime-drip publishes a new
// real-time report into today's folder of FTP_SSHB every SECONDS (at most 100), for the
// demo. Runs until SIGINT or SIGTERM.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "tools/testgateway/demo_settings.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"

namespace {

int usage() {
    std::fprintf(
        stderr,
        "usage: vantrel-testgateway [--settings FILE] [--mailbox-root DIR] [--gateway-port N]\n"
        "                           [--update-port N] [--ports-file FILE] [--drop-after N]\n"
        "                           [--delay-ms N] [--fail-next CODE] [--update-root DIR]\n"
        "                           [--update-value NAME=VALUE]... [--realtime-drip SECONDS]\n");
    return 2;
}

bool parsePort(const std::string& text, std::uint16_t& port) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// Publishes report N of today: written beside the day folder, then renamed into it, so a
// list never shows half a report.
void publishReport(const std::filesystem::path& area, int n) {
    const vantrel::platform::LocalTime t = vantrel::platform::RealClock::instance().localNow();
    char day[16];
    std::snprintf(day, sizeof day, "%04d%02d%02d", t.year, t.month, t.day);
    char name[64];
    std::snprintf(name, sizeof name, "report_%03d.txt", n);
    std::string text;
    for (int line = 0; line <= n % 7; ++line) {
        char row[96];
        std::snprintf(row, sizeof row, "%06d|%s|%02d:%02d:%02d|%d\r\n", 600000 + n, day, t.hour,
                      t.minute, t.second, line);
        text += row;
    }
    std::error_code ec;
    std::filesystem::create_directories(area / day, ec);
    const auto partial = area / ".publishing.tmp";
    if (vantrel::platform::writeFileAtomically(partial, text))
        std::filesystem::rename(partial, area / day / name, ec);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantrel::testgateway;
    std::string settingsFile;
    std::string portsFile;
    std::string mailboxRoot;
    std::uint16_t gatewayPort = 0;
    std::uint16_t updatePort = 0;
    int dropAfter = 0;
    int delayMs = 0;
    std::string failNext;
    std::string updateRoot;
    std::vector<std::pair<std::string, std::string>> updateValues;
    int dripSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string value = argv[++i];
        if (arg == "--settings") {
            settingsFile = value;
        } else if (arg == "--mailbox-root") {
            mailboxRoot = value;
        } else if (arg == "--ports-file") {
            portsFile = value;
        } else if (arg == "--gateway-port") {
            if (!parsePort(value, gatewayPort)) return usage();
        } else if (arg == "--update-port") {
            if (!parsePort(value, updatePort)) return usage();
        } else if (arg == "--drop-after") {
            dropAfter = std::atoi(value.c_str());
        } else if (arg == "--delay-ms") {
            delayMs = std::atoi(value.c_str());
        } else if (arg == "--fail-next") {
            failNext = value;
        } else if (arg == "--update-root") {
            updateRoot = value;
        } else if (arg == "--update-value") {
            const auto eq = value.find('=');
            if (eq == std::string::npos || eq == 0) return usage();
            updateValues.emplace_back(value.substr(0, eq), value.substr(eq + 1));
        } else if (arg == "--realtime-drip") {
            dripSeconds = std::atoi(value.c_str());
        } else {
            return usage();
        }
    }

    TestGatewaySettings settings = demoSettings();
    if (!settingsFile.empty()) {
        auto loaded = loadSettings(settingsFile);
        if (!loaded) {
            std::fprintf(stderr, "vantrel-testgateway: %s: %s\n", settingsFile.c_str(),
                         loaded.status().text().c_str());
            return 1;
        }
        settings = std::move(loaded.value());
    }
    if (!mailboxRoot.empty()) settings.mailboxRoot = mailboxRoot;
    if (!updateRoot.empty()) settings.updateRoot = updateRoot;
    for (const auto& [name, value] : updateValues) {
        std::erase_if(settings.updateValues, [&](const auto& v) { return v.first == name; });
        settings.updateValues.emplace_back(name, value);
    }
    std::shared_ptr<MailboxFileService> files;
    if (!settings.mailboxRoot.empty()) {
        if (!std::filesystem::is_directory(settings.mailboxRoot)) {
            std::fprintf(stderr, "vantrel-testgateway: mailbox root %s is not a folder\n",
                         settings.mailboxRoot.c_str());
            return 1;
        }
        files = std::make_shared<MailboxFileService>(settings.mailboxRoot, settings.businessDate);
    }

    // Block the stop signals before any thread starts, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TestGateway gateway(std::move(settings));
    gateway.faults().dropAfterPackets = dropAfter;
    gateway.faults().answerDelayMs = delayMs;
    if (!failNext.empty()) gateway.faults().failNextTransaction(failNext);
    if (files) gateway.addService(files);
    if (auto s = gateway.start(gatewayPort, updatePort); !s) {
        std::fprintf(stderr, "vantrel-testgateway: %s\n", s.text().c_str());
        return 1;
    }
    std::printf("gateway port %u\nupdate port %u\n", gateway.gatewayPort(), gateway.updatePort());
    std::fflush(stdout);
    if (!portsFile.empty()) {
        const std::string ports = "gateway=" + std::to_string(gateway.gatewayPort()) +
                                  "\nupdate=" + std::to_string(gateway.updatePort()) + "\n";
        if (auto s = vantrel::platform::writeFileAtomically(portsFile, ports); !s) {
            std::fprintf(stderr, "vantrel-testgateway: %s\n", s.text().c_str());
            return 1;
        }
    }
    std::atomic<bool> stopping{false};
    std::thread drip;
    if (dripSeconds > 0 && files) {
        drip = std::thread([&] {
            for (int n = 1; n <= 100 && !stopping; ++n) {
                publishReport(files->root() / kRealtimeMailbox, n);
                for (int step = 0; step < dripSeconds * 10 && !stopping; ++step)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    stopping = true;
    if (drip.joinable()) drip.join();
    gateway.stop();
    return 0;
}
