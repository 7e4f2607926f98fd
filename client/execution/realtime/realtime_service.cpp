#include "client/execution/realtime/realtime_service.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "client/base/day_text.h"
#include "client/base/logs.h"
#include "client/config/config.h"
#include "client/config/data_size.h"
#include "client/execution/realtime/realtime_reports.h"
#include "client/transfer/local_path.h"
#include "platform/error_text.h"
#include "platform/files.h"

namespace vantrel {

namespace fs = std::filesystem;
using Millis = std::chrono::milliseconds;

namespace {

std::string withName(const char* pattern, const std::string& name) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, name.c_str());
    return buffer;
}

std::string withNameAndReason(const char* pattern, const std::string& name,
                              const std::string& reason) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, name.c_str(), reason.c_str());
    return buffer;
}

constexpr const char* kBackDirectory = "sshbrev_back";

// The local list keeps each fetched report's line after its name as
// "state|size|records|time|result".
std::string storedLineOf(const RealtimeReportRecord& record) {
    return record.state + "|" + std::to_string(record.localSize) + "|" +
           std::to_string(record.recordCount) + "|" + record.downloadTime + "|" + record.result;
}

std::optional<RealtimeReportRecord> recordOf(const FileMemList::Record& stored) {
    const char* const begin = reinterpret_cast<const char*>(stored.data());
    RealtimeReportRecord record;
    record.fileName.assign(begin, strnlen(begin, FileMemList::kNameSize));
    const char* const rest = begin + FileMemList::kNameSize;
    const std::string line(rest, strnlen(rest, FileMemList::kRecordSize - FileMemList::kNameSize));
    std::string parts[4];
    std::size_t from = 0;
    for (std::string& part : parts) {
        const std::size_t bar = line.find('|', from);
        if (bar == std::string::npos) return std::nullopt;
        part = line.substr(from, bar - from);
        from = bar + 1;
    }
    char* end = nullptr;
    record.state = parts[0];
    record.localSize = std::strtoll(parts[1].c_str(), &end, 10);
    if (parts[1].empty() || *end != '\0') return std::nullopt;
    record.recordCount = std::strtoll(parts[2].c_str(), &end, 10);
    if (parts[2].empty() || *end != '\0') return std::nullopt;
    record.downloadTime = parts[3];
    record.result = line.substr(from);  // the last part: a result may hold a bar
    return record;
}

}  // namespace

RealtimeService::RealtimeService(const Context& context, const DayClock& days, Options options)
    : context_(context), days_(days), options_(std::move(options)) {}

std::string RealtimeService::statusText(bool running) {
    return running ? "实时回报服务状态:运行" : "实时回报服务状态:停止";
}

void RealtimeService::log(const std::string& line, int level) const {
    if (context_.logs) (void)context_.logs->writeSssjSysLog(line, level);
}

void RealtimeService::announce(bool on) {
    if (context_.notifier) context_.notifier->post(RealtimeServiceSwitched{on, statusText(on)});
}

void RealtimeService::setRunning(bool on) {
    running_ = on;
    log(on ? "用户开始运行实时回报服务" : "用户停止运行实时回报服务", 0);
    CConfig config(context_.installation);
    RealtimeReportSettings settings = config.readRealtimeReportSettings();
    settings.stopped = !on;
    if (Status saved = config.writeRealtimeReportSettings(settings); !saved)
        log("保存实时回报服务配置失败：" + saved.text(), 1);
    announce(on);
}

void RealtimeService::startAsConfigured() {
    running_ = !CConfig(context_.installation).readRealtimeReportSettings().stopped;
    announce(running_);
}

void RealtimeService::prepareExit() {
    if (!running_.exchange(false)) return;
    log("系统退出，退出实时回报服务", 0);
    announce(false);
}

fs::path RealtimeService::receiveDirectory(const std::string& day) const {
    const RealtimeReportSettings s = CConfig(context_.installation).readRealtimeReportSettings();
    fs::path directory(s.receivePath);
    if (s.addDate) directory /= day;
    return directory;
}

std::size_t RealtimeService::pendingCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size();
}

RealtimeSnapshot RealtimeService::snapshot() const {
    RealtimeSnapshot s;
    s.running = running_;
    s.statusText = statusText(s.running);
    // The view shows one day: after midnight, until the first pass of the new day, the
    // lines held are the previous day's.
    const std::string day = today();
    std::lock_guard lock(mutex_);
    if (recordsDay_ == day) s.records = records_;
    for (const Pending& p : pending_) s.pending.push_back(p.entry.name);
    s.listTitle = "实时回报文件列表[" + std::to_string(s.records.size()) + "]";
    return s;
}

