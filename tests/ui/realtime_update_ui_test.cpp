// The real-time report windows and the night update against the loopback test gateway: the
// view and the status bar following a running service switched from the window, the
// manual receive dialog's checks and a fetch, and the 03:00 offer handing over to the
// updater once no task runs.

#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeWidget>
#include <fstream>
#include <random>
#include <thread>

#include "client/base/logs.h"
#include "client/execution/realtime/realtime_reports.h"
#include "client/app/desktop_open.h"
#include "client/ui/main_frame.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/realtime_view.h"
#include "client/ui/update_dialog.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::ui {
namespace {

namespace fs = std::filesystem;
using testing::waitUntil;

constexpr const char* kDay = "20261208";

class TestTasks final : public TaskActivity {
  public:
    bool shuttingDown() override { return false; }
    std::string closeRefusal() override { return download ? "下载任务正在运行,请先停止!" : ""; }
    bool realtimeServiceRunning() override { return false; }
    void stopForExit() override { ++stops; }
    bool download = false;
    int stops = 0;
};

class RealtimeUpdateUiTest : public testing::QtTest {
  protected:
    RealtimeUpdateUiTest()
        : installation(root.path(), root.path()),
          clock(platform::fromLocalTime({2026, 12, 8, 10, 0, 0, 0, 2})),
          logs(installation, clock, notifier),
          gateway(gatewaySettings()),
          files(std::make_shared<testgateway::MailboxFileService>(root.path() / "mailboxes",
                                                                  kDay)) {}

    static testgateway::TestGatewaySettings gatewaySettings() {
        auto settings = testgateway::parseSettings(R"(
[gateway]
BusinessDate = 20261208
[operator OPER01]
Password = pass1234
UserCode = U0000042
Permission = VRELKA,FTP_SSHB,**,C
)");
        EXPECT_TRUE(settings.isOk()) << settings.status().text();
        return settings.value();
    }

    void SetUp() override {
        ASSERT_TRUE(platform::createDirectories(installation.localconfig()));
        gateway.addService(files);
        ASSERT_TRUE(gateway.start());
        context.installation = installation;
        context.clock = &clock;
        context.notifier = &notifier;
        context.prompt = &prompt;
        context.logs = &logs;
        interactive = std::make_unique<InteractiveGateway>(context);
        interactive->process().setProduct("HMRQ0001", "1.30.00");
    }
    void TearDown() override {
        if (interactive) interactive->disconnect();
        gateway.stop();
    }

    GatewayEntry entry() const {
        return {"127.0.0.1", std::to_string(gateway.gatewayPort()),
                std::to_string(gateway.updatePort()), "30"};
    }
    std::string publish(const std::string& name, std::size_t size) {
        std::string bytes(size, '\0');
        std::mt19937 rng(static_cast<unsigned>(size));
        for (auto& c : bytes) c = static_cast<char>('a' + rng() % 26);
        const fs::path path = files->root() / testgateway::kRealtimeMailbox / kDay / name;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return bytes;
    }
    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::unique_ptr<CMainFrame> makeFrame(RealtimeReports* realtime) {
        CMainFrame::Services s;
        s.session = &session;
        s.mailbox = &mailbox;
        s.settings = &settings;
        s.prompt = &prompt;
        s.notifier = &notifier;
        s.tasks = &tasks;
        s.clock = &clock;
        s.realtime = realtime;
        s.openFile = [opener = testing::writeOpener(root.path(), 3)](const fs::path& target) {
            return OpenOnDesktop(target, opener);
        };
        s.versionCheck = [this] {
            if (updates) updates->nightCheck();
        };
        auto frame = std::make_unique<CMainFrame>(s);
        frame->show();
        return frame;
    }
    static QTreeWidgetItem* row(QTreeWidget* list, const std::string& name) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(1).toStdString() == name) return list->topLevelItem(i);
        }
        return nullptr;
    }

    vantrel::testing::TempDir root;
    Installation installation;
    platform::FakeClock clock;
    QtNotifier notifier;
    Logs logs;
    testgateway::TestGateway gateway;
    std::shared_ptr<testgateway::MailboxFileService> files;
    testing::ScriptedPrompt prompt;
    testing::FakeSession session;
    testing::FakeMailbox mailbox;
    testing::MemorySettings settings;
    TestTasks tasks;
    Context context;
    std::unique_ptr<InteractiveGateway> interactive;
    std::unique_ptr<GuiUpdate> updates;
};

