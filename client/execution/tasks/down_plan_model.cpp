#include "client/execution/tasks/down_plan_model.h"

#include "client/execution/runs/download_listing.h"
#include "client/execution/runs/remote_listing.h"
#include "client/execution/tasks/task_kind.h"
#include "client/execution/tasks/task_model_impl.h"

namespace vantrel {

template class TaskModel<DownloadKind>;

namespace {

namespace fs = std::filesystem;
using catalogue::DownloadTask;

// Mailbox and bulletin tasks end alike.
const RunEndTexts& kEnd = TaskKindOf(TaskKindId::Mailbox).runEnd;

}  // namespace

CDownPlanModel::CDownPlanModel(const Context& context, DownloadModelOptions options)
    : TaskModel(context, *options.catalogue, *options.blocks, CatalogueTaskKind::Download,
                CatalogueTableOf<DownloadTask>(),
                {kEnd.ended, kEnd.startFailed, kEnd.stopped, true}),
      options_(std::move(options)) {}

CDownPlanModel::~CDownPlanModel() = default;

bool CDownPlanModel::beginRun(const Entry& entry, Begun& begun, std::string& error) {
    const DownloadTask& task = entry.task;
    const DownloadRunParts parts = MakeDownloadRun(context_, RunSetupOf(options_), task);
    begun.run = parts.run;
    bool ok = parts.download->openList(error);
    begun.taskLog = parts.run->taskLogPath();
    parts.run->taskLog("下载任务开始运行", 0);
    if (ok && !catalogue::IsBulletin(task) &&
        task.plantype != static_cast<int>(catalogue::DownloadPlanType::Mailbox)) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    return ok && listInto(task, *parts.download, error);
}

bool CDownPlanModel::listInto(const DownloadTask& task, DownloadDirection& download,
                              std::string& error) {
    std::unique_ptr<CVornFtp> session = options_.makeSession();
    Result<std::string> pattern = download.listPattern();
    if (!pattern) {
        error = pattern.status().text();
        return false;
    }
    if (!execution::LogInToList(context_, *session, error)) return false;
    // A bulletin folder is listed as a day's history ("09"), a mailbox with "00".
    const bool bulletin = catalogue::IsBulletin(task);
    const std::string& name = execution::DownloadService(task);
    session->SetRoute(kMailboxOrganisation, name, bulletin ? "09" : "00");
    std::vector<catalogue::RemoteFileEntry> files;
    const bool listed = execution::ListAndLogOut(
        *session,
        [&](VornFileService& service, std::vector<filesvc::ListEntry>& out) {
            return bulletin ? service.listHistory(name, *pattern, out)
                            : service.listFiles(name, *pattern, out);
        },
        files, error);
    return listed && download.adopt(std::move(files), error);
}

bool CDownPlanModel::forgetDay(const Entry& entry) {
    const DownloadTask& task = entry.task;
    // The list the run really uses: a window that crosses midnight keeps the day it began.
    std::string line;
    const bool forgotten = ForgetDownloadDay(
        context_, task.planid, WindowShift(catalogue::ScheduleOf(task)),
        catalogue::IsBulletin(task) ? fs::path(task.recvpath) / "Bullet" : fs::path(task.recvpath), line);
    sysLog(line);
    if (!forgotten && context_.prompt)
        context_.prompt->show("DRAV信箱文件交换工具", line, UserPrompt::Icon::Error);
    return forgotten;
}

}  // namespace vantrel
