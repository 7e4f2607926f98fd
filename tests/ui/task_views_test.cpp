// The task list and the task dialogs over a real task scheduler (its catalogue in a
// temporary installation, no gateway): each dialog's checks in order, and a task created in
// the dialog that is started from the task menu, with its row following the run live.

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTreeWidget>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "client/catalogue/dbf_table.h"
#include "client/catalogue/download_list.h"
#include "client/catalogue/flag_manager.h"
#include "client/catalogue/table_schema.h"
#include "client/base/logs.h"
#include "client/app/single_instance.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/service/serve_status.h"
#include "client/ui/gui_app.h"
#include "client/ui/log_views.h"
#include "client/ui/main_frame.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/system_setting_dialog.h"
#include "client/ui/task_dialogs.h"
#include "client/ui/task_view.h"
#include "tests/support/local_time.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"

namespace vantrel::ui {
namespace {

using testing::waitUntil;
namespace fs = std::filesystem;

class TaskViewsTest : public testing::QtTest {
  protected:
    TaskViewsTest()
        : installation(root.path(), root.path()),
          clock(platform::fromLocalTime(vantrel::testing::localTime(2026, 12, 8, 10, 0, 0))),
          logs(installation, clock, notifier) {
        fs::create_directories(installation.localconfig());
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            std::ofstream(installation.localconfig() / spec->fileName, std::ios::binary)
                << catalogue::BuildTableBytes(*spec,
                                              vantrel::testing::localTime(2026, 1, 1, 0, 0, 0));
        }
        fs::create_directories(root.path() / "recv");
        fs::create_directories(root.path() / "send");
        context.installation = installation;
        context.clock = &clock;
        context.notifier = &notifier;
        context.logs = &logs;
        context.prompt = &prompt;
        TaskScheduler::Options options;
        options.stopStep = std::chrono::milliseconds(10);
        scheduler = std::make_unique<TaskScheduler>(context, process, options);
        scheduler->catalogue().SetOperator("OPER01");
        board = std::make_unique<SchedulerTaskBoard>(*scheduler, installation, clock,
                                                     [] { return std::string("OPER01"); });
    }
    ~TaskViewsTest() override { scheduler->stop(); }

    execution::DownloadForm downloadForm() {
        execution::DownloadForm form;
        form.mailbox = "FTP_A_QS";
        form.fileName = "*.%";
        form.begin = {8, 0};
        form.end = {18, 0};
        form.directory = (root.path() / "recv").string();
        return form;
    }

    static std::string chinese(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += "信";
        return text;
    }

    vantrel::testing::TempDir root;
    Installation installation;
    platform::FakeClock clock;
    QtNotifier notifier;
    Logs logs;
    testing::ScriptedPrompt prompt;
    Context context;
    GatewayProcessState process;
    std::unique_ptr<TaskScheduler> scheduler;
    std::unique_ptr<SchedulerTaskBoard> board;
};

// Regression: a bulletin task stored its folder's code cut to 8 characters in the mailbox
// field, had no "所属信箱" and no preview of what a run would fetch.
TEST_F(TaskViewsTest, bulletinDialogPreviewsTheDaysMatchingBulletinsAndStoresFolderAndMailbox) {
    // setup: the gateway's answer for today's A-share bulletin folder and the keyword
    testing::FakeMailbox gateway;
    gateway.tree["FTP_A_BULLET"]["2026120820261208Bullet\\*.doc"] = {
        {"notice.doc", false, 7000, "20261208", "09:30:00"}};
    execution::DownloadForm form = downloadForm();
    form.source = execution::DownloadSource::Bulletin;
    form.fileName.clear();
    CDownTaskDlg dialog(*board, prompt, form, {});
    dialog.setPreview(&gateway, &clock);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle().toStdString(), "新建公告下载任务");
    dialog.descriptionBox()->setText("A股公告");
    dialog.fileNameBox()->setText("*.doc");

    // act: without a folder the preview and OK both ask for it
    dialog.refreshPreview();
    EXPECT_EQ(dialog.previewStatus()->text().toStdString(), "信箱名称不能为空!");
    dialog.submit();
    EXPECT_EQ(prompt.last(), "信箱名称不能为空!");
    dialog.bulletinBox()->setCurrentIndex(dialog.bulletinBox()->findText("A股公告"));
    dialog.refreshButton()->click();
    ASSERT_TRUE(waitUntil([&] { return !dialog.previewBusy(); }));
    dialog.submit();

    // verify: the preview asked as the run asks, a history list of the day's folder
    EXPECT_EQ(gateway.listed.back(), "FTP_A_BULLET?2026120820261208Bullet\\*.doc");
    ASSERT_EQ(dialog.previewList()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.previewList()->topLevelItem(0)->text(0).toStdString(), "notice.doc");
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << prompt.last();
    const auto stored = scheduler->catalogue().Find<catalogue::DownloadTask>(dialog.savedTaskId());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->plantype, 2);
    EXPECT_EQ(stored->mailname, "FTP_A_QS");
    EXPECT_EQ(stored->opertype, "FTP_A_BULLET");
}

