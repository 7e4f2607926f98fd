#pragma once
// The application core: start-up and exit of the client, free of any GUI toolkit. The GUI
// and the command-line front end give it their own steps (StartupParts) and run the same
// sequence:
//   single instance, settings, main window, disk-space check, login, permissions,
//   send/sent/receive directories, block-state list store, "系统登录成功!", settings again,
//   background threads, today's flag files, timers, "系统启动！".
// "系统登录成功!" is shown only after a real login, not when the front end starts offline.
// Exit: "系统退出！", interactive handle disconnected, progress dialog destroyed,
// single-instance lock released last.
// Everything here runs on the GUI thread (the front end's main thread).

#include <cstdint>
#include <string>
#include <vector>

#include "client/app/single_instance.h"
#include "client/base/startup_steps.h"
#include "client/base/context.h"
#include "client/base/gateway_entry.h"
#include "client/execution/housekeeping/disk_space_check.h"

namespace vantrel {

// The front end's steps. `window` and `login` are required; a null hook is skipped and
// reported as not installed. The pointees must outlive the AppCore.
struct StartupParts {
    MainWindow* window = nullptr;
    LoginStep* login = nullptr;
    InteractiveSession* session = nullptr;
    BlockStateListStore* blockStates = nullptr;
    BackgroundThreads* threads = nullptr;
    FlagFilesStartup* flagFiles = nullptr;
    PeriodicTimers* timers = nullptr;
    // Free space of the program's drive; empty asks the system.
    DiskSpaceCheck::FreeSpaceSource freeSpace;
};

// Process-wide values set up at start-up, for the life of the process.
struct AppSession {
    std::string productId;
    std::string clientVersion;  // 7 characters, carried by the login request
    std::string flagId;
    std::string flagClientVersion;  // the copy kept beside the flag id for the flag-model update
    std::vector<GatewayEntry> gateways;
    int gateType = 0;
    std::string operatorCode;
    int closeFlag = 0;
    std::string flagFileExtend;
    // Seed for the process's pseudo-random draws (the random gateway order): the start-up
    // thread's id + seconds x 1000 + milliseconds of the start-up time.
    std::uint32_t randomSeed = 0;
};

// NotApplicable: the step has no meaning for this front end (a headless one has no window
// timers); unlike NotInstalled, nothing is missing.
enum class StepOutcome { Done, NotInstalled, NotApplicable, Failed };

struct StepReport {
    std::string name;
    StepOutcome outcome = StepOutcome::Done;
    std::string detail;
};

inline constexpr const char* kBlockStateListFile = "filememlist.data";

class AppCore {
  public:
    enum class Start {
        Started,         // logged in and running; call exit() at the end
        SecondInstance,  // another client runs: end the process at once with code 0, no exit()
        Failed,          // start-up ended early; call exit() all the same
    };

    // `context` needs installation, clock, prompt and logs.
    AppCore(const Context& context, StartupParts parts);
    ~AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    Start start();
    // The exit sequence; does nothing when start() did not get the single-instance lock,
    // and runs at most once.
    void exit();

    const AppSession& session() const { return session_; }
    // Every step taken so far, in order (what a headless front end tells the operator).
    const std::vector<StepReport>& steps() const { return steps_; }

  private:
    void loadSettings();
    bool createMainWindow();
    void checkDiskSpace(int minimumMegabytes);
    bool login();
    bool loggedIn() const;
    void prepareDirectories();
    bool openBlockStateStore();
    void startBackgroundWork();
    void record(const char* name, StepOutcome outcome, std::string detail = {});

    Context context_;
    StartupParts parts_;
    SingleInstance instance_;
    AppSession session_;
    std::vector<StepReport> steps_;
    int minimumDiskSpace_ = 0;
    bool exited_ = false;
};

}  // namespace vantrel
