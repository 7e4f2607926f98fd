#include "client/execution/realtime/realtime_manual.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "client/base/day_text.h"
#include "client/config/config.h"
#include "client/config/data_size.h"
#include "client/execution/realtime/realtime_reports.h"
#include "platform/files.h"

namespace vantrel {

namespace fs = std::filesystem;

namespace {

std::optional<platform::LocalTime> dayOf(const std::string& text) {
    if (text.size() != 8 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    platform::LocalTime t;
    t.year = std::stoi(text.substr(0, 4));
    t.month = std::stoi(text.substr(4, 2));
    t.day = std::stoi(text.substr(6, 2));
    // Noon, so that stepping by days never trips over a change of clocks.
    t.hour = 12;
    const platform::LocalTime normal = platform::toLocalTime(platform::fromLocalTime(t));
    if (normal.year != t.year || normal.month != t.month || normal.day != t.day)
        return std::nullopt;
    return normal;
}

}  // namespace

RealtimeManualReceive::RealtimeManualReceive(const Context& context, CVornFtp& session)
    : context_(context),
      ftp_(session, DataSizeSettings::load(context.installation.dataSizeIni()), *context.clock) {}

int RealtimeManualReceive::query(const std::string& from, const std::string& to,
                                 std::vector<ManualReport>& out) {
    out.clear();
    const auto first = dayOf(from);
    const auto last = dayOf(to);
    if (!first || !last) {
        error_ = "日期格式不正确[" + from + "-" + to + "]";
        return -1;
    }
    if (base::FormatDate(*first) > base::FormatDate(*last)) {
        error_ = "开始时间不能大于结束时间！";
        return -1;
    }
    platform::LocalTime day = *first;
    for (int n = 0; base::FormatDate(day) <= base::FormatDate(*last); ++n) {
        if (n >= kMaxDays) {
            error_ = "查询日期范围不能超过" + std::to_string(kMaxDays) + "天！";
            return -1;
        }
        const std::string text = base::FormatDate(day);
        if (ftp_.list(text) != GatewayOutcome::Ok) {
            error_ = "查询文件列表失败，" + ftp_.errorText();
            return -1;
        }
        for (RealtimeEntry& entry : ftp_.entries()) out.push_back({text, std::move(entry)});
        day.day += 1;
        day = platform::toLocalTime(platform::fromLocalTime(day));
    }
    if (out.empty()) {
        error_ = "文件列表为空！";
        return -1;
    }
    return static_cast<int>(out.size());
}

Status RealtimeManualReceive::prepareDirectory(const fs::path& directory) {
    const std::string text = directory.string();
    if (text.empty() || text.size() >= 256) {
        return Status::error(ErrorKind::InvalidArgument,
                             "该目录[" + text + "]过长，请重新选择文件保存目录！");
    }
    CConfig config(context_.installation);
    RealtimeReportSettings settings = config.readRealtimeReportSettings();
    std::error_code ec;
    const fs::path service = fs::weakly_canonical(settings.receivePath, ec);
    const fs::path chosen = fs::weakly_canonical(directory, ec);
    if (service.lexically_normal() / "" == chosen.lexically_normal() / "") {
        return Status::error(ErrorKind::InvalidArgument, "手动接收目录不能和实时回报服务目录一致!");
    }
    if (Status made = platform::createDirectories(directory); !made)
        return Status::error(made.kind(), "创建接收目录失败！");
    settings.manualReceivePath = text;
    return config.writeRealtimeReportSettings(settings);
}

fs::path manualTargetDirectory(const std::vector<ManualReport>& listed, std::size_t position,
                               const fs::path& directory) {
    const ManualReport& report = listed.at(position);
    const bool sharedName = std::any_of(listed.begin(), listed.end(), [&](const ManualReport& r) {
        return r.entry.name == report.entry.name && r.day != report.day;
    });
    return sharedName ? directory / report.day : directory;
}

Result<std::vector<ManualFetchResult>> RealtimeManualReceive::fetch(
    const std::vector<std::size_t>& chosen, const std::vector<ManualReport>& listed,
    const fs::path& directory, const std::function<bool()>& stop) {
    if (chosen.empty()) return Status::error(ErrorKind::InvalidArgument, "请选择需要下载的文件！");
    std::vector<ManualFetchResult> results;
    for (const std::size_t position : chosen) {
        if (position >= listed.size()) {
            results.push_back({position, {}, "找不到文件信息", {}, {}});
            continue;
        }
        const ManualReport& report = listed[position];
        const fs::path into = manualTargetDirectory(listed, position, directory);
        const realtime::FetchResult fetched =
            realtime::fetchReport(ftp_, report.day, report.entry, into, *context_.clock, stop);
        if (fetched.outcome == realtime::FetchResult::kDone) {
            results.push_back(
                {position, report.entry.name, "下载成功", {}, into / report.entry.name});
        } else {
            results.push_back({position, report.entry.name, "下载失败", fetched.error, {}});
        }
    }
    return results;
}

}  // namespace vantrel
