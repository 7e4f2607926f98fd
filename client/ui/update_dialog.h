#pragma once
// The self-update in the window. GuiUpdate runs the checks of client/update at the places
// the window has for them: the configuration-file update and the version check before the
// start-up login, the configuration-file update at 02:00 and the night version check at
// 03:00. A newer version is offered in CUpdateDlg, whose 更新 button hands over to the
// updater; a hand-over while a task runs is deferred and tried again later. GUI thread.

#include <QDialog>
#include <QPointer>
#include <functional>

#include "client/ui/ports.h"
#include "client/update/update_checks.h"

class QLabel;
class QTimer;

namespace vantrel::ui {

class CMainFrame;

// A deferred hand-over is tried again after this long.
inline constexpr int kHandOverRetryMs = 10 * 60 * 1000;

class CUpdateDlg final : public QDialog {
    Q_OBJECT
  public:
    explicit CUpdateDlg(QWidget* parent = nullptr);
    void setOffer(const std::string& version, const std::string& packageName);
    QLabel* version() const { return version_; }
    QLabel* package() const { return package_; }

  private:
    QLabel* version_;
    QLabel* package_;
};

class GuiUpdate final : public QObject, public PreLoginUpdate, public update::HandOverTarget {
    Q_OBJECT
  public:
    // `checker` must outlive this object; `frame` gives the main window (null before it
    // exists).
    GuiUpdate(update::UpdateChecker& checker, std::function<CMainFrame*()> frame);
    ~GuiUpdate() override;

    // Before the start-up login: 0 nothing to do, 2 the updater runs, 4 declined, below 0
    // failed with `text`.
    int runBeforeLogin(std::string& text) override;
    // 02:00.
    void configUpdate();
    // 03:00: skipped while the offer is shown or the install question is open.
    void nightCheck();
    // The offer's 更新 (also the retry of a deferred hand-over).
    void handOver();

    CUpdateDlg* dialog() const { return dialog_.data(); }
    bool retryPending() const;

    // HandOverTarget.
    bool tasksRunning() override;
    void stopThreads() override;
    void closeMainWindow() override;

  private:
    void after(update::NightResult result);

    update::UpdateChecker& checker_;
    std::function<CMainFrame*()> frame_;
    QPointer<CUpdateDlg> dialog_;  // made at the first offer, kept for later ones
    QTimer* retry_;
};

}  // namespace vantrel::ui
