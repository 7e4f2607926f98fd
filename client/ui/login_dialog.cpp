#include "client/ui/login_dialog.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "client/ui/progress_popup.h"
#include "client/ui/qt_text.h"

namespace vantrel::ui {

const char* const kGatewayOrderTip =
    "顺序：依次使用网关地址/端口1~5登录DRAV网关\n随机：随机使用网关地址/端口1~5登录DRAV网关";

namespace {

constexpr int kCodeLimit = 8;
const char* const kLoginCaption = "登录";

// The caller's settings with exactly five gateways, so that Cancel compares like with like.
LoginSettings withFiveGateways(LoginSettings settings) {
    settings.gateways.resize(kGatewayCount);
    return settings;
}

}  // namespace

std::vector<GatewayEntry> normaliseGateways(
    const std::vector<std::pair<std::string, std::string>>& typed,
    const std::vector<GatewayEntry>& given) {
    std::vector<GatewayEntry> gateways;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        GatewayEntry entry;
        entry.address = typed[i].first == "0.0.0.0" ? std::string() : typed[i].first;
        entry.port =
            typed[i].second.empty() ? std::string() : CConfig::normalisePort(typed[i].second);
        if (i < given.size()) {
            entry.ftpPort = given[i].ftpPort;
            entry.timeOut = given[i].timeOut;
        }
        gateways.push_back(std::move(entry));
    }
    return gateways;
}

bool anyUsableGateway(const std::vector<GatewayEntry>& gateways) {
    return std::any_of(gateways.begin(), gateways.end(),
                       [](const GatewayEntry& g) { return g.usable(); });
}