TEST_F(TaskViewsTest, downloadDialogRefusesInTheDialogsOrderAndStoresTheAcceptedTask) {
    CDownTaskDlg dialog(*board, prompt, downloadForm(), {});
    dialog.show();
    EXPECT_EQ(dialog.windowTitle().toStdString(), "新建信箱下载任务");

    // 21 Chinese characters are 42 bytes: refused before anything else is looked at.
    dialog.descriptionBox()->setText(QString::fromStdString(chinese(21)));
    dialog.endBox()->setTime(QTime(8, 9));
    dialog.submit();
    EXPECT_EQ(prompt.last(),
              "任务描述所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！");
    // 20 are 40 bytes and pass; 08:00-08:09 is shorter than ten minutes.
    dialog.descriptionBox()->setText(QString::fromStdString(chinese(20)));
    dialog.submit();
    EXPECT_EQ(prompt.last(), "开始时间必须在结束时间之前,且不能小于10分钟！");
    // 07:59 on the next day is 23 h 59 min later; typed digits replace a full section
    // (regression: the time boxes took the arrow keys only).
    dialog.endBox()->setFocus();
    QTest::keyClick(dialog.endBox(), Qt::Key_Home);
    QTest::keyClicks(dialog.endBox(), "0759");
    EXPECT_EQ(dialog.endBox()->time(), QTime(7, 59));
    dialog.nextDayBox()->setChecked(true);
    dialog.mailboxBox()->setCurrentIndex(0);
    dialog.submit();
    EXPECT_EQ(prompt.last(), "信箱名称不能为空!");
    dialog.mailboxBox()->setCurrentIndex(1);
    dialog.directoryBox()->setText(QString::fromStdString((root.path() / "missing").string()));
    dialog.submit();
    EXPECT_EQ(prompt.last(), "该目录[" + (root.path() / "missing").string() + "]无效，请重新选择！");
    EXPECT_TRUE(dialog.savedTaskId().empty());
    dialog.directoryBox()->setText(QString::fromStdString((root.path() / "recv").string()));
    const std::size_t shown = prompt.messages().size();
    dialog.submit();
    EXPECT_EQ(prompt.messages().size(), shown) << prompt.last();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const auto stored = scheduler->catalogue().Find<catalogue::DownloadTask>(dialog.savedTaskId());
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->plandes, chinese(20));
    EXPECT_EQ(stored->endtime, "07:59");
    EXPECT_EQ(stored->nextday, 1);

    // A second task into the same directory asks first; No keeps the dialog open, silently.
    CDownTaskDlg second(*board, prompt, downloadForm(), {});
    second.descriptionBox()->setText("second");
    second.submit();
    EXPECT_EQ(prompt.last().rfind("该目录[", 0), 0u);
    EXPECT_TRUE(prompt.messages().back().question);
    EXPECT_TRUE(second.savedTaskId().empty());
}

TEST_F(TaskViewsTest, uploadAndAutoSyncDialogsRefuseWhatTheirChecksRefuse) {
    execution::UploadForm up;
    up.mailbox = "FTP_SG";
    up.begin = {9, 0};
    up.end = {9, 5};
    CUpTaskDlg upload(*board, prompt, up, {});
    upload.submit();
    EXPECT_EQ(prompt.last(), "任务描述不能为空");
    upload.descriptionBox()->setText("upload");
    upload.submit();
    EXPECT_EQ(prompt.last(), "开始时间必须在结束时间之前,且不能小于10分钟！");
    upload.endBox()->setTime(QTime(18, 0));
    upload.submit();
    EXPECT_EQ(prompt.last(), "上传目录不能为空,请重新选择！");
    const QString send = QString::fromStdString((root.path() / "send").string());
    upload.uploadDirectoryBox()->setText(send);
    upload.sentDirectoryBox()->setText(send);
    upload.submit();
    EXPECT_EQ(prompt.last(), "上传目录和已上传目录不能相同，请重新选择");

    execution::AutoSyncForm sync;
    sync.mailbox = "FTP_A_QS";
    sync.directory = (root.path() / "recv").string();
    CAutoSyncTaskDlg autoSync(*board, prompt, sync, {});
    autoSync.descriptionBox()->setText("sync");
    for (const char* interval : {"abc", "2", "61"}) {
        autoSync.intervalBox()->setText(interval);
        autoSync.submit();
        EXPECT_EQ(prompt.last(), "请输入 3 至 60 之间的整数。") << interval;
    }
    autoSync.intervalBox()->setText("60");
    autoSync.submit();
    EXPECT_EQ(autoSync.result(), QDialog::Accepted) << prompt.last();
    sync.directory = (root.path() / "send").string();
    CAutoSyncTaskDlg again(*board, prompt, sync, {});
    again.descriptionBox()->setText("sync");
    again.submit();
    EXPECT_EQ(prompt.last(), "已存在任务描述对应的自动同步任务！");
}

