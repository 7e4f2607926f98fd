#pragma once
// CTransferDlg: moves the queued files one after the other through the file services, on a
// worker thread, and shows the transfer's progress record (speed, remaining time, status
// line) polled from a snapshot twice a second. Stop is passed to the transfer, which asks
// "是否要取消下载?"/"是否要取消上传?"; Yes ends the current file once nothing is in flight
// and skips the rest, No carries on. One dialog serves both directions.

#include <QDialog>
#include <vector>

#include "client/base/user_prompt.h"
#include "client/ui/background_job.h"
#include "client/ui/ports.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace vantrel::ui {

class CTransferDlg final : public QDialog {
    Q_OBJECT
  public:
    // The transfer starts once the event loop runs (exec() or show()).
    CTransferDlg(TransferDirection direction, std::vector<TransferItem> items,
                 MailboxService& service, UserPrompt& prompt, QWidget* parent = nullptr);

    // After the dialog closed: one outcome per item that was started, in order.
    const std::vector<TransferOutcome>& outcomes() const { return outcomes_; }
    bool cancelled() const { return cancelled_; }
    // A file failed because the connection to the gateway is lost.
    bool lostConnection() const { return lostConnection_; }

    QPushButton* stopButton() const { return stopButton_; }
    QString statusLine() const;
    int percent() const;
    // Reads the snapshot into the labels now (also done by the timer).
    void refresh();

  public slots:
    void reject() override;  // closing the window means Stop

  private:
    void start();
    void pressStop();
    void finish(std::vector<TransferOutcome> outcomes);

    const TransferDirection direction_;
    const std::vector<TransferItem> items_;
    MailboxService& service_;
    UserPrompt& prompt_;
    TransferProgress progress_;
    std::vector<TransferOutcome> outcomes_;
    bool cancelled_ = false;
    bool lostConnection_ = false;

    QLabel* fileLabel_;
    QLabel* speedLabel_;
    QLabel* remainingLabel_;
    QLabel* statusLabel_;
    QProgressBar* bar_;
    QPushButton* stopButton_;
    QTimer* poll_;

    BackgroundJob job_;  // last: joined before the snapshot goes
};

}  // namespace vantrel::ui
