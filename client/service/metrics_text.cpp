#include "client/service/metrics_text.h"

#include <cstdio>

namespace vantrel::service {
namespace {

// A label value as the format quotes it.
std::string escaped(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

class Exposition {
  public:
    void family(const char* name, const char* type, const char* help) {
        text_ += std::string("# HELP ") + name + " " + help + "\n";
        text_ += std::string("# TYPE ") + name + " " + type + "\n";
    }
    void sample(const std::string& name, const std::string& labels, double value) {
        char number[64];
        std::snprintf(number, sizeof number, "%.17g", value);
        text_ += name;
        if (!labels.empty()) text_ += "{" + labels + "}";
        text_ += " ";
        text_ += number;
        text_ += "\n";
    }
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

std::string label(const char* name, const std::string& value) {
    return std::string(name) + "=\"" + escaped(value) + "\"";
}

void addTransfers(Exposition& x, const MetricsInputs& in) {
    std::map<std::string, std::string> mailboxOf;
    for (const TaskStatus& t : in.status.tasks) mailboxOf[t.id] = t.mailbox;
    x.family("vantrel_files_total", "counter", "Files received or sent whole since serve started.");
    for (const auto& [key, totals] : in.transfers)
        x.sample("vantrel_files_total",
                 label("task", key.first) + "," + label("mailbox", mailboxOf[key.first]) + "," +
                     label("direction", key.second ? "sent" : "received"),
                 static_cast<double>(totals.files));
    x.family("vantrel_bytes_total", "counter", "Bytes of the files received or sent whole.");
    for (const auto& [key, totals] : in.transfers)
        x.sample("vantrel_bytes_total",
                 label("task", key.first) + "," + label("mailbox", mailboxOf[key.first]) + "," +
                     label("direction", key.second ? "sent" : "received"),
                 static_cast<double>(totals.bytes));
    x.family("vantrel_resumed_files_total", "counter",
             "Files finished from the block state of an earlier run.");
    for (const auto& [key, totals] : in.transfers)
        x.sample(
            "vantrel_resumed_files_total",
            label("task", key.first) + "," + label("direction", key.second ? "sent" : "received"),
            static_cast<double>(totals.resumed));
}

void addRuns(Exposition& x, const MetricsInputs& in) {
    x.family("vantrel_runs_total", "counter", "Task runs that ended, by kind and result.");
    for (const auto& [key, totals] : in.events.runs)
        x.sample("vantrel_runs_total", label("kind", key.first) + "," + label("result", key.second),
                 static_cast<double>(totals.count));
    x.family("vantrel_run_duration_seconds", "summary", "How long the task runs took.");
    for (const auto& [key, totals] : in.events.runs) {
        const std::string labels = label("kind", key.first) + "," + label("result", key.second);
        x.sample("vantrel_run_duration_seconds_sum", labels, totals.seconds);
        x.sample("vantrel_run_duration_seconds_count", labels, static_cast<double>(totals.count));
    }
    x.family("vantrel_file_retries_total", "counter", "Failed attempts at a file, retried.");
    x.sample("vantrel_file_retries_total", "", static_cast<double>(in.events.retries));
}

void addGateway(Exposition& x, const MetricsInputs& in) {
    x.family("vantrel_logins_total", "counter", "Successful gateway logins.");
    x.sample("vantrel_logins_total", "", static_cast<double>(in.logins));
    x.family("vantrel_login_failures_total", "counter", "Gateway logins that failed.");
    x.sample("vantrel_login_failures_total", "", static_cast<double>(in.loginFailures));
    x.family("vantrel_gateway_failovers_total", "counter",
             "Logins that succeeded only on a later gateway.");
    x.sample("vantrel_gateway_failovers_total", "", static_cast<double>(in.failovers));
    x.family("vantrel_gateway_logged_in", "gauge", "1 while the client is logged in.");
    x.sample("vantrel_gateway_logged_in", "", in.status.loggedIn ? 1 : 0);
    x.family("vantrel_realtime_reports_fetched_total", "counter", "Real-time reports fetched.");
    x.sample("vantrel_realtime_reports_fetched_total", "",
             static_cast<double>(in.events.realtimeReports));
}

void addProcess(Exposition& x, const MetricsInputs& in) {
    x.family("vantrel_disk_free_bytes", "gauge",
             "Free space of the installation root and of each task's target.");
    for (const DiskStatus& d : in.status.disks) {
        if (d.freeMegabytes < 0) continue;
        x.sample("vantrel_disk_free_bytes", label("path", d.path) + "," + label("task", d.taskId),
                 static_cast<double>(d.freeMegabytes) * 1024 * 1024);
    }
    x.family("vantrel_thread_manager_last_tick_seconds", "gauge",
             "When the plan monitor last ticked, in seconds since 1970.");
    x.sample("vantrel_thread_manager_last_tick_seconds", "",
             static_cast<double>(in.status.lastTickEpoch));
    x.family("vantrel_start_time_seconds", "gauge", "When serve started, in seconds since 1970.");
    x.sample("vantrel_start_time_seconds", "", static_cast<double>(in.status.startedEpoch));
    x.family("vantrel_build_info", "gauge", "The program's version.");
    x.sample("vantrel_build_info", label("version", in.status.version), 1);
}

}  // namespace

std::string renderMetrics(const MetricsInputs& in) {
    Exposition x;
    addTransfers(x, in);
    addRuns(x, in);
    addGateway(x, in);
    addProcess(x, in);
    return x.text();
}

}  // namespace vantrel::service
