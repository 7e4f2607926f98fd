#include "client/execution/tasks/command_inbox.h"
#include "platform/error_text.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>

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
    std::error_code ec;
    fs::create_directories(directory(), ec);
    static std::atomic<unsigned> sequence{0};
    const auto stamp = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    char name[96];
    std::snprintf(name, sizeof name, "%020lld-%d-%u", static_cast<long long>(stamp),
                  static_cast<int>(::getpid()), sequence++);
    const fs::path partial = directory() / (std::string(name) + ".part");
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << command.verb << '\n' << command.taskId << '\n';
        out.flush();
        if (!out) {
            fs::remove(partial, ec);
            return Status::error(ErrorKind::IoError, "写命令文件[" + partial.string() + "]失败");
        }
    }
    fs::rename(partial, directory() / (std::string(name) + ".cmd"), ec);
    if (ec) {
        fs::remove(partial, ec);
        return Status::error(ErrorKind::IoError,
                             "写命令文件失败：" + platform::systemErrorText(ec.value()));
    }
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
        {
            std::ifstream in(file, std::ios::binary);
            std::getline(in, command.verb);
            std::getline(in, command.taskId);
        }
        fs::remove(file, ec);
        if (validVerb(command.verb)) commands.push_back(std::move(command));
    }
    return commands;
}

}  // namespace vantrel
