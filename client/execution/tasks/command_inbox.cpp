#include "client/execution/tasks/command_inbox.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "platform/file_system.h"
#include "platform/files.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

bool validVerb(const std::string& verb) {
    return verb == "run" || verb == "stop" || verb == "again" || verb == "reload" ||
           verb == "realtime";
}

}  // namespace

fs::path CommandInbox::directory() const {
    return installation_.data() / "commands";
}

Status CommandInbox::post(const InboxCommand& command) const {
    if (!validVerb(command.verb) || command.taskId.find_first_of("\r\n") != std::string::npos) {
        return Status::error(ErrorKind::InvalidArgument, "无效的命令");
    }
    platform::FileSystem& files = platform::FileSystem::real();
    (void)files.createDirectories(directory());
    static std::atomic<unsigned> sequence{0};
    const auto stamp = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    char name[96];
    std::snprintf(name, sizeof name, "%020lld-%d-%u", static_cast<long long>(stamp),
                  static_cast<int>(::getpid()), sequence++);
    // Written beside its final name and renamed: take() reads only whole ".cmd" files.
    const Status written =
        platform::writeFileAtomically(files, directory() / (std::string(name) + ".cmd"),
                                      command.verb + '\n' + command.taskId + '\n');
    if (!written) return Status::error(ErrorKind::IoError, "写命令文件失败：" + written.text());
    return Status::ok();
}

std::vector<InboxCommand> CommandInbox::take() const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(directory(), ec)) {
        if (entry.path().extension() == ".cmd") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::vector<InboxCommand> commands;
    for (const fs::path& file : files) {
        InboxCommand command;
        if (Result<std::string> text = platform::readFile(file)) {
            std::istringstream lines(text.value());
            std::getline(lines, command.verb);
            std::getline(lines, command.taskId);
        }
        (void)platform::removeIfPresent(platform::FileSystem::real(), file);
        if (validVerb(command.verb)) commands.push_back(std::move(command));
    }
    return commands;
}

}  // namespace vantrel