TEST_F(TaskViewsTest, taskCreatedInTheDialogRunsFromTheMenuAndItsRowFollowsLive) {
    // setup: the main window over the running scheduler (no gateway: every login fails)
    testing::FakeSession session;
    testing::FakeMailbox mailbox;
    testing::MemorySettings settings;
    settings.receive = root.path() / "recv";
    CMainFrame::Services s;
    s.session = &session;
    s.mailbox = &mailbox;
    s.settings = &settings;
    s.prompt = &prompt;
    s.notifier = &notifier;
    s.board = board.get();
    s.installation = installation;
    s.clock = &clock;
    CMainFrame frame(s);
    frame.show();
    frame.showTasks();
    scheduler->start(1);
    CTaskView& view = *frame.taskView();

    CDownTaskDlg dialog(*board, prompt, downloadForm(), {});
    dialog.descriptionBox()->setText(QString::fromUtf8("日终文件"));
    dialog.submit();
    const std::string id = dialog.savedTaskId();
    ASSERT_FALSE(id.empty()) << prompt.last();

    // The row appears once the model has loaded the task, with its schedule text.
    ASSERT_TRUE(waitUntil([&] { return view.shownTask(id) && scheduler->downloads().find(id); }));
    TaskRow row = *view.shownTask(id);
    EXPECT_EQ(row.texts[kColKind], "信箱任务");
    EXPECT_EQ(row.texts[kColDescription], "日终文件");
    EXPECT_EQ(row.texts[kColSchedule], "从2026-12-08起,每天08:00--18:00");
    EXPECT_EQ(row.texts[kColTaskId], id);
    ASSERT_EQ(view.table()->columnCount(), kTaskColumnCount);
    EXPECT_EQ(view.table()->horizontalHeaderItem(kColNextRun)->text().toStdString(),
              "下次运行时间");

    // act: 立刻运行 from the task menu
    ASSERT_TRUE(view.selectTask(id));
    view.runMenuCommand(kCmdTaskRunNow);

    // verify: the row says it runs without anyone asking the list to refresh
    ASSERT_TRUE(waitUntil([&] {
        const auto r = view.shownTask(id);
        return r && r->running;
    })) << prompt.last();
    EXPECT_EQ(view.shownTask(id)->texts[kColState], "正在运行");
    view.updateMenu();
    bool stopOffered = false;
    for (QAction* a : frame.taskMenu()->actions()) {
        if (a->data().toInt() == kCmdTaskStop) stopOffered = a->isEnabled();
    }
    EXPECT_TRUE(stopOffered);
    view.runMenuCommand(kCmdTaskStop);
    ASSERT_TRUE(waitUntil([&] {
        const auto r = view.shownTask(id);
        return r && !r->running;
    }, 20000));
    // The selected task's list of the day shows under the list, row by row.
    const fs::path list = board->listFile(id);
    {
        fs::create_directories(list.parent_path());
        fs::copy_file(installation.localconfig() / catalogue::kDownloadListTemplate, list);
        catalogue::CDbfImpl table;
        ASSERT_EQ(table.Open(list, 2), 1);
        ASSERT_GE(table.AppendRow({{"FILENAME", "QS1208.zip"}, {"SIZE", "2048"}, {"FLAG", "4"}}), 0);
        table.Close();
    }
    view.refreshFiles();
    ASSERT_EQ(view.fileList()->topLevelItemCount(), 1);
    EXPECT_EQ(view.fileList()->topLevelItem(0)->text(0).toStdString(), "QS1208.zip");
    EXPECT_EQ(view.fileList()->topLevelItem(0)->text(5).toStdString(), "下载完成");
    EXPECT_EQ(view.fileList()->headerItem()->text(2).toStdString(), "已下载大小(B)");
    EXPECT_EQ(view.fileList()->columnCount(), 7) << "no column is left from an upload list";
    // Chosen in the log tree, the list file reads as its table, not as a blank page.
    frame.logView()->showFile(list);
    ASSERT_EQ(frame.logView()->table()->topLevelItemCount(), 1);
    EXPECT_EQ(frame.logView()->table()->topLevelItem(0)->text(0).toStdString(), "QS1208.zip");

    // A failed run reaches the tray.
    notifier.post(TaskFailed{CatalogueTaskKind::Download, id, "登录失败"});
    ASSERT_TRUE(waitUntil([&] { return !frame.lastTrayMessage().isEmpty(); }));
    EXPECT_EQ(frame.lastTrayMessage().toStdString(), "任务[日终文件]运行失败:登录失败");

    // The task log tree follows the task events by itself and names a log by its task.
    const auto inTree = [&](const std::string& text) {
        const auto found = frame.taskTree()->tree()->findItems(
            QString::fromStdString(text), Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.front();
    };
    EXPECT_EQ(inTree("日终文件-20261208.log"), nullptr);
    ASSERT_EQ(logs.writeTaskLog("下载任务开始运行", 0, installation.log() / (id + "-20261208.log")), 0);
    notifier.post(TaskRunStateChanged{});
    ASSERT_TRUE(waitUntil([&] { return inTree("日终文件-20261208.log") != nullptr; }));
    EXPECT_EQ(inTree("日终文件-20261208.log")->toolTip(0).toStdString(), id + "-20261208.log");
}

// A board with one task whose run state the test sets; its list is the test's table.
class OneTaskBoard final : public TaskBoard {
  public:
    explicit OneTaskBoard(fs::path list) : list_(std::move(list)) {}
    std::vector<TaskRow> rows() override {
        TaskRow row;
        row.kind = kind;
        row.texts[kColTaskId] = "20261208100000-00001";
        row.running = running;
        return {row};
    }
    fs::path listFile(const std::string&) override { return list_; }
    bool command(TaskCommand, const std::string&, std::string&) override { return false; }
    std::optional<execution::TaskForm> form(const std::string&) override { return {}; }
    execution::SaveOutcome save(const execution::TaskForm&, const std::string&,
                                UserPrompt&) override {
        return {};
    }
    const TaskKindInfo* kind = &TaskKindOf(TaskKindId::Mailbox);
    bool running = false;

  private:
    fs::path list_;
};

// Regression: during a run the file list under the task list stayed empty (or showed the
// previous state) until the run ended; an upload view showed download columns.
TEST_F(TaskViewsTest, theRunningTasksFileListFollowsItsRowsWithoutAnEvent) {
    // setup: a running task whose list holds one file being fetched
    const fs::path list = root.path() / "list.dat";
    fs::copy_file(installation.localconfig() / catalogue::kDownloadListTemplate, list);
    catalogue::CDbfImpl table;
    ASSERT_EQ(table.Open(list, 2), 1);
    ASSERT_GE(table.AppendRow(
                  {{"FILENAME", "QS1208.zip"}, {"SIZE", "9000"}, {"DownSize", "0"}, {"FLAG", "2"}}),
              0);
    OneTaskBoard board(list);
    board.running = true;
    CTaskView view(board, prompt, nullptr);
    view.show();
    ASSERT_TRUE(view.selectTask("20261208100000-00001"));
    ASSERT_EQ(view.fileList()->topLevelItemCount(), 1);
    view.fileList()->setCurrentItem(view.fileList()->topLevelItem(0));

    // act: the run writes the received size, then lists a second file
    ASSERT_EQ(table.SetFieldValueByName(0, "DownSize", "4096"), 0);
    ASSERT_GE(table.AppendRow({{"FILENAME", "QS1208.txt"}, {"SIZE", "10"}, {"FLAG", "0"}}), 0);
    table.Close();

    // verify: both show within a poll or two, and the operator's row stays chosen
    ASSERT_TRUE(waitUntil([&] { return view.fileList()->topLevelItemCount() == 2; }, 5000));
    EXPECT_EQ(view.fileList()->topLevelItem(0)->text(2).toStdString(), "4096");
    EXPECT_EQ(view.fileList()->currentItem(), view.fileList()->topLevelItem(0));

    // An upload view shows the upload columns before a row is chosen.
    board.kind = &TaskKindOf(TaskKindId::Upload);
    CTaskView uploads(board, prompt, nullptr);
    uploads.setKinds({TaskKindId::Upload});
    EXPECT_EQ(uploads.fileList()->headerItem()->text(2).toStdString(), "已上传大小(B)");
}

// Every kind saved, run, disabled, enabled and deleted on the board while the threads run:
// each takes effect at the models' next pass (a new auto-sync task used to wait for a
// restart, a deleted download kept running), and the rows follow.
TEST_F(TaskViewsTest, everyKindsCommandsOnTheBoardTakeEffectWhileTheThreadsRun) {
    scheduler->start(1);
    fs::create_directories(root.path() / "sent");
    fs::create_directories(root.path() / "sync");
    execution::UploadForm up;
    up.description = "上传";
    up.mailbox = "FTP_SG";
    up.begin = {8, 0};
    up.end = {18, 0};
    up.uploadDirectory = (root.path() / "send").string();
    up.sentDirectory = (root.path() / "sent").string();
    execution::AutoSyncForm sync;
    sync.description = "同步";
    sync.mailbox = "FTP_A_QS";
    sync.directory = (root.path() / "sync").string();
    execution::DownloadForm down = downloadForm();
    down.description = "下载";
    const std::string ids[] = {board->save(down, {}, prompt).taskId,
                               board->save(up, {}, prompt).taskId,
                               board->save(sync, {}, prompt).taskId};
    auto rowOf = [&](const std::string& id) -> std::optional<TaskRow> {
        for (TaskRow& row : board->rows()) {
            if (row.id() == id) return row;
        }
        return std::nullopt;
    };
    for (const std::string& id : ids) {
        ASSERT_FALSE(id.empty()) << prompt.last();
        std::string error;
        // Run now is answered as soon as the model has taken the new task.
        ASSERT_TRUE(waitUntil([&] { return board->command(TaskCommand::RunNow, id, error); }))
            << id << ": " << error;
        // The run ends (no gateway: the downloads fail at their login, the empty outbox
        // is sent) and its result shows in the row.
        ASSERT_TRUE(waitUntil([&] {
            const auto row = rowOf(id);
            return row && !row->running && !row->texts[kColLastRun].empty();
        }, 20000)) << id;
        EXPECT_EQ(rowOf(id)->texts[kColLastResult], id == ids[1] ? "成功" : "失败") << id;

        ASSERT_TRUE(board->command(TaskCommand::ToggleSchedule, id, error)) << error;
        EXPECT_EQ(rowOf(id)->texts[kColState], "停止") << id;
        ASSERT_TRUE(board->command(TaskCommand::ToggleSchedule, id, error)) << error;
        EXPECT_EQ(rowOf(id)->texts[kColState], "计划运行") << id;

        ASSERT_TRUE(board->command(TaskCommand::Delete, id, error)) << error;
        ASSERT_TRUE(waitUntil([&] { return !rowOf(id) && !scheduler->runView(id); })) << id;
        EXPECT_FALSE(board->command(TaskCommand::RunNow, id, error));
        EXPECT_EQ(error, "计划[" + id + "]不存在或未在运行！");
    }
    // A later reload (another client's edit) does not bring a deleted task back.
    scheduler->downloads().queueLoad();
    scheduler->autoSyncs().queueLoad();
    clock.advance(std::chrono::minutes(30));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    for (const std::string& id : ids) EXPECT_FALSE(scheduler->runView(id)) << id;
}

// Regression: right after the login the log tree showed raw task ids until the tasks
// loaded, and an auto-sync history entry's log (under the entry's own id) was never named.
TEST_F(TaskViewsTest, logTreeWaitsForTheTasksAndNamesAHistoryEntrysLogAfterItsTask) {
    // setup: an auto-sync task in the tables with today's log; a client starting up (its
    // catalogue not loaded yet) whose window is made before its threads run
    fs::create_directories(root.path() / "sync");
    execution::AutoSyncForm sync;
    sync.description = "同步";
    sync.mailbox = "FTP_A_QS";
    sync.directory = (root.path() / "sync").string();
    const std::string id = board->save(sync, {}, prompt).taskId;
    ASSERT_FALSE(id.empty()) << prompt.last();
    ASSERT_EQ(logs.writeTaskLog("开始", 0, installation.log() / (id + "-20261208.log")), 0);
    GatewayProcessState starting;
    TaskScheduler::Options options;
    options.stopStep = std::chrono::milliseconds(10);
    TaskScheduler client(context, starting, options);
    client.catalogue().SetOperator("OPER01");
    SchedulerTaskBoard clientBoard(client, installation, clock,
                                   [] { return std::string("OPER01"); });
    testing::FakeSession session;
    testing::FakeMailbox mailbox;
    testing::MemorySettings settings;
    CMainFrame::Services s;
    s.session = &session;
    s.mailbox = &mailbox;
    s.settings = &settings;
    s.prompt = &prompt;
    s.notifier = &notifier;
    s.board = &clientBoard;
    s.installation = installation;
    s.clock = &clock;
    CMainFrame frame(s);
    // The logs shown under 当日任务日志 and 历史任务日志.
    auto names = [&] {
        std::set<std::string> shown;
        const QTreeWidgetItem* root = frame.taskTree()->tree()->topLevelItem(0);
        for (const int group : {1, 2}) {
            for (int i = 0; i < root->child(group)->childCount(); ++i)
                shown.insert(root->child(group)->child(i)->text(0).toStdString());
        }
        return shown;
    };
    auto shownText = [&] {
        std::string all;
        for (const std::string& n : names()) all += n + " ";
        return all;
    };

    // verify: before the tasks are loaded, no file is listed by its id
    EXPECT_TRUE(names().empty()) << shownText();

    // act: the threads start and load the tasks; the history entry writes its log
    client.start(1);
    ASSERT_TRUE(waitUntil([&] { return names() == std::set<std::string>{"同步-20261208.log"}; }))
        << shownText();
    std::string historyId;
    ASSERT_TRUE(waitUntil([&] {
        for (const catalogue::AutoSyncTask& t : client.catalogue().Tasks<catalogue::AutoSyncTask>()) {
            if (t.plantype == 2) historyId = t.planid;
        }
        return !historyId.empty();
    }));
    ASSERT_EQ(logs.writeTaskLog("历史", 0, installation.log() / (historyId + "-20261208_his.log")),
              0);
    notifier.post(TaskRunStateChanged{});

    // verify: both are named after the task
    EXPECT_TRUE(waitUntil([&] {
        return names() == std::set<std::string>{"同步-20261208.log", "同步-20261208_his.log"};
    })) << shownText();
    client.stop();
}

// Message boxes and file dialogs showed Qt's English button texts, "Folder", "bytes" and
// English dates.
// The command rules are the core's: the window greys what they refuse, and the board, the
// inbox of a running client and `vantrel-cli tasks` refuse it with the same text (the inbox
// used to restart a running run, the CLI to delete a running task).
TEST_F(TaskViewsTest, everyFrontEndRefusesWhatATasksRunStateDoesNotAllowWithOneText) {
    // setup: one running and one idle task of each kind; without the threads, a task asked
    // to run stays due, which counts as running
    fs::create_directories(root.path() / "sent");
    enum Kind { Down, Up, Sync };
    std::map<std::pair<Kind, bool>, std::string> ids;
    for (const char* dir : {"recvI", "sendR", "sendI", "syncR", "syncI"})
        fs::create_directories(root.path() / dir);
    for (const bool running : {true, false}) {
        execution::DownloadForm down = downloadForm();
        down.description = running ? "下载R" : "下载I";
        if (!running) down.directory = (root.path() / "recvI").string();
        execution::UploadForm up;
        up.description = running ? "上传R" : "上传I";
        up.mailbox = "FTP_SG";
        up.begin = {8, 0};
        up.end = {18, 0};
        up.uploadDirectory = (root.path() / (running ? "sendR" : "sendI")).string();
        up.sentDirectory = (root.path() / "sent").string();
        execution::AutoSyncForm sync;
        sync.description = running ? "同步R" : "同步I";
        sync.mailbox = running ? "FTP_A_QS" : "FTP_B_QS";
        sync.directory = (root.path() / (running ? "syncR" : "syncI")).string();
        ids[{Down, running}] = board->save(down, {}, prompt).taskId;
        ids[{Up, running}] = board->save(up, {}, prompt).taskId;
        ids[{Sync, running}] = board->save(sync, {}, prompt).taskId;
    }
    for (const auto& [key, id] : ids) ASSERT_FALSE(id.empty()) << prompt.last();
    for (PlanModel* model : {static_cast<PlanModel*>(&scheduler->downloads()),
                             static_cast<PlanModel*>(&scheduler->uploads()),
                             static_cast<PlanModel*>(&scheduler->autoSyncs())}) {
        model->queueLoad();
        model->processCommands();
    }
    ASSERT_EQ(scheduler->downloads().startNow(ids[{Down, true}]), 1);
    ASSERT_EQ(scheduler->uploads().startNow(ids[{Up, true}]), 1);
    ASSERT_EQ(scheduler->autoSyncs().startNow(ids[{Sync, true}]), 1);

    // A client holds the installation and its snapshot shows the running tasks, as a serve's.
    const fs::path runtime = root.path() / "run";
    SingleInstance client;
    std::string lockError;
    ASSERT_EQ(client.acquire(runtime, lockError), SingleInstance::Outcome::Acquired) << lockError;
    service::ServeStatus status;
    status.pid = static_cast<int>(::getpid());
    for (const Kind kind : {Down, Up, Sync}) {
        service::TaskStatus task;
        task.id = ids[{kind, true}];
        task.phase = RunPhaseName(RunPhase::Due);
        status.tasks.push_back(task);
    }
    ASSERT_TRUE(service::writeStatusFile(installation, status));
    auto cli = [&](const std::string& verb, const std::string& id, std::string& err) {
        const fs::path errFile = root.path() / "cli.err";
        const std::string command = "VANTREL_RUNTIME_DIR='" + runtime.string() +
                                    "' VANTREL_OPERATOR=OPER01 '" VANTREL_CLI_PATH "' --root '" +
                                    root.path().string() + "' tasks " + verb + " " + id +
                                    " >/dev/null 2>'" + errFile.string() + "'";
        const int code = std::system(command.c_str());
        std::ifstream in(errFile);
        err.assign(std::istreambuf_iterator<char>(in), {});
        return WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    };

    struct Case {
        TaskCommand command;
        Kind kind;
        bool running;
        bool allowed;
    };
    const Case cases[] = {
        {TaskCommand::ToggleSchedule, Down, true, true}, {TaskCommand::ToggleSchedule, Up, false, true},
        {TaskCommand::RunNow, Down, true, false},        {TaskCommand::RunNow, Up, true, false},
        {TaskCommand::RunNow, Sync, true, false},        {TaskCommand::RunNow, Sync, false, true},
        {TaskCommand::DownloadAgain, Down, true, false}, {TaskCommand::DownloadAgain, Sync, true, false},
        {TaskCommand::DownloadAgain, Up, false, false},  {TaskCommand::DownloadAgain, Down, false, true},
        {TaskCommand::Stop, Down, false, false},         {TaskCommand::Stop, Up, false, false},
        {TaskCommand::Stop, Sync, false, false},         {TaskCommand::Stop, Up, true, true},
        {TaskCommand::Delete, Down, true, false},        {TaskCommand::Delete, Up, true, false},
        {TaskCommand::Delete, Sync, true, false},        {TaskCommand::Delete, Sync, false, true},
    };
    const char* const inboxVerb[] = {nullptr, "run", "again", "stop", nullptr};
    for (const Case& c : cases) {
        const std::string& id = ids[{c.kind, c.running}];
        const std::string refusal = "计划[" + id + "]不存在或未在运行！";
        SCOPED_TRACE(id + " command " + std::to_string(static_cast<int>(c.command)));
        // The window's menu.
        std::optional<TaskRow> row;
        for (TaskRow& r : board->rows()) {
            if (r.id() == id) row = r;
        }
        ASSERT_TRUE(row);
        ASSERT_EQ(row->running, c.running);
        EXPECT_EQ(row->kind->offers(c.command, row->running), c.allowed);
        if (c.allowed) continue;  // carrying it out is the other tests' part
        // The window's board.
        std::string error;
        EXPECT_FALSE(board->command(c.command, id, error));
        EXPECT_EQ(error, refusal);
        // The inbox of a running client.
        if (const char* verb = inboxVerb[static_cast<int>(c.command)]) {
            error.clear();
            EXPECT_FALSE(scheduler->execute({verb, id}, error));
            EXPECT_EQ(error, refusal);
        }
        // vantrel-cli tasks, in a process of its own.
        if (c.command == TaskCommand::Delete) {
            std::string err;
            EXPECT_EQ(cli("delete", id, err), 1);
            EXPECT_NE(err.find(refusal), std::string::npos) << err;
        }
    }
    // Nothing refused changed a run: the running tasks run, the idle ones wait.
    for (const auto& [key, id] : ids) {
        const auto view = scheduler->runView(id);
        ASSERT_TRUE(view) << id;
        EXPECT_EQ(view->running, key.second) << id;
    }
    EXPECT_TRUE(scheduler->catalogue().Find<catalogue::DownloadTask>(ids[{Down, true}]));
}

TEST_F(TaskViewsTest, qtsOwnTextsReadInChinese) {
    ASSERT_TRUE(installQtTranslations(testing::application()));
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().toStdString(), "取消");
    EXPECT_EQ(buttons.button(QDialogButtonBox::Ok)->text().toStdString(), "确定");
    QFileSystemModel model;
    model.setRootPath(QString::fromStdString(root.path().string()));
    const QModelIndex recv = model.index(QString::fromStdString((root.path() / "recv").string()));
    EXPECT_EQ(model.type(recv).toStdString(), "文件夹");
    EXPECT_EQ(QLocale().formattedDataSize(512).toStdString(), "512 字节");
    EXPECT_EQ(QLocale().monthName(12).toStdString(), "十二月");
}

