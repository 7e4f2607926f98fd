// vantrel-cli update check
// vantrel-cli update apply
// check: brings the flag model up to date and tells what the update server offers for the
// program. apply: the same, then runs the updater (headless, waiting for it) when the
// server has a newer version or this version's package is not installed yet.

#include <cstdio>

#include "client/catalogue/flag_manager.h"
#include "client/cli/cli.h"
#include "client/update/update_checks.h"

namespace vantrel::cli {
namespace {

const char* describe(update::UpdateChecker::VersionState state) {
    using State = update::UpdateChecker::VersionState;
    switch (state) {
        case State::kUpToDate:
            return "已是最新版本";
        case State::kNewer:
            return "有新版本";
        case State::kPackageWaiting:
            return "本地存在未安装的更新";
        case State::kNeedsUpdater:
            return "更新尚未安装";
        case State::kLoginFailed:
        case State::kNoServerVersion:
            break;  // said with the precise reason instead
    }
    return "";
}

int runUpdate(Environment& environment, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1 || (arguments[0] != "check" && arguments[0] != "apply")) {
        std::fprintf(stderr, "usage: vantrel-cli update check|apply\n");
        return 2;
    }
    const Context context = environment.context();
    catalogue::CFlagManager flags(context);
    update::UpdateChecker checker(context, update::updateSettingsFor(context.installation), &flags);

    const int config = checker.updateConfigFile();
    std::printf("配置文件: %s\n", config == 1   ? "已更新"
                                  : config == 0 ? "已是最新版本"
                                                : "更新失败(见系统日志)");
    using State = update::UpdateChecker::VersionState;
    const State state = checker.checkVersion();
    if (state == State::kLoginFailed || state == State::kNoServerVersion) {
        // The precise reason (a refused login, no version, a package name that is no
        // plain file name), as the system log has it.
        std::fprintf(stderr, "vantrel-cli update: %s\n", checker.failureText().c_str());
        return 1;
    }
    std::printf("程序: %s", describe(state));
    if (state != State::kUpToDate) {
        std::printf(" [%s %s]", checker.offer().version.c_str(),
                    checker.offer().packageName.c_str());
    }
    std::printf("\n");
    if (arguments[0] == "check" || state == State::kUpToDate) return 0;

    Result<int> exit = checker.runUpdaterHeadless();
    if (!exit) {
        std::fprintf(stderr, "vantrel-cli update: 系统更新：启动升级进程失败！ %s\n",
                     exit.status().text().c_str());
        return 1;
    }
    return *exit == 0 ? 0 : 1;
}

}  // namespace

std::vector<Command> updateCommands() {
    return {{"update", "check|apply",
             "update the flag model and check (or install) a newer program from the update server",
             runUpdate}};
}

}  // namespace vantrel::cli
