#pragma once
// The updater's window: caption, text, status line, progress bar, a start button that
// becomes "完成" after a successful run, and a cancel button. The run happens on a worker
// thread; its reports reach the widgets queued onto the GUI thread.

#include <QDialog>
#include <chrono>
#include <memory>
#include <thread>

#include "updater/travex_run.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vantrel::updater {

class TravexDialog final : public QDialog, private Reporter {
  public:
    explicit TravexDialog(Arguments arguments);
    ~TravexDialog() override;

  private:
    void start();
    void finished(int result);
    // Reporter, called on the worker thread.
    void caption(const std::string& text) override;
    void text(const std::string& text) override;
    void status(const std::string& text) override;
    void progress(std::int64_t done, std::int64_t total) override;

    UpdateRun run_;
    std::thread worker_;
    bool done_ = false;
    // When the current download's first packet arrived (worker thread only).
    std::chrono::steady_clock::time_point started_;
    std::int64_t startedAt_ = -1;
    QLabel* caption_;
    QLabel* text_;
    QLabel* status_;
    QProgressBar* bar_;
    QPushButton* start_;
    QPushButton* cancel_;
};

}  // namespace vantrel::updater
