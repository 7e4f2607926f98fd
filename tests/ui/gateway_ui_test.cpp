// The windows against the loopback test gateway: a real login through the dialog, the
// categories by the operator's real permissions, browsing, a download and an upload with
// progress records, a permission refusal, a delete answered by the test, and the gateway
// going away in the middle of a download.

#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>
#include <mutex>
#include <random>

#include "client/app/desktop_open.h"
#include "client/base/logs.h"
#include "client/ui/bulletin_view.h"
#include "client/ui/core_ports.h"
#include "client/ui/login_dialog.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/main_frame.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_notifier.h"
#include "client/ui/transfer_dialog.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"
#include "tools/testgateway/file_services.h"
#include "tools/testgateway/test_gateway.h"

namespace vantrel::ui {
namespace {

using testing::waitUntil;

testgateway::TestGatewaySettings operators() {
    auto settings = testgateway::parseSettings(R"(
[gateway]
BusinessDate = 20261208
[operator OPER01]
Password = pass1234
UserCode = U0000042
Permission = VRELKA,FTP_A_QS,**,C
Permission = VRELKA,FTP_B_QS,00,C
Permission = VRELKA,FTP_TZ_BULLET,00,C
)");
    EXPECT_TRUE(settings.isOk()) << settings.status().text();
    return settings.value();
}

std::string randomBytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::mt19937 rng(static_cast<unsigned>(size));
    for (auto& c : bytes) c = static_cast<char>(rng());
    return bytes;
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class GatewayUiTest : public testing::QtTest {
  protected:
    GatewayUiTest()
        : installation(root.path(), root.path()),
          logs(installation, platform::RealClock::instance(), notifier),
          gateway(operators()),
          files(std::make_shared<testgateway::MailboxFileService>(root.path() / "mailboxes",
                                                                  "20261208")) {}

    void SetUp() override {
        ASSERT_TRUE(platform::createDirectories(installation.localconfig()));
        std::filesystem::create_directories(root.path() / "recv");
        writeBytes(files->root() / "FTP_A_QS" / "report.txt", "first line\r\n");
        writeBytes(files->root() / "FTP_A_QS" / "data.bin", randomBytes(600 * 1024));
        writeBytes(files->root() / "FTP_A_QS" / "old" / "inner.txt", "inner");
        writeBytes(files->root() / "FTP_B_QS" / "b.txt", "b");
        gateway.addService(files);
        ASSERT_TRUE(gateway.start());
        context.installation = installation;
        context.clock = &platform::RealClock::instance();
        context.notifier = &notifier;
        context.prompt = &prompt;
        context.logs = &logs;
        interactive = std::make_unique<InteractiveGateway>(context);
        interactive->process().setProduct("HMRQ0001", "1.30.00");
        session = std::make_unique<HandleSession>(*interactive);
        mailbox =
            std::make_unique<HandleMailbox>(*session, context, interactive->process(), prompt);
    }

    void TearDown() override {
        mailbox.reset();
        if (interactive) interactive->disconnect();
        gateway.stop();
    }

    LoginSettings given() {
        LoginSettings s;
        s.gateways = {GatewayEntry{"127.0.0.1", std::to_string(gateway.gatewayPort()),
                                   std::to_string(gateway.updatePort()), "30"}};
        s.gateways.resize(kGatewayCount);
        s.operatorCode = "OPER01";
        return s;
    }

    void login() {
        CLogin::Services s;
        s.session = session.get();
        s.settings = &settings;
        s.prompt = &prompt;
        s.notifier = &notifier;
        s.progress = &progress;
        CLogin dialog(s, given(), false);
        dialog.show();
        dialog.passwordBox()->setText("pass1234");
        dialog.submit();
        ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible() || !dialog.loginRunning(); }));
        ASSERT_TRUE(waitUntil([&] { return !dialog.isVisible(); }, 2000)) << prompt.last();
        ASSERT_EQ(dialog.result(), QDialog::Accepted);
    }

    std::unique_ptr<CMailFormView> makeView() {
        CMailFormView::Services s;
        s.session = session.get();
        s.mailbox = mailbox.get();
        s.settings = &settings;
        s.prompt = &prompt;
        s.notifier = &notifier;
        s.progress = &progress;
        auto view = std::make_unique<CMailFormView>(s);
        view->setLocalDirectory(root.path() / "recv");
        view->show();
        return view;
    }

    void run(CMailFormView& view, const std::function<void()>& command) {
        command();
        ASSERT_TRUE(waitUntil([&] { return !view.busy(); }, 30000));
    }

    QTreeWidgetItem* row(QTreeWidget* list, const std::string& name) {
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->text(0).toStdString() == name) return list->topLevelItem(i);
        }
        return nullptr;
    }

    // The main window over the session, its status bar showing the login state.
    std::unique_ptr<CMainFrame> makeFrame() {
        CMainFrame::Services s;
        s.session = session.get();
        s.mailbox = mailbox.get();
        s.settings = &settings;
        s.prompt = &prompt;
        s.notifier = &notifier;
        settings.receive = root.path() / "recv";
        auto frame = std::make_unique<CMainFrame>(s);
        frame->applyPermissions();
        return frame;
    }

    bool online(const CMainFrame& frame) {
        return frame.statusText(CMainFrame::kConnection).endsWith(QString::fromUtf8("在线"));
    }

    vantrel::testing::TempDir root;
    Context context;
    Installation installation;
    QtNotifier notifier;
    Logs logs;
    testgateway::TestGateway gateway;
    std::shared_ptr<testgateway::MailboxFileService> files;
    testing::ScriptedPrompt prompt;
    testing::MemorySettings settings;
    ProgressPopup progress;
    std::unique_ptr<InteractiveGateway> interactive;
    std::unique_ptr<HandleSession> session;
    std::unique_ptr<HandleMailbox> mailbox;
};

