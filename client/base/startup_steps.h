#pragma once
// The steps of start-up and exit that the application core does not do itself: the GUI
// steps (main window, login dialog) and the hooks that later parts of the client fill
// (interactive gateway handle, block-state list store, background threads, today's flag
// files, the main window's periodic timers). AppCore calls each on the GUI thread, in the
// order of start-up; a hook left empty is reported as a step not installed, never as done.

#include <filesystem>
#include <string>
#include <vector>

#include "client/base/gateway_entry.h"
#include "platform/status.h"

namespace vantrel {

// What the login step is given.
struct LoginRequest {
    std::vector<GatewayEntry> gateways;
    int gateType = 0;  // 0 in the listed order, 1 random order
    std::string operatorCode;
    std::string productId;
    std::string clientVersion;  // 7 characters
};

class MainWindow {
  public:
    virtual ~MainWindow() = default;
    // Creates and shows the main window; false ends start-up without a message.
    virtual bool create() = 0;
    // After login: show the parts of the window the operator's permissions allow.
    virtual void applyPermissions() = 0;
    virtual void hideProgress() = 0;
    // Exit: the progress dialog goes, if it was ever made.
    virtual void destroyProgress() = 0;
    // False for a front end without a window, which has no window timers to start.
    virtual bool hasTimers() const { return true; }
};

enum class LoginOutcome {
    LoggedIn,     // the operator is logged in on the interactive handle
    NotLoggedIn,  // cancelled or failed; the step has shown its own messages
    Offline,      // the front end chose to start without any gateway session
};

class LoginStep {
  public:
    virtual ~LoginStep() = default;
    // Runs the login (the modal dialog in the GUI).
    virtual LoginOutcome run(const LoginRequest& request) = 0;
};

// The interactive gateway handle, as far as exit needs it.
class InteractiveSession {
  public:
    virtual ~InteractiveSession() = default;
    // Closes the connection and clears the logged-in state (the window hears of it).
    virtual void disconnect() = 0;
};

// The process-wide list of open block-state files ("filememlist.data").
class BlockStateListStore {
  public:
    virtual ~BlockStateListStore() = default;
    // On failure the Status text is the store's reason, shown to the operator.
    virtual Status open(const std::filesystem::path& file) = 0;
};

class BackgroundThreads {
  public:
    virtual ~BackgroundThreads() = default;
    // Starts the management threads and `workerCount` transfer workers.
    virtual void start(int workerCount) = 0;
};

class FlagFilesStartup {
  public:
    virtual ~FlagFilesStartup() = default;
    virtual void initialiseToday() = 0;
};

class PeriodicTimers {
  public:
    virtual ~PeriodicTimers() = default;
    // The main window's four timers (2305..2308).
    virtual void start() = 0;
};

}  // namespace vantrel
