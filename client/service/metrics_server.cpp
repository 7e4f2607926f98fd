#include "client/service/metrics_server.h"

#include <httplib.h>

#include "client/config/config.h"

namespace vantrel::service {

MetricsSettings metricsSettingsFor(const Installation& installation) {
    const CConfig config(installation);
    MetricsSettings settings;
    settings.port = config.readMetricsPort();
    const std::string address = config.readMetricsAddress();
    if (!address.empty()) settings.address = address;
    return settings;
}

MetricsServer::MetricsServer(std::function<std::string()> render) : render_(std::move(render)) {}

MetricsServer::~MetricsServer() {
    stop();
}

Status MetricsServer::start(const MetricsSettings& settings) {
    server_ = std::make_unique<httplib::Server>();
    server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        response.set_content(render_(), "text/plain; version=0.0.4; charset=utf-8");
    });
    // A scraper is one client asking once in a while: few threads, short waits.
    server_->new_task_queue = [] { return new httplib::ThreadPool(2); };
    server_->set_read_timeout(5, 0);
    server_->set_write_timeout(5, 0);
    if (!server_->bind_to_port(settings.address, settings.port)) {
        server_.reset();
        return Status::error(ErrorKind::IoError, "指标服务不能监听地址[" + settings.address + ":" +
                                                     std::to_string(settings.port) + "]");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return Status::ok();
}

void MetricsServer::stop() {
    if (!server_) return;
    server_->stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
}

}  // namespace vantrel::service