TEST_F(RealtimeUpdateUiTest, viewAndStatusBarFollowTheServiceSwitchedFromTheWindow) {
    publish("rpt_a.txt", 3000);
    publish("rpt_b.txt", 70000);
    RealtimeService::Options options;
    options.makeSession = [this]() -> std::unique_ptr<CVornFtp> {
        auto handle = std::make_unique<CVornFtp>(context, interactive->process());
        handle->SetGatewayList({entry()}, 0, "", "OPER01", "pass1234");
        return handle;
    };
    options.waitStep = std::chrono::milliseconds(5);
    options.idlePause = std::chrono::milliseconds(5);
    options.emptyPause = std::chrono::milliseconds(5);
    const DayClock days(*context.clock);
    RealtimeService service(context, days, options);
    SchedulerRealtime port(service);
    auto frame = makeFrame(&port);
    ASSERT_NE(frame->realtimeSwitch(), nullptr);
    EXPECT_EQ(frame->statusText(CMainFrame::kRealtime).toStdString(), "实时回报服务状态:停止");

    platform::Event stop{platform::Event::Reset::Manual};
    std::thread traversal([&] { service.traversalThread(stop); });
    std::thread download([&] { service.downloadThread(stop); });
    struct Join {
        platform::Event& stop;
        std::thread& a;
        std::thread& b;
        ~Join() {
            stop.set();
            a.join();
            b.join();
        }
    } join{stop, traversal, download};

    // The operator switches it on from the window; the status bar and switch follow.
    frame->realtimeSwitch()->click();
    ASSERT_TRUE(waitUntil([&] {
        return frame->statusText(CMainFrame::kRealtime).toStdString() == "实时回报服务状态:运行";
    }));
    EXPECT_TRUE(frame->realtimeSwitch()->isChecked());
    EXPECT_TRUE(service.running());

    // The cycle's wait runs on the service's clock; each turn moves it half a minute.
    CMsgFormView* view = frame->realtimeView();
    auto done = [&](const char* name, std::int64_t size) {
        const QTreeWidgetItem* r = row(view->list(), name);
        return r && r->text(2).toLongLong() == size && !r->text(4).isEmpty();
    };
    bool arrived = false;
    for (int i = 0; i < 600 && !arrived; ++i) {
        arrived = waitUntil([&] { return done("rpt_a.txt", 3000) && done("rpt_b.txt", 70000); },
                            20);
        clock.advance(std::chrono::milliseconds(30000));
    }
    ASSERT_TRUE(arrived);
    EXPECT_EQ(view->title()->text().toStdString(), "实时回报文件列表[2]");
    bool logged = false;
    for (int i = 0; i < view->log()->count(); ++i)
        logged = logged || view->log()->item(i)->text().contains("开始下载文件[rpt_b.txt]");
    EXPECT_TRUE(logged);

    // A double click opens the folder; with no program for it the operator is told.
    view->list()->setCurrentItem(row(view->list(), "rpt_a.txt"));
    emit view->list()->itemDoubleClicked(row(view->list(), "rpt_a.txt"), 0);
    ASSERT_TRUE(waitUntil([&] { return prompt.last().rfind("打开目录", 0) == 0; }));
    EXPECT_NE(prompt.last().find("失败. \n\r原因:没有可以打开此文件的程序"), std::string::npos)
        << prompt.last();

    // A second view made now starts from the service's copy of the same lines.
    CMsgFormView fresh;
    fresh.reload(port.snapshot());
    EXPECT_EQ(fresh.title()->text(), view->title()->text());

    frame->realtimeSwitch()->click();
    ASSERT_TRUE(waitUntil([&] {
        return frame->statusText(CMainFrame::kRealtime).toStdString() == "实时回报服务状态:停止";
    }));
    EXPECT_FALSE(frame->realtimeSwitch()->isChecked());
}