TEST_F(GatewayUiTest, logsInAndShowsTheCategoriesTheOperatorMayList) {
    login();
    EXPECT_TRUE(session->isLoggedIn());
    EXPECT_EQ(session->userCode(), "U0000042");
    CMainFrame::Services s;
    s.session = session.get();
    s.mailbox = mailbox.get();
    s.settings = &settings;
    s.prompt = &prompt;
    s.notifier = &notifier;
    CMainFrame frame(s);
    frame.applyPermissions();
    EXPECT_TRUE(frame.commandVisible("FTP_A_QS"));
    EXPECT_TRUE(frame.commandVisible("FTP_B_QS"));
    EXPECT_FALSE(frame.commandVisible("FTP_SG"));
    EXPECT_TRUE(frame.categoryVisible("公告"));
    EXPECT_TRUE(frame.commandVisible("FTP_TZ_BULLET"));
    EXPECT_FALSE(frame.commandVisible("FTP_A_BULLET"));
    ASSERT_TRUE(waitUntil([&] {
        return frame.statusText(CMainFrame::kConnection).endsWith(QString::fromUtf8("在线"));
    }));
    EXPECT_EQ(frame.statusText(CMainFrame::kOperator).toStdString(), "操作员:OPER01");
}

TEST_F(GatewayUiTest, browsesDownloadsAndUploadsWithProgress) {
    login();
    auto view = makeView();
    run(*view, [&] { view->openMailbox("FTP_A_QS"); });
    ASSERT_NE(row(view->remoteList(), "report.txt"), nullptr) << prompt.last();
    ASSERT_NE(row(view->remoteList(), "old"), nullptr);
    EXPECT_EQ(row(view->remoteList(), "data.bin")->text(1).toStdString(),
              std::to_string(600 * 1024));

    run(*view, [&] { view->openRemoteItem(row(view->remoteList(), "old")); });
    EXPECT_EQ(view->remoteList()->topLevelItem(0)->text(0).toStdString(), kParentRow);
    ASSERT_NE(row(view->remoteList(), "inner.txt"), nullptr);
    run(*view, [&] { view->goUp(); });

    // Download two files, watching the dialog's progress record.
    row(view->remoteList(), "report.txt")->setSelected(true);
    row(view->remoteList(), "data.bin")->setSelected(true);
    std::set<std::string> statusLines;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CTransferDlg*>(QApplication::activeModalWidget())) {
            dialog->refresh();
            if (!dialog->statusLine().isEmpty())
                statusLines.insert(dialog->statusLine().toStdString());
        }
    });
    watch.start(5);
    run(*view, [&] { view->downloadSelected(); });
    std::string bytes;
    const auto received = platform::readFile(root.path() / "recv" / "data.bin");
    ASSERT_TRUE(received.isOk()) << prompt.last();
    EXPECT_EQ(received.value(), randomBytes(600 * 1024));
    EXPECT_EQ(platform::readFile(root.path() / "recv" / "report.txt").value(), "first line\r\n");
    EXPECT_NE(row(view->localList(), "data.bin"), nullptr);  // the local list was read again
    EXPECT_TRUE(prompt.messages().empty()) << prompt.last();

    // Upload a local file into the mailbox.
    writeBytes(root.path() / "recv" / "send.dat", randomBytes(200 * 1024));
    view->refreshLocal();
    view->localList()->clearSelection();
    row(view->localList(), "send.dat")->setSelected(true);
    run(*view, [&] { view->uploadSelected(); });
    watch.stop();
    const auto sent = platform::readFile(files->root() / "FTP_A_QS" / "send.dat");
    ASSERT_TRUE(sent.isOk()) << prompt.last();
    EXPECT_EQ(sent.value(), randomBytes(200 * 1024));
    EXPECT_NE(row(view->remoteList(), "send.dat"), nullptr);  // the remote list was read again

    bool sawReceive = false, sawSend = false;
    for (const auto& line : statusLines) {
        sawReceive = sawReceive || line.rfind("正在接收文件[", 0) == 0;
        sawSend = sawSend || line.rfind("正在发送文件[", 0) == 0;
    }
    EXPECT_TRUE(sawReceive);
    EXPECT_TRUE(sawSend);
}

