// The login dialog: what the operator may type, every refusal and where the focus goes,
// what is saved, the re-login mode, and a login that keeps the window alive while it runs.

#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "client/config/config.h"
#include "client/ui/core_ports.h"
#include "client/ui/login_dialog.h"
#include "client/ui/logon_setting_dialog.h"
#include "client/ui/progress_popup.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"

namespace vantrel::ui {
namespace {

using testing::waitUntil;

GatewayEntry gateway(const std::string& address, const std::string& port) {
    return GatewayEntry{address, port, "8021", "30"};
}

class PreLoginCounter final : public PreLoginUpdate {
  public:
    int runBeforeLogin(std::string& text) override {
        ++calls;
        text = failure;
        return result;
    }
    int calls = 0;
    int result = 0;
    std::string failure;
};

class LoginDialogTest : public testing::QtTest {
  protected:
    LoginDialogTest() {
        given.gateways = {gateway("127.0.0.1", "8888"), gateway("", ""), gateway("", ""),
                          gateway("", ""), gateway("", "")};
        given.operatorCode = "OPER01";
        settings.stored = given;
    }

    std::unique_ptr<CLogin> makeDialog(bool relogin = false, SettingsStore* store = nullptr) {
        CLogin::Services services;
        services.session = &session;
        services.settings = store ? store : &settings;
        services.prompt = &prompt;
        services.progress = &progress;
        services.preLoginUpdate = &update;
        auto dialog = std::make_unique<CLogin>(services, given, relogin);
        dialog->show();
        return dialog;
    }

