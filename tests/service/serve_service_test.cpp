// vantrel-cli serve watched as a service: what it tells a service manager (readiness, the
// heartbeat from the plan monitor's tick, stopping), what `status` and `status --check`
// say of it, and the low-disk alert.

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <netinet/in.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>

#include <httplib.h>

#include "client/service/serve_status.h"
#include "tests/execution/cli_serve_fixture.h"

namespace vantrel::testing {
namespace {

// The service manager's end of the notify protocol: a datagram socket the test binds.
class NotifySocket {
  public:
    explicit NotifySocket(const fs::path& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        EXPECT_LT(path.string().size(), sizeof address.sun_path);
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() { close(fd_); }

    // The next message within `limit`; empty when none came.
    std::string receive(std::chrono::milliseconds limit) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(limit.count())) != 1) return {};
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    // The first message holding `line` within `limit` (every message is kept in `seen`).
    std::string await(const std::string& line, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string message = receive(250ms);
            if (message.empty()) continue;
            seen.push_back(message);
            if (message.find(line) != std::string::npos) return message;
        }
        return {};
    }
    // How many messages holding `line` came within `span`.
    int count(const std::string& line, std::chrono::milliseconds span) {
        int n = 0;
        const auto deadline = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string message = receive(100ms);
            if (message.find(line) != std::string::npos) ++n;
        }
        return n;
    }
    std::vector<std::string> seen;
    const fs::path path_;

  private:
    int fd_ = -1;
};

// One sample of a scrape: its name, its labels as written, its value.
struct Sample {
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0;
};

