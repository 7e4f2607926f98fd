#pragma once
// vantrel-cli run as a person would: its own process on a given installation root and
// lock folder, the password in the environment, output appended to a file.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace vantrel::testing {

class CliProcess {
  public:
    CliProcess(std::string program, std::filesystem::path root, std::filesystem::path runtime,
               std::string password)
        : program_(std::move(program)),
          root_(std::move(root)),
          runtime_(std::move(runtime)),
          password_(std::move(password)) {}

    // "NAME=value" entries added to the environment of the processes started from now on.
    void setExtraEnvironment(std::vector<std::string> entries) { extra_ = std::move(entries); }

    // Starts `vantrel-cli --root ROOT args...`; its output goes to ROOT/cli.out, or is
    // appended to `output`.
    pid_t spawn(const std::vector<std::string>& args,
                const std::filesystem::path& output = {}) const {
        std::vector<std::string> all = {program_, "--root", root_.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> own = {"VANTREL_PASSWORD=" + password_,
                                        "VANTREL_RUNTIME_DIR=" + runtime_.string()};
        own.insert(own.end(), extra_.begin(), extra_.end());
        std::vector<char*> env;
        for (char** e = environ; *e; ++e) {
            const std::string_view v(*e);
            if (v.rfind("VANTREL_PASSWORD=", 0) != 0 && v.rfind("VANTREL_RUNTIME_DIR=", 0) != 0)
                env.push_back(*e);
        }
        for (auto& o : own) env.push_back(o.data());
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const std::string out = (output.empty() ? root_ / "cli.out" : output).string();
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    // The exit code, or -1 when the process had to be killed after `limit`.
    static int wait(pid_t pid, std::chrono::milliseconds limit = std::chrono::seconds(120)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run(const std::vector<std::string>& args) const { return wait(spawn(args)); }

    // Runs the command to its end → its exit code and its output (stdout and stderr).
    std::pair<int, std::string> capture(const std::vector<std::string>& args) const {
        const std::filesystem::path out = root_ / "capture.out";
        std::filesystem::remove(out);
        const int code = wait(spawn(args, out));
        std::ifstream in(out, std::ios::binary);
        return {code, std::string(std::istreambuf_iterator<char>(in), {})};
    }

  private:
    std::string program_;
    std::filesystem::path root_;
    std::filesystem::path runtime_;
    std::string password_;
    std::vector<std::string> extra_;
};

}  // namespace vantrel::testing
