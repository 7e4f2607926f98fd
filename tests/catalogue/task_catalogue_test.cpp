#include "client/catalogue/task_catalogue.h"

#include <gmock/gmock.h>

#include <thread>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "platform/ini_file.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel::catalogue {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::localTime;

UploadTask uploadTask(const std::string& id, const std::string& right, const std::string& send) {
    UploadTask t;
    t.plandes = "上传任务" + id;
    t.planid = id;
    t.right = right;
    t.opertype = "1";
    t.mailname = "FTP_A_QS";
    t.loadtype = 1;
    t.begindate = "2026-01-01";
    t.begintime = "09:00";
    t.endtime = "17:00";
    t.sendpath = send + "/";
    t.hassenddir = 1;
    t.sentpath = send + "-sent";
    t.curweek = "1111111";
    t.tmpweek = "1111100";
    t.weektype = 1;
    t.timespace = 10;
    t.planstate = 1;
    return t;
}

DownloadTask downloadTask(const std::string& id, const std::string& recv) {
    DownloadTask t;
    t.plantype = 1;
    t.plandes = "下载";
    t.planid = id;
    t.right = "public";
    t.mailname = "FTP_B_QS";
    t.filename = "*.txt";
    t.recvpath = recv;
    t.begindate = "2026-01-01";
    t.begintime = "22:00";
    t.endtime = "06:00";
    t.nextday = 1;
    t.curweek = "1000000";
    t.timespace = 10;
    t.planstate = 1;
    return t;
}

AutoSyncTask autoSyncTask(const std::string& id, const std::string& mailbox) {
    AutoSyncTask t;
    t.plantype = 1;
    t.planid = id;
    t.right = "public";
    t.mailname = mailbox;
    t.recvpath = "/tmp/auto-" + id;
    t.begindate = "2026-01-01";
    t.begintime = "08:00";
    t.endtime = "18:00";
    t.timespace = 5;
    t.planstate = 1;
    return t;
}

class TaskCatalogueTest : public testing::CatalogueFixture {
  protected:
    TaskCatalogueTest() : module_(context_, planDir_) { module_.SetOperator("OP01"); }

    std::string field(const char* table, const std::string& id, const char* name) {
        CDbfImpl t;
        EXPECT_EQ(t.Open(installation_.localconfig() / table, 1), 1);
        std::string value;
        t.GetFieldValueByName(FindRecordByPlanId(id, t), name, value);
        return TrimText(value);
    }

    std::string sysLogText() { return logText(logs_.sysLogPath(clock_.localNow())); }

    CPlanDir planDir_;
    CModule module_;
};

TEST_F(TaskCatalogueTest, loadKeepsTheOperatorsAndPublicRowsThatAreNotDeleted) {
    // setup
    std::string message;
    const std::string send = (dir_.path() / "send").string();
    ASSERT_EQ(module_.Add<catalogue::UploadTask>(uploadTask("A", "op01", send + "A"), message), 1) << message;
    ASSERT_EQ(module_.Add<catalogue::UploadTask>(uploadTask("B", "OTHER", send + "B"), message), 1);
    ASSERT_EQ(module_.Add<catalogue::UploadTask>(uploadTask("C", "PUBLIC", send + "C"), message), 1);
    ASSERT_EQ(module_.Add<catalogue::UploadTask>(uploadTask("D", "public", send + "D"), message), 1);
    ASSERT_EQ(module_.Delete<catalogue::UploadTask>(uploadTask("D", "", ""), message), 1);
    // act
    module_.Load<catalogue::UploadTask>();
    // verify
    std::vector<std::string> ids;
    for (const auto& t : module_.Tasks<catalogue::UploadTask>()) ids.push_back(t.planid);
    EXPECT_THAT(ids, ElementsAre("A", "C"));
    const UploadTask a = *module_.Find<catalogue::UploadTask>("A");
    EXPECT_EQ(a.plandes, "上传任务A");
    EXPECT_EQ(a.sendpath, send + "A") << "stored without its trailing separator";
    EXPECT_EQ(a.loadtype, 1);
    EXPECT_EQ(a.hassenddir, 1);
    EXPECT_EQ(a.hastrans, 0);
    EXPECT_EQ(a.timespace, 10);
    EXPECT_EQ(field(kUploadTaskTable, "A", "hastrans"), "");
    EXPECT_TRUE(std::filesystem::is_directory(send + "A/20261208"))
        << "today's dated send directory";
    EXPECT_TRUE(std::filesystem::is_directory(send + "A-sent"));
    EXPECT_THAT(sysLogText(), HasSubstr("初始化上传任务成功,共初始化[2]个任务"));
    EXPECT_EQ(planDir_.Snapshot().size(), 2u);
    EXPECT_EQ(eventsOf<UploadTasksReloading>().size(), 1u);
}

