#include "client/execution/tasks/down_plan_model.h"

#include "client/execution/runs/download_run.h"
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
    : DownloadRunModel(context, *options.catalogue, *options.blocks, CatalogueTaskKind::Download,
                       CatalogueTableOf<DownloadTask>(),
                       {kEnd.ended, kEnd.startFailed, kEnd.stopped}),
      options_(std::move(options)) {}

CDownPlanModel::~CDownPlanModel() = default;

bool CDownPlanModel::beginRun(const Entry& entry, Begun& begun, std::string& error) {
    const DownloadTask& task = entry.task;
    auto run = std::make_shared<DownloadRun>(context_, RunSetupOf(options_), task);
    begun.run = run;
    bool ok = run->openList(error);
    begun.taskLog = run->taskLogPath();
    run->taskLog("下载任务开始运行", 0);
    if (ok && !catalogue::IsBulletin(task) &&
        task.plantype != static_cast<int>(catalogue::DownloadPlanType::Mailbox)) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    if (ok) {
        std::unique_ptr<CVornFtp> session = options_.makeSession();
        ok = run->start(*session, error);
    }
    return ok;
}

bool CDownPlanModel::forgetDay(const Entry& entry) {
    const DownloadTask& task = entry.task;
    // The list the run really uses: a window that crosses midnight keeps the day it began.
    std::string line;
    const bool forgotten = ForgetDownloadDay(
        context_, task.planid, WindowShift(task),
        catalogue::IsBulletin(task) ? fs::path(task.recvpath) / "Bullet" : fs::path(task.recvpath), line);
    sysLog(line);
    if (!forgotten && context_.prompt)
        context_.prompt->show("DRAV信箱文件交换工具", line, UserPrompt::Icon::Error);
    return forgotten;
}

}  // namespace vantrel
