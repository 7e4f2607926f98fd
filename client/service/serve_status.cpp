#include "client/service/serve_status.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "platform/files.h"

namespace vantrel::service {
namespace {

using nlohmann::json;

// Reads what is there: a field a newer or older serve did not write keeps its default.
template <class T>
void take(const json& object, const char* key, T& into) {
    const auto it = object.find(key);
    if (it != object.end() && !it->is_null()) into = it->get<T>();
}

// A snapshot whose shape is not the one written.
struct Damaged {};

// The objects listed under `key`: none when absent; anything but a list of objects is damage.
const json& listOf(const json& object, const char* key) {
    static const json none = json::array();
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return none;
    if (!it->is_array()) throw Damaged{};
    for (const json& element : *it)
        if (!element.is_object()) throw Damaged{};
    return *it;
}

json taskJson(const TaskStatus& t) {
    return {{"kind", t.kind},
            {"id", t.id},
            {"description", t.description},
            {"mailbox", t.mailbox},
            {"phase", t.phase},
            {"nextRun", t.nextRun},
            {"lastRunTime", t.lastRunTime},
            {"lastResult", t.lastResult},
            {"lastDescription", t.lastDescription},
            {"files", t.files},
            {"filesDone", t.filesDone},
            {"filesToday", t.filesToday},
            {"bytesToday", t.bytesToday}};
}

TransferStatus transferFrom(const json& t) {
    TransferStatus x;
    take(t, "taskId", x.taskId);
    take(t, "file", x.file);
    take(t, "upload", x.upload);
    take(t, "bytesDone", x.bytesDone);
    take(t, "fileSize", x.fileSize);
    take(t, "bytesPerSecond", x.bytesPerSecond);
    return x;
}

FailureRecord failureFrom(const json& f) {
    FailureRecord x;
    take(f, "time", x.time);
    take(f, "epoch", x.epoch);
    take(f, "kind", x.kind);
    take(f, "taskId", x.taskId);
    take(f, "reason", x.reason);
    return x;
}

DiskStatus diskFrom(const json& d) {
    DiskStatus x;
    take(d, "path", x.path);
    take(d, "taskId", x.taskId);
    take(d, "freeMegabytes", x.freeMegabytes);
    take(d, "low", x.low);
    return x;
}

TaskStatus taskFrom(const json& j) {
    TaskStatus t;
    take(j, "kind", t.kind);
    take(j, "id", t.id);
    take(j, "description", t.description);
    take(j, "mailbox", t.mailbox);
    take(j, "phase", t.phase);
    take(j, "nextRun", t.nextRun);
    take(j, "lastRunTime", t.lastRunTime);
    take(j, "lastResult", t.lastResult);
    take(j, "lastDescription", t.lastDescription);
    take(j, "files", t.files);
    take(j, "filesDone", t.filesDone);
    take(j, "filesToday", t.filesToday);
    take(j, "bytesToday", t.bytesToday);
    return t;
}

}  // namespace

std::filesystem::path statusFilePath(const Installation& installation) {
    return installation.data() / "serve-status.json";
}

std::string toJson(const ServeStatus& s) {
    json tasks = json::array();
    for (const TaskStatus& t : s.tasks) tasks.push_back(taskJson(t));
    json transfers = json::array();
    for (const TransferStatus& t : s.transfers)
        transfers.push_back({{"taskId", t.taskId},
                             {"file", t.file},
                             {"upload", t.upload},
                             {"bytesDone", t.bytesDone},
                             {"fileSize", t.fileSize},
                             {"bytesPerSecond", t.bytesPerSecond}});
    json failures = json::array();
    for (const FailureRecord& f : s.failures)
        failures.push_back({{"time", f.time},
                            {"epoch", f.epoch},
                            {"kind", f.kind},
                            {"taskId", f.taskId},
                            {"reason", f.reason}});
    json disks = json::array();
    for (const DiskStatus& d : s.disks)
        disks.push_back({{"path", d.path},
                         {"taskId", d.taskId},
                         {"freeMegabytes", d.freeMegabytes},
                         {"low", d.low}});
    const json out = {{"pid", s.pid},
                      {"startedAt", s.startedAt},
                      {"startedEpoch", s.startedEpoch},
                      {"writtenAt", s.writtenAt},
                      {"writtenEpoch", s.writtenEpoch},
                      {"version", s.version},
                      {"loggedIn", s.loggedIn},
                      {"gateway", s.gateway},
                      {"businessDay", s.businessDay},
                      {"unreachableSinceEpoch", s.unreachableSinceEpoch},
                      {"lastTick", s.lastTick},
                      {"lastTickEpoch", s.lastTickEpoch},
                      {"minimumFreeMegabytes", s.minimumFreeMegabytes},
                      {"tasks", tasks},
                      {"transfers", transfers},
                      {"realtime",
                       {{"running", s.realtime.running},
                        {"statusText", s.realtime.statusText},
                        {"reports", s.realtime.reports},
                        {"pending", s.realtime.pending}}},
                      {"failures", failures},
                      {"disks", disks}};
    // Texts from the tables may hold bytes that are not UTF-8: replaced, never thrown on.
    return out.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<ServeStatus> fromJson(const std::string& text) {
    const json j = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!j.is_object() || !j.contains("pid")) return std::nullopt;
    try {
        ServeStatus s;
        take(j, "pid", s.pid);
        take(j, "startedAt", s.startedAt);
        take(j, "startedEpoch", s.startedEpoch);
        take(j, "writtenAt", s.writtenAt);
        take(j, "writtenEpoch", s.writtenEpoch);
        take(j, "version", s.version);
        take(j, "loggedIn", s.loggedIn);
        take(j, "gateway", s.gateway);
        take(j, "businessDay", s.businessDay);
        take(j, "unreachableSinceEpoch", s.unreachableSinceEpoch);
        take(j, "lastTick", s.lastTick);
        take(j, "lastTickEpoch", s.lastTickEpoch);
        take(j, "minimumFreeMegabytes", s.minimumFreeMegabytes);
        for (const json& t : listOf(j, "tasks")) s.tasks.push_back(taskFrom(t));
        for (const json& t : listOf(j, "transfers")) s.transfers.push_back(transferFrom(t));
        if (const auto r = j.find("realtime"); r != j.end() && !r->is_null()) {
            if (!r->is_object()) throw Damaged{};
            take(*r, "running", s.realtime.running);
            take(*r, "statusText", s.realtime.statusText);
            take(*r, "reports", s.realtime.reports);
            take(*r, "pending", s.realtime.pending);
        }
        for (const json& f : listOf(j, "failures")) s.failures.push_back(failureFrom(f));
        for (const json& d : listOf(j, "disks")) s.disks.push_back(diskFrom(d));
        return s;
    } catch (const json::exception&) {
        // A field of the wrong type: not a snapshot this program wrote.
        return std::nullopt;
    } catch (const Damaged&) {
        return std::nullopt;
    }
}

Status writeStatusFile(const Installation& installation, const ServeStatus& status) {
    const std::filesystem::path path = statusFilePath(installation);
    if (Status made = platform::createDirectories(path.parent_path()); !made) return made;
    return platform::writeFileAtomically(path, toJson(status));
}

std::string localText(platform::WallTime time) {
    const platform::LocalTime t = platform::toLocalTime(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::int64_t epochSeconds(platform::WallTime time) {
    return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

}  // namespace vantrel::service
