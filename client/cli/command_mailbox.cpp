// vantrel-cli ls  MAILBOX [DIR] [--today]
// vantrel-cli get MAILBOX REMOTE LOCALDIR
// vantrel-cli put MAILBOX LOCALFILE [REMOTE]
// vantrel-cli rm  MAILBOX REMOTE
// vantrel-cli mv  MAILBOX OLD NEW
// (each also takes --operator CODE and --password-file FILE)
// The mailbox browser's operations by hand. Every one is first checked against the
// operator's permissions for the mailbox. get and put keep their progress in the same block
// state files as the task runs, so an interrupted transfer resumes when run again; on a
// terminal they show a progress line.
//
// Exit codes: 0 done, 1 failed, 2 usage, 3 refused by the permission check.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "client/cli/cli.h"
#include "client/gateway/interactive_gateway.h"
#include "client/gateway/text_format.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "client/transfer/manual_transfer.h"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;

struct Parsed {
    std::vector<std::string> positional;
    LoginOptions login;
    bool today = false;
};

bool parse(const char* command, const std::vector<std::string>& arguments, std::size_t least, std::size_t most,
           Parsed& out) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (takeLoginOption(arguments, i, out.login)) continue;
        const std::string& a = arguments[i];
        if (a == "--today") {
            out.today = true;
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "vantrel-cli %s: unknown argument '%s'\n", command, a.c_str());
            return false;
        } else {
            out.positional.push_back(a);
        }
    }
    if (out.positional.size() < least || out.positional.size() > most) {
        std::fprintf(stderr, "vantrel-cli %s: wrong number of arguments\n", command);
        return false;
    }
    return true;
}

// The mailbox browser's check: 1 allowed; else the refusal is printed.
bool permitted(InteractiveGateway& gateway, const std::string& mailbox, const char* function, const char* refusal) {
    if (gateway.handle().CheckPermission(mailbox, function, kMailboxOrganisation) == 1) return true;
    std::fprintf(stderr, "%s\n", refusal);
    return false;
}

