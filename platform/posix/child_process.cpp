#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace vantrel::platform {

namespace {

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_init(&actions_);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Returns 0 or an errno value.
    int prepare(const ChildOptions& options, bool newSession) {
        // The child starts with no blocked signals and SIGPIPE at its default, whatever
        // this process's threads have set for themselves.
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        // A detached child leaves our session, so a terminal hang-up or Ctrl-C sent to the
        // client does not reach it.
        if (newSession || options.noTerminal) flags |= POSIX_SPAWN_SETSID;
        if (int err = posix_spawnattr_setsigmask(&attributes_, &none)) return err;
        if (int err = posix_spawnattr_setsigdefault(&attributes_, &defaults)) return err;
        if (int err = posix_spawnattr_setflags(&attributes_, flags)) return err;
        if (!options.workingDirectory.empty()) {
            if (int err = posix_spawn_file_actions_addchdir_np(&actions_,
                                                               options.workingDirectory.c_str())) {
                return err;
            }
        }
        if (options.noTerminal) {
            if (int err = posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null",
                                                           O_RDONLY, 0)) {
                return err;
            }
        }
        if (options.quiet) {
            if (int err = posix_spawn_file_actions_addopen(&actions_, STDOUT_FILENO, "/dev/null",
                                                           O_WRONLY, 0)) {
                return err;
            }
            if (int err = posix_spawn_file_actions_adddup2(&actions_, STDOUT_FILENO, STDERR_FILENO))
                return err;
        }
        return 0;
    }

    const posix_spawnattr_t* attributes() const { return &attributes_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

  private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

Result<int> spawn(const ChildOptions& options, bool newSession) {
    const std::string program = options.program.string();
    if (program.empty())
        return Status::error(ErrorKind::InvalidArgument, "start: no program given");
    SpawnSetup setup;
    if (int err = setup.prepare(options, newSession))
        return statusFromErrno(err, "启动[" + program + "]");

    std::vector<char*> argv;
    argv.reserve(options.arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : options.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // A name without '/' is looked up in PATH, as a shell would.
    const bool searchPath = program.find('/') == std::string::npos;
    pid_t pid = 0;
    const int err = searchPath ? posix_spawnp(&pid, program.c_str(), setup.actions(),
                                              setup.attributes(), argv.data(), environ)
                               : posix_spawn(&pid, program.c_str(), setup.actions(),
                                             setup.attributes(), argv.data(), environ);
    if (err != 0) return statusFromErrno(err, "启动[" + program + "]");
    return static_cast<int>(pid);
}

}  // namespace

Result<int> runAndWait(const ChildOptions& options) {
    Result<int> pid = spawn(options, false);
    if (!pid) return pid;
    int status = 0;
    while (::waitpid(*pid, &status, 0) < 0) {
        if (errno != EINTR) return statusFromErrno(errno, "等待[" + options.program.string() + "]");
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

Result<int> runAndWait(const ChildOptions& options, std::chrono::milliseconds limit) {
    Result<int> pid = spawn(options, false);
    if (!pid) return pid;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(*pid, &status, WNOHANG);
        if (done == *pid) break;
        if (done < 0 && errno != EINTR)
            return statusFromErrno(errno, "等待[" + options.program.string() + "]");
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(*pid, SIGKILL);
            while (::waitpid(*pid, &status, 0) < 0 && errno == EINTR) {
            }
            return Status::error(ErrorKind::TimedOut,
                                 options.program.string() + " did not end in time and was killed");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

Result<int> startDetached(const ChildOptions& options) {
    return spawn(options, true);
}

}  // namespace vantrel::platform
