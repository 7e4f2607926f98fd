#pragma once
// Questions and error boxes raised by core flows. The GUI shows a dialog; tests script the
// answer; the command-line front end asks on the terminal or answers by policy.
// Called from any thread; an implementation that needs the GUI thread parks the request
// and waits for the answer. Never called while holding a lock the GUI thread may take.

#include <string>

namespace vantrel {

class UserPrompt {
  public:
    enum class Icon { Information, Warning, Error, Question };
    virtual ~UserPrompt() = default;
    // A Yes/No question; true for Yes.
    virtual bool askYesNo(const std::string& caption, const std::string& text, Icon icon) = 0;
    // A message box with one OK button.
    virtual void show(const std::string& caption, const std::string& text, Icon icon) = 0;
};

// The caption of every message box of the client.
inline constexpr const char* kAppCaption = "DRAV信箱文件交换工具";

}  // namespace vantrel
