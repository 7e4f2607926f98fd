#pragma once
// The interactive gateway handle and its login, for commands that start the client. The
// gateway code provides them (makeInteractiveLogin in login_seam.cpp); `login` is never
// empty, `session` owns the handle that exit disconnects.

#include <memory>

#include "client/base/startup_steps.h"
#include "client/cli/cli.h"

namespace vantrel::cli {

struct InteractiveLogin {
    std::unique_ptr<LoginStep> login;
    std::unique_ptr<InteractiveSession> session;
};

InteractiveLogin makeInteractiveLogin(Environment& environment);

// A headless client has no window: nothing to create, show or hide.
class HeadlessWindow final : public MainWindow {
  public:
    bool create() override { return true; }
    void applyPermissions() override {}
    void hideProgress() override {}
    void destroyProgress() override {}
    bool hasTimers() const override { return false; }
};

}  // namespace vantrel::cli