// What the service's copy holds when the window opens: one line of the day.
class FixedRealtime final : public RealtimeReports {
  public:
    bool running() override { return true; }
    void setRunning(bool) override {}
    RealtimeSnapshot snapshot() override { return shown; }
    fs::path receiveDirectory() override { return {}; }
    RealtimeSnapshot shown;
};

TEST_F(RealtimeUpdateUiTest, theListStartsEachDayAfreshAndTheLogTellsWarningsFromErrors) {
    // setup: the window opens at 10:00 on the 8th with one report of the day
    FixedRealtime realtime;
    realtime.shown.records = {{"rpt_a.txt", "完成下载", 10, 1, "2026-12-08 09:00:00", "下载成功"}};
    auto frame = makeFrame(&realtime);
    CMsgFormView* view = frame->realtimeView();
    ASSERT_NE(view, nullptr);
    ASSERT_NE(row(view->list(), "rpt_a.txt"), nullptr);

    // act: the day changes (the service's copy is the new day's, still empty), then the
    // new day's first report arrives and the service logs a recovered drop and a failure
    realtime.shown.records.clear();
    notifier.post(DayBegan{"20261209"});
    notifier.post(RealtimeReportChanged{{"rpt_next.txt", "等待接收", 0, 0, "", ""}});
    notifier.post(RealtimeLogRecord{"2026-12-09 00:01:00", "查询实时回报文件列表失败", 1});
    notifier.post(RealtimeLogRecord{"2026-12-09 00:02:00", "登陆服务器失败", 2});
    ASSERT_TRUE(waitUntil([&] { return view->log()->count() == 2; }));

    // verify: only the new day's report is listed; each log line says its level
    EXPECT_EQ(row(view->list(), "rpt_a.txt"), nullptr);
    EXPECT_NE(row(view->list(), "rpt_next.txt"), nullptr);
    EXPECT_EQ(view->title()->text().toStdString(), "实时回报文件列表[1]");
    EXPECT_EQ(view->log()->item(0)->text().toStdString(),
              "2026-12-09 00:01:00[警告]  查询实时回报文件列表失败");
    EXPECT_EQ(view->log()->item(1)->text().toStdString(),
              "2026-12-09 00:02:00[错误]  登陆服务器失败");
}