TEST_F(TaskViewsTest, settingsRefuseEveryValueOutsideItsLimitWithTheLimitsMessage) {
    testing::MemorySettings settings;
    CSystemSettingDlg dialog(settings, prompt);
    // The suffix first, each fault with its own text, the path only after it.
    dialog.savePathBox()->setText(QString(300, QChar('p')));
    const std::pair<const char*, const char*> suffixes[] = {
        {"", "单标志文件后缀不能为空！"},
        {".", "单标志文件后缀字符个数少于两位！单标志文件后缀只能由以\".\"开头的含[1-9]个英文字符组成。"},
        {"ok", "单标志文件后缀格式错误！单标志文件后缀只能由以\".\"开头的含[1-9]个英文字符组成。"},
        {".o1", "单标志文件后缀中不能包含除\".\"以外的非英文字母！单标志文件后缀只能由以\".\"开头的含[1-9]个英文字符组成。"},
        {".OK", nullptr}};
    for (const auto& [suffix, refusal] : suffixes) {
        dialog.flagSuffixBox()->setText(suffix);
        dialog.submit();
        if (refusal) {
            EXPECT_EQ(prompt.last(), refusal) << suffix;
        }
    }
    EXPECT_EQ(prompt.last(), "该路径[" + std::string(300, 'p') + "]过长，请重新选择文件保存路径！");
    EXPECT_EQ(settings.saves, 0);
    dialog.savePathBox()->setText(QString::fromStdString(root.path().string()));
    // Regression: 5 days closed the dialog without a word and saved a value of its own.
    for (const char* days : {"5", "61", "x"}) {
        dialog.historyDaysBox()->setText(days);
        dialog.submit();
        EXPECT_EQ(prompt.last(), "历史文件保留天数必须在7~60天之间！") << days;
    }
    EXPECT_EQ(settings.saves, 0);
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    dialog.historyDaysBox()->setText("7");
    dialog.submit();
    EXPECT_EQ(settings.saves, 1);
    EXPECT_EQ(settings.system.flagFileExtend, ".OK");
    EXPECT_EQ(settings.system.historyDays, 7);

    // The schedule's repeat interval likewise: refused as typed, never replaced.
    CScheduleDlg schedule(execution::ScheduleForm{}, prompt);
    schedule.intervalBox()->setText("2");
    schedule.submit();
    EXPECT_EQ(prompt.last(), "请输入 3 至 60 之间的整数。");
    EXPECT_NE(schedule.result(), QDialog::Accepted);
    schedule.intervalBox()->setText("60");
    schedule.submit();
    EXPECT_EQ(schedule.result(), QDialog::Accepted);
    EXPECT_EQ(schedule.form().intervalMinutes, 60);

    // 应用: the range, then the question; No writes nothing.
    dialog.diskSpaceBox()->setText("99");
    dialog.applyDiskSpace();
    EXPECT_EQ(prompt.last(), "磁盘空间设置必须在100MB~100,000,000MB之间！");
    dialog.diskSpaceBox()->setText("2048");
    dialog.applyDiskSpace();
    EXPECT_EQ(prompt.last(), "是否确认修改?");
    EXPECT_EQ(settings.diskSpace, 1000);
    prompt.answer(true);
    dialog.applyDiskSpace();
    EXPECT_EQ(settings.diskSpace, 2048);
}