TEST_F(GatewayUiTest, refusesWhatTheOperatorMayNotDoAndDeletesAfterTheQuestion) {
    login();
    auto view = makeView();
    run(*view, [&] { view->openMailbox("FTP_B_QS"); });
    ASSERT_NE(row(view->remoteList(), "b.txt"), nullptr) << prompt.last();
    row(view->remoteList(), "b.txt")->setSelected(true);
    run(*view, [&] { view->downloadSelected(); });
    EXPECT_EQ(prompt.last(), "该操作员无此信箱文件下载权限！");
    EXPECT_FALSE(std::filesystem::exists(root.path() / "recv" / "b.txt"));

    run(*view, [&] { view->openMailbox("FTP_A_QS"); });
    row(view->remoteList(), "report.txt")->setSelected(true);
    prompt.answer(true);
    run(*view, [&] { view->deleteSelected(); });
    EXPECT_EQ(prompt.last(), "确实要删除report.txt文件吗？");
    EXPECT_FALSE(std::filesystem::exists(files->root() / "FTP_A_QS" / "report.txt"));
    EXPECT_EQ(row(view->remoteList(), "report.txt"), nullptr);
}

// A user stopped the gateway during a download and was told the password was wrong, while
// the status bar still said 在线 and 重新登录 stayed disabled.
TEST_F(GatewayUiTest, gatewayGoneDuringADownloadReadsAsALostConnectionAndOffersReLogin) {
    // setup: logged in, the main window on the A-share mailbox
    login();
    CMainFrame::Services s;
    s.session = session.get();
    s.mailbox = mailbox.get();
    s.settings = &settings;
    s.prompt = &prompt;
    s.notifier = &notifier;
    settings.receive = root.path() / "recv";
    CMainFrame frame(s);
    frame.applyPermissions();
    ASSERT_TRUE(waitUntil([&] {
        return frame.statusText(CMainFrame::kConnection).endsWith(QString::fromUtf8("在线"));
    }));
    EXPECT_FALSE(frame.reloginButton()->isEnabled());
    CMailFormView& view = *frame.mailView();
    run(view, [&] { view.openMailbox("FTP_A_QS"); });
    ASSERT_NE(row(view.remoteList(), "data.bin"), nullptr) << prompt.last();
    row(view.remoteList(), "data.bin")->setSelected(true);
    gateway.faults().answerDelayMs = 20;  // the file takes long enough to be cut off

    // act: the gateway goes once the first bytes have arrived
    bool stopped = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CTransferDlg*>(QApplication::activeModalWidget());
        if (!dialog || stopped) return;
        dialog->refresh();
        if (dialog->percent() > 0) {
            stopped = true;
            gateway.stop();
        }
    });
    watch.start(5);
    run(view, [&] { view.downloadSelected(); });
    watch.stop();

    // verify
    ASSERT_TRUE(stopped);
    EXPECT_FALSE(std::filesystem::exists(root.path() / "recv" / "data.bin"));
    const std::vector<std::string> shown = prompt.texts();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), std::string(kLostConnection)), 1);
    for (const std::string& text : shown) EXPECT_EQ(text.find("密码"), std::string::npos) << text;
    ASSERT_TRUE(waitUntil([&] {
        return frame.statusText(CMainFrame::kConnection).endsWith(QString::fromUtf8("离线"));
    }));
    EXPECT_EQ(frame.statusText(CMainFrame::kOperator).toStdString(), "操作员:--------");
    EXPECT_TRUE(frame.reloginButton()->isEnabled());
}