// A strict reader of the text exposition format: every line is a HELP, a TYPE that comes
// before its family's samples, or a sample of a declared family; anything else fails.
std::vector<Sample> parseExposition(const std::string& text) {
    static const std::regex help(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) [^\n]*)");
    static const std::regex type(
        R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge|summary|histogram|untyped))");
    static const std::regex sample(
        R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{((?:[a-zA-Z_][a-zA-Z0-9_]*="(?:[^"\\\n]|\\[\\"n])*",?)*)\})? )"
        R"(([-+]?(?:[0-9]+(?:\.[0-9]*)?(?:[eE][-+]?[0-9]+)?|Inf|NaN)))");
    static const std::regex label(R"re(([a-zA-Z_][a-zA-Z0-9_]*)="((?:[^"\\]|\\.)*)")re");
    std::map<std::string, std::string> types;
    std::set<std::string> seenHelp;
    std::vector<Sample> samples;
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n') << "the last line ends with a line feed";
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        std::smatch m;
        if (std::regex_match(line, m, help)) {
            EXPECT_TRUE(seenHelp.insert(m[1]).second) << "HELP twice: " << line;
        } else if (std::regex_match(line, m, type)) {
            EXPECT_TRUE(types.emplace(m[1], m[2]).second) << "TYPE twice: " << line;
        } else if (std::regex_match(line, m, sample)) {
            Sample s;
            s.name = m[1];
            s.value = std::stod(m[4]);
            const std::string labels = m[3];
            for (auto it = std::sregex_iterator(labels.begin(), labels.end(), label);
                 it != std::sregex_iterator(); ++it)
                s.labels[(*it)[1]] = (*it)[2];
            std::string family = s.name;
            for (const char* suffix : {"_sum", "_count", "_bucket"}) {
                const std::string x = suffix;
                if (!types.count(family) && family.size() > x.size() &&
                    family.compare(family.size() - x.size(), x.size(), x) == 0)
                    family.resize(family.size() - x.size());
            }
            EXPECT_TRUE(types.count(family)) << "a sample before its TYPE: " << line;
            samples.push_back(std::move(s));
        } else {
            ADD_FAILURE() << "not a line of the text format: [" << line << "]";
        }
    }
    return samples;
}

// The value of the sample `name` whose labels include `labels`; -1 when none.
double valueOf(const std::vector<Sample>& samples, const std::string& name,
               const std::map<std::string, std::string>& labels = {}) {
    for (const Sample& s : samples) {
        if (s.name != name) continue;
        bool all = true;
        for (const auto& [k, v] : labels) all = all && s.labels.count(k) && s.labels.at(k) == v;
        if (all) return s.value;
    }
    return -1;
}

// A loopback port nobody listens on now.
int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class ServeService : public CliServe {
  protected:
    // A serve that a failed assertion left running ends with the test, not after it.
    void TearDown() override {
        if (serve_ > 0 && waitpid(serve_, nullptr, WNOHANG) == 0) {
            kill(serve_, SIGKILL);
            waitpid(serve_, nullptr, 0);
        }
        CliServe::TearDown();
    }
    pid_t watched(pid_t serve) {
        serve_ = serve;
        return serve;
    }

    // Waits (at most 60 s) for a snapshot that satisfies `wanted`.
    template <class Wanted>
    std::optional<service::ServeStatus> awaitStatus(Wanted wanted) {
        for (int i = 0; i < 600; ++i) {
            std::ifstream in(service::statusFilePath(installation), std::ios::binary);
            const std::string text(std::istreambuf_iterator<char>(in), {});
            if (auto status = service::fromJson(text); status && wanted(*status)) return status;
            std::this_thread::sleep_for(100ms);
        }
        return std::nullopt;
    }
    void appendClientIni(const std::string& lines) {
        std::ofstream(installation.clientIni(), std::ios::app) << lines;
    }

  private:
    pid_t serve_ = -1;
};

TEST_F(ServeService, underAServiceManagerServeIsReadyBeatsFromThePlanMonitorAndSaysItStops) {
    // setup: the manager's socket, the password as the manager's credential (the variable
    // holds a wrong one), and the test's hold on the plan monitor's tick
    NotifySocket manager(root.path() / "notify.sock");
    const fs::path hold = root.path() / "hold-tick";
    const fs::path credentials = root.path() / "credentials";
    fs::create_directories(credentials);
    std::ofstream(credentials / "vantrel-password") << "pass1234\n";
    CliProcess service{VANTREL_CLI, root.path(), runtime, "wrong"};
    service.setExtraEnvironment({"NOTIFY_SOCKET=" + manager.path_.string(),
                                 "VANTREL_TEST_HOLD_TICK=" + hold.string(),
                                 "CREDENTIALS_DIRECTORY=" + credentials.string()});

    // act: start serve
    const pid_t serve = watched(service.spawn({"serve"}));

    // verify: ready once logged in, with the one-line status, then a heartbeat per tick
    const std::string ready = manager.await("READY=1", 60s);
    ASSERT_FALSE(ready.empty()) << output();
    EXPECT_NE(ready.find("STATUS=1 个任务, 0 个正在运行"), std::string::npos) << ready;
    ASSERT_FALSE(manager.await("WATCHDOG=1", 30s).empty()) << output();

    // act: the plan monitor hangs
    std::ofstream(hold).flush();
    (void)manager.count("WATCHDOG=1", 1500ms);  // a tick already past the hold

    // verify: no heartbeat while it hangs, and the beat comes back once it runs again
    EXPECT_EQ(manager.count("WATCHDOG=1", 3500ms), 0);
    fs::remove(hold);
    EXPECT_FALSE(manager.await("WATCHDOG=1", 30s).empty());

    // act/verify: SIGTERM says stopping, and serve ends in order
    kill(serve, SIGTERM);
    EXPECT_FALSE(manager.await("STOPPING=1", 30s).empty());
    EXPECT_EQ(CliProcess::wait(serve, 60s), 0) << output();
}

TEST_F(ServeService, statusShowsADownloadsRateWhileItRunsAndTheDaysCountsAfterIt) {
    // setup: a file of several blocks, answered slowly enough to be seen moving
    const std::int64_t size = 8 * 1024 * 1024 + 99;
    const std::string bytes = putRemote("big.dat", static_cast<std::size_t>(size));
    gateway.faults().answerDelayMs = 300;

    // act: run the task under serve
    const pid_t serve = watched(serveAndRunTheTask());

    // verify: while it runs, the transfer with its bytes done and rate
    const auto moving = awaitStatus([](const service::ServeStatus& s) {
        return !s.transfers.empty() && s.transfers[0].bytesPerSecond > 0;
    });
    ASSERT_TRUE(moving) << output() << readLocal(service::statusFilePath(installation));
    EXPECT_EQ(moving->transfers[0].file, "FTP_A_QS\\big.dat");
    EXPECT_EQ(moving->transfers[0].fileSize, size);
    EXPECT_FALSE(moving->transfers[0].upload);
    const auto [shown, text] = cli.capture({"status"});
    EXPECT_EQ(shown, 0) << text;
    EXPECT_NE(text.find("下载 " + taskId + " FTP_A_QS\\big.dat "), std::string::npos) << text;
    EXPECT_NE(text.find("/s"), std::string::npos) << text;
    EXPECT_NE(text.find("登录: 已登录 网关 127.0.0.1:"), std::string::npos) << text;

    // verify: after it, the day's counts of the task, and a healthy check
    gateway.faults().answerDelayMs = 0;
    const auto done = awaitStatus([this](const service::ServeStatus& s) {
        return s.tasks.size() == 1 && s.tasks[0].lastResult == "成功" && s.transfers.empty();
    });
    ASSERT_TRUE(done) << output();
    EXPECT_EQ(done->tasks[0].id, taskId);
    EXPECT_EQ(done->tasks[0].kind, "download");
    EXPECT_EQ(done->tasks[0].filesToday, 1);
    EXPECT_EQ(done->tasks[0].bytesToday, size);
    EXPECT_EQ(done->businessDay, "20261208");
    EXPECT_EQ(done->pid, serve);
    const auto [json, jsonText] = cli.capture({"status", "--json"});
    EXPECT_EQ(json, 0);
    EXPECT_NE(jsonText.find("\"bytesToday\": " + std::to_string(size)), std::string::npos)
        << jsonText;
    const auto [healthy, line] = cli.capture({"status", "--check"});
    EXPECT_EQ(healthy, 0) << line;
    EXPECT_EQ(line, "VANTREL OK - 1 个任务, 0 个正在运行\n");

    // act/verify: once serve stopped, the check is critical
    stopServe(serve);
    const auto [stopped, why] = cli.capture({"status", "--check"});
    EXPECT_EQ(stopped, 2) << why;
    EXPECT_EQ(why, "VANTREL CRITICAL - serve 未运行\n");
    EXPECT_TRUE(readLocal(recv / "big.dat") == bytes);
}

TEST_F(ServeService, lowDiskUnderServeIsLoggedAlertedAndAWarningOfTheCheck) {
    // setup: a minimum no disk has, and an alert program that notes its arguments
    const fs::path noted = root.path() / "alert.txt";
    const fs::path program = root.path() / "alert.sh";
    std::ofstream(program) << "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$1\" \"$2\" \"$3\" >> '"
                           << noted.string() << "'\n";
    fs::permissions(program, fs::perms::owner_all);
    appendClientIni("[system]\nDiskSpace=2000000000\n[alert]\nCommand=" + program.string() + "\n");

    // act: serve starts and checks its disks
    const pid_t serve = watched(cli.spawn({"serve"}));
    const auto low = awaitStatus(
        [](const service::ServeStatus& s) { return !s.disks.empty() && s.disks[0].low; });
    ASSERT_TRUE(low) << output();
    for (int i = 0; i < 400 && !fs::exists(noted); ++i) std::this_thread::sleep_for(25ms);

    // verify: the root and the task's target are both low, each alerted once with "disk"
    ASSERT_EQ(low->disks.size(), 2u);
    EXPECT_EQ(low->disks[0].path, installation.root().string());
    EXPECT_EQ(low->disks[1].taskId, taskId);
    const auto [code, line] = cli.capture({"status", "--check"});
    EXPECT_EQ(code, 1) << line;
    EXPECT_EQ(line.rfind("VANTREL WARNING - 磁盘[" + installation.root().string() + "]空间不足", 0),
              0u)
        << line;
    stopServe(serve);
    const std::string alerts = readLocal(noted);
    EXPECT_NE(alerts.find("|disk|您的磁盘[" + installation.root().string() + "]空间:"),
              std::string::npos)
        << alerts;
    EXPECT_NE(alerts.find(taskId + "|disk|您的磁盘[" + recv.string() + "]"), std::string::npos)
        << alerts;
    EXPECT_NE(sysLog().find("已经少于系统所需最小值:2000000000 M"), std::string::npos);
}

TEST_F(ServeService, metricsAfterADownloadAndAnUploadShowTheCountersMovedInTheTextFormat) {
    // setup: metrics on, a file to fetch and a ready file to send
    const int port = freePort();
    appendClientIni("[serve]\nMetricsPort=" + std::to_string(port) + "\n");
    const std::string fetched = putRemote("in.dat", 300000);
    const fs::path send = root.path() / "send";
    const fs::path sent = root.path() / "sent";
    fs::create_directories(send);
    const std::string uploadId = "20261208090000-00043";
    addUploadTask(uploadId, send, sent);
    std::ofstream(send / "out.dat", std::ios::binary) << std::string(200000, 'u');
    std::ofstream(send / "out.dat.rdy").flush();

    // act: both tasks run under serve, then the test scrapes
    const pid_t serve = watched(serveAndRunTheTask());
    ASSERT_EQ(cli.run({"tasks", "run", uploadId}), 0) << output();
    const auto done = awaitStatus([&](const service::ServeStatus& s) {
        int succeeded = 0;
        for (const auto& t : s.tasks) succeeded += t.lastResult == "成功" && t.filesToday == 1;
        return succeeded == 2;
    });
    ASSERT_TRUE(done) << output();
    httplib::Client client("127.0.0.1", port);
    const httplib::Result scrape = client.Get("/metrics");
    ASSERT_TRUE(scrape) << output();
    const httplib::Result other = client.Get("/");
    stopServe(serve);

    // verify: a strict parse, and the counters of both directions moved
    EXPECT_EQ(scrape->status, 200);
    EXPECT_EQ(scrape->get_header_value("Content-Type").rfind("text/plain; version=0.0.4", 0), 0u);
    const std::vector<Sample> samples = parseExposition(scrape->body);
    EXPECT_EQ(valueOf(samples, "vantrel_files_total",
                      {{"task", taskId}, {"mailbox", "FTP_A_QS"}, {"direction", "received"}}),
              1);
    EXPECT_EQ(
        valueOf(samples, "vantrel_bytes_total", {{"task", taskId}, {"direction", "received"}}),
        300000);
    EXPECT_EQ(valueOf(samples, "vantrel_files_total", {{"task", uploadId}, {"direction", "sent"}}),
              1);
    EXPECT_EQ(valueOf(samples, "vantrel_bytes_total", {{"task", uploadId}, {"direction", "sent"}}),
              200000);
    EXPECT_GE(valueOf(samples, "vantrel_runs_total", {{"kind", "download"}, {"result", "成功"}}),
              1);
    EXPECT_GE(valueOf(samples, "vantrel_runs_total", {{"kind", "upload"}, {"result", "成功"}}), 1);
    EXPECT_GE(valueOf(samples, "vantrel_run_duration_seconds_count", {{"kind", "upload"}}), 1);
    EXPECT_GE(valueOf(samples, "vantrel_logins_total"), 2);
    EXPECT_EQ(valueOf(samples, "vantrel_login_failures_total"), 0);
    EXPECT_GT(valueOf(samples, "vantrel_disk_free_bytes", {{"task", ""}}), 0);
    EXPECT_GT(valueOf(samples, "vantrel_thread_manager_last_tick_seconds"), 0);
    EXPECT_EQ(valueOf(samples, "vantrel_build_info", {{"version", VANTREL_VERSION}}), 1);
    EXPECT_EQ(scrape->body.find("pass1234"), std::string::npos);
    // nothing else is served
    ASSERT_TRUE(other);
    EXPECT_EQ(other->status, 404);
    EXPECT_TRUE(readLocal(recv / "in.dat") == fetched);
}

// The check of snapshots serve could have left: stale, a gateway that has refused every
// login for too long, a task whose last run failed, unreadable.
TEST_F(ServeService,
       theCheckIsCriticalForAStaleSnapshotOrALostGatewayWarnsOfAFailedRunAndIsUnknownForGarbage) {
    fs::create_directories(installation.data());
    const fs::path file = service::statusFilePath(installation);
    const std::int64_t now = service::epochSeconds(std::chrono::system_clock::now());
    service::ServeStatus s;
    s.pid = getpid();  // a process that runs

    s.writtenEpoch = now - 45;
    std::ofstream(file) << service::toJson(s);
    auto [stale, staleLine] = cli.capture({"status", "--check"});
    EXPECT_EQ(stale, 2) << staleLine;
    EXPECT_NE(staleLine.find("VANTREL CRITICAL - 状态已 "), std::string::npos) << staleLine;

    s.writtenEpoch = now;
    s.unreachableSinceEpoch = now - 200;
    std::ofstream(file) << service::toJson(s);
    auto [lost, lostLine] = cli.capture({"status", "--check", "--gateway-timeout", "120"});
    EXPECT_EQ(lost, 2) << lostLine;
    EXPECT_EQ(lostLine, "VANTREL CRITICAL - 网关已 200 秒无法登录\n");
    auto [patient, patientLine] = cli.capture({"status", "--check"});
    EXPECT_EQ(patient, 0) << patientLine;

    s.unreachableSinceEpoch = 0;
    service::TaskStatus failed;
    failed.id = taskId;
    failed.description = "每日";
    failed.lastResult = "失败";
    s.tasks = {failed};
    std::ofstream(file) << service::toJson(s);
    auto [warned, warnedLine] = cli.capture({"status", "--check"});
    EXPECT_EQ(warned, 1) << warnedLine;
    EXPECT_EQ(warnedLine, "VANTREL WARNING - 1 个任务上次运行失败: " + taskId + " 每日\n");

    std::ofstream(file) << "{\"pid\": \"not a number\"";
    auto [garbage, garbageLine] = cli.capture({"status", "--check"});
    EXPECT_EQ(garbage, 3) << garbageLine;
    EXPECT_EQ(garbageLine, "VANTREL UNKNOWN - 状态文件无法读取\n");
}

}  // namespace
}  // namespace vantrel::testing
