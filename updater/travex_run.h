#pragma once
// The updater's run, free of any GUI toolkit: it logs in to the update server with the
// client's product id and version, asks for "moduleversion" and "packagename", downloads
// the package into `temppath` with resume and digest check, checks its signature against
// the installation's public key, moves it onto the target in `targetpath` in one step,
// installs it (installer.h) and records the new version in the client's settings file
// (`update`/`moduleversion`, `update`/`install`). A run that fails records why
// (`update`/`lastfailure`, `update`/`failedversion`), so the client's next start goes on
// to the login instead of starting the same failing update again. A run the operator
// cancels is no failure: it records nothing and leaves `install` as it found it.
// Nothing downloaded is ever started.
//
// Thread: run() on one worker thread; the reporter is called on that thread; cancel() from
// any thread.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "client/transfer/fast_ftp.h"
#include "platform/event.h"
#include "platform/ini_file.h"
#include "platform/status.h"

namespace vantrel::updater {

// The six command-line arguments.
struct Arguments {
    std::filesystem::path settingsFile;  // the client's Client.ini
    std::string productId;
    std::string version;
    std::string address;
    std::string port;
    int timeOut = 5;
};

inline constexpr const char* kArgumentError = "参数错误!";

// Exactly six arguments, the port a number 1..65535 and the time-out a number; otherwise
// kArgumentError.
Result<Arguments> parseArguments(const std::vector<std::string>& arguments);

// Where the run reports; every call comes from the run's thread.
class Reporter {
  public:
    virtual ~Reporter() = default;
    virtual void caption(const std::string& text) = 0;
    virtual void text(const std::string& text) = 0;
    virtual void status(const std::string& text) = 0;
    // Bytes of the package the temporary file holds, of `total`.
    virtual void progress(std::int64_t done, std::int64_t total) = 0;
};

class UpdateRun {
  public:
    // `reporter` must outlive the run.
    UpdateRun(Arguments arguments, Reporter& reporter);

    // 0 installed; kCancelled when cancel() cut it off; otherwise the failure, whose text
    // is errorText().
    static constexpr int kCancelled = 2;
    int run();
    void cancel() { cancel_.set(); }
    const std::string& errorText() const { return error_; }
    const std::string& packageName() const { return packageName_; }

  private:
    // Where the package goes and comes from, from section `update` of the settings.
    struct PackagePaths {
        std::filesystem::path temp;
        std::filesystem::path target;
        std::string server;
        std::filesystem::path library;
    };
    static PackagePaths packagePaths(const platform::IniFile& ini,
                                     const std::filesystem::path& root);
    int loginForPackage(const std::filesystem::path& library);
    int fetchAndInstall(platform::IniFile& ini, const std::filesystem::path& root,
                        const PackagePaths& paths);
    int fail(std::string text);
    // A failure of the server exchange: the operator's cancel, or fail(text).
    int failOrCancelled(std::string text);

    Arguments arguments_;
    Reporter& reporter_;
    platform::Event cancel_;
    CFastFtp ftp_;
    std::string error_;
    std::string moduleVersion_;
    std::string packageName_;
    std::string installBefore_;
};

}  // namespace vantrel::updater
