#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace vantrel::platform {
namespace {

ChildOptions shell(const std::string& script) {
    return ChildOptions{"sh", {"-c", script}, {}, false};
}

TEST(ChildProcessTest, theChildRunsInTheWorkingDirectoryGiven) {
    testing::TempDir dir;
    ChildOptions options = shell("pwd > where.txt");
    options.workingDirectory = dir.path();
    ASSERT_EQ(runAndWait(options).value(), 0);
    EXPECT_EQ(readFile(dir.path() / "where.txt").value(), dir.path().string() + "\n");
}

TEST(ChildProcessTest, theExitCodeIsReturnedAndASignalCountsAs128Plus) {
    EXPECT_EQ(runAndWait(shell("exit 0")).value(), 0);
    EXPECT_EQ(runAndWait(shell("exit 3")).value(), 3);
    EXPECT_EQ(runAndWait(shell("exit 255")).value(), 255);
    EXPECT_EQ(runAndWait(shell("kill -TERM $$")).value(), 128 + SIGTERM);
}

TEST(ChildProcessTest, argumentsArriveUnchanged) {
    testing::TempDir dir;
    const std::filesystem::path out = dir.path() / "args.txt";
    ChildOptions options{
        "/bin/sh",
        {"-c", "printf '%s|' \"$@\" > \"$0\"", out.string(), "two words", "", "中文"},
        {},
        false};
    ASSERT_EQ(runAndWait(options).value(), 0);
    EXPECT_EQ(readFile(out).value(), "two words||中文|");
}

TEST(ChildProcessTest, aProgramThatCannotStartIsAnError) {
    testing::TempDir dir;
    Result<int> absolute = runAndWait({dir.path() / "no-such-program", {}, {}, false});
    EXPECT_EQ(absolute.status().kind(), ErrorKind::NotFound);
    EXPECT_NE(absolute.status().text().find("no-such-program"), std::string::npos);

    EXPECT_EQ(runAndWait({"vantrel-no-such-program", {}, {}, false}).status().kind(),
              ErrorKind::NotFound);

    ChildOptions missingDirectory = shell("exit 0");
    missingDirectory.workingDirectory = dir.path() / "missing";
    EXPECT_FALSE(runAndWait(missingDirectory));

    const std::filesystem::path notExecutable = dir.path() / "plain.txt";
    ASSERT_TRUE(writeFileAtomically(notExecutable, "exit 0\n"));
    EXPECT_FALSE(runAndWait({notExecutable, {}, {}, false}));
}

TEST(ChildProcessTest, aQuietChildWritesNothingToOurOutput) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    ChildOptions quiet = shell("echo quiet-out; echo quiet-err >&2");
    quiet.quiet = true;
    EXPECT_EQ(runAndWait(quiet).value(), 0);
    EXPECT_EQ(runAndWait(shell("echo loud-out; echo loud-err >&2")).value(), 0);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "loud-out\n");
    EXPECT_EQ(err, "loud-err\n");
}

TEST(ChildProcessTest, aDetachedChildRunsInItsOwnSession) {
    testing::TempDir dir;
    ChildOptions options = shell(
        "read -r pid name state ppid pgrp session rest < /proc/self/stat; "
        "echo $session > session.tmp && mv session.tmp session.txt");
    options.workingDirectory = dir.path();
    Result<int> pid = startDetached(options);
    ASSERT_TRUE(pid) << pid.status().text();
    int status = 0;
    ASSERT_EQ(::waitpid(*pid, &status, 0), *pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(std::stoi(readFile(dir.path() / "session.txt").value()), ::getsid(0));
}

TEST(ChildProcessTest, aChildWithoutTerminalReadsNothingAndHasASessionOfItsOwn) {
    testing::TempDir dir;
    ChildOptions options = shell(
        "read -r pid name state ppid pgrp session rest < /proc/self/stat; "
        "if read -r line; then exit 9; fi; echo $session > session.txt");
    options.workingDirectory = dir.path();
    options.noTerminal = true;
    ASSERT_EQ(runAndWait(options).value(), 0);
    EXPECT_NE(std::stoi(readFile(dir.path() / "session.txt").value()), ::getsid(0));
}

TEST(ChildProcessTest, theChildDoesNotInheritAnIgnoredSigpipe) {
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    // A shell cannot undo a signal ignored on entry, so the kill only lands at the default.
    Result<int> code = runAndWait(shell("kill -PIPE $$"));
    ::sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(code.value(), 128 + SIGPIPE);
}

}  // namespace
}  // namespace vantrel::platform
