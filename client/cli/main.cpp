// vantrel-cli [--root DIR] <command> [arguments]
// The installation root defaults to the directory two levels above this program.

#include <cstdio>
#include <string>
#include <vector>

#include "client/cli/cli.h"
#include "platform/named_lock.h"

namespace {

using vantrel::cli::Command;

std::vector<Command> allCommands() {
    std::vector<Command> commands;
    for (auto group : {vantrel::cli::runCommands, vantrel::cli::gatewayCommands,
                       vantrel::cli::mailboxCommands, vantrel::cli::taskCommands,
                       vantrel::cli::serveCommands, vantrel::cli::updateCommands,
                       vantrel::cli::realtimeCommands, vantrel::cli::statusCommands}) {
        for (const Command& c : group()) commands.push_back(c);
    }
    return commands;
}

int usage(const std::vector<Command>& commands) {
    std::fprintf(stderr, "usage: vantrel-cli [--root DIR] <command> [arguments]\n\ncommands:\n");
    for (const Command& c : commands)
        std::fprintf(stderr, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
    return 2;
}

std::filesystem::path runningProgram(const char* argv0) {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path(argv0) : self;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<Command> commands = allCommands();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::filesystem::path root;
    if (args.size() >= 2 && args[0] == "--root") {
        root = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == "--help" || args[0] == "help") return usage(commands);

    vantrel::Installation installation =
        root.empty() ? vantrel::Installation::fromExecutable(runningProgram(argv[0]))
                     : vantrel::Installation(std::filesystem::absolute(root),
                                             vantrel::platform::defaultRuntimeDirectory());
    for (const Command& c : commands) {
        if (args[0] != c.name) continue;
        vantrel::cli::Environment environment(std::move(installation));
        return c.run(environment, std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::fprintf(stderr, "vantrel-cli: unknown command '%s'\n", args[0].c_str());
    return usage(commands);
}