bool RealtimeService::show(const RealtimeReportRecord& record) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(records_.begin(), records_.end(),
                               [&](const auto& r) { return r.fileName == record.fileName; });
        if (it != records_.end() && *it == record) return false;
        if (it == records_.end()) {
            records_.push_back(record);
        } else {
            *it = record;
        }
    }
    if (context_.notifier) context_.notifier->post(RealtimeReportChanged{record});
    return true;
}

bool RealtimeService::enqueue(const std::string& day, const RealtimeEntry& entry,
                              const fs::path& directory) {
    std::lock_guard lock(mutex_);
    for (const Pending& p : pending_) {
        if (p.day == day && p.entry.name == entry.name) return true;
    }
    if (pending_.size() >= kQueueLimit) return false;
    pending_.push_back(Pending{day, entry, directory});
    return true;
}

void RealtimeService::moveAside(const fs::path& directory, const fs::path& data) {
    const fs::path back = directory / kBackDirectory;
    if (Status made = platform::createDirectories(back); !made) {
        log("创建目录[" + back.string() + "]失败！" + made.text(), 2);
        return;
    }
    std::error_code ec;
    for (const fs::path& file : {data, realtime::flagPathOf(data)}) {
        if (!fs::exists(file, ec)) continue;
        if (Status moved = platform::moveFileReplacing(file, back / file.filename()); !moved) {
            log(moved.text(), 2);
            // Whatever could not be moved must not be mistaken for a received report.
            (void)platform::removeIfPresent(context_.fileSystem(), file);
        }
    }
}

int RealtimeService::compareDay(const std::string& day, const std::vector<RealtimeEntry>& entries) {
    const fs::path directory = receiveDirectory(day);
    // The previous day's late reports are fetched after midnight, but they are no lines of
    // the new day's list.
    const bool listed = day >= today();
    {
        // The view shows one day: a new day starts an empty list.
        std::lock_guard lock(mutex_);
        if (day > recordsDay_) {
            records_.clear();
            recordsDay_ = day;
        }
    }
    int unsettled = 0;
    for (const RealtimeEntry& entry : entries) {
        if (isQueued(day, entry.name)) {
            ++unsettled;
            continue;
        }
        RealtimeReportRecord record;
        record.fileName = entry.name;
        Result<fs::path> target = localPathInside(directory, entry.name);
        if (!target) {
            // A name that would leave the receive directory is never fetched.
            record.state = realtime::kFailed;
            record.result = target.status().text();
            if (listed && show(record)) log(record.result, 2);
            continue;
        }
        const fs::path& data = *target;
        std::error_code ec;
        const bool haveData = fs::exists(data, ec);
        const bool haveFlag = fs::exists(realtime::flagPathOf(data), ec);
        if (haveData || haveFlag) {
            if (localCopyCurrent(entry, data, haveData, haveFlag)) {
                if (listed) show(keptRecord(entry, data));
                continue;
            }
            moveAside(directory, data);
        }
        ++unsettled;
        if (enqueue(day, entry, directory) && listed) {
            record.state = entry.complete() ? realtime::kWaiting : realtime::kPublishing;
            show(record);
        }
    }
    std::lock_guard lock(mutex_);
    int& quiet = quiet_[day];
    quiet = unsettled == 0 ? quiet + 1 : 0;
    return quiet;
}

bool RealtimeService::isQueued(const std::string& day, const std::string& name) const {
    std::lock_guard lock(mutex_);
    return std::any_of(pending_.begin(), pending_.end(),
                       [&](const Pending& p) { return p.day == day && p.entry.name == name; });
}

bool RealtimeService::localCopyCurrent(const RealtimeEntry& entry, const fs::path& data,
                                       bool haveData, bool haveFlag) const {
    const std::string local = data.string();
    const Result<platform::FileInfo> info = platform::fileInfo(data);
    if (entry.complete() && haveData != haveFlag) {
        log(withName("加载本地文件[%s]信息出错，错误原因：对应数据文件或者标志文件不存在,"
                     "把对应数据、标志文件移动到[sshbrev_back]目录,并重新下载文件。",
                     local),
            1);
        return false;
    }
    if (!info) {
        log(withNameAndReason("加载本地文件[%s]信息出错，错误原因：%s,把对应数据、标志文件移动"
                              "到[sshbrev_back]目录,并重新下载文件！",
                              local,
                              platform::systemErrorText(info.status().systemCode()).c_str()),
            1);
        return false;
    }
    bool same = false;
    if (entry.complete()) {
        Result<std::string> text = platform::readFile(realtime::flagPathOf(data));
        Result<realtime::FlagContent> flag =
            text ? realtime::parseFlag(text.value()) : Result<realtime::FlagContent>(text.status());
        if (!flag) {
            log(withNameAndReason("标志文件[%s]解析失败,失败原因：%s",
                                  realtime::flagPathOf(data).string(), flag.status().text()),
                1);
            log(withNameAndReason("加载本地文件[%s]信息出错，错误原因：%s,把对应数据、标志文件"
                                  "移动到[sshbrev_back]目录,并重新下载文件！",
                                  local, flag.status().text()),
                1);
            return false;
        }
        same = flag->name == entry.name && flag->size == entry.size && flag->date == entry.date &&
               flag->time == entry.time && info->size == entry.size;
    } else {
        // Still being published: no ".flag" yet; size and the gateway's time decide.
        const auto when = realtime::entryTime(entry);
        same = !haveFlag && info->size == entry.size && when &&
               std::chrono::system_clock::to_time_t(*when) ==
                   std::chrono::system_clock::to_time_t(info->modified);
    }
    if (!same) {
        log(withName("本地文件[%s]和实际下载不一致,把对应数据、标志文件移动到[sshbrev_back]目录,"
                     "并重新下载文件",
                     local),
            1);
    }
    return same;
}

