#include "client/update/headless_update.h"

#include "client/base/logs.h"
#include "client/config/config.h"
#include "client/update/update_checks.h"

namespace vantrel::update {

HeadlessUpdate::HeadlessUpdate(const Context& context, UpdateChecker& checker)
    : context_(context), checker_(checker) {}

void HeadlessUpdate::sysLog(const std::string& line) const {
    if (context_.logs) (void)context_.logs->writeSysLog(line);
}

void HeadlessUpdate::nightCheck() {
    if (!checker_.headlessCheck()) return;
    if (!CConfig(context_.installation).readServeInstall()) {
        sysLog("系统更新：未设置自动安装([update] ServeInstall=1)，不安装");
        return;
    }
    waiting_ = true;
}

int HeadlessUpdate::install(const std::function<void()>& stopThreads) {
    sysLog("系统更新：停止任务线程，启动升级程序");
    stopThreads();
    Result<int> updater = checker_.runUpdaterHeadless();
    if (!updater) {
        sysLog("系统更新：启动升级进程失败！" + updater.status().text());
    } else {
        sysLog("系统更新：升级程序结束，退出码[" + std::to_string(*updater) + "]");
    }
    waiting_ = false;
    return kRestartExitCode;
}

}  // namespace vantrel::update