TEST_F(GatewayUiTest, bulletinViewListsAFolderAndOpensOrSavesABulletin) {
    // setup
    writeBytes(files->root() / "FTP_TZ_BULLET" / "公告1208.txt", "bulletin text");
    settings.receive = root.path() / "recv";
    login();
    CBulletinView::Services s;
    s.session = session.get();
    s.mailbox = mailbox.get();
    s.settings = &settings;
    s.prompt = &prompt;
    s.notifier = &notifier;
    CBulletinView view(s);
    std::mutex openedMutex;
    std::vector<std::filesystem::path> opened;
    view.openFile = [&](const std::filesystem::path& file) {
        std::lock_guard lock(openedMutex);
        opened.push_back(file);
        return std::string();
    };
    view.askDirectory = [&] { return std::optional(root.path() / "saved"); };
    view.show();
    // act
    view.openFolder("FTP_TZ_BULLET", "投资人公告");
    ASSERT_TRUE(waitUntil([&] { return !view.busy(); }));
    ASSERT_EQ(view.list()->topLevelItemCount(), 1) << prompt.last();
    view.list()->setCurrentItem(view.list()->topLevelItem(0));
    const auto saved = view.saveSelectedAs();
    const auto shown = view.openSelected();
    // verify
    ASSERT_TRUE(saved) << prompt.last();
    EXPECT_EQ(platform::readFile(root.path() / "saved" / "公告1208.txt").value(), "bulletin text");
    ASSERT_TRUE(shown) << prompt.last();
    EXPECT_EQ(*shown, settings.bulletinDirectory() / "公告1208.txt");
    EXPECT_EQ(platform::readFile(*shown).value(), "bulletin text");
    EXPECT_TRUE(waitUntil([&] {
        std::lock_guard lock(openedMutex);
        return opened == std::vector<std::filesystem::path>{*shown};
    }));

    // The checked opener, as the manual and the real-time view use it: a type no program
    // opens is told with the reason.
    view.openFile = [opener = testing::writeOpener(root.path(), 3)](
                        const std::filesystem::path& f) { return OpenOnDesktop(f, opener); };
    ASSERT_TRUE(view.openSelected());
    EXPECT_TRUE(waitUntil([&] {
        return prompt.last() ==
               "打开文件" + shown->string() + "失败. \n\r原因:没有可以打开此文件的程序";
    })) << prompt.last();
}

// Regression: every scheduled run's disconnect showed 操作员:-------- and 离线, and
// 重新登录 then did nothing because the window's own session was still logged in.
TEST_F(GatewayUiTest, aScheduledRunsConnectionEndingLeavesTheWindowOnline) {
    // setup
    login();
    auto frame = makeFrame();
    ASSERT_TRUE(waitUntil([&] { return online(*frame); }));

    // act: a run logs in on a handle of its own, lists, and hangs up
    {
        CVornFtp run(context, interactive->process());
        run.SetGatewayList(given().gateways, 0, "", "OPER01", "pass1234");
        ASSERT_EQ(run.LoginToGateway(), 1) << run.LastError();
        run.DropIfLoggedIn();
    }
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    // verify: only the window's session decides, and its end is shown
    EXPECT_TRUE(online(*frame));
    EXPECT_EQ(frame->statusText(CMainFrame::kOperator).toStdString(), "操作员:OPER01");
    EXPECT_FALSE(frame->reloginButton()->isEnabled());
    interactive->disconnect();
    ASSERT_TRUE(waitUntil([&] { return !online(*frame); }));
    EXPECT_TRUE(frame->reloginButton()->isEnabled());
}

// Regression: after the gateway restarted, the failed permission load read as
// "该操作员无此信箱获取文件列表权限！".
TEST_F(GatewayUiTest, aPermissionLoadCutByAGatewayRestartIsRetriedAfterTheReLogin) {
    // setup: logged in, the permissions not loaded yet; the gateway restarts on its port
    login();
    auto view = makeView();
    const std::uint16_t port = gateway.gatewayPort();
    const std::uint16_t updatePort = gateway.updatePort();
    gateway.stop();
    ASSERT_TRUE(gateway.start(port, updatePort).isOk());
    ASSERT_TRUE(session->isLoggedIn()) << "the session has not noticed yet";

    // act
    run(*view, [&] { view->openMailbox("FTP_B_QS"); });

    // verify: listed on the new connection, never refused
    EXPECT_NE(row(view->remoteList(), "b.txt"), nullptr) << prompt.last();
    for (const std::string& text : prompt.texts())
        EXPECT_EQ(text.find("权限"), std::string::npos) << text;
}

}  // namespace
}  // namespace vantrel::ui