RealtimeReportRecord RealtimeService::keptRecord(const RealtimeEntry& entry,
                                                 const fs::path& data) const {
    RealtimeReportRecord record;
    record.fileName = entry.name;
    record.state = entry.complete() ? realtime::kDownloaded : realtime::kPublishing;
    record.localSize = entry.size;
    // The line of the fetch: this run's, else the one the local list kept over a restart; a
    // report found without one is counted afresh.
    const auto known = shownOrStored(entry.name);
    if (known && known->localSize == entry.size) {
        record.recordCount = known->recordCount;
        record.downloadTime = known->downloadTime;
        record.result = known->result;
    } else {
        record.recordCount = realtime::recordCountOf(data);
    }
    return record;
}

std::vector<std::string> RealtimeService::passDays() {
    const std::string day = today();
    if (!passDay_.empty() && passDay_ < day) {
        lateDay_ = passDay_;
        lateSince_ = context_.clock->tick();
    }
    passDay_ = day;
    if (lateDay_.empty()) return {day};
    return {lateDay_, day};
}

// One pass: each day's list compared with what lies here; answers the last day's quiet count.
int RealtimeService::passOverDays(CDRAVFtp& ftp, CVornFtp& session, platform::Event& stop) {
    int quiet = 0;
    for (const std::string& day : passDays()) {
        if (pendingCount() >= kQueueLimit) {
            stop.wait(options_.idlePause);
            continue;
        }
        if (ftp.list(day) != GatewayOutcome::Ok) {
            const std::string failure = "查询实时回报文件列表[" + day + "]失败，" + ftp.errorText();
            // The gateway drops idle connections: when the connection is gone, one
            // new login and query at once tell a drop the service recovers from (a
            // warning) from a gateway it cannot reach (an error).
            const bool dropped = !session.IsLoggedIn();
            if (!dropped || ftp.list(day) != GatewayOutcome::Ok) {
                log(dropped ? "查询实时回报文件列表[" + day + "]失败，" + ftp.errorText() : failure,
                    2);
                quiet = 0;
                continue;
            }
            log(failure, 1);
        }
        quiet = compareDay(day, ftp.entries());
        // Everything of the previous day is here: it needs no further pass.
        if (day == lateDay_ && quiet > 0) lateDay_.clear();
    }
    return quiet;
}

void RealtimeService::traversalThread(platform::Event& stop) {
    log(running_ ? "实时回报服务处于运行状态!" : "实时回报服务处于停止状态!", 0);
    std::unique_ptr<CVornFtp> session = options_.makeSession ? options_.makeSession() : nullptr;
    if (!session) {
        if (context_.logs) (void)context_.logs->writeSysLog("实时回报遍历会话创建失败");
        stop.wait();
        return;
    }
    CDRAVFtp ftp(*session, DataSizeSettings::load(context_.installation.dataSizeIni()),
                 *context_.clock, context_.fileSystem());
    Millis interval{0};
    bool failed = false;
    while (!stop.isSet()) {
        if (interval <= Millis(6000)) {
            interval = options_.shortInterval;
        } else {
            // Measured on the context's clock; switching the service off ends the wait.
            const platform::Tick start = context_.clock->tick();
            while (running_ && context_.clock->tick() - start < interval &&
                   !stop.wait(options_.waitStep)) {
            }
            if (stop.isSet()) break;
        }
        if (!running_) {
            session->DropIfLoggedIn();
            interval = Millis(0);
            failed = false;
            stop.wait(options_.idlePause);
            continue;
        }
        if (!session->IsLoggedIn()) {
            if (!session->LoginToGateway()) {
                if (!failed)
                    log("实时服务遍历线程连接登录失败，失败原因：" + session->LastError(), 2);
                failed = true;
                interval = options_.shortInterval;
                stop.wait(options_.idlePause);
                continue;
            }
            if (failed) log("实时服务遍历线程连接登录成功", 0);
            failed = false;
        }
        const int quiet = passOverDays(ftp, *session, stop);
        if (!lateDay_.empty() && context_.clock->tick() - lateSince_ >= kLateDayWindow)
            lateDay_.clear();
        interval = quiet >= kQuietPasses ? options_.longInterval : options_.shortInterval;
    }
    session->DropIfLoggedIn();
}

