#pragma once
// Where a download task's files are listed on the gateway: the service the route names and
// the remote pattern. Shared by the run and by the task dialog's preview, so the preview
// shows what a run of today would fetch.

#include <string>

#include "client/catalogue/task_records.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace vantrel::execution {

// The route's service of a download task: a bulletin task (plantype 2) lists its bulletin
// folder ("FTP_A_BULLET", kept in `opertype`), a mailbox task its mailbox (`mailname`).
const std::string& DownloadService(const catalogue::DownloadTask& task);

// The remote pattern of a run on the local date `today`: a mailbox task's mailbox + "\" +
// the name its file-name rule gives ("*.*" when the rule gives none); a bulletin task's
// day directory (the date "%Y%m%d" twice, then "Bullet\") + its keyword. Fails with the
// rule's text.
Result<std::string> DownloadListPattern(const catalogue::DownloadTask& task,
                                        const platform::LocalTime& today);

}  // namespace vantrel::execution
