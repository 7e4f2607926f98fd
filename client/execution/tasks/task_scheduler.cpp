#include "client/execution/tasks/task_scheduler.h"

#include "client/config/config.h"
#include "client/base/logs.h"
#include "client/execution/tasks/task_commands.h"
#include "client/execution/unpacking/unpacker.h"
#include "client/gateway/record_codec.h"
#include "platform/files.h"

namespace vantrel {
namespace {

FileBlockInfo::Options blockOptions(const Context& context) {
    FileBlockInfo::Options o;
    o.clock = context.clock;
    o.files = context.files;
    if (Logs* logs = context.logs)
        o.systemLog = [logs](std::string_view line) { (void)logs->writeSysLog(line); };
    return o;
}

}  // namespace

TaskScheduler::TaskScheduler(const Context& context, GatewayProcessState& process, Options options)
    : context_(context),
      process_(process),
      options_(options),
      credentials_(context_, process),
      catalogue_(context_, planDir_),
      flags_(context_),
      blocks_(blockOptions(context)),
      memList_(blockOptions(context).systemLog),
      days_(*context_.clock),
      realtime_(context_, days_, realtimeOptions()),
      downloads_(context_, downloadOptions(options)),
      uploads_(context_,
               [&] {
                   UploadModelOptions o;
                   o.catalogue = &catalogue_;
                   o.blocks = &blocks_;
                   o.transferClock = options.transferClock;
                   return o;
               }()),
      autoSyncs_(context_, [&] {
          AutoSyncModelOptions o;
          static_cast<DownloadModelOptions&>(o) = downloadOptions(options);
          o.process = &process_;
          return o;
      }()),
      daily_(context_, days_, catalogue_, flags_) {}

DownloadModelOptions TaskScheduler::downloadOptions(const Options& options) {
    DownloadModelOptions o;
    o.catalogue = &catalogue_;
    o.blocks = &blocks_;
    o.flags = &flags_;
    o.makeSession = [this] { return makeSession(); };
    o.transferClock = options.transferClock;
    o.unzipProgram = execution::unzipProgram(context_.installation);
    CConfig config(context_.installation);
    config.load();
    o.noUnzipFileTypes = config.noUnzipFileTypes;
    return o;
}

RealtimeService::Options TaskScheduler::realtimeOptions() {
    RealtimeService::Options o;
    o.makeSession = [this] { return makeSession(); };
    o.localList = &memList_;
    return o;
}

TaskScheduler::~TaskScheduler() {
    stop();
}

std::unique_ptr<CVornFtp> TaskScheduler::makeSession() const {
    auto session = std::make_unique<CVornFtp>(context_, process_);
    credentials_.ConfigureLike(*session);
    return session;
}

Status TaskScheduler::open(const std::filesystem::path& file) {
    if (Status made = platform::createDirectories(file.parent_path()); !made) return made;
    if (!memList_.open(file)) return Status::error(ErrorKind::IoError, memList_.errorText());
    return Status::ok();
}

void TaskScheduler::start(int workerCount) {
    if (threads_) return;
    if (options_.loginSource) {
        options_.loginSource->ConfigureLike(credentials_);
        catalogue_.SetOperator(trimmed(options_.loginSource->GetOperatorCode()));
    }
    catalogue_.SetTradingDate(process_.lastLogin().businessDate);
    ThreadManagerOptions o;
    o.download = &downloads_;
    o.upload = &uploads_;
    o.autoSync = &autoSyncs_;
    o.realtime = &realtime_;
    o.makeSession = [this] { return makeSession(); };
    // Commands another vantrel-cli posted are taken once a second by the plan monitor, and
    // the day's work is looked after.
    o.housekeeping = [this] {
        takeInbox();
        daily_.tick();
        if (options_.onTick) options_.onTick();
    };
    if (options_.stopStep) o.stopStep = *options_.stopStep;
    if (options_.tickPeriod) o.tickPeriod = *options_.tickPeriod;
    realtime_.startAsConfigured();
    threads_ = std::make_unique<CPlanThreadMgr>(context_, process_, std::move(o));
    uploads_.setTaskQueue(&threads_->uploadTaskQueue());
    threads_->StartThreads(workerCount);
}

std::vector<DiskSpaceWatch::Target> TaskScheduler::diskTargets() const {
    std::vector<DiskSpaceWatch::Target> targets = {{context_.installation.root(), ""}};
    for (const PlanModel* model : models()) model->addWriteTargets(targets);
    return targets;
}

void TaskScheduler::initialiseToday() {
    flags_.LoadFlags();
}

void TaskScheduler::stop() {
    if (!threads_) return;
    realtime_.prepareExit();
    threads_->StopThreads();
}

void TaskScheduler::takeInbox() {
    for (const InboxCommand& command : CommandInbox(context_.installation).take()) {
        std::string error;
        if (!execute(command, error) && context_.logs) (void)context_.logs->writeSysLog(error);
    }
}

bool TaskScheduler::execute(const InboxCommand& command, std::string& error) {
    if (command.verb == "realtime") {
        if (command.taskId != "on" && command.taskId != "off") {
            error = "实时回报服务命令[" + command.taskId + "]不正确！";
            return false;
        }
        realtime_.setRunning(command.taskId == "on");
        return true;
    }
    if (command.verb == "reload") {
        // Taken at once (this is the plan monitor's thread), so a command posted after the
        // edit finds the tables as edited.
        for (const CatalogueTaskKind table :
             {CatalogueTaskKind::Download, CatalogueTaskKind::Upload, CatalogueTaskKind::AutoSync}) {
            model(table).queueLoad();
            model(table).processCommands();
        }
        return true;
    }
    TaskCommands commands(*this, *context_.clock, [] { return std::string(); });
    if (command.verb == "run") return commands.runNow(command.taskId, error);
    if (command.verb == "stop") return commands.stop(command.taskId, error);
    if (command.verb == "again") return commands.again(command.taskId, error);
    error = "命令[" + command.verb + "]不正确！";
    return false;
}

PlanModel& TaskScheduler::model(CatalogueTaskKind table) {
    PlanModel* const models[] = {&uploads_, &downloads_, &autoSyncs_};
    static_assert(static_cast<int>(CatalogueTaskKind::Upload) == 0 &&
                  static_cast<int>(CatalogueTaskKind::Download) == 1 &&
                  static_cast<int>(CatalogueTaskKind::AutoSync) == 2);
    return *models[static_cast<int>(table)];
}

std::optional<TaskScheduler::RunView> TaskScheduler::runView(const std::string& taskId) const {
    for (const PlanModel* model : models()) {
        if (std::optional<RunView> view = model->runView(taskId)) return view;
    }
    return std::nullopt;
}

std::string TaskScheduler::closeRefusal() const {
    if (!threads_) return {};
    if (threads_->downloadRunning()) return TaskKindOf(TaskKindId::Mailbox).runningRefusal;
    if (threads_->autoSyncRunning()) return TaskKindOf(TaskKindId::AutoSync).runningRefusal;
    if (threads_->uploadRunning()) return TaskKindOf(TaskKindId::Upload).runningRefusal;
    return {};
}

}  // namespace vantrel
