#include "client/execution/tasks/send_plan_model.h"

#include "client/catalogue/catalogue_text.h"
#include "client/execution/runs/upload_run.h"
#include "client/execution/tasks/task_kind.h"
#include "client/execution/tasks/task_model_impl.h"

namespace vantrel {

template class TaskModel<UploadKind>;

namespace {

using catalogue::UploadTask;

const RunEndTexts& kEnd = TaskKindOf(TaskKindId::Upload).runEnd;
constexpr const char* kQueueFull = "上传任务队列已满,稍候执行!";

}  // namespace

bool AcceptsUploads(const std::string& mailbox) {
    const std::string m = catalogue::TrimText(mailbox);
    return catalogue::EqualsIgnoreCase(m, "FTP_A_QS") ||
           catalogue::EqualsIgnoreCase(m, "FTP_B_QS") || catalogue::EqualsIgnoreCase(m, "FTP_SG");
}

CSendPlanModel::CSendPlanModel(const Context& context, UploadModelOptions options)
    : TaskModel(context, *options.catalogue, *options.blocks, CatalogueTaskKind::Upload,
                CatalogueTableOf<UploadTask>(), {kEnd.ended, kEnd.startFailed, kEnd.stopped}),
      options_(options) {}

CSendPlanModel::~CSendPlanModel() = default;

// An upload window never crosses midnight: the download schedule without the shift.
catalogue::DownloadTask CSendPlanModel::scheduleShape(const UploadTask& task) const {
    catalogue::DownloadTask w;
    w.planstate = task.planstate;
    w.curweek = task.curweek;
    w.begintime = task.begintime;
    w.endtime = task.endtime;
    w.nextRun = task.nextRun;
    return w;
}

CSendPlanModel::Admission CSendPlanModel::admitStart(Entry& entry, platform::WallTime) {
    return !taskQueue_ || taskQueue_->add(entry.task.planid) == 1 ? Admission::Start
                                                                   : Admission::Refuse;
}

void CSendPlanModel::startRefused(const std::string& taskId) {
    catalogue_.RecordRun<catalogue::UploadTask>(taskId, "失败", kQueueFull, nowText(), false);
    post(TaskFailed{CatalogueTaskKind::Upload, taskId, kQueueFull});
}

void CSendPlanModel::leaveRun(const std::string& taskId) {
    if (taskQueue_) taskQueue_->remove(taskId);
}

void CSendPlanModel::stopping(const std::string& taskId) {
    if (taskQueue_) taskQueue_->remove(taskId);
    // A file is one block: the worker sending it gives up at its next packet (-97).
    blocks_.requestStop(taskId);
}

bool CSendPlanModel::beginRun(const Entry& entry, Begun& begun, std::string& error) {
    const UploadTask& task = entry.task;
    UploadRunSetup setup;
    setup.blocks = options_.blocks;
    setup.transferClock = options_.transferClock;
    auto run = std::make_shared<UploadRun>(context_, setup, task);
    begun.run = run;
    bool ok = run->openList(error);
    begun.taskLog = run->taskLogPath();
    run->taskLog("上传任务开始运行", 0);
    if (ok && !AcceptsUploads(task.mailname)) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    return ok && run->start(error);
}

int CSendPlanModel::queueBlocks(TransferQueue& queue, UploadRun& run) {
    run.finishSent();
    // Upload blocks always wait at the tail.
    BlockTask* block = run.nextBlock();
    return block ? queue.pushBack(block) : 0;
}

int CSendPlanModel::doneCount(const UploadRun& run) const {
    return run.sentCount();
}

}  // namespace vantrel
