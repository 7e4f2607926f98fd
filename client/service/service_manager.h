#pragma once
// ServiceManagerLink: what serve tells the service manager that started it (systemd's
// notify protocol): ready, a one-line status, the watchdog heartbeat, stopping. Without
// NOTIFY_SOCKET in the environment every call does nothing.
//
// Thread: any; each call is one datagram.

#include <string>

namespace vantrel::service {

class ServiceManagerLink {
  public:
    // Whether a service manager listens (NOTIFY_SOCKET is set).
    static bool listening();

    void ready(const std::string& status) const;
    void status(const std::string& status) const;
    void heartbeat() const;
    void stopping() const;
    // Stopping to install an update: the updater may take longer than the unit's stop
    // time-out, so that is extended to half an hour.
    void stoppingForUpdate() const;

  private:
    void send(const std::string& state) const;
};

// The status line of `systemctl status`: "3 个任务, 1 个正在运行, 上次失败: …" (the last
// part only after a failure).
std::string statusLine(int tasks, int running, const std::string& lastFailure);

}  // namespace vantrel::service
