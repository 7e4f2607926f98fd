// vantrel-cli status [--json | --check [--gateway-timeout SECONDS]]: what the running serve
// wrote of itself into data/serve-status.json, read without a socket, so any user who may
// read the root's data/ can ask. --check answers as a monitoring plugin (exit 0 OK,
// 1 WARNING, 2 CRITICAL, 3 UNKNOWN, one line).

#include <cstdio>
#include <string>

#include "client/cli/cli.h"
#include "client/service/serve_status.h"
#include "client/service/status_check.h"
#include "platform/files.h"
#include "platform/signals.h"

namespace vantrel::cli {
namespace {

using service::ServeStatus;

service::SnapshotRead readSnapshot(const Installation& installation, std::string& raw) {
    service::SnapshotRead read;
    Result<std::string> text = platform::readFile(service::statusFilePath(installation));
    if (!text) return read;
    read.present = true;
    raw = text.value();
    read.status = service::fromJson(raw);
    return read;
}

std::string rate(std::int64_t bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB/s",
                      static_cast<double>(bytesPerSecond) / 1048576);
    } else {
        std::snprintf(text, sizeof text, "%.1f KB/s", static_cast<double>(bytesPerSecond) / 1024);
    }
    return text;
}

void printStatus(const ServeStatus& s, bool running) {
    std::printf("serve: %s pid %d, 启动于 %s, 版本 %s (状态写于 %s)\n",
                running ? "运行中" : "未运行", s.pid, s.startedAt.c_str(), s.version.c_str(),
                s.writtenAt.c_str());
    std::printf("登录: %s 网关 %s 业务日期 %s\n", s.loggedIn ? "已登录" : "未登录",
                s.gateway.empty() ? "-" : s.gateway.c_str(),
                s.businessDay.empty() ? "-" : s.businessDay.c_str());
    std::printf("计划监控: 上次运行 %s\n", s.lastTick.empty() ? "-" : s.lastTick.c_str());
    std::printf("实时回报服务: %s 报告 %d 个, 等待 %d 个\n", s.realtime.running ? "运行" : "停止",
                s.realtime.reports, s.realtime.pending);
    std::printf("任务 (%zu):\n", s.tasks.size());
    for (const service::TaskStatus& t : s.tasks) {
        std::printf("  %s %s %s [%s] %s\n", t.kind.c_str(), t.id.c_str(), t.description.c_str(),
                    t.mailbox.c_str(), t.phase.c_str());
        const std::string last = t.lastRunTime.empty()
                                     ? "-"
                                     : t.lastRunTime + " " + t.lastResult + " " + t.lastDescription;
        std::printf("    下次运行 %s; 上次 %s\n", t.nextRun.empty() ? "-" : t.nextRun.c_str(),
                    last.c_str());
        std::printf("    文件 %d/%d; 今日 %d 个文件 %lld 字节\n", t.filesDone, t.files,
                    t.filesToday, static_cast<long long>(t.bytesToday));
    }
    std::printf("传输 (%zu):\n", s.transfers.size());
    for (const service::TransferStatus& t : s.transfers) {
        std::printf("  %s %s %s %lld/%lld 字节 %s\n", t.upload ? "上传" : "下载", t.taskId.c_str(),
                    t.file.c_str(), static_cast<long long>(t.bytesDone),
                    static_cast<long long>(t.fileSize), rate(t.bytesPerSecond).c_str());
    }
    std::printf("磁盘 (最小 %d M):\n", s.minimumFreeMegabytes);
    for (const service::DiskStatus& d : s.disks)
        std::printf("  %s %lld M%s\n", d.path.c_str(), static_cast<long long>(d.freeMegabytes),
                    d.low ? " 空间不足" : "");
    std::printf("最近失败 (%zu):\n", s.failures.size());
    for (const service::FailureRecord& f : s.failures)
        std::printf("  %s %s %s %s\n", f.time.c_str(), f.kind.c_str(), f.taskId.c_str(),
                    f.reason.c_str());
}

int status(Environment& environment, const std::vector<std::string>& arguments) {
    bool json = false;
    bool check = false;
    service::CheckLimits limits;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--json") {
            json = true;
        } else if (arguments[i] == "--check") {
            check = true;
        } else if (arguments[i] == "--gateway-timeout" && i + 1 < arguments.size()) {
            limits.gatewaySeconds = std::atoll(arguments[++i].c_str());
        } else {
            std::fprintf(stderr, "vantrel-cli status: unknown argument '%s'\n",
                         arguments[i].c_str());
            return check ? service::CheckOutcome::Unknown : 2;
        }
    }
    std::string raw;
    const service::SnapshotRead read = readSnapshot(environment.installation(), raw);
    const bool running = read.status && platform::processRuns(read.status->pid);
    if (check) {
        const platform::WallTime now = environment.context().clock->now();
        const service::CheckOutcome outcome =
            service::evaluateCheck(read, running, service::epochSeconds(now), limits);
        std::printf("%s\n", outcome.text.c_str());
        return outcome.code;
    }
    if (!read.status) {
        std::fprintf(stderr, "vantrel-cli status: %s\n",
                     read.present ? "状态文件无法读取" : "serve 未运行 (没有状态文件)");
        return 1;
    }
    if (json) {
        std::fputs(raw.c_str(), stdout);
    } else {
        printStatus(*read.status, running);
    }
    return running ? 0 : 1;
}

}  // namespace

std::vector<Command> statusCommands() {
    return {{"status", "[--json | --check [--gateway-timeout SECONDS]]",
             "what the running serve is doing (its snapshot in data/); --check answers as a "
             "monitoring plugin: 0 OK, 1 warning, 2 critical, 3 unknown",
             status}};
}

}  // namespace vantrel::cli
