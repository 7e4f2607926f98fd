#include "client/update/update_checks.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "client/app/client_version.h"
#include "client/base/logs.h"
#include "client/catalogue/flag_manager.h"
#include "client/gateway/record_codec.h"
#include "client/gateway/text_format.h"
#include "platform/files.h"
#include "platform/ini_file.h"

namespace vantrel::update {

namespace {

std::filesystem::path withSuffix(const std::filesystem::path& path, const char* suffix) {
    return path.parent_path() / (path.filename().string() + suffix);
}

bool present(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

void removeIfPresent(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

bool renamed(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}

}  // namespace

bool isPlainFileName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7f;
    });
}

int compareVersions(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int x = std::tolower(static_cast<unsigned char>(a[i]));
        const int y = std::tolower(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

UpdaterCommand updaterCommand(const Installation& installation, const std::string& productId,
                              const std::string& clientVersion, const FastServer& server,
                              int timeOut) {
    return {installation.bin() / kUpdaterProgram,
            {installation.clientIni().string(), trimmed(productId), clientVersion, server.address,
             server.port, std::to_string(timeOut)}};
}

UpdateSettings updateSettingsFor(const Installation& installation) {
    CConfig config(installation);
    config.load();
    return {config.productId, clientVersionString(config.version), config.flagId, config.gateways,
            installation.bin() / "libKorrim.so"};
}

UpdateChecker::UpdateChecker(const Context& context, UpdateSettings settings,
                             catalogue::CFlagManager* flags, Launcher launcher)
    : context_(context),
      settings_(std::move(settings)),
      flags_(flags),
      launcher_(std::move(launcher)) {
    if (!launcher_)
        launcher_ = [](const platform::ChildOptions& o) { return platform::startDetached(o); };
}

void UpdateChecker::sysLog(const std::string& line) const {
    if (context_.logs) context_.logs->writeSysLog(line);
}

CFastFtp& UpdateChecker::connection() {
    std::vector<FastServer> servers;
    for (const auto& gateway : settings_.gateways)
        servers.push_back({gateway.address, gateway.ftpPort});
    timeOut_ = CConfig(context_.installation).readSelectTimeOut();
    ftp_.close();
    ftp_.init(servers, settings_.cryptoLibrary, timeOut_);
    ftp_.setCancelEvent(&cancel_);
    cancel_.reset();
    return ftp_;
}

int UpdateChecker::updateConfigFile() {
    const CConfig config(context_.installation);
    const std::string localVersion = trimmed(config.readFlagModuleVersion());
    const std::string serverPath = trimmed(config.readFlagServPath());
    const std::string flagId = trimmed(settings_.flagId.empty() ? "FLAG0001" : settings_.flagId);

    CFastFtp& ftp = connection();
    std::vector<FastLoginValue> values;
    if (ftp.login({"flagversion"}, flagId, localVersion, values) < 0) {
        sysLog("用户登录配置文件服务器失败,失败原因:" + ftp.status());
        ftp.close();
        return -1;
    }
    const std::string serverVersion = fastLoginValue(values, "flagversion");
    if (serverVersion.empty() || compareVersions(serverVersion, localVersion) <= 0) {
        ftp.close();
        return 0;
    }

    const std::filesystem::path model = context_.installation.localconfig() / kFlagModelFile;
    const std::filesystem::path fresh = withSuffix(model, ".new");
    const std::filesystem::path old = withSuffix(model, ".old");
    std::error_code ec;
    if (present(model)) {
        std::filesystem::permissions(model, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
    }
    // A copy left by an interrupted earlier attempt is never resumed on.
    removeIfPresent(fresh);

    const int rc = ftp.download(serverPath + "/" + kFlagModelFile, fresh);
    ftp.close();
    if (rc != 0) {
        sysLog("从配置文件服务器下载配置文件失败,失败原因:" + ftp.status() + "！");
        removeIfPresent(fresh);
        if (!present(model) && present(old)) (void)renamed(old, model);
        return -1;
    }
    // Swap first, record the version after: a failed swap keeps the old file and the old
    // version together, so the next check fetches the model again.
    removeIfPresent(old);
    const bool hadModel = present(model);
    if ((hadModel && !renamed(model, old)) || !platform::moveFileReplacing(fresh, model)) {
        if (hadModel && !present(model)) (void)renamed(old, model);
        removeIfPresent(fresh);
        sysLog("从配置文件服务器下载配置文件失败,失败原因:替换配置文件失败！");
        return -1;
    }
    (void)platform::IniFile(context_.installation.clientIni())
        .setString("update_flag", "flagmoduleversion", serverVersion);
    if (flags_) flags_->RefreshFlags();
    sysLog(formatText("更新配置文件[%s]成功!版本号为[%s]", model.string().c_str(),
                      serverVersion.c_str()));
    return 1;
}

UpdateChecker::VersionState UpdateChecker::checkVersion() {
    CFastFtp& ftp = connection();
    std::vector<FastLoginValue> values;
    const int rc = ftp.login({"moduleversion", "packagename"}, settings_.productId,
                             settings_.clientVersion, values);
    ftp.close();
    failure_.clear();
    if (rc < 0) {
        failure_ = "系统更新：" + ftp.status();
        sysLog(failure_);
        return VersionState::kLoginFailed;
    }
    server_ = ftp.currentServer();
    serverKnown_ = true;
    const std::string version = fastLoginValue(values, "moduleversion");
    const std::string package = fastLoginValue(values, "packagename");
    if (version.empty() || package.empty()) {
        failure_ = "系统更新：得到服务器版本失败！";
        sysLog(failure_);
        return VersionState::kNoServerVersion;
    }
    // Both become parts of paths here and in the updater.
    if (!isPlainFileName(version) || !isPlainFileName(package)) {
        failure_ = std::string("系统更新：") + kBadPackageName;
        sysLog(failure_);
        return VersionState::kNoServerVersion;
    }
    const CConfig config(context_.installation);
    if (compareVersions(version, trimmed(config.readModuleVersion())) > 0) {
        offer_ = {version, package};
        return VersionState::kNewer;
    }
    if (config.readInstallState() != 0) return VersionState::kUpToDate;
    offer_ = {version, package};
    if (present(context_.installation.root() / kPackageDirectory / package))
        return VersionState::kPackageWaiting;
    return VersionState::kNeedsUpdater;
}

bool packageManaged(const Installation& installation) {
    std::error_code ec;
    return std::filesystem::exists(installation.root() / kPackageManagedMarker, ec);
}

int UpdateChecker::startUpdater() {
    if (packageManaged(context_.installation)) {
        if (context_.prompt)
            context_.prompt->show(kAppCaption, kPackageManagedRefusal, UserPrompt::Icon::Error);
        sysLog(kPackageManagedRefusal);
        return -1;
    }
    const UpdaterCommand command = updaterCommand(context_.installation, settings_.productId,
                                                  settings_.clientVersion, server_, timeOut_);
    platform::ChildOptions options;
    options.program = command.program;
    options.arguments = command.arguments;
    options.workingDirectory = context_.installation.bin();
    Result<int> started = launcher_(options);
    if (started) return 0;
    if (context_.prompt) {
        context_.prompt->show(kAppCaption,
                              formatText("打开文件%s失败. \n\r原因:%s", command.program.c_str(),
                                         started.status().text().c_str()),
                              UserPrompt::Icon::Error);
    }
    sysLog("系统更新：启动升级进程失败！");
    return -1;
}

bool UpdateChecker::lastRunFailedOnOffer() {
    platform::IniFile ini(context_.installation.clientIni());
    const std::string failure = ini.getString("update", kFailureKey, "");
    const std::string failedVersion = trimmed(ini.getString("update", kFailedVersionKey, ""));
    if (failure.empty() ||
        (!failedVersion.empty() && compareVersions(failedVersion, offer_.version) != 0)) {
        return false;
    }
    // A run that failed before it learnt the version (at its login) is taken to have failed
    // on this offer, and recorded so, so that a later version is tried again.
    if (failedVersion.empty()) (void)ini.setString("update", kFailedVersionKey, offer_.version);
    failure_ = formatText("系统更新：上次更新[%s]未能完成(%s)，继续使用已安装的程序。",
                          offer_.version.c_str(), failure.c_str());
    sysLog(failure_);
    return true;
}

StartupResult UpdateChecker::startupCheck() {
    const VersionState state = checkVersion();
    // Starting the updater again would end every start-up in the same failure: the operator
    // is told, and the login goes on with the installed program.
    if ((state == VersionState::kNewer || state == VersionState::kNeedsUpdater ||
         state == VersionState::kPackageWaiting) &&
        lastRunFailedOnOffer()) {
        return StartupResult::kUpdateIncomplete;
    }
    switch (state) {
        case VersionState::kUpToDate:
            return StartupResult::kNothingToDo;
        case VersionState::kLoginFailed:
            return StartupResult::kLoginFailed;
        case VersionState::kNoServerVersion:
            return StartupResult::kNoServerVersion;
        case VersionState::kPackageWaiting: {
            questionOpen_ = true;
            const bool yes =
                context_.prompt && context_.prompt->askYesNo(kAppCaption, kInstallQuestion,
                                                             UserPrompt::Icon::Question);
            questionOpen_ = false;
            if (!yes) return StartupResult::kDeclined;
            // The waiting package is installed by the updater, never run itself.
            [[fallthrough]];
        }
        case VersionState::kNewer:
        case VersionState::kNeedsUpdater:
            return startUpdater() == 0 ? StartupResult::kUpdaterStarted
                                       : StartupResult::kUpdaterFailed;
    }
    return StartupResult::kNothingToDo;
}

NightResult UpdateChecker::nightCheck(HandOverTarget& target) {
    switch (checkVersion()) {
        case VersionState::kUpToDate:
            return NightResult::kNothingToDo;
        case VersionState::kLoginFailed:
            return NightResult::kLoginFailed;
        case VersionState::kNoServerVersion:
            return NightResult::kNoServerVersion;
        case VersionState::kNewer:
            return NightResult::kNewerOffered;
        case VersionState::kPackageWaiting: {
            questionOpen_ = true;
            const bool yes =
                context_.prompt && context_.prompt->askYesNo(kAppCaption, kInstallQuestion,
                                                             UserPrompt::Icon::Question);
            questionOpen_ = false;
            if (!yes) return NightResult::kDeclined;
            return handOver(target);
        }
        case VersionState::kNeedsUpdater:
            // Unattended, a hand-over that failed before would close the client every night.
            if (lastRunFailedOnOffer()) return NightResult::kUpdateIncomplete;
            return handOver(target);
    }
    return NightResult::kNothingToDo;
}

bool UpdateChecker::headlessCheck() {
    const VersionState state = checkVersion();
    const char* version = offer_.version.c_str();
    const char* package = offer_.packageName.c_str();
    bool offered = false;
    switch (state) {
        case VersionState::kNewer:
            sysLog(formatText("系统更新：服务器提供新版本[%s]，安装包[%s]", version, package));
            offered = true;
            break;
        case VersionState::kPackageWaiting:
            sysLog(formatText("系统更新：版本[%s]的安装包[%s]已下载，尚未安装", version, package));
            offered = true;
            break;
        case VersionState::kNeedsUpdater:
            sysLog(formatText("系统更新：版本[%s]尚未安装，安装包[%s]需要下载", version, package));
            offered = true;
            break;
        case VersionState::kUpToDate:
        case VersionState::kLoginFailed:
        case VersionState::kNoServerVersion:
            // A failure is logged by the check itself.
            break;
    }
    if (offered && packageManaged(context_.installation)) {
        // Nothing to wait for: serve runs on, and the operator upgrades the package.
        sysLog(kPackageManagedRefusal);
        return false;
    }
    return offered;
}

Result<int> UpdateChecker::runUpdaterHeadless() {
    if (packageManaged(context_.installation)) {
        sysLog(kPackageManagedRefusal);
        return Status::error(ErrorKind::Unsupported, kPackageManagedRefusal);
    }
    const UpdaterCommand command = updaterCommand(context_.installation, settings_.productId,
                                                  settings_.clientVersion, server_, timeOut_);
    platform::ChildOptions options;
    options.program = command.program;
    options.arguments = command.arguments;
    options.arguments.insert(options.arguments.begin(), "--headless");
    options.workingDirectory = context_.installation.bin();
    return platform::runAndWait(options);
}

NightResult UpdateChecker::handOver(HandOverTarget& target) {
    if (!serverKnown_) return NightResult::kUpdaterFailed;
    // A running task is never cut off by an update; the next check tries again.
    if (target.tasksRunning()) {
        sysLog("系统更新：有任务正在运行，稍后再启动升级");
        return NightResult::kDeferred;
    }
    if (startUpdater() != 0) return NightResult::kUpdaterFailed;
    target.stopThreads();
    target.closeMainWindow();
    return NightResult::kHandedOver;
}

}  // namespace vantrel::update
