#include "client/ui/task_log_pages.h"

#include <algorithm>
#include <system_error>

#include "platform/file_system.h"
#include "platform/text_codec.h"

namespace vantrel::ui {

namespace fs = std::filesystem;

std::int64_t taskLogRecordCount(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : static_cast<std::int64_t>(size / kTaskLogRecordBytes);
}

std::vector<std::string> readTaskLogPage(const fs::path& file, std::int64_t first,
                                         std::int64_t count) {
    std::vector<std::string> records;
    const std::int64_t total = taskLogRecordCount(file);
    if (first < 0 || count <= 0 || first >= total) return records;
    const std::int64_t last = std::min(total, first + count);
    Result<std::unique_ptr<platform::File>> in =
        platform::FileSystem::real().open(file, platform::OpenMode::kRead);
    if (!in) return records;
    const auto whole = [&](std::int64_t n, std::string& record) {
        const auto size = static_cast<std::int64_t>(kTaskLogRecordBytes);
        Result<std::size_t> got = in.value()->readAt(n * size, record.data(), record.size());
        return got && got.value() == record.size();
    };
    std::string record(kTaskLogRecordBytes, '\0');
    for (std::int64_t n = first; n < last && whole(n, record); ++n) {
        // 197 text bytes padded with blanks, then CR LF NUL.
        std::string text = record.substr(0, kTaskLogRecordBytes - 3);
        text.erase(text.find_last_not_of(' ') + 1);
        records.push_back(platform::gbkToUtf8Lossy(text));
    }
    return records;
}

TaskLogFiles findTaskLogFiles(const Installation& installation, const std::string& yyyymmdd) {
    TaskLogFiles files;
    auto walk = [](const fs::path& directory, auto take) {
        std::error_code ec;
        for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec)) take(it->path());
        }
    };
    const std::string todaysList = yyyymmdd + ".dat";
    walk(installation.data(), [&](const fs::path& p) {
        const std::string name = p.filename().string();
        if (name.size() > todaysList.size() && name.ends_with(todaysList)) files.lists.push_back(p);
    });
    const std::string todaysLog = "-" + yyyymmdd + ".log";
    walk(installation.log(), [&](const fs::path& p) {
        const std::string name = p.filename().string();
        // A task log's name is "<task id>-<YYYYMMDD>.log": its id has a hyphen of its own.
        if (p.extension() != ".log" || name.find('-') == std::string::npos) return;
        (name.ends_with(todaysLog) ? files.today : files.history).push_back(p);
    });
    for (auto* list : {&files.lists, &files.today, &files.history})
        std::sort(list->begin(), list->end());
    return files;
}

}  // namespace vantrel::ui
