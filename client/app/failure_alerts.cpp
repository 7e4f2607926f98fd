#include "client/app/failure_alerts.h"

#include "client/base/logs.h"
#include "platform/child_process.h"
#include "platform/ini_file.h"

namespace vantrel {

FailureAlerts::FailureAlerts(Installation installation, Notifier& inner, Logs* logs,
                             std::chrono::milliseconds limit)
    : installation_(std::move(installation)),
      inner_(inner),
      logs_(logs),
      limit_(limit),
      thread_([this] { loop(); }) {}

FailureAlerts::~FailureAlerts() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        pending_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void FailureAlerts::post(const NotifierEvent& event) {
    take(event);
    inner_.post(event);
}

void FailureAlerts::send(const NotifierEvent& event) {
    take(event);
    inner_.send(event);
}

void FailureAlerts::take(const NotifierEvent& event) {
    const auto* failed = std::get_if<TaskFailed>(&event);
    if (failed == nullptr) return;
    queue({failed->taskId, taskKindName(failed->kind), failed->reason});
}

void FailureAlerts::raise(std::string subject, std::string kind, std::string reason) {
    queue({std::move(subject), std::move(kind), std::move(reason)});
}

void FailureAlerts::queue(Alert alert) {
    {
        std::lock_guard lock(mutex_);
        if (closing_) return;
        pending_.push_back(std::move(alert));
    }
    wake_.notify_one();
}

void FailureAlerts::loop() {
    for (;;) {
        Alert alert;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return closing_ || !pending_.empty(); });
            if (closing_) return;
            alert = std::move(pending_.front());
            pending_.pop_front();
        }
        run(alert);
    }
}

void FailureAlerts::run(const Alert& alert) {
    // Read at every alert, so an edited Client.ini counts without a restart.
    const std::string command =
        platform::IniFile(installation_.clientIni()).getString("alert", "Command", "");
    if (command.empty()) return;
    platform::ChildOptions options;
    options.program = command;
    options.arguments = {alert.subject, alert.kind, alert.reason};
    options.quiet = true;
    options.noTerminal = true;
    Result<int> exit = platform::runAndWait(options, limit_);
    std::string failure;
    if (!exit) {
        failure = exit.status().text();
    } else if (*exit != 0) {
        failure = "退出码" + std::to_string(*exit);
    }
    if (!failure.empty() && logs_) {
        (void)logs_->writeSysLog("任务[" + alert.subject + "]失败告警程序[" + command +
                                 "]执行失败：" + failure);
    }
}

}  // namespace vantrel
