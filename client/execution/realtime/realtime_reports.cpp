#include "client/execution/realtime/realtime_reports.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "client/base/day_text.h"
#include "client/transfer/file_services.h"
#include "client/transfer/local_path.h"
#include "platform/file_system.h"
#include "platform/files.h"

namespace vantrel::realtime {

namespace fs = std::filesystem;

namespace {

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool digits(std::string_view text, std::size_t count) {
    if (text.size() != count) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

fs::path flagPathOf(const fs::path& data) {
    fs::path flag = data;
    flag += ".flag";
    return flag;
}

std::string formatFlag(const FlagContent& flag) {
    return "name=" + flag.name + "\nsize=" + std::to_string(flag.size) + "\ndate=" + flag.date +
           "\ntime=" + flag.time + "\nmd5=" + flag.md5 + "\nloadtime=" + flag.loadTime + "\n";
}

Result<FlagContent> parseFlag(std::string_view text) {
    std::map<std::string, std::string, std::less<>> values;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return Status::error(ErrorKind::Corruption, "格式错误[" + std::string(line) + "]");
        values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    for (const char* key : {"name", "size", "date", "time", "md5"}) {
        if (!values.count(key))
            return Status::error(ErrorKind::Corruption, std::string("缺少") + key + "项");
    }
    FlagContent flag;
    flag.name = values["name"];
    flag.date = values["date"];
    flag.time = values["time"];
    flag.md5 = values["md5"];
    flag.loadTime = values["loadtime"];
    const std::string& size = values["size"];
    if (size.empty() || size.size() > 18 || !digits(size, size.size()))
        return Status::error(ErrorKind::Corruption, "文件大小不正确[" + size + "]");
    flag.size = std::stoll(size);
    if (!digits(flag.date, 8) || flag.time.size() != 8 || flag.md5.size() != 32)
        return Status::error(ErrorKind::Corruption, "日期、时间或校验码不正确");
    return flag;
}

std::optional<platform::WallTime> entryTime(const RealtimeEntry& entry) {
    const std::string& t = entry.time;
    if (!digits(entry.date, 8) || t.size() != 8 || t[2] != ':' || t[5] != ':' ||
        !digits(t.substr(0, 2), 2) || !digits(t.substr(3, 2), 2) || !digits(t.substr(6, 2), 2)) {
        return std::nullopt;
    }
    platform::LocalTime lt;
    lt.year = std::stoi(entry.date.substr(0, 4));
    lt.month = std::stoi(entry.date.substr(4, 2));
    lt.day = std::stoi(entry.date.substr(6, 2));
    lt.hour = std::stoi(t.substr(0, 2));
    lt.minute = std::stoi(t.substr(3, 2));
    lt.second = std::stoi(t.substr(6, 2));
    return platform::fromLocalTime(lt);
}

std::string remoteNameOf(const std::string& day, const RealtimeEntry& entry) {
    return day + "\\" + entry.name;
}

std::int64_t recordCountOf(const fs::path& file) {
    Result<std::unique_ptr<platform::File>> in =
        platform::FileSystem::real().open(file, platform::OpenMode::kRead);
    std::int64_t lines = 0;
    char piece[16384];
    for (std::int64_t at = 0; in;) {
        Result<std::size_t> n = in.value()->readAt(at, piece, sizeof piece);
        if (!n || n.value() == 0) break;
        lines += std::count(piece, piece + n.value(), '\n');
        at += static_cast<std::int64_t>(n.value());
    }
    return lines;
}

FetchResult fetchReport(CDRAVFtp& ftp, const std::string& day, const RealtimeEntry& entry,
                        const fs::path& directory, const platform::Clock& clock,
                        const std::function<bool()>& stop) {
    FetchResult result;
    result.record.fileName = entry.name;
    auto failed = [&](FetchResult::Outcome outcome, std::string error) {
        result.outcome = outcome;
        result.error = std::move(error);
        result.record.state = kFailed;
        result.record.result = result.error;
        return result;
    };
    Result<fs::path> target = localPathInside(directory, entry.name);
    if (!target) return failed(FetchResult::kFailed, target.status().text());
    if (Status made = platform::createDirectories(target->parent_path()); !made)
        return failed(FetchResult::kFailed, "创建接收目录失败！" + made.text());
    const fs::path partial = partialPathFor(*target);
    const std::string remote = remoteNameOf(day, entry);
    if (ftp.download(kRealtimeMailbox, remote, partial, entry.size, stop) != GatewayOutcome::Ok)
        return failed(FetchResult::kFailed, ftp.errorText());
    std::string digest;
    if (entry.complete()) {
        if (ftp.md5Check(partial, remote, entry.size) != GatewayOutcome::Ok) {
            if (ftp.errorText() != "MD5计算不正确")
                return failed(FetchResult::kFailed, ftp.errorText());
            // What arrived is wrong: the next fetch starts from nothing.
            (void)platform::removeIfPresent(platform::FileSystem::real(), partial);
            return failed(FetchResult::kDigestMismatch,
                          "下载文件[" + entry.name + "]失败,MD5计算不正确");
        }
        digest = hex(fileMd5(partial));
    }
    if (Status moved = platform::moveFileReplacing(partial, *target); !moved)
        return failed(FetchResult::kFailed, moved.text());
    if (auto when = entryTime(entry)) (void)platform::setFileTime(*target, *when);
    const std::string now = base::FormatDateTime(clock.localNow());
    if (entry.complete()) {
        const FlagContent flag{entry.name, entry.size, entry.date, entry.time, digest, now};
        if (Status written = platform::writeFileAtomically(flagPathOf(*target), formatFlag(flag));
            !written) {
            return failed(FetchResult::kFailed, written.text());
        }
    }
    result.outcome = FetchResult::kDone;
    result.record.state = entry.complete() ? kDownloaded : kPublishing;
    result.record.localSize = entry.size;
    result.record.recordCount = recordCountOf(*target);
    result.record.downloadTime = now;
    result.record.result = "下载成功";
    return result;
}

}  // namespace vantrel::realtime