TEST_F(TaskCatalogueTest, anUploadTaskWithoutDaysLoadsUnscheduled) {
    std::string message;
    UploadTask t = uploadTask("A", "public", (dir_.path() / "s").string());
    t.curweek = "0000000";
    ASSERT_EQ(module_.Add<catalogue::UploadTask>(t, message), 1);
    module_.Load<catalogue::UploadTask>();
    EXPECT_FALSE(module_.Find<catalogue::UploadTask>("A")->nextRun.has_value());
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "s"));
}

TEST_F(TaskCatalogueTest, aNightDownloadTaskLoadedAfterMidnightIsDue) {
    clock_.setLocal(localTime(2026, 12, 8, 1, 0, 0));  // Tuesday; the task runs on Mondays
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask("N", "/tmp/n"), message), 1);
    module_.Load<catalogue::DownloadTask>();
    const auto task = module_.Find<catalogue::DownloadTask>("N");
    ASSERT_TRUE(task && task->nextRun);
    EXPECT_LE(*task->nextRun, clock_.now());
}

TEST_F(TaskCatalogueTest, olderTablesAreMigratedOnceAsPublic) {
    // setup: an older table with two rows, the second deleted, and one id already present
    std::string message;
    testing::writeBytes(installation_.localconfig() / kOldDownloadTaskTable,
                        BuildTableBytes(DownloadTaskTableSpec(), localTime(2020, 1, 1)));
    {
        CDbfImpl old;
        ASSERT_EQ(old.Open(installation_.localconfig() / kOldDownloadTaskTable, 2), 1);
        for (const char* id : {"OLD1", "OLD2", "DUP"}) {
            ASSERT_GE(old.AppendRow({{"planid", id},
                                     {"right", "someone"},
                                     {"plandes", "旧任务"},
                                     {"planstate", "1"},
                                     {"curweek", "1111111"},
                                     {"begintime", "09:00"},
                                     {"endtime", "17:00"}}),
                      0);
        }
        ASSERT_EQ(MarkRecordDeleted(1, old), 0);
    }
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask("DUP", "/tmp/d"), message), 1);
    // act
    module_.Load<catalogue::DownloadTask>();
    // verify
    EXPECT_FALSE(std::filesystem::exists(installation_.localconfig() / kOldDownloadTaskTable));
    EXPECT_EQ(field(kDownloadTaskTable, "OLD1", "right"), "public");
    EXPECT_EQ(field(kDownloadTaskTable, "OLD1", "plandes"), "旧任务");
    EXPECT_TRUE(module_.Find<catalogue::DownloadTask>("OLD1").has_value());
    EXPECT_FALSE(module_.Find<catalogue::DownloadTask>("OLD2").has_value()) << "deleted there, deleted here";
    CDbfImpl table;
    ASSERT_EQ(table.Open(installation_.localconfig() / kDownloadTaskTable, 1), 1);
    EXPECT_EQ(table.GetRecordCount(), 3) << "the id already present is not copied again";
}

