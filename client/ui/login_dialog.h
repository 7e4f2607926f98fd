#pragma once
// CLogin: the operator's entry. Operator code and password, the five gateways with the
// in-order/random choice, saving them, the checks before the start-up login and the
// fail-over login itself, which runs off the GUI thread.

#include <QDialog>
#include <array>

#include "client/base/notifier.h"
#include "client/base/user_prompt.h"
#include "client/ui/background_job.h"
#include "client/ui/ports.h"

class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace vantrel::ui {

class ProgressPopup;

// The in-order/random tooltip, shared with CLogonSetting.
extern const char* const kGatewayOrderTip;

class CLogin final : public QDialog {
    Q_OBJECT
  public:
    struct Services {
        GatewaySession* session = nullptr;
        SettingsStore* settings = nullptr;
        UserPrompt* prompt = nullptr;
        Notifier* notifier = nullptr;
        ProgressPopup* progress = nullptr;
        // The checks before the start-up login; none means there is nothing to check yet.
        PreLoginUpdate* preLoginUpdate = nullptr;
    };

    // `given` is the process-wide gateway list, order and last operator code. A re-login
    // keeps the operator and skips the checks before the login.
    CLogin(const Services& services, const LoginSettings& given, bool relogin,
           QWidget* parent = nullptr);

    // After OK: the gateways, order and operator of this login; the password typed.
    const LoginSettings& chosen() const { return chosen_; }
    std::string password() const;
    std::string userCode() const { return userCode_; }

    bool panelExpanded() const;
    bool loginRunning() const { return login_.busy(); }

    QLineEdit* operatorBox() const { return operatorBox_; }
    QLineEdit* passwordBox() const { return passwordBox_; }
    QLineEdit* addressBox(int i) const { return addressBoxes_[i]; }
    QLineEdit* portBox(int i) const { return portBoxes_[i]; }
    QRadioButton* randomButton() const { return randomButton_; }
    QPushButton* toggleButton() const { return toggleButton_; }
    QPushButton* okButton() const { return okButton_; }

    // Runs the OK steps (also the OK button's action).
    void submit();

  public slots:
    void reject() override;

  signals:
    // A login attempt ended (after its messages); `ok` when the dialog is being accepted.
    void loginFinished(bool ok);

  private:
    void buildGatewayPanel();
    void fillFrom(const LoginSettings& settings);
    void togglePanel();
    std::vector<GatewayEntry> typedGateways() const;
    GatewayOrder typedOrder() const;
    void refuse(QLineEdit* box, const char* text);
    void startLogin();
    void finishLogin(bool ok, const std::string& error);
    void setBusy(bool busy);

    Services services_;
    const LoginSettings given_;
    const bool relogin_;
    LoginSettings chosen_;
    std::string userCode_;

    QLineEdit* operatorBox_;
    QLineEdit* passwordBox_;
    std::array<QLineEdit*, kGatewayCount> addressBoxes_{};
    std::array<QLineEdit*, kGatewayCount> portBoxes_{};
    QRadioButton* inOrderButton_;
    QRadioButton* randomButton_;
    QPushButton* toggleButton_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
    QWidget* panel_;

    BackgroundJob login_;  // last: joined before the members above go
};

// "0.0.0.0" becomes empty; a non-empty port becomes its decimal integer; the fast port and time-out
// come from the same entry of `given`.
std::vector<GatewayEntry> normaliseGateways(
    const std::vector<std::pair<std::string, std::string>>& typed,
    const std::vector<GatewayEntry>& given);
// True when some entry has an address and a port from 1 to 65,535.
bool anyUsableGateway(const std::vector<GatewayEntry>& gateways);

}  // namespace vantrel::ui