// A progress line on a terminal, at most a few times a second.
class TerminalProgress final : public TransferObserver {
public:
    TerminalProgress() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    ~TerminalProgress() override {
        if (terminal_ && shown_) std::fputc('\n', stderr);
    }
    void begins(const std::string&) override {}
    void progress(const TransferProgressRecord& r) override {
        if (!terminal_) return;
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && r.bytesDone < r.fileSize && now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        shown_ = true;
        std::fprintf(stderr, "\r%s %s/s %s ", r.statusLine.c_str(), r.speed.c_str(), r.remaining.c_str());
    }
    bool stopPressed() override { return false; }
    void resumed() override {}

private:
    const bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

ManualTransferEnvironment transferEnvironment(Environment& environment, TerminalProgress& progress) {
    ManualTransferEnvironment env;
    env.options.clock = &platform::RealClock::instance();
    Logs& logs = environment.logs();
    env.systemLog = [&logs](std::string_view line) { logs.writeSysLog(line); };
    env.observer = &progress;
    env.prompt = &environment.prompt();
    return env;
}

// "dir\\name" → "dir\\*.*" and "name".
std::pair<std::string, std::string> splitRemote(const std::string& remote) {
    const std::string base(remoteBaseName(remote));
    return {remote.substr(0, remote.size() - base.size()) + "*.*", base};
}

int ls(Environment& environment, const std::vector<std::string>& arguments) {
    Parsed p;
    if (!parse("ls", arguments, 1, 2, p)) return 2;
    InteractiveGateway gateway(environment.context());
    if (!logIn("ls", environment, p.login, gateway)) return 1;
    const std::string& mailbox = p.positional[0];
    if (!permitted(gateway, mailbox, "00", "该操作员无此信箱获取文件列表权限！")) return 3;
    std::string directory = p.positional.size() > 1 ? p.positional[1] : std::string();
    if (!directory.empty() && directory.back() != '\\') directory += '\\';
    VornFileService service(gateway.handle());
    std::vector<filesvc::ListEntry> entries;
    const int rc = p.today ? service.listToday(mailbox, directory + "*.*", entries)
                           : service.listFiles(mailbox, directory + "*.*", entries);
    if (rc < 0) {
        std::fprintf(stderr, "获取远程目录失败!(%s)\n", gateway.handle().LastError().c_str());
        return 1;
    }
    // Gateway texts are escaped: one entry per line, and no byte of a name steers the terminal.
    for (const auto& e : entries) {
        std::printf("%-4s %12lld %s %s %s\n", e.isDirectory() ? "DIR" : "", static_cast<long long>(e.size),
                    escapeControlCharacters(e.date).c_str(), escapeControlCharacters(e.time).c_str(),
                    escapeControlCharacters(e.name).c_str());
    }
    return 0;
}

int get(Environment& environment, const std::vector<std::string>& arguments) {
    Parsed p;
    if (!parse("get", arguments, 3, 3, p)) return 2;
    const std::string& mailbox = p.positional[0];
    const std::string& remote = p.positional[1];
    const fs::path localDir = p.positional[2];
    if (!fs::is_directory(localDir)) {
        std::fprintf(stderr, "本地目录不存在！\n");
        return 1;
    }
    InteractiveGateway gateway(environment.context());
    if (!logIn("get", environment, p.login, gateway)) return 1;
    if (!permitted(gateway, mailbox, "04", "该操作员无此信箱文件下载权限！")) return 3;
    // The size comes from the listing, as in the mailbox browser.
    const auto [pattern, name] = splitRemote(remote);
    VornFileService service(gateway.handle());
    std::vector<filesvc::ListEntry> entries;
    if (service.listFiles(mailbox, pattern, entries) < 0) {
        std::fprintf(stderr, "获取远程目录失败!(%s)\n", gateway.handle().LastError().c_str());
        return 1;
    }
    const filesvc::ListEntry* found = nullptr;
    for (const auto& e : entries) {
        if (e.name == name) found = &e;
    }
    if (!found || found->isDirectory()) {
        std::fprintf(stderr, "您选择的不是文件，请在远程目录中选择需要下载的文件!\n");
        return 1;
    }
    ManualTransferRequest request;
    request.mailbox = mailbox;
    request.remoteName = remote;
    request.localDirectory = localDir;
    request.fileSize = found->size;
    TerminalProgress progress;
    std::string error;
    const int rc = downloadFile(gateway.handle(), request, transferEnvironment(environment, progress), error);
    if (rc != 0) {
        std::fprintf(stderr, "下载失败[%d]: %s\n", rc, error.c_str());
        return 1;
    }
    return 0;
}

int put(Environment& environment, const std::vector<std::string>& arguments) {
    Parsed p;
    if (!parse("put", arguments, 2, 3, p)) return 2;
    const std::string& mailbox = p.positional[0];
    const fs::path local = p.positional[1];
    if (!fs::is_regular_file(local)) {
        std::fprintf(stderr, "您选择的不是文件，请在本地目录中选择需要上传的文件!\n");
        return 1;
    }
    InteractiveGateway gateway(environment.context());
    if (!logIn("put", environment, p.login, gateway)) return 1;
    if (!permitted(gateway, mailbox, "03", "该操作员无此信箱文件上传权限！")) return 3;
    ManualTransferRequest request;
    request.mailbox = mailbox;
    request.localFile = fs::absolute(local);
    request.remoteName = p.positional.size() > 2 ? p.positional[2] : local.filename().string();
    TerminalProgress progress;
    std::string error;
    const int rc = uploadFile(gateway.handle(), request, transferEnvironment(environment, progress), error);
    if (rc != 0) {
        std::fprintf(stderr, "上传失败[%d]: %s\n", rc, error.c_str());
        return 1;
    }
    return 0;
}

int simpleRequest(const char* command, Environment& environment, const std::vector<std::string>& arguments,
                  std::size_t count, std::string_view ftpType, const char* function, const char* refusal) {
    Parsed p;
    if (!parse(command, arguments, count, count, p)) return 2;
    InteractiveGateway gateway(environment.context());
    if (!logIn(command, environment, p.login, gateway)) return 1;
    const std::string& mailbox = p.positional[0];
    if (!permitted(gateway, mailbox, function, refusal)) return 3;
    VornFileService service(gateway.handle());
    const std::string name2 = count > 2 ? p.positional[2] : std::string();
    if (service.mailboxRequest(ftpType, name2, mailbox, p.positional[1]) != 0) {
        std::fprintf(stderr, "%s\n", gateway.handle().LastError().c_str());
        return 1;
    }
    return 0;
}

int rm(Environment& environment, const std::vector<std::string>& arguments) {
    return simpleRequest("rm", environment, arguments, 2, filesvc::kDelete, "01", "该操作员无此信箱文件删除权限！");
}

int mv(Environment& environment, const std::vector<std::string>& arguments) {
    return simpleRequest("mv", environment, arguments, 3, filesvc::kRename, "02", "该操作员无此信箱文件重命名权限！");
}

}  // namespace

std::vector<Command> mailboxCommands() {
    return {
        {"ls", "MAILBOX [DIR] [--today]", "list a mailbox directory", ls},
        {"get", "MAILBOX REMOTE LOCALDIR", "download a file (resumes an interrupted one)", get},
        {"put", "MAILBOX LOCALFILE [REMOTE]", "upload a file (resumes an interrupted one)", put},
        {"rm", "MAILBOX REMOTE", "delete a remote file", rm},
        {"mv", "MAILBOX OLD NEW", "rename a remote file", mv},
    };
}

}  // namespace vantrel::cli
