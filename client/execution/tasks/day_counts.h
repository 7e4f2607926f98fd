#pragma once
// What today's list of a task says when a client starts: how many files it holds and how
// many of them are done, so the task list shows the day as the last run left it rather than
// nothing until the next run. Read only: a list that does not exist yet counts nothing and
// is not made.

#include "client/base/context.h"
#include "client/catalogue/task_records.h"

namespace vantrel {

struct DayCount {
    int files = 0;
    int done = 0;  // delivered (downloads) or sent (uploads)
};

DayCount CountToday(const Context& context, const catalogue::DownloadTask& task);
DayCount CountToday(const Context& context, const catalogue::UploadTask& task);
// A history entry's list is of another day: it counts nothing.
DayCount CountToday(const Context& context, const catalogue::AutoSyncTask& task);

}  // namespace vantrel
