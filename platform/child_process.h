#pragma once
// Starting a program and waiting for it (the external unpacker, the updater).

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vantrel::platform {

struct ChildOptions {
    std::filesystem::path program;           // absolute, or searched in PATH when it has no '/'
    std::vector<std::string> arguments;      // without argv[0]
    std::filesystem::path workingDirectory;  // empty: the caller's
    bool quiet = false;                      // send the child's stdout and stderr to /dev/null
    // Start the child in a session of its own with standard input from /dev/null, so it has
    // no terminal to stop and ask on (an unpacker prompting for a password would otherwise
    // hold its caller forever).
    bool noTerminal = false;
};

// Children start with no blocked signals and SIGPIPE at its default action; descriptors
// opened by the platform layer are close-on-exec.
// Starts the child and waits for it. The result is its exit code; a child killed by a
// signal gives 128 + the signal number. A program that cannot be started is an error.
Result<int> runAndWait(const ChildOptions& options);

// The same, giving the child at most `limit`: one still running then is killed (SIGKILL)
// and reaped, and the result is an error that says so.
Result<int> runAndWait(const ChildOptions& options, std::chrono::milliseconds limit);

// Starts the child without waiting (the updater outlives the client), in a session of its
// own. Returns its pid.
Result<int> startDetached(const ChildOptions& options);

}  // namespace vantrel::platform
