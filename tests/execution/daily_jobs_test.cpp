// A week of `serve`'s core on a fake clock: the task scheduler with its thread manager runs,
// and each day starts with its flag list and upload directories, the history clean-up keeps
// no more than HistoryDays days, deleted task rows are packed away, and the 02:00 and 03:00
// checks run once each per night.

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "client/catalogue/dbf_table.h"
#include "client/catalogue/table_schema.h"
#include "client/catalogue/task_catalogue.h"
#include "client/execution/tasks/task_scheduler.h"
#include "platform/files.h"
#include "tests/catalogue/table_bytes.h"
#include "tests/support/local_time.h"
#include "tests/support/temp_dir.h"

namespace vantrel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kHistoryDays = 3;

class DailyWork : public ::testing::Test {
  protected:
    DailyWork() : installation(root.path(), root.path()), clock(at(0, 1, 0, 0)) {}

    void SetUp() override {
        fs::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates())
            writeBytes(installation.localconfig() / spec->fileName,
                       catalogue::BuildTableBytes(*spec, localTime(2026, 1, 1)));
        ASSERT_TRUE(platform::writeFileAtomically(
            installation.clientIni(),
            "[system]\nHistoryDays=" + std::to_string(kHistoryDays) + "\n[sshbcfg]\nrunstate=0\n"));
    }

    Context context() {
        Context c;
        c.installation = installation;
        c.clock = &clock;
        c.notifier = &notifier;
        return c;
    }

    static std::string dayOf(const platform::LocalTime& t) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", t.year, t.month, t.day);
        return text;
    }
    std::string today() const { return dayOf(clock.localNow()); }

    // A file written "now" by the fake clock: the file system's clock cannot be faked, so
    // the test gives each file the time the client would have written it at.
    void stamp(const fs::path& file) {
        fs::last_write_time(file, fs::file_time_type::clock::from_sys(clock.now()));
        stamped.insert(file);
    }
    void plant(const fs::path& file) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
        stamp(file);
    }
    // What the client wrote into log/ and data/ since the last look gets today's time.
    void stampWhatTheClientWrote() {
        for (const fs::path& dir : {installation.log(), installation.data()}) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(dir, ec)) {
                if (entry.is_regular_file() && !stamped.count(entry.path())) stamp(entry.path());
            }
        }
    }
    // The distinct days of the files' last writes in `dir`.
    static std::set<std::string> daysHeld(const fs::path& dir) {
        std::set<std::string> days;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            if (!entry.is_regular_file()) continue;
            const auto written = fs::file_time_type::clock::to_sys(entry.last_write_time());
            days.insert(dayOf(platform::toLocalTime(
                std::chrono::time_point_cast<platform::WallTime::duration>(written))));
        }
        return days;
    }
    static std::vector<std::string> namesIn(const fs::path& dir) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    int deletedRows(const char* table) {
        catalogue::CDbfImpl dbf(clock);
        EXPECT_EQ(dbf.Open(installation.localconfig() / table, 1), 1);
        int deleted = 0;
        catalogue::DbfRow row;
        for (int r = 0; r < dbf.GetRecordCount(); ++r) {
            if (dbf.ReadRow(r, row) && row.deleted()) ++deleted;
        }
        return deleted;
    }
    template <class Done>
    static bool waitFor(Done done) {
        for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(10ms);
        return done();
    }
    static platform::WallTime at(int dayOffset, int h, int mi, int s) {
        return platform::fromLocalTime(localTime(2026, 3, 1 + dayOffset, h, mi, s));
    }

    TempDir root;
    Installation installation;
    platform::FakeClock clock;
    RecordingNotifier notifier;
    GatewayProcessState process;
    std::set<fs::path> stamped;
};

catalogue::DownloadTask downloadTask(const std::string& id, const fs::path& recv) {
    catalogue::DownloadTask t;
    t.planid = id;
    t.plandes = "每日";
    t.plantype = 1;
    t.mailname = "FTP_A_QS";
    t.filename = "*.*";
    t.recvpath = recv.string();
    t.hasrecvdir = 1;
    t.begindate = "2026-01-01";
    t.begintime = "08:00";
    t.endtime = "17:00";
    t.curweek = "1111111";
    t.planstate = 0;  // never due: the week is about the day's work, not about runs
    t.right = "public";
    return t;
}

