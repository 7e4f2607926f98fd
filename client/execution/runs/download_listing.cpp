#include "client/execution/runs/download_listing.h"

#include "client/catalogue/catalogue_text.h"
#include "client/execution/runs/file_name_rule.h"

namespace vantrel::execution {

const std::string& DownloadService(const catalogue::DownloadTask& task) {
    return catalogue::IsBulletin(task) ? task.opertype : task.mailname;
}

Result<std::string> DownloadListPattern(const catalogue::DownloadTask& task,
                                        const platform::LocalTime& today) {
    if (catalogue::IsBulletin(task)) {
        const std::string day = catalogue::FormatDate(today);
        return day + day + "Bullet\\" + task.filename;
    }
    Result<std::string> name = applyFileNameRule(task.filename, today);
    if (!name) return name.status();
    return task.mailname + "\\" + (name->empty() ? std::string("*.*") : *name);
}

}  // namespace vantrel::execution