TEST_F(RealtimeUpdateUiTest, manualReceiveChecksItsInputAndFetchesTheChosenReports) {
    const std::string a = publish("rpt_a.txt", 4000);
    publish("rpt_b.txt", 900);
    HandleSession handleSession(*interactive);
    handleSession.setGatewayList({entry()}, GatewayOrder::InOrder, "OPER01", "pass1234");
    ASSERT_TRUE(handleSession.loginToGateway()) << handleSession.lastError();
    HandleRealtimeReceive receive(handleSession, context);
    CMsgHandRev dialog(receive, prompt);
    dialog.show();

    dialog.setRange("20261209", kDay);
    EXPECT_FALSE(dialog.query());
    EXPECT_EQ(prompt.last(), "开始时间不能大于结束时间！");

    dialog.setRange(kDay, kDay);
    ASSERT_TRUE(dialog.query());
    ASSERT_TRUE(waitUntil([&] { return !dialog.busy(); }, 30000));
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 2) << prompt.last();

    EXPECT_FALSE(dialog.download());
    EXPECT_EQ(prompt.last(), "请选择需要下载的文件！");

    // The service's own receive directory is refused.
    row(dialog.list(), "rpt_a.txt")->setCheckState(0, Qt::Checked);
    const auto service = CConfig(installation).readRealtimeReportSettings().receivePath;
    dialog.directory()->setText(QString::fromStdString(service));
    ASSERT_TRUE(dialog.download());
    ASSERT_TRUE(waitUntil([&] { return !dialog.busy(); }, 30000));
    EXPECT_EQ(prompt.last(), "手动接收目录不能和实时回报服务目录一致!");

    // A fetch cannot be walked away from, and lands in the chosen directory.
    const fs::path target = root.path() / "手动";
    dialog.directory()->setText(QString::fromStdString(target.string()));
    ASSERT_TRUE(dialog.download());
    dialog.reject();
    EXPECT_EQ(prompt.last(), "正在查询文件或下载文件,请操作结束后再退出");
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(waitUntil([&] { return !dialog.busy(); }, 30000));
    EXPECT_EQ(row(dialog.list(), "rpt_a.txt")->text(5).toStdString(), "下载成功");
    EXPECT_EQ(row(dialog.list(), "rpt_b.txt")->text(5).toStdString(), "");
    EXPECT_EQ(read(target / "rpt_a.txt"), a);
    EXPECT_FALSE(fs::exists(target / "rpt_b.txt"));
    EXPECT_EQ(CConfig(installation).readRealtimeReportSettings().manualReceivePath,
              target.string());
}

TEST_F(RealtimeUpdateUiTest, nightOfferHandsOverToTheUpdaterOnceNoTaskRuns) {
    testgateway::TestGatewaySettings serverSettings;
    serverSettings.updateRoot = root.path() / "serve";
    serverSettings.updateValues = {{"moduleversion", "1.31.00"}, {"packagename", "v131.pkg"}};
    testgateway::TestGateway server(serverSettings);
    ASSERT_TRUE(server.start().isOk());
    ASSERT_TRUE(platform::IniFile(installation.clientIni())
                    .setString("update", "moduleversion", "1.30.00")
                    .isOk());
    update::UpdateSettings s;
    s.productId = "HMRQ0001";
    s.clientVersion = "1.30.00";
    s.flagId = "FLAG0001";
    s.gateways = {{"127.0.0.1", "1", std::to_string(server.updatePort()), "30"}};
    s.cryptoLibrary = KORRIM_LIBRARY;
    std::vector<platform::ChildOptions> launched;
    update::UpdateChecker checker(context, s, nullptr,
                                  [&](const platform::ChildOptions& o) -> Result<int> {
                                      launched.push_back(o);
                                      return 4242;
                                  });
    auto frame = makeFrame(nullptr);
    updates = std::make_unique<GuiUpdate>(checker, [&] { return frame.get(); });

    // 03:00: the newer version is offered in the update dialog.
    notifier.post(NightlyCheckDue{NightlyCheckDue::Check::Version});
    ASSERT_TRUE(waitUntil([&] { return updates->dialog() != nullptr; }));
    CUpdateDlg* dialog = updates->dialog();
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->version()->text().contains("1.31.00"));
    EXPECT_TRUE(dialog->package()->text().contains("v131.pkg"));
    EXPECT_EQ(dialog->size(), QSize(250, 190));

    // While a download task runs the hand-over waits and is tried again later.
    tasks.download = true;
    dialog->accept();
    EXPECT_TRUE(launched.empty());
    EXPECT_TRUE(updates->retryPending());
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(tasks.stops, 0);

    tasks.download = false;
    updates->handOver();
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].program, installation.bin() / "travex");
    EXPECT_EQ(launched[0].arguments,
              (std::vector<std::string>{installation.clientIni().string(), "HMRQ0001", "1.30.00",
                                        "127.0.0.1", std::to_string(server.updatePort()), "5"}));
    EXPECT_FALSE(updates->retryPending());
    EXPECT_EQ(tasks.stops, 1);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(prompt.texts().empty());  // closed without a question
}

}  // namespace
}  // namespace vantrel::ui
