#include "client/ui/logon_setting_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "client/ui/login_dialog.h"
#include "client/ui/qt_text.h"

namespace vantrel::ui {

namespace {

// A box that shows a value the operator cannot change here: on the window's ground, with
// no text cursor and out of the tab order, so it does not look like an input field.
QLineEdit* readOnlyBox(const std::string& text, QWidget* parent) {
    auto* box = new QLineEdit(qs(text), parent);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    QPalette shown = box->palette();
    shown.setColor(QPalette::Base, shown.color(QPalette::Window));
    box->setPalette(shown);
    return box;
}

}  // namespace

CLogonSetting::CLogonSetting(SettingsStore& settings, QWidget* parent) : QDialog(parent) {
    setWindowTitle(qs("登录设置"));
    const LoginSettings current = settings.loadLogin();
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(qs("操作员:"), this), 0, 0);
    grid->addWidget(readOnlyBox(current.operatorCode, this), 0, 1);
    for (int i = 0; i < kGatewayCount; ++i) {
        const GatewayEntry entry =
            i < static_cast<int>(current.gateways.size()) ? current.gateways[i] : GatewayEntry{};
        grid->addWidget(new QLabel(qs("网关地址%1:").arg(i + 1), this), i + 1, 0);
        grid->addWidget(readOnlyBox(entry.address, this), i + 1, 1);
        grid->addWidget(new QLabel(qs("端口%1:").arg(i + 1), this), i + 1, 2);
        grid->addWidget(readOnlyBox(entry.port, this), i + 1, 3);
    }
    auto* inOrder = new QRadioButton(qs("顺序"), this);
    auto* random = new QRadioButton(qs("随机"), this);
    (current.order == GatewayOrder::Random ? random : inOrder)->setChecked(true);
    for (auto* button : {inOrder, random}) {
        button->setEnabled(false);
        button->setToolTip(qs(kGatewayOrderTip));
    }
    auto* orderRow = new QHBoxLayout;
    orderRow->addWidget(new QLabel(qs("网关选择:"), this));
    orderRow->addWidget(inOrder);
    orderRow->addWidget(random);
    orderRow->addStretch();
    grid->addLayout(orderRow, kGatewayCount + 1, 0, 1, 4);

    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Where the shown values are changed, so the read-only boxes do not look broken.
    auto* where = new QLabel(qs("网关地址和端口在登录窗口的“配置>>”中修改；"
                                "更新端口和超时时间在 Client.ini 中设置。"),
                             this);
    where->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(where);
    layout->addWidget(close);
}

}  // namespace vantrel::ui
