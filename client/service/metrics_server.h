#pragma once
// MetricsServer: GET /metrics over HTTP for a Prometheus scraper, on its own thread.
// Nothing else is served: any other path or method is refused. Off unless Client.ini
// [serve] MetricsPort is set; it listens on 127.0.0.1 unless [serve] MetricsAddress names
// another address.
//
// Thread: start and stop on serve's main thread; `render` on the listener's threads.

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "client/base/installation.h"
#include "platform/status.h"

namespace httplib {
class Server;
}

namespace vantrel::service {

struct MetricsSettings {
    int port = 0;  // 0: off
    std::string address = "127.0.0.1";
};
// [serve] MetricsPort and MetricsAddress of Client.ini.
MetricsSettings metricsSettingsFor(const Installation& installation);

class MetricsServer {
  public:
    explicit MetricsServer(std::function<std::string()> render);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Binds and starts listening; an error text when the address cannot be bound.
    Status start(const MetricsSettings& settings);
    void stop();

  private:
    std::function<std::string()> render_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace vantrel::service
