// vantrel-cli ls  MAILBOX [DIR] [--today]
// vantrel-cli get MAILBOX REMOTE LOCALDIR
// vantrel-cli put MAILBOX LOCALFILE [REMOTE]
// vantrel-cli rm  MAILBOX REMOTE
// vantrel-cli mv  MAILBOX OLD NEW
// (each also takes --operator CODE and --password-file FILE)
// The mailbox browser's operations by hand, through the core's MailboxSession and
// MailboxOperations on one handle. Every one is first checked against the operator's
// permissions for the mailbox. get and put keep their progress in the same block state files
// as the task runs, so an interrupted transfer resumes when run again; on a terminal they
// show a progress line.
//
// Exit codes: 0 done, 1 failed, 2 usage, 3 refused by the permission check.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "client/cli/cli.h"
#include "client/execution/session/mailbox_session.h"
#include "client/gateway/interactive_gateway.h"
#include "client/gateway/text_format.h"

namespace vantrel::cli {
namespace {

namespace fs = std::filesystem;

struct Parsed {
    std::vector<std::string> positional;
    LoginOptions login;
    bool today = false;
};

bool parse(const char* command, const std::vector<std::string>& arguments, std::size_t least,
           std::size_t most, Parsed& out) {
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

// One command's session and operations on one interactive handle; files move on the
// session's handle, as the command does nothing else meanwhile.
struct Mailbox {
    explicit Mailbox(Environment& environment)
        : gateway(environment.context()),
          session(gateway),
          operations(session, environment.context(), gateway.process(),
                     MailboxOperations::TransferHandle::Session) {}

    InteractiveGateway gateway;
    MailboxSession session;
    MailboxOperations operations;
};

// The mailbox browser's check: true when allowed; else the refusal is printed.
bool permitted(Mailbox& box, const std::string& mailbox, MailboxFunction function) {
    if (box.session.permits(mailbox, function)) return true;
    std::fprintf(stderr, "%s\n", mailboxRefusal(function));
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
        if (shown_ && r.bytesDone < r.fileSize && now - last_ < std::chrono::milliseconds(200))
            return;
        last_ = now;
        shown_ = true;
        std::fprintf(stderr, "\r%s %s/s %s ", r.statusLine.c_str(), r.speed.c_str(),
                     r.remaining.c_str());
    }
    bool stopPressed() override { return false; }
    void resumed() override {}

  private:
    const bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

int ls(Environment& environment, const std::vector<std::string>& arguments) {
    Parsed p;
    if (!parse("ls", arguments, 1, 2, p)) return 2;
    Mailbox box(environment);
    if (!logIn("ls", environment, p.login, box.session)) return 1;
    const std::string& mailbox = p.positional[0];
    if (!permitted(box, mailbox, MailboxFunction::List)) return 3;
    const std::string directory = p.positional.size() > 1 ? p.positional[1] : std::string();
    std::vector<filesvc::ListEntry> entries;
    std::string error;
    if (box.operations.list(mailbox, directory, entries, error, p.today) != GatewayOutcome::Ok) {
        std::fprintf(stderr, "获取远程目录失败!(%s)\n", error.c_str());
        return 1;
    }
    // Gateway texts are escaped: one entry per line, and no byte of a name steers the terminal.
    for (const auto& e : entries) {
        std::printf("%-4s %12lld %s %s %s\n", e.isDirectory() ? "DIR" : "",
                    static_cast<long long>(e.size), escapeControlCharacters(e.date).c_str(),
                    escapeControlCharacters(e.time).c_str(),
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
    Mailbox box(environment);
    if (!logIn("get", environment, p.login, box.session)) return 1;
    if (!permitted(box, mailbox, MailboxFunction::Download)) return 3;
    // The size comes from the listing, as in the mailbox browser.
    std::optional<filesvc::ListEntry> found;
    std::string error;
    if (box.operations.findFile(mailbox, remote, found, error) != GatewayOutcome::Ok) {
        std::fprintf(stderr, "获取远程目录失败!(%s)\n", error.c_str());
        return 1;
    }
    if (!found) {
        std::fprintf(stderr, "您选择的不是文件，请在远程目录中选择需要下载的文件!\n");
        return 1;
    }
    MailboxTransferItem item;
    item.mailbox = mailbox;
    item.remoteDirectory = remote.substr(0, remote.size() - found->name.size());
    item.remoteName = found->name;
    item.localDirectory = localDir;
    item.size = static_cast<std::uint64_t>(std::max<std::int64_t>(found->size, 0));
    TerminalProgress progress;
    const TransferOutcome outcome = box.operations.download(item, progress);
    if (outcome.outcome != GatewayOutcome::Ok) {
        std::fprintf(stderr, "下载失败[%d]: %s\n", resultCode(outcome.outcome),
                     outcome.text.c_str());
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
    Mailbox box(environment);
    if (!logIn("put", environment, p.login, box.session)) return 1;
    if (!permitted(box, mailbox, MailboxFunction::Upload)) return 3;
    const fs::path source = fs::absolute(local);
    MailboxTransferItem item;
    item.mailbox = mailbox;
    item.remoteName = p.positional.size() > 2 ? p.positional[2] : local.filename().string();
    item.localDirectory = source.parent_path();
    item.localName = source.filename().string();
    TerminalProgress progress;
    const TransferOutcome outcome = box.operations.upload(item, progress);
    if (outcome.outcome != GatewayOutcome::Ok) {
        std::fprintf(stderr, "上传失败[%d]: %s\n", resultCode(outcome.outcome),
                     outcome.text.c_str());
        return 1;
    }
    return 0;
}

// rm (two arguments) and mv (three).
int simpleRequest(const char* command, Environment& environment,
                  const std::vector<std::string>& arguments, MailboxFunction function) {
    const std::size_t count = function == MailboxFunction::Rename ? 3 : 2;
    Parsed p;
    if (!parse(command, arguments, count, count, p)) return 2;
    Mailbox box(environment);
    if (!logIn(command, environment, p.login, box.session)) return 1;
    const std::string& mailbox = p.positional[0];
    if (!permitted(box, mailbox, function)) return 3;
    std::string error;
    const GatewayOutcome outcome =
        function == MailboxFunction::Rename
            ? box.operations.rename(mailbox, p.positional[1], p.positional[2], error)
            : box.operations.remove(mailbox, p.positional[1], error);
    if (outcome != GatewayOutcome::Ok) {
        std::fprintf(stderr, "%s\n", box.session.lastError().c_str());
        return 1;
    }
    return 0;
}

int rm(Environment& environment, const std::vector<std::string>& arguments) {
    return simpleRequest("rm", environment, arguments, MailboxFunction::Delete);
}

int mv(Environment& environment, const std::vector<std::string>& arguments) {
    return simpleRequest("mv", environment, arguments, MailboxFunction::Rename);
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
