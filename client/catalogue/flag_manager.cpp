#include "client/catalogue/flag_manager.h"

#include <cstdio>

#include "client/base/logs.h"
#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/table_schema.h"
#include "platform/files.h"

namespace vantrel::catalogue {
namespace {

std::string withPath(const char* pattern, const std::filesystem::path& path) {
    char buffer[2048];
    std::snprintf(buffer, sizeof buffer, pattern, path.string().c_str());
    return buffer;
}

}  // namespace

CFlagManager::CFlagManager(const Context& context) : context_(context) {}

std::filesystem::path CFlagManager::dayListPath() const {
    return context_.installation.data() / (FormatDate(context_.clock->localNow()) + "-FLAG.flg");
}

std::filesystem::path CFlagManager::templatePath() const {
    return context_.installation.localconfig() / kFlagTemplate;
}

bool CFlagManager::TodayFlagListPath(std::filesystem::path& path) const {
    path = dayListPath();
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void CFlagManager::post(const NotifierEvent& event) {
    if (context_.notifier != nullptr) context_.notifier->post(event);
}

void CFlagManager::sysLog(const std::string& message) {
    if (context_.logs != nullptr) context_.logs->writeSysLog(message);
}

void CFlagManager::LoadFlags() {
    std::lock_guard lock(mutex_);
    flags_.clear();
    std::filesystem::path path;
    CDbfImpl table(*context_.clock);
    if (TodayFlagListPath(path)) {
        if (table.Open(path, 2) != 1) {
            sysLog(withPath("初始化标志文件失败，失败原因：打开日期标志文件[%s]失败！", path));
            return;
        }
    } else if (table.Open(templatePath(), 1) != 1) {
        sysLog(withPath("打开标志模板文件[%s]失败！", templatePath()));
        return;
    }
    post(FlagViewRefill{});
    DbfRow row;
    for (int r = 0; r < table.GetRecordCount(); ++r) {
        if (!table.ReadRow(r, row)) break;
        if (row.deleted()) continue;
        const std::string name = row.trimmed("flagname");
        const std::string time = row.trimmed("updatetime");
        flags_[name] = time;
        // Every expected flag is shown, the ones still awaited too.
        post(FlagViewFlag{false, name, time});
    }
}

void CFlagManager::StartDay() {
    {
        std::lock_guard lock(mutex_);
        post(FlagViewClear{});
        const std::filesystem::path path = dayListPath();
        (void)platform::createDirectories(path.parent_path());
        // A failed copy is reported by the open that follows.
        (void)CopyTemplate(templatePath(), path);
    }
    LoadFlags();
}

int CFlagManager::IsFlagFile(const std::string& fileName) {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return 0;
    const platform::LocalTime today = context_.clock->localNow();
    char extension[16];
    std::snprintf(extension, sizeof extension, "%x%02d", today.month, today.day);
    if (fileName.compare(dot + 1, std::string::npos, extension) != 0) return 0;
    std::lock_guard lock(mutex_);
    return flags_.count(fileName.substr(0, dot)) != 0 ? 1 : 0;
}

void CFlagManager::RecordFlagFile(const std::string& fileName, const std::string& arrivalTime) {
    std::lock_guard lock(mutex_);
    const std::string base = fileName.substr(0, fileName.rfind('.'));
    const std::filesystem::path path = dayListPath();
    (void)platform::createDirectories(path.parent_path());
    CopyTemplate(templatePath(), path);
    CDbfImpl table(*context_.clock);
    if (table.Open(path, 2) != 1) {
        sysLog(withPath("打开日期标志文件[%s]失败", path));
        return;
    }
    DbfRow row;
    for (int r = 0; r < table.GetRecordCount(); ++r) {
        if (!table.ReadRow(r, row)) break;
        if (row.deleted()) continue;
        const std::string name = row.trimmed("flagname");
        if (!EqualsIgnoreCase(name, base)) continue;
        if (table.SetFieldValueByName(r, "updatetime", arrivalTime) == 0)
            flags_[name] = arrivalTime;
    }
    table.Close();
    post(FlagViewFlag{true, base, arrivalTime});
}

void CFlagManager::RefreshFlags() {
    std::lock_guard lock(mutex_);
    const std::filesystem::path path = dayListPath();
    // The known times: the map, or the day list itself when the map was never filled.
    std::map<std::string, std::string> known = flags_;
    std::error_code ec;
    if (known.empty() && std::filesystem::exists(path, ec)) {
        CDbfImpl current(*context_.clock);
        DbfRow row;
        if (current.Open(path, 1) == 1) {
            for (int r = 0; r < current.GetRecordCount(); ++r) {
                if (!current.ReadRow(r, row)) break;
                if (!row.deleted()) known[row.trimmed("flagname")] = row.trimmed("updatetime");
            }
        }
    }

    (void)platform::createDirectories(path.parent_path());
    // The day's list is replaced as a whole and durably: a copy of the template gets the
    // known times, and only a copy written without a failure takes the list's place.
    platform::FileSystem& files = context_.fileSystem();
    std::map<std::string, std::string> rebuilt;
    bool refilling = false;
    const Status replaced =
        platform::replaceFileDurably(files, path, [&](const std::filesystem::path& fresh) {
            const auto failed = [] { return Status::error(ErrorKind::IoError, "flag list"); };
            CDbfImpl table(*context_.clock, files);
            bool opened = false;
            for (int attempt = 0; attempt < 2 && !opened; ++attempt) {
                opened =
                    platform::copyFile(files, templatePath(), fresh) && table.Open(fresh, 2) == 1;
            }
            if (!opened) return failed();
            post(FlagViewRefill{});
            refilling = true;
            DbfRow row;
            for (int r = 0; r < table.GetRecordCount(); ++r) {
                // A row that cannot be read or written would leave the day's list short.
                if (!table.ReadRow(r, row)) return failed();
                if (row.deleted()) continue;
                const std::string name = row.trimmed("flagname");
                auto it = known.find(name);
                const std::string time = it == known.end() ? std::string() : it->second;
                if (table.SetFieldValueByName(r, "updatetime", time) != 0) return failed();
                post(FlagViewFlag{false, name, time});
                rebuilt[name] = time;
            }
            return table.Close() ? Status::ok() : failed();
        });
    if (!replaced) {
        sysLog(withPath("打开日期标志文件[%s]失败,操作：更新标志文件", path));
        // The view was refilled from a list that was not kept: show the kept one again.
        if (refilling) {
            post(FlagViewRefill{});
            for (const auto& [name, time] : known) post(FlagViewFlag{false, name, time});
        }
        return;
    }
    flags_ = std::move(rebuilt);
}

std::map<std::string, std::string> CFlagManager::Flags() const {
    std::lock_guard lock(mutex_);
    return flags_;
}

}  // namespace vantrel::catalogue
