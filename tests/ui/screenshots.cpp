// vantrel-ui-screens DIR: renders the client's main windows into PNG files on the
// offscreen platform, against a loopback test gateway with demo mailboxes:
//   DIR/login.png     the login dialog with its gateway panel open
//   DIR/main.png      the main window after a real login, the A-share mailbox listed
//   DIR/transfer.png  the download dialog in the middle of a transfer
//   DIR/tasks.png     the task list with one task of each kind
//   DIR/task-download.png, task-bulletin.png, task-upload.png, task-autosync.png,
//   DIR/schedule.png  the task dialogs and the schedule dialog
//   DIR/settings.png  the system settings dialog
//   DIR/logon-settings.png  登录设置, the gateways as they are set
//   DIR/tasklog.png   a task log in the log view, the task log tree beside it
//   DIR/tasklist.png  a task's file list of the day in the log view
//   DIR/flags.png     the flag status view
//   DIR/manual.png    the manual receive dialog after a query and a fetch
//   DIR/realtime.png  the real-time report view with its log
//   DIR/update.png    the update dialog offering a newer version
// Everything runs in a temporary installation; nothing outside DIR is kept.

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>

#include "client/catalogue/dbf_table.h"
#include "client/catalogue/table_schema.h"
#include "client/base/logs.h"
#include "client/execution/tasks/task_scheduler.h"
#include "client/ui/gui_app.h"
#include "client/ui/gui_parts.h"
#include "client/ui/log_views.h"
#include "client/ui/login_dialog.h"
#include "client/ui/logon_setting_dialog.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/main_frame.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/realtime_view.h"
#include "client/ui/system_setting_dialog.h"
#include "client/ui/task_dialogs.h"
#include "client/ui/task_view.h"
#include "client/ui/transfer_dialog.h"
#include "client/ui/update_dialog.h"
#include "platform/files.h"
#include "tools/testgateway/demo_settings.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"
#include "updater/travex_dialog.h"

