#include "client/execution/down_plan_model.h"

#include <cstdio>
#include <system_error>

#include "client/execution/download_run.h"
#include "client/execution/task_model_impl.h"

namespace vantrel {

template class TaskModel<DownloadKind>;

namespace {

namespace fs = std::filesystem;
using catalogue::DownloadTask;

constexpr CatalogueTable<DownloadTask> kDownloadTable{
    &catalogue::CModule::LoadDownloadTasks,   &catalogue::CModule::AddDownloadTask,
    &catalogue::CModule::ModifyDownloadTask,  &catalogue::CModule::DeleteDownloadTask,
    &catalogue::CModule::RemoveDownloadTask,  &catalogue::CModule::PutDownloadTask,
    &catalogue::CModule::DownloadTasks,       &catalogue::CModule::FindDownloadTask,
    &catalogue::CModule::UpdateDownloadRow,   &catalogue::CModule::RecordDownloadRun};

}  // namespace

CDownPlanModel::CDownPlanModel(const Context& context, DownloadModelOptions options)
    : TaskModel(context, *options.catalogue, *options.blocks, CatalogueTaskKind::Download,
                kDownloadTable),
      options_(std::move(options)) {}

CDownPlanModel::~CDownPlanModel() = default;

bool CDownPlanModel::beginRun(const Entry& entry, Begun& begun, std::string& error) {
    const DownloadTask& task = entry.task;
    DownloadRunSetup setup;
    setup.blocks = options_.blocks;
    setup.flags = options_.flags;
    setup.transferClock = options_.transferClock;
    setup.unzipProgram = options_.unzipProgram;
    setup.noUnzipFileTypes = options_.noUnzipFileTypes;
    auto run = std::make_shared<DownloadRun>(context_, std::move(setup), task);
    begun.run = run;
    bool ok = run->openList(error);
    begun.taskLog = run->taskLogPath();
    run->taskLog("下载任务开始运行", 0);
    if (ok && task.plantype != 1 && task.plantype != 2) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    if (ok) {
        std::unique_ptr<CVornFtp> session = options_.makeSession();
        ok = run->start(*session, error);
    }
    return ok;
}

int CDownPlanModel::queueBlocks(TransferQueue& queue, DownloadRun& run) {
    bool front = false;
    BlockTask* block = run.nextBlock(front);
    if (!block) return 0;
    // A block that completes a file of several blocks jumps the queue.
    return front ? queue.pushFront(block) : queue.pushBack(block);
}

void CDownPlanModel::deliver(DownloadRun& run) {
    run.deliver();
}

int CDownPlanModel::doneCount(const DownloadRun& run) const {
    return run.deliveredCount();
}

bool CDownPlanModel::forgetDay(const Entry& entry) {
    const DownloadTask& task = entry.task;
    const std::string& taskId = task.planid;
    // The list the run really uses: a window that crosses midnight keeps the day it began.
    catalogue::CDownLoadFile list(context_, nullptr, nullptr);
    list.Init(taskId, catalogue::CDownLoadFile::TaskKind::Download, WindowShift(task));
    const fs::path listPath = list.ListPath();
    // Every partial file of the day goes with the list, so every file is fetched afresh.
    list.SetReceiveDirectory(task.plantype == 2 ? fs::path(task.recvpath) / "Bullet"
                                                : fs::path(task.recvpath));
    if (list.LoadWorkItems()) {
        for (const auto& item : list.Items()) {
            std::error_code ec;
            fs::remove(item.partialFile(), ec);
            fs::remove(item.partialFile().string() + ".~block", ec);
        }
    }
    const int deleted = list.DeleteList();
    char line[1024];
    if (deleted == 1) {
        std::snprintf(line, sizeof line, "删除[%s]任务清单成功,清单文件为:%s", taskId.c_str(),
                      listPath.string().c_str());
        sysLog(line);
        return true;
    }
    std::snprintf(line, sizeof line, "重新下载[%s]任务失败,失败原因为:%s", taskId.c_str(),
                  list.LastError().c_str());
    sysLog(line);
    if (context_.prompt)
        context_.prompt->show("DRAV信箱文件交换工具", line, UserPrompt::Icon::Error);
    return false;
}

std::string CDownPlanModel::endLine(const Entry&, const std::string& result, bool) const {
    return "下载任务结束运行，运行结果：" + result;
}

std::string CDownPlanModel::startFailedLine(const std::string& result) const {
    return "下载任务运行结束，运行结果：" + result;
}

std::string CDownPlanModel::stoppedLine() const {
    return "下载任务结束运行，用户停止任务！";
}

}  // namespace vantrel
