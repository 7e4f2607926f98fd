#pragma once
// The UserPrompt of the GUI. A question from a worker thread is parked: the worker holds
// the request and waits for its answer, checking `shouldStop` every second, while the GUI
// thread shows the message box. On the GUI thread the box is shown at once.

#include <QObject>
#include <functional>

#include "client/base/user_prompt.h"

namespace vantrel::ui {

class QtUserPrompt final : public QObject, public UserPrompt {
    Q_OBJECT
  public:
    // Create on the GUI thread. `shouldStop` (any thread) ends a parked wait with the
    // answer No when the process is shutting down; empty means never.
    explicit QtUserPrompt(std::function<bool()> shouldStop = {}, QObject* parent = nullptr);

    bool askYesNo(const std::string& caption, const std::string& text, Icon icon) override;
    void show(const std::string& caption, const std::string& text, Icon icon) override;

  private:
    struct Request;
    // Shows the box of `request` on the GUI thread and answers it.
    static void answer(Request& request);
    bool park(const std::string& caption, const std::string& text, Icon icon, bool question);

    std::function<bool()> shouldStop_;
};

}  // namespace vantrel::ui
