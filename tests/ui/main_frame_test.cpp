// The main window: categories by permission, status bar, disk-space tip, close questions
// and the refusal while tasks run.

#include <QMenu>

#include <fstream>

#include "client/app/desktop_open.h"
#include "client/ui/main_frame.h"
#include "client/ui/qt_notifier.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"

namespace vantrel::ui {
namespace {

using testing::waitUntil;

class FakeTasks final : public TaskActivity {
  public:
    bool shuttingDown() override { return stopping; }
    std::string closeRefusal() override { return refusal; }
    bool realtimeServiceRunning() override { return realtime; }
    void stopForExit() override { ++stops; }
    bool stopping = false, realtime = false;
    std::string refusal;
    int stops = 0;
};

class MainFrameTest : public testing::QtTest {
  protected:
    std::unique_ptr<CMainFrame> makeFrame() {
        CMainFrame::Services s;
        s.session = &session;
        s.mailbox = &mailbox;
        s.settings = &settings;
        s.prompt = &prompt;
        s.notifier = &notifier;
        s.tasks = &tasks;
        s.diskSpaceEnough = [this](int minimum, std::string& message) {
            minimumAsked = minimum;
            message = diskMessage;
            return diskMessage.empty();
        };
        s.manual = manual;
        s.installation = installation;
        s.openFile = openFile;
        auto frame = std::make_unique<CMainFrame>(s);
        frame->show();
        return frame;
    }