TEST_F(TaskCatalogueTest, bulletinTasksSavedWithACutCodeGetTheirWholeBulletinFolderBack) {
    // setup: bulletin tasks of the old form, the folder's code cut to the 8 characters of
    // mailname; one bulletin task of the new form and a mailbox task
    std::string message;
    const std::pair<const char*, const char*> old[] = {
        {"A", "FTP_A_BU"}, {"B", "FTP_B_BU"}, {"SG", "FTP_SG_B"}, {"TZ", "ftp_tz_b"}};
    for (const auto& [id, cut] : old) {
        DownloadTask t = downloadTask(id, std::string("/tmp/b") + id);
        t.plantype = 2;
        t.mailname = cut;
        t.opertype = "1";
        ASSERT_EQ(module_.Add<catalogue::DownloadTask>(t, message), 1) << message;
    }
    DownloadTask current = downloadTask("NEW", "/tmp/new");
    current.plantype = 2;
    current.opertype = "FTP_SG_BULLET";
    current.mailname = "FTP_A_QS";
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(current, message), 1);
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask("BOX", "/tmp/box"), message), 1);
    // act
    module_.Load<catalogue::DownloadTask>();
    // verify: each mapped to the one folder its prefix names, in memory and in the table
    const std::pair<const char*, const char*> expected[] = {{"A", "FTP_A_BULLET"},
                                                            {"B", "FTP_B_BULLET"},
                                                            {"SG", "FTP_SG_BULLET"},
                                                            {"TZ", "FTP_TZ_BULLET"},
                                                            {"NEW", "FTP_SG_BULLET"}};
    for (const auto& [id, code] : expected) {
        ASSERT_TRUE(module_.Find<catalogue::DownloadTask>(id)) << id;
        EXPECT_EQ(module_.Find<catalogue::DownloadTask>(id)->opertype, code) << id;
        EXPECT_EQ(field(kDownloadTaskTable, id, "opertype"), code) << id;
    }
    EXPECT_EQ(field(kDownloadTaskTable, "NEW", "mailname"), "FTP_A_QS");
    EXPECT_EQ(field(kDownloadTaskTable, "BOX", "opertype"), "");
    EXPECT_THAT(sysLogText(), HasSubstr("公告任务[A]的公告类型[FTP_A_BU]已更正为[FTP_A_BULLET]"));
}

TEST_F(TaskCatalogueTest, modifyKeepsIdAndFirstDayAndMissingRowsAreReported) {
    std::string message;
    UploadTask t = uploadTask("A", "public", (dir_.path() / "s").string());
    ASSERT_EQ(module_.Add<catalogue::UploadTask>(t, message), 1);
    t.begindate = "2030-01-01";
    t.plandes = "改过";
    ASSERT_EQ(module_.Modify<catalogue::UploadTask>(t, message), 1) << message;
    EXPECT_EQ(field(kUploadTaskTable, "A", "plandes"), "改过");
    EXPECT_EQ(field(kUploadTaskTable, "A", "begindate"), "2026-01-01");
    EXPECT_THAT(sysLogText(), HasSubstr("修改上传任务成功! 任务ID：A"));

    t.planid = "missing";
    EXPECT_EQ(module_.Modify<catalogue::UploadTask>(t, message), 0);
    EXPECT_THAT(message, HasSubstr("修改上传任务失败! 任务ID：missing，失败原因：上传任务表["));
    EXPECT_EQ(module_.Delete<catalogue::UploadTask>(t, message), 1);
    EXPECT_THAT(message, HasSubstr("中没有找到相应的记录！"));
    const auto changes = eventsOf<TaskRecordChanged>();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[1].change, TaskRecordChanged::Change::Modified);
}

TEST_F(TaskCatalogueTest, aMissingTableFailsWithItsMessage) {
    std::filesystem::remove(installation_.localconfig() / kAutoSyncTaskTable);
    std::string message;
    EXPECT_EQ(module_.Add<catalogue::AutoSyncTask>(autoSyncTask("S", "FTP_A_QS"), message), 0);
    EXPECT_THAT(message,
                HasSubstr("新增自动同步任务失败! 任务ID：S，失败原因：打开自动同步任务表["));
    EXPECT_EQ(module_.Delete<catalogue::AutoSyncTask>(autoSyncTask("S", "FTP_A_QS"), message), 0);
    module_.Load<catalogue::AutoSyncTask>();
    EXPECT_TRUE(module_.Tasks<catalogue::AutoSyncTask>().empty());
    EXPECT_THAT(sysLogText(), HasSubstr("初始化自动同步任务失败，失败原因：打开自动同步任务表["));
}

TEST_F(TaskCatalogueTest, updatingARowWritesOnlyWhatIsGiven) {
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask("D", "/tmp/d"), message), 1);
    ASSERT_EQ(module_.UpdateRow<catalogue::DownloadTask>("D", "失败", "连接失败", "2026-12-08 09:00:00", 0), 1);
    ASSERT_EQ(module_.UpdateRow<catalogue::DownloadTask>("D", "成功", "", "", 5), 1);
    EXPECT_EQ(field(kDownloadTaskTable, "D", "lastresult"), "成功");
    EXPECT_EQ(field(kDownloadTaskTable, "D", "lastdes"), "连接失败");
    EXPECT_EQ(field(kDownloadTaskTable, "D", "planstate"), "0");
    EXPECT_EQ(module_.UpdateRow<catalogue::DownloadTask>("nobody", "x", "", "", 1), 0);
    EXPECT_THAT(sysLogText(), HasSubstr("下载任务表中没有找到该任务记录!"));
}