CLogin::CLogin(const Services& services, const LoginSettings& given, bool relogin, QWidget* parent)
    : QDialog(parent),
      services_(services),
      given_(withFiveGateways(given)),
      relogin_(relogin),
      operatorBox_(new QLineEdit(this)),
      passwordBox_(new QLineEdit(this)),
      inOrderButton_(new QRadioButton(qs("顺序"), this)),
      randomButton_(new QRadioButton(qs("随机"), this)),
      toggleButton_(new QPushButton(qs("配置>>"), this)),
      okButton_(new QPushButton(qs("登录"), this)),
      cancelButton_(new QPushButton(qs("取消"), this)),
      panel_(new QGroupBox(qs("网关配置"), this)) {
    setWindowTitle(qs(kLoginCaption));
    operatorBox_->setMaxLength(kCodeLimit);
    passwordBox_->setMaxLength(kCodeLimit);
    passwordBox_->setEchoMode(QLineEdit::Password);

    auto* form = new QFormLayout;
    form->addRow(qs("操作员:"), operatorBox_);
    form->addRow(qs("密  码:"), passwordBox_);

    auto* buttons = new QHBoxLayout;
    if (relogin_) buttons->addStretch();  // OK and Cancel move right where the toggle was
    buttons->addWidget(toggleButton_);
    buttons->addStretch();
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    okButton_->setDefault(true);

    buildGatewayPanel();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(panel_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    fillFrom(given_);

    connect(toggleButton_, &QPushButton::clicked, this, &CLogin::togglePanel);
    connect(okButton_, &QPushButton::clicked, this, &CLogin::submit);
    connect(cancelButton_, &QPushButton::clicked, this, &CLogin::reject);
}

// The five gateway rows and the order choice, hidden until 配置>> opens them.
void CLogin::buildGatewayPanel() {
    // The marker line heads the panel: it parts the panel from the buttons when expanded,
    // and goes with the panel, so the collapsed dialog has no line along its bottom edge.
    auto* marker = new QFrame(panel_);
    marker->setFrameShape(QFrame::HLine);

    auto* grid = new QGridLayout(panel_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(marker, 0, 0, 1, 4);
    for (int i = 0; i < kGatewayCount; ++i) {
        addressBoxes_[i] = new QLineEdit(panel_);
        portBoxes_[i] = new QLineEdit(panel_);
        portBoxes_[i]->setMaximumWidth(80);
        grid->addWidget(new QLabel(qs("网关地址%1:").arg(i + 1), panel_), i + 1, 0);
        grid->addWidget(addressBoxes_[i], i + 1, 1);
        grid->addWidget(new QLabel(qs("端口%1:").arg(i + 1), panel_), i + 1, 2);
        grid->addWidget(portBoxes_[i], i + 1, 3);
    }
    auto* orderGroup = new QButtonGroup(this);
    orderGroup->addButton(inOrderButton_, 0);
    orderGroup->addButton(randomButton_, 1);
    auto* orderRow = new QHBoxLayout;
    orderRow->addWidget(new QLabel(qs("网关选择:"), panel_));
    orderRow->addWidget(inOrderButton_);
    orderRow->addWidget(randomButton_);
    orderRow->addStretch();
    grid->addLayout(orderRow, kGatewayCount + 1, 0, 1, 4);
    inOrderButton_->setToolTip(qs(kGatewayOrderTip));
    randomButton_->setToolTip(qs(kGatewayOrderTip));
}

// Fills the boxes from the caller's list; the password starts empty.
void CLogin::fillFrom(const LoginSettings& settings) {
    for (int i = 0; i < kGatewayCount; ++i) {
        if (i < static_cast<int>(settings.gateways.size())) {
            addressBoxes_[i]->setText(qs(settings.gateways[i].address));
            portBoxes_[i]->setText(qs(settings.gateways[i].port));
        }
    }
    (settings.order == GatewayOrder::Random ? randomButton_ : inOrderButton_)->setChecked(true);
    operatorBox_->setText(qs(settings.operatorCode));
    panel_->setVisible(false);

    if (relogin_) {
        operatorBox_->setEnabled(false);
        toggleButton_->setVisible(false);
        passwordBox_->setFocus();
    } else if (operatorBox_->text().isEmpty()) {
        operatorBox_->setFocus();
    } else {
        passwordBox_->setFocus();
    }
}

std::string CLogin::password() const {
    return u8(passwordBox_->text());
}

bool CLogin::panelExpanded() const {
    return !panel_->isHidden();
}

void CLogin::togglePanel() {
    const bool expand = panel_->isHidden();
    panel_->setVisible(expand);
    toggleButton_->setText(qs(expand ? "配置<<" : "配置>>"));
}

std::vector<GatewayEntry> CLogin::typedGateways() const {
    std::vector<std::pair<std::string, std::string>> typed;
    for (int i = 0; i < kGatewayCount; ++i) {
        typed.emplace_back(u8(addressBoxes_[i]->text().trimmed()),
                           u8(portBoxes_[i]->text().trimmed()));
    }
    return normaliseGateways(typed, given_.gateways);
}

GatewayOrder CLogin::typedOrder() const {
    return randomButton_->isChecked() ? GatewayOrder::Random : GatewayOrder::InOrder;
}

void CLogin::refuse(QLineEdit* box, const char* text) {
    services_.prompt->show(kLoginCaption, text, UserPrompt::Icon::Error);
    if (box) {
        box->setFocus();
        box->selectAll();
    }
}

void CLogin::submit() {
    if (login_.busy()) return;
    const std::string operatorCode = u8(operatorBox_->text());
    if (operatorCode.empty()) return refuse(operatorBox_, "请输入操作员！");
    if (operatorBox_->text().size() > kCodeLimit)
        return refuse(operatorBox_, "操作员不能超过八位！");
    if (passwordBox_->text().isEmpty()) return refuse(passwordBox_, "请输入密码！");

    const auto gateways = typedGateways();
    if (!anyUsableGateway(gateways)) {
        return refuse(nullptr, "配置的5组网关地址/端口均无效，请重新配置！");
    }

    chosen_.gateways = gateways;
    chosen_.order = typedOrder();
    chosen_.operatorCode = operatorCode;
    const Status saved = services_.settings->saveLogin(chosen_);
    if (!saved) services_.prompt->show(kAppCaption, saved.text(), UserPrompt::Icon::Warning);

    services_.session->dropIfLoggedIn();
    services_.session->setGatewayList(chosen_.gateways, chosen_.order, operatorCode, password());

    if (!relogin_ && services_.preLoginUpdate) {
        services_.progress->showText(qs("正在更新配置文件，请稍后..."));
        std::string text;
        const int outcome = services_.preLoginUpdate->runBeforeLogin(text);
        if (outcome == 2 || outcome == 3) {
            services_.progress->showText({});
            QDialog::reject();  // the updater takes over
            return;
        }
        if (outcome < 0) {
            services_.progress->showText({});
            services_.prompt->show(kAppCaption, text, UserPrompt::Icon::Warning);
        }
    }
    startLogin();
}

void CLogin::startLogin() {
    services_.progress->showText(qs("正在登录，请稍候..."));
    setBusy(true);
    GatewaySession* session = services_.session;
    login_.start(
        this,
        [session] {
            const bool ok = session->loginToGateway();
            return std::make_pair(ok, ok ? std::string() : session->lastError());
        },
        [this](std::pair<bool, std::string> outcome) {
            finishLogin(outcome.first, outcome.second);
        });
}

void CLogin::finishLogin(bool ok, const std::string& error) {
    setBusy(false);
    services_.progress->showText({});
    if (ok) {
        userCode_ = services_.session->userCode();
        emit loginFinished(true);
        accept();
        return;
    }
    services_.prompt->show(kAppCaption, "登录失败,失败原因[" + error + "]",
                           UserPrompt::Icon::Error);
    emit loginFinished(false);
}

void CLogin::setBusy(bool busy) {
    okButton_->setEnabled(!busy);
    cancelButton_->setEnabled(!busy);
    toggleButton_->setEnabled(!busy);
}

void CLogin::reject() {
    if (login_.busy()) return;  // the login ends first; its outcome decides
    const auto gateways = typedGateways();
    const GatewayOrder order = typedOrder();
    if (gateways != given_.gateways || order != given_.order) {
        if (services_.prompt->askYesNo(kLoginCaption, "网关配置已修改，是否保存？",
                                       UserPrompt::Icon::Question)) {
            LoginSettings changed;
            changed.gateways = gateways;
            changed.order = order;
            const Status saved = services_.settings->saveLogin(changed);
            if (!saved)
                services_.prompt->show(kAppCaption, saved.text(), UserPrompt::Icon::Warning);
        }
    }
    QDialog::reject();
}

}  // namespace vantrel::ui