catalogue::UploadTask uploadTask(const std::string& id, const fs::path& base) {
    catalogue::UploadTask t;
    t.planid = id;
    t.plandes = "上传";
    t.mailname = "FTP_A_QS";
    t.loadtype = 1;
    t.begindate = "2026-01-01";
    t.begintime = "08:00";
    t.endtime = "17:00";
    t.sendpath = (base / "send").string();
    t.hassenddir = 1;
    t.sentpath = (base / "sent").string();
    t.hassentdir = 1;
    t.curweek = "1111111";
    t.weektype = 1;
    t.timespace = 10;
    t.planstate = 0;
    t.right = "public";
    return t;
}

TEST_F(DailyWork, aWeekOfServeKeepsHistoryDaysPacksDeletedRowsAndRunsEachNightlyCheckOnce) {
    // setup: a download task whose receive directory files by day, an upload task with
    // dated send and sent directories, a deleted row, and what 40 days left behind
    const fs::path recv = root.path() / "recv";
    {
        catalogue::CPlanDir dirs;
        const Context c = context();
        catalogue::CModule module(c, dirs);
        std::string message;
        ASSERT_EQ(module.Add<catalogue::DownloadTask>(downloadTask("D1", recv), message), 1) << message;
        ASSERT_EQ(module.Add<catalogue::DownloadTask>(downloadTask("D-gone", recv), message), 1);
        ASSERT_EQ(module.Delete<catalogue::DownloadTask>(downloadTask("D-gone", recv), message), 1);
        ASSERT_EQ(module.Add<catalogue::UploadTask>(uploadTask("U1", root.path()), message), 1) << message;
        ASSERT_EQ(module.Add<catalogue::UploadTask>(uploadTask("U2", root.path() / "u2"), message), 1);
    }
    ASSERT_EQ(deletedRows(catalogue::kDownloadTaskTable), 1);
    clock.set(at(-40, 12, 0, 0));
    plant(installation.log() / "SysLog20260120.log");
    plant(installation.data() / "D1-20260120.dat");
    plant(recv / "20260120" / "old.txt");
    plant(recv / "a.txt_SUCCESS_20260120120000");
    plant(root.path() / "tmp" / "20260120" / "part.tmp");
    plant(root.path() / "Bullet" / "20260120" / "b.txt");
    // A command a second vantrel-cli is writing into the inbox at that moment.
    plant(installation.data() / "commands" / "00000000000000000001-1-0.part");
    clock.set(at(0, 1, 0, 0));
    // The moments of each day, made before the threads run: mktime's time zone set-up and
    // the threads' local-time reads do not mix under the thread sanitizer.
    struct Day {
        platform::WallTime begins, flagCheck, flagAgain, versionCheck, versionAgain, evening;
    };
    std::vector<Day> week;
    for (int d = 0; d < 7; ++d) {
        week.push_back({at(d, 0, 0, 5), at(d, 2, 0, 10), at(d, 2, 0, 50), at(d, 3, 0, 10),
                        at(d, 3, 0, 50), at(d, 23, 59, 50)});
    }

    TaskScheduler::Options options;
    options.tickPeriod = 10ms;
    options.stopStep = 1ms;
    TaskScheduler scheduler(context(), process, options);
    // The days the checks ran on; written by the plan monitor.
    std::mutex nightMutex;
    std::vector<std::string> flagUpdates, versionChecks;
    const auto ranOn = [&](std::vector<std::string>& runs) {
        return [&] {
            std::lock_guard lock(nightMutex);
            runs.push_back(today());
        };
    };
    const auto count = [&](const std::vector<std::string>& runs) {
        std::lock_guard lock(nightMutex);
        return runs.size();
    };
    scheduler.daily().setNightly({ranOn(flagUpdates), ranOn(versionChecks)});

    // act: start-up at 01:00, then seven days and nights
    scheduler.start(1);
    std::vector<std::string> days;
    for (int d = 0; d < 7; ++d) {
        if (d > 0) clock.set(week[static_cast<std::size_t>(d)].begins);
        const std::string day = today();
        days.push_back(day);
        ASSERT_TRUE(waitFor([&] { return scheduler.daily().dayStarted() == day; })) << day;
        stampWhatTheClientWrote();

        // verify: the day's flag list and upload directories, at most HistoryDays days
        // kept, and rows deleted the day before are gone
        EXPECT_TRUE(fs::exists(installation.data() / (day + "-FLAG.flg"))) << day;
        EXPECT_TRUE(fs::is_directory(root.path() / "send" / day)) << day;
        EXPECT_TRUE(fs::is_directory(root.path() / "sent" / day)) << day;
        EXPECT_LE(daysHeld(installation.log()).size(), std::size_t(kHistoryDays)) << day;
        EXPECT_LE(daysHeld(installation.data()).size(), std::size_t(kHistoryDays)) << day;
        EXPECT_LE(namesIn(recv).size(), std::size_t(kHistoryDays) * 2) << day;
        EXPECT_LE(namesIn(root.path() / "tmp").size(), std::size_t(kHistoryDays)) << day;
        EXPECT_FALSE(fs::exists(root.path() / "tmp" / "loose.tmp")) << day;
        EXPECT_LE(namesIn(root.path() / "Bullet").size(), std::size_t(kHistoryDays)) << day;
        EXPECT_EQ(deletedRows(catalogue::kDownloadTaskTable), 0) << day;
        EXPECT_EQ(deletedRows(catalogue::kUploadTaskTable), 0) << day;

        // The day's own history, and on day 2 a task deleted from the list.
        plant(installation.log() / ("U1-" + day + ".log"));
        plant(installation.data() / ("D1-" + day + ".dat"));
        plant(recv / day / "r.txt");
        plant(recv / ("r.txt_SUCCESS_" + day + "093000"));
        plant(root.path() / "tmp" / day / "part.tmp");
        plant(root.path() / "tmp" / "loose.tmp");
        plant(root.path() / "Bullet" / day / "b.txt");
        if (d == 2) {
            std::string message;
            const catalogue::UploadTask gone = uploadTask("U2", root.path() / "u2");
            ASSERT_EQ(scheduler.catalogue().Delete<catalogue::UploadTask>(gone, message), 1) << message;
            scheduler.catalogue().Remove<catalogue::UploadTask>("U2");
            ASSERT_EQ(deletedRows(catalogue::kUploadTaskTable), 1);
        }

        // The nightly checks, with more ticks inside their minute.
        clock.set(week[static_cast<std::size_t>(d)].flagCheck);
        ASSERT_TRUE(waitFor([&] { return count(flagUpdates) == std::size_t(d) + 1; })) << day;
        clock.set(week[static_cast<std::size_t>(d)].flagAgain);
        std::this_thread::sleep_for(50ms);
        clock.set(week[static_cast<std::size_t>(d)].versionCheck);
        ASSERT_TRUE(waitFor([&] { return count(versionChecks) == std::size_t(d) + 1; })) << day;
        clock.set(week[static_cast<std::size_t>(d)].versionAgain);
        std::this_thread::sleep_for(50ms);
        clock.set(week[static_cast<std::size_t>(d)].evening);
        std::this_thread::sleep_for(50ms);
    }
    scheduler.stop();

    // verify: each check once a night, every day begun once and told to the window, what
    // was 40 days old went at start-up, and the inbox kept its command
    EXPECT_EQ(flagUpdates, days);
    EXPECT_EQ(versionChecks, days);
    std::vector<std::string> began;
    for (const NotifierEvent& event : notifier.events()) {
        if (const auto* b = std::get_if<DayBegan>(&event)) began.push_back(b->day);
    }
    EXPECT_EQ(began, days);
    EXPECT_FALSE(fs::exists(installation.log() / "SysLog20260120.log"));
    EXPECT_FALSE(fs::exists(recv / "20260120"));
    EXPECT_FALSE(fs::exists(recv / "a.txt_SUCCESS_20260120120000"));
    EXPECT_FALSE(fs::exists(root.path() / "Bullet" / "20260120"));
    EXPECT_TRUE(fs::exists(installation.data() / "commands" / "00000000000000000001-1-0.part"));
    // The last HistoryDays days are all still there.
    EXPECT_EQ(namesIn(root.path() / "Bullet"),
              (std::vector<std::string>{days[4], days[5], days[6]}));
}

}  // namespace
}  // namespace vantrel::testing