TEST_F(TaskViewsTest, taskLogTreeFindsTodaysLogAndTheLogViewPagesItsRecords) {
    // setup: 250 records of today's log of one task, one older log, the system log
    const fs::path today = installation.log() / "20261208100000-00001-20261208.log";
    for (int i = 0; i < 250; ++i)
        ASSERT_EQ(logs.writeTaskLog("第" + std::to_string(i) + "条", 0, today), 0);
    std::ofstream(installation.log() / "20261208100000-00001-20261207.log") << "";
    std::ofstream(installation.log() / "SysLog20261208.log") << "x";
    CTaskTreeView tree(installation);
    tree.refresh("20261208");
    QTreeWidgetItem* root = tree.tree()->topLevelItem(0);
    ASSERT_EQ(root->childCount(), 3);
    EXPECT_EQ(root->child(1)->text(0).toStdString(), "当日任务日志\\");
    ASSERT_EQ(root->child(1)->childCount(), 1);
    EXPECT_EQ(root->child(2)->childCount(), 1);  // the system log is no task log

    // act: the latest page first, then back to the first
    CTaskLogView view;
    view.showFile(today);
    // verify
    EXPECT_EQ(view.pageCount(), 3);
    EXPECT_EQ(view.page(), 2);
    ASSERT_EQ(view.lines()->count(), 50);
    EXPECT_EQ(view.lines()->item(49)->text().toStdString(), "2026-12-08 10:00:00--[消息]第249条");
    view.showPage(0);
    EXPECT_EQ(view.lines()->item(0)->text().toStdString(), "2026-12-08 10:00:00--[消息]第0条");

}

