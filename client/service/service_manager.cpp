#include "client/service/service_manager.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace vantrel::service {

bool ServiceManagerLink::listening() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket && *socket;
}

void ServiceManagerLink::send(const std::string& state) const {
    if (!listening()) return;
    // A manager that went away must never stop the service: the result is not needed.
    (void)sd_notify(0, state.c_str());
}

void ServiceManagerLink::ready(const std::string& status) const {
    send("READY=1\nSTATUS=" + status);
}

void ServiceManagerLink::status(const std::string& status) const {
    send("STATUS=" + status);
}

void ServiceManagerLink::heartbeat() const {
    send("WATCHDOG=1");
}

void ServiceManagerLink::stopping() const {
    send("STOPPING=1\nSTATUS=正在停止");
}

void ServiceManagerLink::stoppingForUpdate() const {
    send("STOPPING=1\nSTATUS=正在安装升级\nEXTEND_TIMEOUT_USEC=1800000000");
}

std::string statusLine(int tasks, int running, const std::string& lastFailure) {
    std::string line =
        std::to_string(tasks) + " 个任务, " + std::to_string(running) + " 个正在运行";
    if (!lastFailure.empty()) {
        // One line: the service manager shows it as it stands.
        std::string oneLine = lastFailure;
        for (char& c : oneLine)
            if (c == '\n' || c == '\r') c = ' ';
        line += ", 上次失败: " + oneLine;
    }
    return line;
}

}  // namespace vantrel::service