    testing::FakeSession session;
    testing::FakeMailbox mailbox;
    testing::MemorySettings settings;
    testing::ScriptedPrompt prompt;
    QtNotifier notifier;
    FakeTasks tasks;
    std::string diskMessage;
    int minimumAsked = 0;
    std::filesystem::path manual = "/nonexistent/bin/vorn.pdf";
    std::optional<Installation> installation;
    std::function<std::string(const std::filesystem::path&)> openFile;
};

TEST_F(MainFrameTest, categoriesFollowTheOperatorsListPermissions) {
    session.denied = {"FTP_B_QS/00", "FTP_A_BULLET/00", "FTP_B_BULLET/00", "FTP_SG_BULLET/00",
                      "FTP_TZ_BULLET/00"};
    auto frame = makeFrame();
    frame->applyPermissions();
    EXPECT_TRUE(frame->categoryVisible("信箱"));
    EXPECT_TRUE(frame->commandVisible("FTP_A_QS"));
    EXPECT_FALSE(frame->commandVisible("FTP_B_QS"));
    EXPECT_TRUE(frame->commandVisible("FTP_SG"));
    EXPECT_FALSE(frame->categoryVisible("公告"));

    session.denied = {"FTP_A_QS/00", "FTP_B_QS/00", "FTP_SG/00"};
    frame->applyPermissions();
    EXPECT_FALSE(frame->categoryVisible("信箱"));
    EXPECT_TRUE(frame->categoryVisible("公告"));
    EXPECT_TRUE(frame->commandVisible("FTP_TZ_BULLET"));
}

TEST_F(MainFrameTest, statusBarShowsTheClockAndFollowsTheLoginState) {
    auto frame = makeFrame();
    EXPECT_EQ(frame->statusText(CMainFrame::kOperator).toStdString(), "操作员:--------");
    EXPECT_EQ(frame->statusText(CMainFrame::kBranch).toStdString(), "网点代码:--------");
    EXPECT_EQ(frame->statusText(CMainFrame::kConnection).toStdString(), "连接状态:离线");
    EXPECT_EQ(frame->statusText(CMainFrame::kRealtime).toStdString(), "实时回报服务状态:停止");
    // "当前时间:YYYY-MM-DD  hh:mm:ss", two blanks between date and time
    const QString clock = frame->statusText(CMainFrame::kClock);
    EXPECT_TRUE(clock.startsWith(QString::fromUtf8("当前时间:")));
    EXPECT_EQ(clock.size(), 5 + 20);
    EXPECT_EQ(clock.mid(15, 2), "  ");

    session.setGatewayList({}, GatewayOrder::InOrder, "OPER01", "x");
    session.loggedIn = true;
    notifier.post(LoginStateChanged{true});
    ASSERT_TRUE(waitUntil([&] {
        return frame->statusText(CMainFrame::kConnection).endsWith(QString::fromUtf8("在线"));
    }));
    EXPECT_EQ(frame->statusText(CMainFrame::kOperator).toStdString(), "操作员:OPER01");
    EXPECT_EQ(frame->statusText(CMainFrame::kBranch).toStdString(), "网点代码:U0000042");
}

TEST_F(MainFrameTest, tooLittleDiskSpaceShowsANonModalTipUntilSpaceIsFreed) {
    auto frame = makeFrame();
    diskMessage = "您的磁盘[/x]空间:10 M，已经少于系统所需最小值:1000 M";
    frame->checkDiskSpace();
    EXPECT_EQ(minimumAsked, 1000);
    EXPECT_TRUE(frame->diskSpaceTip()->isVisible());
    EXPECT_EQ(frame->diskSpaceTip()->text().toStdString(), diskMessage);
    EXPECT_TRUE(prompt.messages().empty());  // no box waits for the operator
    diskMessage.clear();
    frame->checkDiskSpace();
    EXPECT_FALSE(frame->diskSpaceTip()->isVisible());
}

TEST_F(MainFrameTest, aRunningTaskRefusesTheCloseBeforeAnyQuestionAndOtherwiseItIsAsked) {
    auto frame = makeFrame();
    // No keeps the window.
    prompt.answer(false);
    frame->close();
    EXPECT_EQ(prompt.last(), "是否确认关闭程序？");
    EXPECT_TRUE(frame->isVisible());

    // The refusal comes alone: nothing is asked that could not be carried out.
    for (const char* refusal : {"下载任务正在运行,请先停止!", "自动同步任务正在运行,请先停止!",
                                "上传任务正在运行,请先停止!"}) {
        tasks.refusal = refusal;
        const std::size_t before = prompt.messages().size();
        frame->close();
        const auto messages = prompt.messages();
        ASSERT_EQ(messages.size(), before + 1) << refusal;
        EXPECT_EQ(messages.back().text, refusal);
        EXPECT_FALSE(messages.back().question);
        EXPECT_TRUE(frame->isVisible());
    }
    tasks.refusal.clear();
    EXPECT_EQ(tasks.stops, 0);

    prompt.answer(true);
    frame->close();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(tasks.stops, 1);
}

// Regression: every start opened at the default size and place.
TEST_F(MainFrameTest, theWindowOpensWhereAndAsLargeAsItWasClosed) {
    // setup
    vantrel::testing::TempDir dir;
    installation = Installation(dir.path(), dir.path());
    std::filesystem::create_directories(installation->localconfig());
    auto frame = makeFrame();
    const QSize defaultSize = frame->size();
    frame->resize(900, 640);
    frame->move(40, 30);
    const QRect placed = frame->geometry();

    // act: closed, then opened again
    prompt.answer(true);
    frame->close();
    ASSERT_FALSE(frame->isVisible());
    frame = makeFrame();

    // verify
    EXPECT_NE(placed.size(), defaultSize);
    EXPECT_EQ(frame->geometry(), placed);
}

TEST_F(MainFrameTest, aClientEndingOnItsOwnClosesWithoutQuestions) {
    auto frame = makeFrame();
    tasks.stopping = true;
    frame->close();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(MainFrameTest, menusCarryTheirTextsAndCommandIds) {
    auto frame = makeFrame();
    auto ids = [](QMenu* menu) {
        std::vector<std::pair<std::string, int>> out;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) out.emplace_back(a->text().toStdString(), a->data().toInt());
        }
        return out;
    };
    EXPECT_EQ(ids(frame->trayMenu()),
              (std::vector<std::pair<std::string, int>>{{"显示", 32793}, {"退出", 32794}}));
    const auto task = ids(frame->taskMenu());
    ASSERT_EQ(task.size(), 7u);
    EXPECT_EQ(task[0], (std::pair<std::string, int>{"计划运行", 32835}));
    EXPECT_EQ(task[3], (std::pair<std::string, int>{"停止运行", 32836}));
    EXPECT_EQ(task[6], (std::pair<std::string, int>{"删除任务", 32839}));
}

// Regression: a manual that no program opens did nothing at all.
TEST_F(MainFrameTest, aManualThatCannotBeOpenedIsReportedWithItsPathAndReason) {
    // setup: the opener reports no program for the type (xdg-open's 3)
    vantrel::testing::TempDir dir;
    const std::filesystem::path opener = testing::writeOpener(dir.path(), 3);
    openFile = [opener](const std::filesystem::path& target) {
        return OpenOnDesktop(target, opener);
    };
    auto frame = makeFrame();

    // act / verify: missing, then present but unopenable
    frame->openManual();
    ASSERT_TRUE(waitUntil([&] { return !prompt.last().empty(); }));
    EXPECT_EQ(prompt.last(), "打开用户手册/nonexistent/bin/vorn.pdf失败. \n\r原因:文件不存在");
    manual = dir.path() / "vorn.pdf";
    std::ofstream(manual) << "%PDF";
    frame = makeFrame();
    frame->openManual();
    ASSERT_TRUE(waitUntil([&] { return prompt.messages().size() == 2; }));
    EXPECT_EQ(prompt.last(),
              "打开用户手册" + manual.string() + "失败. \n\r原因:没有可以打开此文件的程序");
}

TEST_F(MainFrameTest, theNightlyChecksRunOnTheGuiThreadWhenTheCoreSaysTheyAreDue) {
    // setup
    int configUpdates = 0, versionChecks = 0;
    CMainFrame::Services s;
    s.session = &session;
    s.mailbox = &mailbox;
    s.settings = &settings;
    s.prompt = &prompt;
    s.notifier = &notifier;
    s.configUpdate = [&] { ++configUpdates; };
    s.versionCheck = [&] { ++versionChecks; };
    CMainFrame frame(s);
    // act: the 02:00 and 03:00 notices, posted as the plan monitor does
    notifier.post(NightlyCheckDue{NightlyCheckDue::Check::FlagModel});
    ASSERT_TRUE(waitUntil([&] { return configUpdates == 1; }));
    notifier.post(NightlyCheckDue{NightlyCheckDue::Check::Version});
    ASSERT_TRUE(waitUntil([&] { return versionChecks == 1; }));
    // verify: each notice ran its own check only
    EXPECT_EQ(configUpdates, 1);
}

}  // namespace
}  // namespace vantrel::ui
