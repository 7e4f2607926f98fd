// Prints how long the catalogue takes for the loads it meets in practice:
//   - loading a download task table of 10,000 rows,
//   - opening and walking a download list of 100,000 rows,
//   - rebuilding a download list from a listing of 20,000 names.
// Not a test: it asserts nothing and prints figures.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/base/context.h"
#include "client/base/logs.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/download_list.h"
#include "client/catalogue/table_schema.h"
#include "client/catalogue/task_catalogue.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace vantrel;
using namespace vantrel::catalogue;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeTemplate(const Installation& installation, const TableSpec& spec) {
    platform::LocalTime date;
    date.year = 2026;
    const std::string bytes = BuildTableBytes(spec, date);
    std::ofstream(installation.localconfig() / spec.fileName, std::ios::binary)
        .write(bytes.data(), static_cast<long>(bytes.size()));
}

}  // namespace

int main() {
    testing::TempDir dir;
    Installation installation(dir.path() / "root", dir.path() / "run");
    std::filesystem::create_directories(installation.localconfig());
    std::filesystem::create_directories(installation.log());
    std::filesystem::create_directories(dir.path() / "run");
    for (const TableSpec* spec : ShippedTemplates()) writeTemplate(installation, *spec);
    NullNotifier notifier;
    Logs logs(installation, platform::RealClock::instance(), notifier);
    Context context;
    context.installation = installation;
    context.clock = &platform::RealClock::instance();
    context.notifier = &notifier;
    context.logs = &logs;

    // 1. A task table of 10,000 rows.
    {
        CDbfImpl table;
        table.Open(installation.localconfig() / kDownloadTaskTable, 2);
        for (int i = 0; i < 10000; ++i) {
            const std::string id = "20261208093000-" + std::to_string(10000 + i);
            table.AppendRow({{"plantype", "1"},
                             {"plandes", "每日行情下载任务"},
                             {"planid", id},
                             {"right", "public"},
                             {"mailname", "FTP_A_QS"},
                             {"filename", "*.txt"},
                             {"recvpath", "/data/recv/" + id},
                             {"begindate", "2026-01-01"},
                             {"begintime", "09:00"},
                             {"endtime", "17:00"},
                             {"curweek", "1111100"},
                             {"timespace", "10"},
                             {"planstate", "1"}});
        }
    }
    CPlanDir planDir;
    CModule module(context, planDir);
    auto start = Clock::now();
    module.Load<catalogue::DownloadTask>();
    std::printf("load a task table of 10,000 rows:              %.3f s (%zu tasks)\n",
                secondsSince(start), module.Tasks<catalogue::DownloadTask>().size());

    // 2. A download list of 100,000 rows.
    const std::filesystem::path receive = dir.path() / "recv";
    std::filesystem::create_directories(receive);
    CDownLoadFile list(context, nullptr, nullptr);
    list.Init("BENCH", CDownLoadFile::TaskKind::Download);
    list.SetReceiveDirectory(receive);
    for (int i = 0; i < 100000; ++i) {
        const std::string name = "file" + std::to_string(i) + ".txt";
        list.AppendRow(name, "1024", "0", "2026-12-08 09:00:00", i % 2 ? "2026-12-08 09:30:00" : "",
                       i % 2 ? "4" : "0", "", "");
    }
    start = Clock::now();
    list.OpenList();
    list.LoadWorkItems();
    std::printf(
        "open and walk a download list of 100,000 rows: %.3f s (%zu work items, %d delivered)\n",
        secondsSince(start), list.Items().size(), list.DeliveredCount());

    // 3. Rebuild from a listing of 20,000 names.
    CDownLoadFile rebuilt(context, nullptr, nullptr);
    rebuilt.Init("REBUILD", CDownLoadFile::TaskKind::Download);
    rebuilt.SetReceiveDirectory(receive);
    std::vector<RemoteFileEntry> listing;
    for (int i = 0; i < 20000; ++i)
        listing.push_back(
            {"remote" + std::to_string(i) + ".zip", 4096 + i, "20261208", "09:00:00"});
    rebuilt.RebuildList(listing);
    start = Clock::now();
    rebuilt.RebuildList(listing);
    std::printf("rebuild a list from a 20,000-name listing:     %.3f s\n", secondsSince(start));
    return 0;
}
