#pragma once
// What every command of vantrel-cli shares: the installation root, the clock, the logs and
// a terminal stand-in for message boxes, plus the command table the dispatcher reads.

#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/base/installation.h"
#include "client/base/logs.h"
#include "client/base/notifier.h"
#include "client/base/user_prompt.h"
#include "platform/clock.h"

namespace vantrel {
class MailboxSession;
}

namespace vantrel::cli {

// Message boxes become lines on stderr. Questions cannot be asked of a script, so every
// question is answered No (the cautious answer of every flow that asks).
class ConsolePrompt final : public UserPrompt {
  public:
    bool askYesNo(const std::string& caption, const std::string& text, Icon icon) override;
    void show(const std::string& caption, const std::string& text, Icon icon) override;
};

// Owns what a Context points to, for the life of one command.
class Environment {
  public:
    explicit Environment(Installation installation);
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    const Installation& installation() const { return installation_; }
    Logs& logs() { return logs_; }
    UserPrompt& prompt() { return prompt_; }
    Context context();

  private:
    Installation installation_;
    NullNotifier notifier_;
    ConsolePrompt prompt_;
    Logs logs_;
};

// The options of every command that logs in; empty means "from Client.ini" (operator) and
// "VANTREL_PASSWORD or a prompt" (password).
struct LoginOptions {
    std::string operatorCode;
    std::string passwordFile;
};

// Takes `--operator CODE` or `--password-file FILE` at arguments[i] into `options`, moving
// i past the value; false (nothing taken) when arguments[i] is neither or has no value.
bool takeLoginOption(const std::vector<std::string>& arguments, std::size_t& i,
                     LoginOptions& options);

// Logs `session` in with the settings of Client.ini and `options`; false (with the reason
// printed, prefixed by `command`) when it cannot.
bool logIn(const char* command, Environment& environment, const LoginOptions& options,
           MailboxSession& session);

// One command: `vantrel-cli [--root DIR] <name> [arguments]`. Returns the exit code.
struct Command {
    const char* name;
    const char* usage;    // the arguments after the name
    const char* summary;  // one line for the help text
    int (*run)(Environment& environment, const std::vector<std::string>& arguments);
};

// Command groups, one source file each.
std::vector<Command> runCommands();       // command_run.cpp
std::vector<Command> gatewayCommands();   // command_login.cpp
std::vector<Command> mailboxCommands();   // command_mailbox.cpp
std::vector<Command> taskCommands();      // command_tasks.cpp
std::vector<Command> serveCommands();     // command_serve.cpp
std::vector<Command> updateCommands();    // command_update.cpp
std::vector<Command> realtimeCommands();  // command_realtime.cpp
std::vector<Command> statusCommands();    // command_status.cpp

// Whether a client (serve or the GUI) holds the single-instance lock.
bool clientRunning(Environment& environment);

// tasks run|stop|again ID: handed to a running client, else carried out in this process
// (run and again wait for the run's end). The exit code.
int taskRunCommand(Environment& environment, const std::string& verb, const std::string& taskId);
// After a task table changed: a running client reloads it.
void notifyRunningClient(Environment& environment);

}  // namespace vantrel::cli
