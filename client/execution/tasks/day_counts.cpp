#include "client/execution/tasks/day_counts.h"

#include <functional>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/dbf_table.h"
#include "client/catalogue/download_list.h"
#include "client/catalogue/upload_list.h"
#include "client/execution/tasks/download_schedule.h"
#include "platform/files.h"

namespace vantrel {

namespace {

DayCount countList(const Context& context, const std::string& taskId, platform::WallTime day,
                   const std::function<bool(const catalogue::DbfRow&)>& done) {
    DayCount count;
    const std::filesystem::path list = catalogue::DailyTaskFile(
        context.installation.data(), taskId, platform::toLocalTime(day), ".dat");
    std::error_code ec;
    if (!std::filesystem::exists(list, ec)) return count;
    catalogue::CDbfImpl table(*context.clock, context.fileSystem());
    if (table.Open(list, 1) != 1) return count;
    catalogue::DbfCursor cursor(table);
    catalogue::DbfRow row;
    int r;
    while (cursor.Next(r, row)) {
        if (row.deleted()) continue;
        ++count.files;
        if (done(row)) ++count.done;
    }
    table.Close();
    return count;
}

// A download row with a delivery time is delivered, whatever its flag says.
bool delivered(const catalogue::DbfRow& row) {
    return catalogue::RowState(row) == catalogue::kDelivered ||
           catalogue::ParseDateTime(row.trimmed("loadtime")).has_value();
}

}  // namespace

DayCount CountToday(const Context& context, const catalogue::DownloadTask& task) {
    // A window that crosses midnight still fills the list of the day it began.
    return countList(context, task.planid, context.clock->now() - WindowShift(catalogue::ScheduleOf(task)),
                     delivered);
}

DayCount CountToday(const Context& context, const catalogue::UploadTask& task) {
    return countList(context, task.planid, context.clock->now(),
                     [](const catalogue::DbfRow& row) { return catalogue::IsSentFlag(row.trimmed("flag")); });
}

DayCount CountToday(const Context& context, const catalogue::AutoSyncTask& task) {
    if (catalogue::IsHistoryEntry(task)) return {};
    return countList(context, task.planid, context.clock->now(), delivered);
}

}  // namespace vantrel