    LoginSettings given;
    testing::FakeSession session;
    testing::MemorySettings settings;
    testing::ScriptedPrompt prompt;
    PreLoginCounter update;
    ProgressPopup progress;
};

TEST_F(LoginDialogTest, refusesMissingOperatorAndPasswordWithFocusOnTheBoxAtFault) {
    // setup
    auto dialog = makeDialog();
    dialog->operatorBox()->clear();
    dialog->passwordBox()->setText("pass1234");
    // act
    dialog->submit();
    // verify
    ASSERT_EQ(prompt.messages().size(), 1u);
    EXPECT_EQ(prompt.messages()[0].caption, "登录");
    EXPECT_EQ(prompt.messages()[0].text, "请输入操作员！");
    EXPECT_EQ(prompt.messages()[0].icon, UserPrompt::Icon::Error);
    EXPECT_EQ(dialog->focusWidget(), dialog->operatorBox());

    dialog->operatorBox()->setText("OPER01");
    dialog->passwordBox()->clear();
    dialog->submit();
    EXPECT_EQ(prompt.last(), "请输入密码！");
    EXPECT_EQ(dialog->focusWidget(), dialog->passwordBox());
    EXPECT_EQ(session.loginCalls, 0);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(LoginDialogTest, operatorAndPasswordBoxesTakeEightCharactersAndNoNinth) {
    auto dialog = makeDialog();
    dialog->operatorBox()->clear();
    QTest::keyClicks(dialog->operatorBox(), "ABCDEFGHI");
    QTest::keyClicks(dialog->passwordBox(), "123456789");
    EXPECT_EQ(dialog->operatorBox()->text(), "ABCDEFGH");
    EXPECT_EQ(dialog->passwordBox()->text(), "12345678");
}

TEST_F(LoginDialogTest, portsOutsideTheRangeEverywhereMeanNoUsableGateway) {
    auto dialog = makeDialog();
    dialog->passwordBox()->setText("pass1234");
    for (int i = 0; i < kGatewayCount; ++i) {
        dialog->addressBox(i)->setText("127.0.0.1");
        dialog->portBox(i)->setText(i % 2 ? "70000" : "0");
    }
    dialog->submit();
    EXPECT_EQ(prompt.last(), "配置的5组网关地址/端口均无效，请重新配置！");
    EXPECT_EQ(prompt.messages().back().caption, "登录");
    EXPECT_EQ(settings.saves, 0);
    EXPECT_EQ(session.setCalls, 0);
}

TEST_F(LoginDialogTest, savesTheGatewaysWithoutThePasswordAndStoresZeroAddressAsEmpty) {
    // setup: a real Client.ini in a temporary installation
    vantrel::testing::TempDir root;
    const Installation installation(root.path(), root.path());
    ASSERT_TRUE(platform::createDirectories(installation.localconfig()));
    ConfigSettingsStore store(installation);
    auto dialog = makeDialog(false, &store);
    dialog->passwordBox()->setText("secret12");
    dialog->addressBox(0)->setText("0.0.0.0");
    dialog->portBox(0)->setText("8888");
    dialog->addressBox(1)->setText("127.0.0.1");
    dialog->portBox(1)->setText("08889");
    dialog->randomButton()->setChecked(true);
    // act
    dialog->submit();
    ASSERT_TRUE(waitUntil([&] { return !dialog->loginRunning() && session.loginCalls == 1; }));
    // verify
    CConfig config(installation);
    config.load();
    ASSERT_GE(config.gateways.size(), 2u);
    EXPECT_EQ(config.gateways[0].address, "");
    EXPECT_EQ(config.gateways[1].address, "127.0.0.1");
    EXPECT_EQ(config.gateways[1].port, "8889");
    EXPECT_EQ(config.gateType, 1);
    EXPECT_EQ(config.operatorCode, "OPER01");
    const auto ini = platform::readFile(installation.clientIni());
    ASSERT_TRUE(ini.isOk());
    EXPECT_EQ(ini.value().find("secret12"), std::string::npos);
    // The handle got the normalised list and the typed codes.
    EXPECT_EQ(session.gateways[1].port, "8889");
    EXPECT_EQ(session.password, "secret12");
    EXPECT_EQ(session.order, GatewayOrder::Random);
}

TEST_F(LoginDialogTest, cancelAsksToSaveOnlyWhenTheGatewaysOrTheOrderChanged) {
    {
        auto dialog = makeDialog();
        dialog->reject();
        EXPECT_TRUE(prompt.messages().empty());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    }
    {
        auto dialog = makeDialog();
        dialog->randomButton()->setChecked(true);
        prompt.answer(true);
        dialog->reject();
        ASSERT_EQ(prompt.messages().size(), 1u);
        EXPECT_EQ(prompt.messages()[0].text, "网关配置已修改，是否保存？");
        EXPECT_EQ(prompt.messages()[0].caption, "登录");
        EXPECT_TRUE(prompt.messages()[0].question);
        EXPECT_EQ(settings.stored.order, GatewayOrder::Random);
        EXPECT_EQ(session.loginCalls, 0);
    }
    {
        prompt.clear();
        auto dialog = makeDialog();
        dialog->addressBox(2)->setText("10.0.0.9");
        const int savesBefore = settings.saves;
        prompt.answer(false);
        dialog->reject();
        EXPECT_EQ(prompt.last(), "网关配置已修改，是否保存？");
        EXPECT_EQ(settings.saves, savesBefore);
    }
}

TEST_F(LoginDialogTest, togglePanelFlipsItsCaption) {
    auto dialog = makeDialog();
    EXPECT_FALSE(dialog->panelExpanded());
    EXPECT_EQ(dialog->toggleButton()->text(), "配置>>");
    dialog->toggleButton()->click();
    EXPECT_TRUE(dialog->panelExpanded());
    EXPECT_EQ(dialog->toggleButton()->text(), "配置<<");
    EXPECT_EQ(dialog->randomButton()->toolTip().toStdString(), kGatewayOrderTip);
    dialog->toggleButton()->click();
    EXPECT_EQ(dialog->toggleButton()->text(), "配置>>");
    // Regression: the panel's marker line stayed behind as a line along the bottom edge of
    // the collapsed dialog.
    for (const QFrame* frame : dialog->findChildren<QFrame*>()) {
        if (frame->frameShape() == QFrame::HLine) {
            EXPECT_FALSE(frame->isVisible());
        }
    }
}

// Regression: the read-only values of 登录设置 looked like fields to type into.
TEST_F(LoginDialogTest, logonSettingsShowTheirValuesOnTheWindowsGround) {
    CLogonSetting dialog(settings);
    dialog.show();
    const QList<QLineEdit*> boxes = dialog.findChildren<QLineEdit*>();
    ASSERT_EQ(boxes.size(), 1 + 2 * kGatewayCount);
    EXPECT_EQ(boxes.front()->text().toStdString(), "OPER01");
    for (const QLineEdit* box : boxes) {
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_EQ(box->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(box->palette().color(QPalette::Base), box->palette().color(QPalette::Window));
    }
}

TEST_F(LoginDialogTest, theLoginRunsOffTheGuiThreadWhileTheWindowKeepsWorking) {
    auto dialog = makeDialog();
    dialog->passwordBox()->setText("pass1234");
    session.holdLogin = true;
    dialog->submit();
    // The GUI thread is back at once: the login is still held on its worker.
    EXPECT_TRUE(dialog->loginRunning());
    EXPECT_EQ(progress.text().toStdString(), "正在登录，请稍候...");
    EXPECT_FALSE(dialog->okButton()->isEnabled());
    dialog->reject();  // ignored while the login runs
    EXPECT_TRUE(dialog->isVisible());
    session.holdLogin = false;
    ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_NE(session.loginThread, std::this_thread::get_id());
    EXPECT_TRUE(progress.text().isEmpty());
    EXPECT_EQ(dialog->userCode(), "U0000042");
    EXPECT_EQ(update.calls, 1);
}

TEST_F(LoginDialogTest, aFailedLoginSaysWhyAndStaysOpen) {
    auto dialog = makeDialog();
    dialog->passwordBox()->setText("pass1234");
    session.loginSucceeds = false;
    dialog->submit();
    ASSERT_TRUE(waitUntil([&] { return !dialog->loginRunning(); }));
    EXPECT_EQ(prompt.last(), "登录失败,失败原因[网关拒绝连接]");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->okButton()->isEnabled());
}

TEST_F(LoginDialogTest, reloginKeepsTheOperatorAndRunsNoUpdateCheck) {
    auto dialog = makeDialog(true);
    EXPECT_FALSE(dialog->operatorBox()->isEnabled());
    EXPECT_FALSE(dialog->toggleButton()->isVisible());
    dialog->passwordBox()->setText("pass1234");
    dialog->submit();
    ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(update.calls, 0);
    EXPECT_EQ(session.operatorCode(), "OPER01");
}

TEST_F(LoginDialogTest, updateResultsDecideWhetherTheLoginGoesOn) {
    update.result = 2;  // the updater takes over
    {
        auto dialog = makeDialog();
        dialog->passwordBox()->setText("pass1234");
        dialog->submit();
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_EQ(session.loginCalls, 0);
    }
    update.result = -2;
    update.failure = "系统更新：得到服务器版本失败！";
    {
        auto dialog = makeDialog();
        dialog->passwordBox()->setText("pass1234");
        dialog->submit();
        ASSERT_TRUE(waitUntil([&] { return !dialog->isVisible(); }));
        EXPECT_EQ(prompt.texts().front(), "系统更新：得到服务器版本失败！");
        EXPECT_EQ(prompt.messages().front().icon, UserPrompt::Icon::Warning);
        EXPECT_EQ(session.loginCalls, 1);
    }
}

}  // namespace
}  // namespace vantrel::ui
