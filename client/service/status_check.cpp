#include "client/service/status_check.h"

#include "client/execution/tasks/task_model.h"

namespace vantrel::service {
namespace {

CheckOutcome outcome(CheckOutcome::Code code, const std::string& text) {
    static const char* const kWords[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    return {code, std::string("VANTREL ") + kWords[code] + " - " + text};
}

}  // namespace

CheckOutcome evaluateCheck(const SnapshotRead& snapshot, bool serveRunning, std::int64_t nowEpoch,
                           const CheckLimits& limits) {
    if (snapshot.present && !snapshot.status)
        return outcome(CheckOutcome::Unknown, "状态文件无法读取");
    if (!snapshot.status || !serveRunning) return outcome(CheckOutcome::Critical, "serve 未运行");
    const ServeStatus& s = *snapshot.status;
    const std::int64_t age = nowEpoch - s.writtenEpoch;
    if (age > limits.staleSeconds)
        return outcome(CheckOutcome::Critical, "状态已 " + std::to_string(age) + " 秒未更新 (pid " +
                                                   std::to_string(s.pid) + ")");
    if (s.lastTickEpoch > 0 && s.writtenEpoch - s.lastTickEpoch > limits.staleSeconds)
        return outcome(
            CheckOutcome::Critical,
            "计划监控线程已 " + std::to_string(s.writtenEpoch - s.lastTickEpoch) + " 秒无响应");
    if (s.unreachableSinceEpoch > 0 &&
        s.writtenEpoch - s.unreachableSinceEpoch > limits.gatewaySeconds)
        return outcome(
            CheckOutcome::Critical,
            "网关已 " + std::to_string(s.writtenEpoch - s.unreachableSinceEpoch) + " 秒无法登录");
    for (const DiskStatus& d : s.disks)
        if (d.low)
            return outcome(CheckOutcome::Warning, "磁盘[" + d.path + "]空间不足: " +
                                                      std::to_string(d.freeMegabytes) + " M");
    int failed = 0;
    std::string firstFailed;
    for (const TaskStatus& t : s.tasks) {
        if (t.lastResult != "失败") continue;
        if (failed++ == 0) firstFailed = t.id + " " + t.description;
    }
    if (failed > 0)
        return outcome(CheckOutcome::Warning,
                       std::to_string(failed) + " 个任务上次运行失败: " + firstFailed);
    int running = 0;
    for (const TaskStatus& t : s.tasks)
        if (t.phase != RunPhaseName(RunPhase::Idle)) ++running;
    return outcome(CheckOutcome::Ok, std::to_string(s.tasks.size()) + " 个任务, " +
                                         std::to_string(running) + " 个正在运行");
}

}  // namespace vantrel::service