// Regression: only flags that had arrived were listed, and there was no legend.
TEST_F(TaskViewsTest, flagViewShowsEveryExpectedFlagOfTheDayAwaitedOrArrivedUnderItsLegend) {
    // setup: the day's template expects three flags
    catalogue::TableSpec flagTemplate;
    for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
        if (spec->fileName == std::string(catalogue::kFlagTemplate)) flagTemplate = *spec;
    }
    flagTemplate.rows = {{{"FLAGNAME", "QS"}}, {{"FLAGNAME", "JSMX"}}, {{"FLAGNAME", "B"}}};
    std::ofstream(installation.localconfig() / flagTemplate.fileName, std::ios::binary)
        << catalogue::BuildTableBytes(flagTemplate, vantrel::testing::localTime(2026, 1, 1, 0, 0, 0));
    RecordingNotifier recorded;
    Context flagContext = context;
    flagContext.notifier = &recorded;
    catalogue::CFlagManager manager(flagContext);
    CFlagStatusView view;

    // act: the start-up load, then one arrival
    manager.LoadFlags();
    manager.RecordFlagFile("JSMX.c08", "2026-12-08 10:05:00");
    for (const NotifierEvent& event : recorded.events()) EXPECT_TRUE(view.apply(event));

    // verify
    QTreeWidget* list = view.list();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    std::map<std::string, std::pair<bool, std::string>> rows;
    for (int i = 0; i < 3; ++i) {
        const QTreeWidgetItem* row = list->topLevelItem(i);
        rows[row->text(0).toStdString()] = {CFlagStatusView::arrived(row),
                                            row->text(1).toStdString()};
    }
    EXPECT_EQ(rows["QS"], std::make_pair(false, std::string()));
    EXPECT_EQ(rows["B"], std::make_pair(false, std::string()));
    EXPECT_EQ(rows["JSMX"], std::make_pair(true, std::string("2026-12-08 10:05:00")));
    QStringList legend;
    for (const QLabel* label : view.findChildren<QLabel*>()) legend << label->text();
    EXPECT_TRUE(legend.contains(QString::fromUtf8("表示标志文件已下载")));
    EXPECT_TRUE(legend.contains(QString::fromUtf8("表示标志文件未下载")));
    view.apply(FlagViewClear{});
    EXPECT_EQ(list->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace vantrel::ui
