#include "client/app/app_core.h"

#include <chrono>
#include <cstdio>

#include "client/app/client_version.h"
#include "client/base/logs.h"
#include "client/config/config.h"
#include "platform/files.h"
#include "platform/thread_id.h"

namespace vantrel {
namespace {

const char* const kNotInstalled = "not installed in this build";

}  // namespace

AppCore::AppCore(const Context& context, StartupParts parts)
    : context_(context), parts_(std::move(parts)) {}

AppCore::~AppCore() = default;

void AppCore::record(const char* name, StepOutcome outcome, std::string detail) {
    steps_.push_back({name, outcome, std::move(detail)});
}

AppCore::Start AppCore::start() {
    std::string error;
    switch (instance_.acquire(context_.installation.runtimeDirectory(), error)) {
        case SingleInstance::Outcome::AlreadyRunning:
            record("single instance", StepOutcome::Failed, kSecondInstanceMessage);
            context_.prompt->show(kAppCaption, kSecondInstanceMessage, UserPrompt::Icon::Warning);
            return Start::SecondInstance;
        case SingleInstance::Outcome::Failed:
            // Without the guard two clients could share one set of state files.
            record("single instance", StepOutcome::Failed, error);
            context_.prompt->show(kAppCaption, error, UserPrompt::Icon::Error);
            return Start::Failed;
        case SingleInstance::Outcome::Acquired:
            record("single instance", StepOutcome::Done);
            break;
    }

    const auto sinceEpoch = context_.clock->now().time_since_epoch();
    session_.randomSeed =
        platform::currentThreadId() +
        static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());

    // Settings before the window, the window before the login, the login before any
    // directory, store or thread: later steps rely on what earlier ones set up.
    loadSettings();
    if (!createMainWindow()) return Start::Failed;
    checkDiskSpace(minimumDiskSpace_);
    if (!login()) return Start::Failed;
    prepareDirectories();
    if (!openBlockStateStore()) return Start::Failed;
    if (loggedIn())
        context_.prompt->show(kAppCaption, "系统登录成功!", UserPrompt::Icon::Information);
    startBackgroundWork();
    context_.logs->writeSysLog("系统启动！");
    record("系统启动！", StepOutcome::Done);
    return Start::Started;
}

void AppCore::loadSettings() {
    CConfig config(context_.installation);
    config.load();
    session_.productId = config.productId;
    session_.clientVersion = clientVersionString(config.version);
    session_.flagId = config.flagId;
    session_.flagClientVersion = session_.clientVersion;
    session_.closeFlag = config.closeFlag;
    session_.flagFileExtend = config.flagFileExtend;
    session_.gateways = config.gateways;
    session_.gateType = config.gateType;
    session_.operatorCode = config.operatorCode;
    minimumDiskSpace_ = config.diskSpace;
    record("settings", StepOutcome::Done);
}

bool AppCore::createMainWindow() {
    if (!parts_.window->create()) {
        record("main window", StepOutcome::Failed);
        return false;
    }
    record("main window", StepOutcome::Done);
    return true;
}

void AppCore::checkDiskSpace(int minimumMegabytes) {
    const DiskSpaceCheck check(context_.installation.bin(), parts_.freeSpace);
    std::string message;
    if (check.enough(minimumMegabytes, message)) {
        record("disk space", StepOutcome::Done);
        return;
    }
    // A warning only: the operator may still work and clean up later.
    record("disk space", StepOutcome::Failed, message);
    context_.prompt->show(kAppCaption, message, UserPrompt::Icon::Warning);
}

bool AppCore::loggedIn() const {
    for (const StepReport& step : steps_) {
        if (step.name == "login") return step.outcome == StepOutcome::Done;
    }
    return false;
}

bool AppCore::login() {
    LoginRequest request;
    request.gateways = session_.gateways;
    request.gateType = session_.gateType;
    request.operatorCode = session_.operatorCode;
    request.productId = session_.productId;
    request.clientVersion = session_.clientVersion;
    switch (parts_.login->run(request)) {
        case LoginOutcome::NotLoggedIn:
            record("login", StepOutcome::Failed);
            return false;
        case LoginOutcome::Offline:
            record("login", StepOutcome::NotInstalled, "offline: no gateway session");
            break;
        case LoginOutcome::LoggedIn:
            record("login", StepOutcome::Done);
            break;
    }
    parts_.window->applyPermissions();
    return true;
}

void AppCore::prepareDirectories() {
    CConfig config(context_.installation);
    config.readPaths();
    std::string failures;
    for (const auto& dir : {config.sendPath, config.sentPath, config.recvPath}) {
        const Status made = platform::createDirectories(dir);
        if (!made.isOk()) {
            // Not fatal: the task runs report their own missing directories.
            context_.logs->writeSysLog("创建目录" + dir.string() + "失败,原因:" + made.text());
            failures += (failures.empty() ? "" : "; ") + made.text();
        }
    }
    record("directories", failures.empty() ? StepOutcome::Done : StepOutcome::Failed, failures);
    parts_.window->hideProgress();
}

bool AppCore::openBlockStateStore() {
    if (!parts_.blockStates) {
        record("block-state list store", StepOutcome::NotInstalled, kNotInstalled);
        return true;
    }
    const Status opened =
        parts_.blockStates->open(context_.installation.data() / kBlockStateListFile);
    if (opened.isOk()) {
        record("block-state list store", StepOutcome::Done);
        return true;
    }
    char text[2048];
    std::snprintf(text, sizeof text, "初始化内存映射文件%s失败,原因:%s", kBlockStateListFile,
                  opened.text().c_str());
    context_.prompt->show(kAppCaption, text, UserPrompt::Icon::Error);
    context_.logs->writeSysLog(text);
    record("block-state list store", StepOutcome::Failed, text);
    return false;
}

void AppCore::startBackgroundWork() {
    // The worker count is read again: the operator may have changed it during login.
    CConfig config(context_.installation);
    config.load();
    if (parts_.threads) {
        parts_.threads->start(config.transCounts);
        record("background threads", StepOutcome::Done);
    } else {
        record("background threads", StepOutcome::NotInstalled, kNotInstalled);
    }
    if (parts_.flagFiles) {
        parts_.flagFiles->initialiseToday();
        record("flag files", StepOutcome::Done);
    } else {
        record("flag files", StepOutcome::NotInstalled, kNotInstalled);
    }
    if (parts_.timers) {
        parts_.timers->start();
        record("timers", StepOutcome::Done);
    } else if (!parts_.window->hasTimers()) {
        record("timers", StepOutcome::NotApplicable, "no window");
    } else {
        record("timers", StepOutcome::NotInstalled, kNotInstalled);
    }
}

void AppCore::exit() {
    // Only a start that took the single-instance lock has anything to undo.
    if (exited_ || !instance_.held()) return;
    exited_ = true;
    context_.logs->writeSysLog("系统退出！");
    record("系统退出！", StepOutcome::Done);
    if (parts_.session) {
        parts_.session->disconnect();
        record("interactive handle", StepOutcome::Done);
    } else {
        record("interactive handle", StepOutcome::NotInstalled, kNotInstalled);
    }
    parts_.window->destroyProgress();
    // Released last: a new client may start only once this one is gone.
    instance_.release();
}

}  // namespace vantrel
