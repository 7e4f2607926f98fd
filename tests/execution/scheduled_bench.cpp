// scheduled_bench: scheduled download runs against the test gateway (in a child process),
// 5 workers: (a) 2,000 files of 10 KB, (b) 4 files of 64 MiB. Prints files per second and
// MB/s, and for (b) the bare transfer engine's figure for the same bytes (each file moved
// by five connections taking its blocks) and `openssl speed -evp des-ede`, all in the same
// run. Not a test: it asserts nothing.
//
//   build/tests/scheduled_bench [small]   (small: case (a) alone, for profiling)

#include <random>

#include "client/catalogue/table_schema.h"
#include "client/execution/tasks/task_scheduler.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/transfer/bench_support.h"

using namespace vantrel;
using namespace vantrel::bench;

namespace {

void writeRandom(const fs::path& path, std::int64_t size, std::mt19937_64& rng) {
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> chunk(1 << 17);
    for (std::int64_t done = 0; done < size; done += static_cast<std::int64_t>(chunk.size() * 8)) {
        for (auto& v : chunk) v = rng();
        out.write(
            reinterpret_cast<const char*>(chunk.data()),
            static_cast<std::streamsize>(std::min<std::int64_t>(size - done, chunk.size() * 8)));
    }
}

catalogue::DownloadTask taskFor(const std::string& id, const std::string& mailbox,
                                const fs::path& recv) {
    catalogue::DownloadTask t;
    t.planid = id;
    t.plandes = id;
    t.plantype = 1;
    t.mailname = mailbox;
    t.filename = "*.*";
    t.recvpath = recv.string();
    t.hastrans = 1;
    t.begindate = "2026-01-01";
    t.begintime = "00:00";
    t.endtime = "23:59";
    t.curweek = "1111111";
    t.planstate = 0;  // run by hand only
    t.right = "OPER01";
    return t;
}

// Starts the task and waits for its run's end; the seconds it took.
double timeRun(TaskScheduler& scheduler, const std::string& id) {
    for (int i = 0; i < 2000 && !scheduler.downloads().find(id); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto t0 = std::chrono::steady_clock::now();
    scheduler.downloads().startNow(id);
    for (;;) {
        const auto state = scheduler.downloads().find(id);
        if (!state || !state->running) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return seconds(t0);
}

}  // namespace

int main(int argc, char** argv) {
    const bool smallOnly = argc > 1 && std::string(argv[1]) == "small";
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path work = base / ("vantrel-sched-bench-" + std::to_string(getpid()));
    const fs::path small = work / "mailboxes" / "FTP_A_QS";
    const fs::path large = work / "mailboxes" / "FTP_B_QS";
    fs::create_directories(small);
    fs::create_directories(large);
    std::mt19937_64 rng(7);
    constexpr int kSmallFiles = 2000;
    constexpr std::int64_t kLarge = 64ll * 1024 * 1024;
    for (int i = 0; i < kSmallFiles; ++i)
        writeRandom(small / ("f" + std::to_string(i) + ".dat"), 10000, rng);
    for (int i = 0; i < (smallOnly ? 0 : 4); ++i)
        writeRandom(large / ("big" + std::to_string(i) + ".dat"), kLarge, rng);

    pid_t child = -1;
    int life = -1;
    const std::uint16_t port = startGatewayChild(work / "mailboxes", child, life);
    if (port == 0) return 1;
    const double openssl = opensslFigure();
    std::printf("openssl speed -evp des-ede (16384-byte blocks): %.2f MB/s\n", openssl / 1e6);

    // The bare engine first: each large file by five connections, one after the other.
    Client client(work, port);
    fs::create_directories(work / "bare");
    const auto t0 = std::chrono::steady_clock::now();
    bool bareOk = true;
    for (int i = 0; i < (smallOnly ? 0 : 4); ++i) {
        TransferItem item;
        item.remoteName = "big" + std::to_string(i) + ".dat";
        item.localName = item.remoteName;
        item.localDirectory = work / "bare";
        item.fileSize = kLarge;
        item.taskId = "bare";
        bareOk = bareOk && moveWithFive(client, item, false, "FTP_B_QS");
    }
    const double bare = 4.0 * static_cast<double>(kLarge) / seconds(t0);
    fs::remove_all(work / "bare");

    // The scheduler as the front ends start it.
    fs::create_directories(work / "localconfig");
    for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
        platform::LocalTime day;
        day.year = 2026;
        testing::writeBytes(work / "localconfig" / spec->fileName,
                            catalogue::BuildTableBytes(*spec, day));
    }
    std::ofstream(work / "localconfig" / "Client.ini") << "[system]\nNoUnzipFileType=dat|\n";
    auto login = client.handle();
    TaskScheduler::Options options;
    options.loginSource = login.get();
    TaskScheduler scheduler(client.context, client.process, options);
    scheduler.catalogue().SetOperator("OPER01");
    std::string message;
    scheduler.catalogue().Add<catalogue::DownloadTask>(taskFor("small", "FTP_A_QS", work / "recv-small"),
                                          message);
    scheduler.catalogue().Add<catalogue::DownloadTask>(taskFor("large", "FTP_B_QS", work / "recv-large"),
                                          message);
    fs::create_directories(work / "recv-small");
    fs::create_directories(work / "recv-large");
    scheduler.start(5);
    scheduler.initialiseToday();

    const double smallSeconds = timeRun(scheduler, "small");
    const double largeSeconds = smallOnly ? 1.0 : timeRun(scheduler, "large");
    const auto smallTask = scheduler.catalogue().Find<catalogue::DownloadTask>("small");
    const auto largeTask = scheduler.catalogue().Find<catalogue::DownloadTask>("large");
    scheduler.stop();

    std::printf("(a) %d files of 10 KB, scheduled, 5 workers: %s %.1f files/s (%.2f MB/s)\n",
                kSmallFiles, smallTask ? smallTask->lastresult.c_str() : "?",
                kSmallFiles / smallSeconds, kSmallFiles * 10000.0 / smallSeconds / 1e6);
    const double largeRate = 4.0 * static_cast<double>(kLarge) / largeSeconds;
    std::printf(
        "(b) 4 files of 64 MiB, scheduled, 5 workers: %s %.2f MB/s (ratio to openssl %.2f)\n",
        largeTask ? largeTask->lastresult.c_str() : "?", largeRate / 1e6,
        openssl > 0 ? largeRate / openssl : 0);
    std::printf(
        "    bare engine, same files, 5 connections per file: %s %.2f MB/s; scheduled/bare %.2f\n",
        bareOk ? "ok" : "FAILED", bare / 1e6, largeRate / bare);
    std::printf("client peak RSS %ld KiB\n", peakKiB());
    close(life);
    waitpid(child, nullptr, 0);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