std::optional<RealtimeReportRecord> RealtimeService::shownOrStored(const std::string& name) const {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(records_.begin(), records_.end(),
                               [&](const auto& r) { return r.fileName == name; });
        if (it != records_.end()) return *it;
    }
    if (!options_.localList) return std::nullopt;
    const std::optional<FileMemList::Record> stored = options_.localList->find(name);
    return stored ? recordOf(*stored) : std::nullopt;
}

void RealtimeService::recordFetched(const RealtimeReportRecord& record) {
    if (!options_.localList) return;
    const std::string& key = record.fileName;
    const std::string rest = storedLineOf(record);
    if (key.size() >= FileMemList::kNameSize ||
        rest.size() >= FileMemList::kRecordSize - FileMemList::kNameSize) {
        return;
    }
    FileMemList::Record stored{};
    std::memcpy(stored.data(), key.data(), key.size());
    std::memcpy(stored.data() + FileMemList::kNameSize, rest.data(), rest.size());
    // A full list is said once, not at every report from then on.
    const bool kept = options_.localList->addOrUpdate(stored);
    if (!kept && !localListRefused_) log(options_.localList->errorText(), 1);
    localListRefused_ = !kept;
}

void RealtimeService::downloadThread(platform::Event& stop) {
    std::unique_ptr<CVornFtp> session = options_.makeSession ? options_.makeSession() : nullptr;
    std::unique_ptr<CDRAVFtp> ftp;
    if (session) {
        ftp = std::make_unique<CDRAVFtp>(
            *session, DataSizeSettings::load(context_.installation.dataSizeIni()), *context_.clock,
            context_.fileSystem());
    }
    const std::function<bool()> stopQuery = [&stop] { return stop.isSet(); };
    bool reportedMissing = false;
    std::string refused;  // the login failure last logged; empty while logins succeed
    Millis backoff = options_.idlePause;
    while (!stop.isSet()) {
        if (!running_) {
            if (session) session->DropIfLoggedIn();
            stop.wait(options_.idlePause);
            continue;
        }
        if (!session) {
            if (!reportedMissing && context_.logs)
                (void)context_.logs->writeSysLog("下载实时通讯句柄为空");
            reportedMissing = true;
            stop.wait(Millis(200));
            continue;
        }
        std::optional<Pending> next;
        {
            std::lock_guard lock(mutex_);
            if (!pending_.empty()) next = pending_.front();
        }
        if (!next) {
            stop.wait(options_.emptyPause);
            continue;
        }
        if (!session->IsLoggedIn()) {
            if (!session->LoginToGateway()) {
                // The entry stays queued. Logged when the reason changes, and the retries
                // slow down, so a gateway that refuses for hours floods neither the log
                // nor itself.
                const std::string why = session->LastError();
                if (why != refused) log("登陆服务器失败,失败原因：" + why, 2);
                refused = why;
                stop.wait(backoff);
                backoff = std::min(backoff * 2, options_.loginBackoffLimit);
                continue;
            }
            if (!refused.empty()) log("实时服务下载线程连接登录成功", 0);
            refused.clear();
            backoff = options_.idlePause;
        }
        const std::string& name = next->entry.name;
        log(withName("开始下载文件[%s]", name), 0);
        RealtimeReportRecord downloading;
        downloading.fileName = name;
        downloading.state = realtime::kDownloading;
        const bool listed = next->day >= today();
        if (listed) show(downloading);
        const realtime::FetchResult fetched = realtime::fetchReport(
            *ftp, next->day, next->entry, next->directory, *context_.clock, stopQuery);
        if (fetched.outcome == realtime::FetchResult::kDone) {
            log(withName("下载文件[%s]成功", name), 0);
            recordFetched(fetched.record);
        } else {
            log(fetched.error, 1);
        }
        if (listed) show(fetched.record);
        std::lock_guard lock(mutex_);
        if (!pending_.empty() && pending_.front().day == next->day &&
            pending_.front().entry.name == name) {
            pending_.pop_front();
        }
    }
    if (session) session->DropIfLoggedIn();
}

}  // namespace vantrel
