#pragma once
// The client's self-update: the flag-model update ("flagmodel.conf" fetched from the update
// server when its "flagversion" is newer) and the version check that hands over to the
// updater `travex` when the server offers a newer program or a downloaded package waits.
// Both talk to the update server through one CFastFtp at a time, on the caller's thread
// (the GUI thread in the window, the command's thread in the CLI), and block it while they
// do. Failures go to the system log; nothing throws.

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/base/context.h"
#include "client/config/config.h"
#include "client/transfer/fast_ftp.h"
#include "platform/child_process.h"

namespace vantrel::catalogue {
class CFlagManager;
}

namespace vantrel::update {

inline constexpr const char* kFlagModelFile = "flagmodel.conf";
inline constexpr const char* kPackageDirectory = "installdir";
inline constexpr const char* kUpdaterProgram = "travex";
inline constexpr const char* kInstallQuestion = "本地存在未安装的更新，是否现在安装?";
inline constexpr const char* kBadPackageName = "获取安装包名称失败!";
// A root installed by the Debian package holds this file: apt owns bin/, so the program
// never replaces itself there (the flag model is still updated).
inline constexpr const char* kPackageManagedMarker = "package-managed";
inline constexpr const char* kPackageManagedRefusal =
    "系统更新：本机程序由软件包(apt)管理，不能自行升级，请用 apt 升级 vantrel 软件包";
bool packageManaged(const Installation& installation);
// Where the updater records how its last run ended (section `update` of Client.ini): the
// failure text, empty after a run that did not fail, and the version it was fetching.
inline constexpr const char* kFailureKey = "lastfailure";
inline constexpr const char* kFailedVersionKey = "failedversion";

// True for a name that is one plain file name: not empty, not "." or "..", and free of
// "/", "\\", ":" and control characters. Names from the server must pass before they
// become part of a path.
bool isPlainFileName(std::string_view name);
// Versions compare as text, ignoring letter case: > 0 when `a` is newer than `b`.
int compareVersions(std::string_view a, std::string_view b);

// The updater's program and its six arguments: the settings file, product id, client
// version, update server address, port and time-out. The arguments reach the program as
// they are (no shell, no quoting).
struct UpdaterCommand {
    std::filesystem::path program;
    std::vector<std::string> arguments;
};
UpdaterCommand updaterCommand(const Installation& installation, const std::string& productId,
                              const std::string& clientVersion, const FastServer& server,
                              int timeOut);

// Start-up version check results (the login step reads them).
enum class StartupResult : int {
    kNothingToDo = 0,
    kUpdaterStarted = 2,
    kPackageOpened = 3,  // kept for the caller's table; a package is never opened itself
    kDeclined = 4,
    kLoginFailed = -1,
    kNoServerVersion = -2,
    kUpdaterFailed = -3,
    // The updater's last run failed on the version offered: it is not started again, the
    // login goes on with the installed program (failureText() says why).
    kUpdateIncomplete = -4,
};

// Night version check results.
enum class NightResult {
    kNothingToDo,
    kNewerOffered,  // a newer version: the window shows the offer (offer()); its OK button
                    // calls handOver()
    kDeclined,      // the operator declined installing the waiting package
    kHandedOver,    // the updater runs; threads stopped; the window was asked to close
    kDeferred,      // a task runs: nothing was started, ask again later
    kLoginFailed,
    kNoServerVersion,
    kUpdaterFailed,
    kUpdateIncomplete,  // as at start-up: nothing handed over automatically
};

// What the night hand-over needs from the running client. Called on the checker's thread.
class HandOverTarget {
  public:
    virtual ~HandOverTarget() = default;
    // True while a download, upload or auto-sync task runs.
    virtual bool tasksRunning() = 0;
    // The thread manager's orderly stop (waits for each thread).
    virtual void stopThreads() = 0;
    // Closes the main window, ending the client.
    virtual void closeMainWindow() = 0;
};

struct UpdateSettings {
    std::string productId;               // login name of the version check
    std::string clientVersion;           // 7 characters
    std::string flagId;                  // login name of the flag-model update
    std::vector<GatewayEntry> gateways;  // address and fast-transfer port are used
    // The crypto library whose KLAV_Decrypt checks the digests.
    std::filesystem::path cryptoLibrary;
};

// The settings as Client.ini holds them: product id, client version, flag id, gateways, and
// the crypto library in the installation's bin/.
UpdateSettings updateSettingsFor(const Installation& installation);

// Starts a program without a shell and without waiting → its pid or the failure.
using Launcher = std::function<Result<int>(const platform::ChildOptions&)>;

class UpdateChecker {
  public:
    // `context` needs installation, logs and prompt; `flags` may be null (no flag list to
    // rebuild). An empty launcher starts programs with platform::startDetached.
    UpdateChecker(const Context& context, UpdateSettings settings, catalogue::CFlagManager* flags,
                  Launcher launcher = {});

    // The flag-model update → 1 replaced, 0 nothing to do, -1 failed (logged).
    int updateConfigFile();
    // The version check before the login.
    StartupResult startupCheck();
    // The night version check; `target` is used only to hand over.
    NightResult nightCheck(HandOverTarget& target);
    // Starts the updater and hands over (the update dialog's OK): kHandedOver, kDeferred
    // or kUpdaterFailed. Needs a server from an earlier check's login.
    NightResult handOver(HandOverTarget& target);

    // The night version check without a window: nothing is asked, nothing is started. What
    // the server offers goes to the system log; true when there is something for the
    // updater to install.
    bool headlessCheck();
    // Runs `travex --headless` for the server of the last check's login and waits for it
    // → its exit code, or the failure to start it.
    Result<int> runUpdaterHeadless();

    // What the server offers against this installation (no question asked, nothing
    // started): the shared first half of both version checks.
    enum class VersionState {
        kUpToDate,        // same or older version, and the last package is installed
        kNewer,           // a newer version (offer())
        kPackageWaiting,  // same version, its package downloaded but not installed
        kNeedsUpdater,    // same version, not installed and no package here
        kLoginFailed,
        kNoServerVersion,
    };
    VersionState checkVersion();
    // The update server of the last successful check's login, and the time-out used.
    const FastServer& server() const { return server_; }
    const UpdateSettings& settings() const { return settings_; }
    int timeOut() const { return timeOut_; }

    // The newer version and package name of the last check that found one.
    struct Offer {
        std::string version;
        std::string packageName;
    };
    const Offer& offer() const { return offer_; }
    // What the operator is told after a check that ended in kLoginFailed, kNoServerVersion
    // or kUpdateIncomplete (the same line goes to the system log).
    const std::string& failureText() const { return failure_; }
    // True while the install question is open (the night timer posts no check then).
    bool questionOpen() const { return questionOpen_; }
    // The cancel event of the running transfer (set by the window's cancel).

  private:
    int startUpdater();
    // True when the updater's last run failed on the offered version; sets failure_.
    bool lastRunFailedOnOffer();
    void sysLog(const std::string& line) const;
    CFastFtp& connection();

    Context context_;
    UpdateSettings settings_;
    catalogue::CFlagManager* flags_;
    Launcher launcher_;
    Offer offer_;
    std::string failure_;
    FastServer server_;
    int timeOut_ = 5;
    bool serverKnown_ = false;
    std::atomic<bool> questionOpen_{false};
    platform::Event cancel_;
    CFastFtp ftp_;
};

}  // namespace vantrel::update
