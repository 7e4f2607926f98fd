#include "client/execution/tasks/task_kind.h"

#include "client/catalogue/task_catalogue.h"

namespace vantrel {

namespace {

using execution::TaskForm;

constexpr unsigned bit(TaskCommand command) {
    return 1u << static_cast<unsigned>(command);
}

// Every kind may be switched on or off and stopped while it runs; a run is stopped before
// the task starts afresh or leaves. An upload has nothing to fetch again.
constexpr unsigned kRunningCommands = bit(TaskCommand::ToggleSchedule) | bit(TaskCommand::Stop);
constexpr unsigned kIdleUploadCommands =
    bit(TaskCommand::ToggleSchedule) | bit(TaskCommand::RunNow) | bit(TaskCommand::Delete);
constexpr unsigned kIdleDownloadCommands = kIdleUploadCommands | bit(TaskCommand::DownloadAgain);

constexpr execution::TimeOfDay kWindowBegin{8, 0};
constexpr execution::TimeOfDay kWindowEnd{18, 0};

execution::DownloadForm downloadForm(execution::DownloadSource source,
                                     const std::string& receiveDirectory) {
    execution::DownloadForm form;
    form.source = source;
    form.begin = kWindowBegin;
    form.end = kWindowEnd;
    form.directory = receiveDirectory;
    return form;
}

TaskForm newMailboxForm(const std::string& receiveDirectory) {
    return downloadForm(execution::DownloadSource::Mailbox, receiveDirectory);
}

TaskForm newBulletinForm(const std::string& receiveDirectory) {
    return downloadForm(execution::DownloadSource::Bulletin, receiveDirectory);
}

TaskForm newUploadForm(const std::string&) {
    execution::UploadForm form;
    form.begin = kWindowBegin;
    form.end = kWindowEnd;
    return form;
}

// An auto-sync task runs all day; only where it receives is asked.
TaskForm newAutoSyncForm(const std::string& receiveDirectory) {
    execution::AutoSyncForm form;
    form.directory = receiveDirectory;
    return form;
}

constexpr RunEndTexts kDownloadEnd{"下载任务结束运行，运行结果：", "下载任务运行结束，运行结果：",
                                   "下载任务结束运行，用户停止任务！"};

constexpr TaskKindInfo kKinds[] = {
    {TaskKindId::Mailbox, CatalogueTaskKind::Download,
     static_cast<int>(catalogue::DownloadPlanType::Mailbox), "信箱任务", "download", true,
     DayListKind::Download, "下载任务正在运行,请先停止!", kDownloadEnd, &newMailboxForm,
     kIdleDownloadCommands, kRunningCommands},
    {TaskKindId::Bulletin, CatalogueTaskKind::Download,
     static_cast<int>(catalogue::DownloadPlanType::Bulletin), "公告任务", "bulletin", true,
     DayListKind::Download, "下载任务正在运行,请先停止!", kDownloadEnd, &newBulletinForm,
     kIdleDownloadCommands, kRunningCommands},
    {TaskKindId::Upload, CatalogueTaskKind::Upload, 0, "上传任务", "upload", true,
     DayListKind::Upload, "上传任务正在运行,请先停止!",
     {"上传任务结束运行，运行结果：", "上传任务运行结束，运行结果：",
      "上传任务停止运行，用户停止任务！"},
     &newUploadForm, kIdleUploadCommands, kRunningCommands},
    {TaskKindId::AutoSync, CatalogueTaskKind::AutoSync,
     static_cast<int>(catalogue::AutoSyncPlanType::Task), "自动同步任务", "autosync", true,
     DayListKind::Download, "自动同步任务正在运行,请先停止!",
     {"下载自动同步任务结束运行，运行结果：", kDownloadEnd.startFailed, kDownloadEnd.stopped},
     &newAutoSyncForm, kIdleDownloadCommands, kRunningCommands},
    // Made and run by its sync; the operator neither adds nor commands it.
    {TaskKindId::AutoSyncHistory, CatalogueTaskKind::AutoSync,
     static_cast<int>(catalogue::AutoSyncPlanType::History), "自动同步任务", "history", false,
     DayListKind::Download, "自动同步任务正在运行,请先停止!",
     {"自动同步历史任务结束运行，运行结果：", kDownloadEnd.startFailed, kDownloadEnd.stopped},
     nullptr, 0, 0},
};

}  // namespace

std::span<const TaskKindInfo> TaskKinds() {
    return kKinds;
}

const TaskKindInfo& TaskKindOf(TaskKindId id) {
    return kKinds[static_cast<int>(id)];
}

const TaskKindInfo& TaskKindOf(const catalogue::DownloadTask& task) {
    return TaskKindOf(catalogue::IsBulletin(task) ? TaskKindId::Bulletin : TaskKindId::Mailbox);
}

const TaskKindInfo& TaskKindOf(const catalogue::UploadTask&) {
    return TaskKindOf(TaskKindId::Upload);
}

const TaskKindInfo& TaskKindOf(const catalogue::AutoSyncTask& task) {
    return TaskKindOf(catalogue::IsHistoryEntry(task) ? TaskKindId::AutoSyncHistory
                                                      : TaskKindId::AutoSync);
}

const TaskKindInfo* TaskKindNamed(std::string_view word) {
    for (const TaskKindInfo& kind : kKinds) {
        if (kind.managed && word == kind.word) return &kind;
    }
    return nullptr;
}

}  // namespace vantrel
