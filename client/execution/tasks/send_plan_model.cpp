#include "client/execution/tasks/send_plan_model.h"

#include "client/catalogue/catalogue_text.h"
#include "client/execution/runs/transfer_run.h"
#include "client/execution/runs/upload_direction.h"
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

CSendPlanModel::Admission CSendPlanModel::admitStart(const UploadTask& task, platform::WallTime,
                                                     catalogue::NextRunTime&) {
    return !taskQueue_ || taskQueue_->add(task.planid) == 1 ? Admission::Start : Admission::Refuse;
}

void CSendPlanModel::startRefused(const std::string& taskId) {
    catalogue_.RecordRun<catalogue::UploadTask>(taskId, "失败", kQueueFull, nowText(), false);
    post(TaskFailed{CatalogueTaskKind::Upload, taskId, kQueueFull});
}

void CSendPlanModel::leaveRun(const std::string& taskId, const Entry&, const RunEnd&) {
    if (taskQueue_) taskQueue_->remove(taskId);
}

void CSendPlanModel::stopping(const std::string& taskId) {
    if (taskQueue_) taskQueue_->remove(taskId);
    // A file is one block: the worker sending it gives up at its next packet (TaskStopped).
    blocks_.requestStop(taskId);
}

bool CSendPlanModel::beginRun(const Entry& entry, Begun& begun, std::string& error) {
    const UploadTask& task = entry.task;
    auto direction = std::make_unique<UploadDirection>(context_, *options_.blocks, task);
    UploadDirection& upload = *direction;
    auto run = std::make_shared<TransferRun>(
        context_, TransferRunSetup{options_.blocks, options_.transferClock}, std::move(direction));
    begun.run = run;
    bool ok = upload.openList(error);
    begun.taskLog = run->taskLogPath();
    run->taskLog("上传任务开始运行", 0);
    if (ok && !AcceptsUploads(task.mailname)) {
        error = "不支持的传送计划类型！";
        ok = false;
    }
    return ok && upload.start(error);
}

}  // namespace vantrel