TEST_F(TaskCatalogueTest, recordingARunSchedulesTheNextAndTellsTheWindow) {
    // setup: a 22:00-06:00 task, run ended Tuesday 01:00 (Monday's window)
    clock_.setLocal(localTime(2026, 12, 8, 1, 0, 0));
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask("D", "/tmp/d"), message), 1);
    module_.Load<catalogue::DownloadTask>();
    // act
    const std::string next =
        module_.RecordRun<catalogue::DownloadTask>("D", "成功", "", "2026-12-08 01:00:00", false);
    // verify
    EXPECT_EQ(next, "2026-12-08 01:10:00");
    EXPECT_EQ(field(kDownloadTaskTable, "D", "laruntime"), "2026-12-08 01:00:00");
    EXPECT_EQ(field(kDownloadTaskTable, "D", "planstate"), "1");
    const auto recorded = eventsOf<TaskRunRecorded>();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].nextRunTime, "2026-12-08 01:10:00");
    EXPECT_EQ(module_.RecordRun<catalogue::DownloadTask>("D", "失败", "超时", "2026-12-08 01:00:00", true),
              "2026-12-08 01:05:00");
    EXPECT_EQ(module_.Find<catalogue::DownloadTask>("D")->lastdes, "超时");
}

TEST_F(TaskCatalogueTest, autoSyncTasksGetHistoryEntries) {
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::AutoSyncTask>(autoSyncTask("S1", "FTP_A_QS"), message), 1);
    module_.Load<catalogue::AutoSyncTask>();
    const auto tasks = module_.Tasks<catalogue::AutoSyncTask>();
    ASSERT_EQ(tasks.size(), 2u);
    int history = 0;
    for (const auto& t : tasks) {
        if (t.plantype == 2) {
            ++history;
            EXPECT_NE(t.planid, "S1");
            EXPECT_EQ(t.planid.size(), 20u);
        }
    }
    EXPECT_EQ(history, 1);
}

TEST_F(TaskCatalogueTest, historySyncIsCurrentOnceCaughtUpToTheTradingDay) {
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::AutoSyncTask>(autoSyncTask("S1", "ftp_a_qs"), message), 1);
    module_.Load<catalogue::AutoSyncTask>();
    module_.SetTradingDate("20261208");
    platform::IniFile ini(installation_.clientIni());
    // The stored date is the next one still to synchronise.
    EXPECT_FALSE(module_.IsHistorySyncCurrent("S1"));
    ASSERT_TRUE(ini.setString("system", "syncHisDate_A", "20261207").isOk());
    EXPECT_FALSE(module_.IsHistorySyncCurrent("S1"));
    ASSERT_TRUE(ini.setString("system", "syncHisDate_A", "20261208").isOk());
    EXPECT_FALSE(module_.IsHistorySyncCurrent("S1"));
    ASSERT_TRUE(ini.setString("system", "syncHisDate_A", "20261209").isOk());
    EXPECT_TRUE(module_.IsHistorySyncCurrent("S1"));
    EXPECT_TRUE(module_.IsHistorySyncCurrent("unknown"));
}

TEST_F(TaskCatalogueTest, autoSyncRunsRepeatOnEveryDayAndHistoryEntriesHaveNoRowToWrite) {
    // setup: Saturday 2026-12-12, after the window has closed
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::AutoSyncTask>(autoSyncTask("S1", "FTP_B_QS"), message), 1);
    module_.Load<catalogue::AutoSyncTask>();
    std::string history;
    for (const auto& t : module_.Tasks<catalogue::AutoSyncTask>())
        if (t.plantype == 2) history = t.planid;
    clock_.setLocal(localTime(2026, 12, 12, 18, 30, 0));

    // act / verify: without a weekday mask the next run is Sunday's window
    EXPECT_EQ(module_.RecordRun<catalogue::AutoSyncTask>("S1", "成功", " ", "2026-12-12 18:30:00", false),
              "2026-12-13 08:00:00");
    EXPECT_EQ(field(kAutoSyncTaskTable, "S1", "lastresult"), "成功");
    EXPECT_EQ(
        module_.RecordRun<catalogue::AutoSyncTask>(history, "失败", "查询版本号失败", "2026-12-12 18:30:00", false),
        "2026-12-13 08:00:00");
    EXPECT_EQ(module_.Find<catalogue::AutoSyncTask>(history)->lastdes, "查询版本号失败");
    // the history entry's outcome stays in memory: no failed row update is logged
    EXPECT_EQ(sysLogText().find("没有找到该任务记录"), std::string::npos);
}