namespace vantrel::ui {
namespace {

// Messages go to stderr; questions are answered No.
class StderrPrompt final : public UserPrompt {
  public:
    bool askYesNo(const std::string& caption, const std::string& text, Icon) override {
        std::fprintf(stderr, "[%s] %s -> No\n", caption.c_str(), text.c_str());
        return false;
    }
    void show(const std::string& caption, const std::string& text, Icon) override {
        std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    }
};

bool turnUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

void put(const std::filesystem::path& path, std::size_t size) {
    std::filesystem::create_directories(path.parent_path());
    std::string bytes(size, '\0');
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& c : bytes) c = static_cast<char>('A' + rng() % 26);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool save(QWidget& widget, const std::filesystem::path& file) {
    const bool ok = widget.grab().save(QString::fromStdString(file.string()), "PNG");
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", file.string().c_str());
    return ok;
}

int render(const std::filesystem::path& out) {
    std::error_code ec;
    const auto root =
        std::filesystem::temp_directory_path() / ("vantrel-screens-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / "localconfig", ec);
    std::filesystem::create_directories(root / "recv", ec);
    struct Cleanup {
        std::filesystem::path dir;
        ~Cleanup() {
            std::error_code e;
            std::filesystem::remove_all(dir, e);
        }
    } cleanup{root};

    // The demo mailboxes.
    auto files = std::make_shared<testgateway::MailboxFileService>(root / "mailboxes", "20261208");
    put(files->root() / "FTP_A_QS" / "QS20261208.zip", 48 * 1024 * 1024);
    put(files->root() / "FTP_A_QS" / "jsmx20261208.dbf", 734512);
    put(files->root() / "FTP_A_QS" / "公告20261208.txt", 12840);
    put(files->root() / "FTP_A_QS" / "history" / "QS20261207.zip", 2048);
    put(files->root() / "FTP_B_QS" / "B20261208.txt", 512);
    put(files->root() / "FTP_SSHB" / "20261208" / "SSHB_A_20261208_001.txt", 18432);
    put(files->root() / "FTP_SSHB" / "20261208" / "SSHB_A_20261208_002.txt", 9216);
    put(files->root() / "FTP_SSHB" / "20261208" / "SSHB_B_20261208_001.txt", 4096);
    {
        const auto today = platform::RealClock::instance().localNow();
        char day[16];
        std::snprintf(day, sizeof day, "%04d%02d%02d", today.year, today.month, today.day);
        const auto folder = files->root() / "FTP_TZ_BULLET" / (std::string(day) + day + "Bullet");
        put(folder / "投资者风险提示.pdf", 183240);
        put(folder / "交易规则修订说明.pdf", 96512);
        put(folder / "会议通知.doc", 20480);
    }
    put(root / "recv" / "回报20261207.dbf", 20480);
    put(root / "recv" / "send.txt", 734);
    testgateway::TestGateway gateway(testgateway::demoSettings());
    gateway.addService(files);
    if (!gateway.start()) return 1;

    const Installation installation(root, root);
    QtNotifier notifier;
    Logs logs(installation, platform::RealClock::instance(), notifier);
    StderrPrompt prompt;
    Context context;
    context.installation = installation;
    context.clock = &platform::RealClock::instance();
    context.notifier = &notifier;
    context.prompt = &prompt;
    context.logs = &logs;
    InteractiveGateway interactive(context);
    interactive.process().setProduct("HMRQ0001", "1.30.00");
    // The task tables, empty; the tasks are added below through the dialogs' own saves.
    for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
        std::ofstream(installation.localconfig() / spec->fileName, std::ios::binary)
            << catalogue::BuildTableBytes(*spec, platform::RealClock::instance().localNow());
    }
    TaskScheduler scheduler(context, interactive.process(), {});
    scheduler.catalogue().SetOperator(testgateway::kDemoOperator);
    GuiPorts ports(interactive, context, &scheduler);
    CMainFrame::Services services = ports.frameServices(notifier);
    services.installation = installation;
    CMainFrame frame(services);
    frame.resize(1180, 680);
    frame.show();

    // 1. The login dialog, gateway panel open.
    LoginSettings given;
    given.gateways = {GatewayEntry{"127.0.0.1", std::to_string(gateway.gatewayPort()),
                                   std::to_string(gateway.updatePort()), "30"},
                      GatewayEntry{"127.0.0.2", "8888", "8021", "30"}};
    given.gateways.resize(kGatewayCount);
    given.operatorCode = testgateway::kDemoOperator;
    CLogin::Services loginServices;
    loginServices.session = services.session;
    loginServices.settings = services.settings;
    loginServices.prompt = &prompt;
    loginServices.notifier = &notifier;
    loginServices.progress = frame.progress();
    CLogin login(loginServices, given, false, &frame);
    login.show();
    turnUntil([] { return false; }, 200);
    bool ok = save(login, out / "login-collapsed.png");
    login.toggleButton()->click();
    login.passwordBox()->setText(testgateway::kDemoPassword);
    turnUntil([] { return false; }, 200);
    ok = save(login, out / "login.png") && ok;

    // 2. A real login, then the main window with the A-share mailbox.
    login.submit();
    if (!turnUntil([&] { return !login.isVisible(); })) return 1;
    frame.applyPermissions();
    frame.showCategory(QString::fromUtf8("信箱"));
    frame.mailView()->setLocalDirectory(root / "recv");
    frame.mailView()->openMailbox("FTP_A_QS");
    if (!turnUntil([&] { return !frame.mailView()->busy(); })) return 1;
    frame.mailView()->remoteList()->topLevelItem(0)->setSelected(true);
    turnUntil([] { return false; }, 1200);  // the clock ticks once
    ok = save(frame, out / "main.png") && ok;

    // 2b. The manual receive of the day's real-time reports, one fetched.
    {
        CMsgHandRev manual(*services.realtimeReceive, prompt, &frame);
        manual.setRange("20261208", "20261208");
        manual.directory()->setText(QString::fromStdString((root / "sshbrev_s").string()));
        manual.show();
        manual.query();
        if (!turnUntil([&] { return !manual.busy(); })) return 1;
        if (manual.list()->topLevelItemCount() > 0) {
            manual.list()->topLevelItem(0)->setCheckState(0, Qt::Checked);
            manual.download();
            if (!turnUntil([&] { return !manual.busy(); })) return 1;
        }
        ok = save(manual, out / "manual.png") && ok;
    }

    // 2c. The download and bulletin task dialogs with the remote files their run would fetch
    // today, listed while the gateway is up.
    TaskBoard& downloadBoard = *services.board;
    execution::DownloadForm download;
    download.description = "A股日终清算文件";
    download.mailbox = "FTP_A_QS";
    download.fileName = "QS*.zip";
    download.begin = {16, 30};
    download.end = {2, 0};
    download.nextDay = true;
    download.directory = (root / "recv").string();
    CDownTaskDlg downloadDialog(downloadBoard, prompt, download, {}, &frame);
    downloadDialog.setPreview(services.mailbox, &platform::RealClock::instance());
    downloadDialog.show();
    downloadDialog.refreshPreview();
    turnUntil([&] { return !downloadDialog.previewBusy(); });
    turnUntil([] { return false; }, 200);
    ok = save(downloadDialog, out / "task-download.png") && ok;
    downloadDialog.submit();

    execution::DownloadForm bulletin;
    bulletin.source = execution::DownloadSource::Bulletin;
    bulletin.description = "投资人公告";
    bulletin.mailbox = "FTP_A_QS";
    bulletin.bulletin = "FTP_TZ_BULLET";
    bulletin.fileName = "*.pdf";
    bulletin.begin = {8, 0};
    bulletin.end = {18, 0};
    bulletin.directory = root.string();
    bulletin.schedule.everyDay = false;
    bulletin.schedule.days = {true, true, true, true, true, false, false};
    CDownTaskDlg bulletinDialog(downloadBoard, prompt, bulletin, {}, &frame);
    bulletinDialog.setPreview(services.mailbox, &platform::RealClock::instance());
    bulletinDialog.show();
    bulletinDialog.refreshPreview();
    turnUntil([&] { return !bulletinDialog.previewBusy(); });
    turnUntil([] { return false; }, 200);
    ok = save(bulletinDialog, out / "task-bulletin.png") && ok;
    bulletinDialog.submit();

    // 3. The download dialog while the big archive comes in, slowed down by the gateway.
    gateway.faults().answerDelayMs = 40;
    std::vector<TransferItem> items{
        {"FTP_A_QS", "", "QS20261208.zip", root / "recv", 48ull * 1024 * 1024}};
    CTransferDlg transfer(TransferDirection::Download, items, *services.mailbox, prompt, &frame);
    transfer.show();
    if (!turnUntil(
            [&] {
                transfer.refresh();
                return transfer.percent() >= 5;
            },
            60000)) {
        return 1;
    }
    ok = save(transfer, out / "transfer.png") && ok;
    transfer.stopButton()->click();  // the question is answered No; the gateway stops instead
    gateway.stop();
    turnUntil([&] { return !transfer.isVisible(); }, 60000);

    // 4. The task dialogs, each filled as an operator would, then the task list.
    TaskBoard& board = *services.board;
    std::filesystem::create_directories(root / "send", ec);
    std::filesystem::create_directories(root / "sent", ec);
    execution::UploadForm upload;
    upload.description = "上市公司报送";
    upload.mailbox = "FTP_SG";
    upload.begin = {9, 0};
    upload.end = {17, 30};
    upload.uploadDirectory = (root / "send").string();
    upload.sentDirectory = (root / "sent").string();
    upload.sentDated = true;
    CUpTaskDlg uploadDialog(board, prompt, upload, {}, &frame);
    uploadDialog.show();
    turnUntil([] { return false; }, 200);
    ok = save(uploadDialog, out / "task-upload.png") && ok;
    uploadDialog.submit();

    execution::AutoSyncForm sync;
    sync.mailbox = "FTP_B_QS";
    sync.description = "B股信箱同步";
    sync.intervalMinutes = 5;
    sync.directory = (root / "mailboxes").string();
    CAutoSyncTaskDlg syncDialog(board, prompt, sync, {}, &frame);
    syncDialog.show();
    turnUntil([] { return false; }, 200);
    ok = save(syncDialog, out / "task-autosync.png") && ok;
    syncDialog.submit();

    CScheduleDlg schedule(bulletin.schedule, prompt, &frame);
    schedule.show();
    turnUntil([] { return false; }, 200);
    ok = save(schedule, out / "schedule.png") && ok;

    CSystemSettingDlg settingsDialog(*services.settings, prompt, &frame);
    settingsDialog.show();
    turnUntil([] { return false; }, 200);
    ok = save(settingsDialog, out / "settings.png") && ok;

    CLogonSetting logonSettings(*services.settings, &frame);
    logonSettings.show();
    turnUntil([] { return false; }, 200);
    ok = save(logonSettings, out / "logon-settings.png") && ok;

    frame.showTasks();
    frame.taskView()->refresh();
    turnUntil([] { return false; }, 300);
    ok = save(frame, out / "tasks.png") && ok;

    // 5. A task log and the flags of the day.
    const auto rows = services.board->rows();
    if (!rows.empty()) {
        const std::string id = rows.front().id();
        const auto today = platform::RealClock::instance().localNow();
        char day[16];
        std::snprintf(day, sizeof day, "%04d%02d%02d", today.year, today.month, today.day);
        const auto log = installation.log() / (id + "-" + day + ".log");
        logs.writeTaskLog("任务开始运行", 0, log);
        logs.writeTaskLog("文件[QS20261208.zip]下载完成", 0, log);
        logs.writeTaskLog("文件[jsmx20261208.dbf]不存在,稍后重试", 1, log);
        logs.writeTaskLog("任务运行结束", 0, log);
        frame.taskTree()->refresh(day);
        frame.taskTree()->fileChosen(log);
        turnUntil([] { return false; }, 200);
        ok = save(frame, out / "tasklog.png") && ok;

        // The day's file list of the task, chosen in the tree, as its table.
        const auto list = services.board->listFile(id);
        std::filesystem::create_directories(list.parent_path(), ec);
        std::filesystem::copy_file(installation.localconfig() / catalogue::kDownloadListTemplate,
                                   list, ec);
        catalogue::CDbfImpl table;
        if (table.Open(list, 2) == 1) {
            (void)table.AppendRow({{"FILENAME", "QS20261208.zip"}, {"SIZE", "50331648"},
                                   {"DownSize", "50331648"}, {"FLAG", "4"}});
            (void)table.AppendRow({{"FILENAME", "jsmx20261208.dbf"}, {"SIZE", "734512"},
                                   {"FLAG", "0"}, {"DISCRIPT", "文件不存在,稍后重试"}});
            table.Close();
        }
        frame.taskTree()->refresh(day);
        frame.taskTree()->fileChosen(list);
        turnUntil([] { return false; }, 200);
        ok = save(frame, out / "tasklist.png") && ok;
    }
    for (const char* flag : {"QS20261208.ok", "jsmx20261208.ok", "B20261208.ok"})
        notifier.post(FlagViewFlag{false, flag, ""});
    notifier.post(FlagViewFlag{true, "QS20261208.ok", "16:42:10"});
    frame.showCategory(QString::fromUtf8("视图"));
    for (QToolButton* button : frame.findChildren<QToolButton*>()) {
        if (button->text() == QString::fromUtf8("标志文件")) button->click();
    }
    turnUntil([] { return false; }, 200);
    ok = save(frame, out / "flags.png") && ok;

    // 6. The real-time report view as the service reports, and the update offer.
    const struct {
        const char* name;
        const char* state;
        std::int64_t size, records;
        const char* time;
        const char* result;
    } reports[] = {
        {"SSHB_A_20261208_001.txt", "完成推送", 18432, 256, "2026-12-08 09:31:02", "下载成功"},
        {"SSHB_A_20261208_002.txt", "正在下载", 0, 0, "", ""},
        {"SSHB_B_20261208_001.txt", "等待接收", 0, 0, "", ""},
    };
    for (const auto& r : reports)
        notifier.post(RealtimeReportChanged{{r.name, r.state, r.size, r.records, r.time, r.result}});
    notifier.post(RealtimeLogRecord{"2026-12-08 09:31:00", "开始下载文件[SSHB_A_20261208_001.txt]", 0});
    notifier.post(RealtimeLogRecord{"2026-12-08 09:31:02", "下载文件[SSHB_A_20261208_001.txt]成功", 0});
    notifier.post(RealtimeLogRecord{"2026-12-08 09:36:02",
                                    "查询实时回报文件列表[20261208]失败，接收数据失败，失败原因:"
                                    "对方已关闭连接",
                                    1});
    notifier.post(RealtimeServiceSwitched{true, "实时回报服务状态:运行"});
    frame.showCategory(QString::fromUtf8("实时回报"));
    frame.showRealtime();
    turnUntil([] { return false; }, 300);
    ok = save(frame, out / "realtime.png") && ok;

    CUpdateDlg update(&frame);
    update.setOffer("1.31.00", "vantrel-1.31.00.pkg");
    update.show();
    turnUntil([] { return false; }, 200);
    ok = save(update, out / "update.png") && ok;

    // 7. The updater's window before its run.
    updater::TravexDialog travex(
        updater::Arguments{installation.clientIni(), "HMRQ0001", "1.30.00", "127.0.0.1", "1", 5});
    travex.show();
    turnUntil([] { return false; }, 200);
    ok = save(travex, out / "updater.png") && ok;
    return ok ? 0 : 1;
}

}  // namespace
}  // namespace vantrel::ui

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantrel-ui-screens DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vantrel::ui::installQtTranslations(app);
    std::filesystem::create_directories(argv[1]);
    return vantrel::ui::render(argv[1]);
}