TEST_F(TaskCatalogueTest, theFirstLoadedTaskIsAnnouncedUntilTheWindowAccepts) {
    std::string message;
    ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask("D", "/tmp/d"), message), 1);
    module_.Load<catalogue::DownloadTask>();
    module_.Load<catalogue::DownloadTask>();
    auto firsts = eventsOf<FirstTaskLoaded>();
    ASSERT_EQ(firsts.size(), 2u);
    EXPECT_EQ(firsts[0].taskId, "D");
    EXPECT_EQ(firsts[0].kind, CatalogueTaskKind::Download);
    firsts[1].accepted->store(true);
    module_.Load<catalogue::DownloadTask>();
    EXPECT_EQ(eventsOf<FirstTaskLoaded>().size(), 2u);
}

TEST_F(TaskCatalogueTest, packingRemovesDeletedTaskRows) {
    std::string message;
    const std::string s = (dir_.path() / "s").string();
    for (const char* id : {"A", "B", "C"})
        ASSERT_EQ(module_.Add<catalogue::UploadTask>(uploadTask(id, "public", s), message), 1);
    ASSERT_EQ(module_.Delete<catalogue::UploadTask>(uploadTask("B", "", ""), message), 1);
    ASSERT_EQ(module_.PackTaskTables(), 0);
    CDbfImpl table;
    ASSERT_EQ(table.Open(installation_.localconfig() / kUploadTaskTable, 1), 1);
    EXPECT_EQ(table.GetRecordCount(), 2);
    EXPECT_EQ(FindRecordByPlanId("C", table), 1);
}

TEST_F(TaskCatalogueTest, concurrentRunRecordsLandInTheirOwnRows) {
    std::string message;
    for (const char* id : {"D1", "D2"})
        ASSERT_EQ(module_.Add<catalogue::DownloadTask>(downloadTask(id, "/tmp/x"), message), 1);
    module_.Load<catalogue::DownloadTask>();
    auto recorder = [this](const std::string& id) {
        for (int i = 0; i < 50; ++i)
            module_.RecordRun<catalogue::DownloadTask>(id, "成功", id + "-" + std::to_string(i), "", false);
    };
    std::thread a(recorder, "D1"), b(recorder, "D2");
    for (int i = 0; i < 20; ++i) ASSERT_EQ(module_.PackTaskTables(), 0);
    a.join();
    b.join();
    EXPECT_EQ(field(kDownloadTaskTable, "D1", "lastdes"), "D1-49");
    EXPECT_EQ(field(kDownloadTaskTable, "D2", "lastdes"), "D2-49");
}

TEST(PlanDirTest, directoriesInUse) {
    CPlanDir dirs;
    dirs.Register("T1", {"", "/data/send", "/data/sent"});
    dirs.Register("T2", {"/data/recv", "", ""});
    using Kind = CPlanDir::Kind;
    // the sent-directory check looks at send and receive directories, its own included
    EXPECT_TRUE(dirs.IsDirectoryInUse(Kind::Sent, "/DATA/send/", "T1"));
    EXPECT_TRUE(dirs.IsDirectoryInUse(Kind::Sent, "/data/recv", ""));
    EXPECT_FALSE(dirs.IsDirectoryInUse(Kind::Sent, "/data/sent", ""));
    // the others: the owner of the directory decides
    EXPECT_FALSE(dirs.IsDirectoryInUse(Kind::Send, "/data/send", "T1"));
    EXPECT_TRUE(dirs.IsDirectoryInUse(Kind::Send, "/data/send", "T3"));
    EXPECT_TRUE(dirs.IsDirectoryInUse(Kind::Receive, "/data/sent\\", ""));
    EXPECT_FALSE(dirs.IsDirectoryInUse(Kind::Receive, "/data/other", ""));
    dirs.Unregister("T2");
    EXPECT_FALSE(dirs.IsDirectoryInUse(Kind::Receive, "/data/recv", ""));
}

}  // namespace
}  // namespace vantrel::catalogue
