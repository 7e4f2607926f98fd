#include "updater/travex_run.h"

#include <cerrno>
#include <system_error>

#include "client/base/installation.h"
#include "client/gateway/text_format.h"
#include "client/update/update_checks.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "updater/installer.h"
#include "updater/package_archive.h"
#include "updater/package_signature.h"

namespace vantrel::updater {

namespace {

bool isNumber(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// A setting of section `update` without its trailing separators, or `fallback`.
std::filesystem::path setting(const platform::IniFile& ini, const char* key,
                              const std::filesystem::path& fallback) {
    std::string value = ini.getString("update", key, "");
    while (!value.empty() && (value.back() == '\\' || value.back() == '/')) value.pop_back();
    return value.empty() ? fallback : std::filesystem::path(value);
}

// Texts from the server may hold line breaks, which would end the value in Client.ini.
std::string oneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return text;
}

}  // namespace

Result<Arguments> parseArguments(const std::vector<std::string>& arguments) {
    const auto bad = [] { return Status::error(ErrorKind::InvalidArgument, kArgumentError); };
    if (arguments.size() != 6 || arguments[0].empty() || !isNumber(arguments[4]) ||
        !isNumber(arguments[5])) {
        return bad();
    }
    const int port = std::stoi(arguments[4]);
    if (port < 1 || port > 65535) return bad();
    return Arguments{arguments[0], arguments[1], arguments[2],
                     arguments[3], arguments[4], std::stoi(arguments[5])};
}

UpdateRun::UpdateRun(Arguments arguments, Reporter& reporter)
    : arguments_(std::move(arguments)), reporter_(reporter) {}

int UpdateRun::fail(std::string text) {
    ftp_.close();
    error_ = std::move(text);
    // The client's start-up reads this, so that it goes on to the login instead of starting
    // an update that cannot be completed over and over.
    platform::IniFile ini(arguments_.settingsFile);
    (void)ini.setString("update", update::kFailureKey, oneLine(error_));
    (void)ini.setString("update", update::kFailedVersionKey,
                        update::isPlainFileName(moduleVersion_) ? moduleVersion_ : "");
    reporter_.status(error_);
    return -1;
}

int UpdateRun::failOrCancelled(std::string text) {
    if (!cancel_.isSet()) return fail(std::move(text));
    ftp_.close();
    platform::IniFile ini(arguments_.settingsFile);
    (void)ini.setString("update", "install", installBefore_);
    error_ = "用户取消更新";
    reporter_.status(error_);
    return kCancelled;
}

int UpdateRun::run() {
    error_.clear();
    cancel_.reset();
    platform::IniFile ini(arguments_.settingsFile);
    const std::filesystem::path root =
        std::filesystem::absolute(arguments_.settingsFile).parent_path().parent_path();
    moduleVersion_.clear();
    packageName_.clear();
    installBefore_ = ini.getString("update", "install", "0");
    if (Status s = ini.setString("update", "install", "0"); !s) {
        return fail("写配置文件失败:" + s.text());
    }
    // Only a run that ends in failure leaves a record; one cut off (killed, power lost) is
    // taken up again by the next start, which resumes the download.
    (void)ini.setString("update", update::kFailureKey, "");
    (void)ini.setString("update", update::kFailedVersionKey, "");
    reporter_.caption("更新配置");
    reporter_.text("正在更新相关配置，请稍候...");
    reporter_.status("正在登录升级服务器......");

    const std::filesystem::path tempPath = setting(ini, "temppath", root / "tmp");
    const std::filesystem::path targetPath =
        setting(ini, "targetpath", root / update::kPackageDirectory);
    const std::string serverPath = setting(ini, "servpath", {}).generic_string();
    const std::filesystem::path library = setting(ini, "dllpath", root / "bin" / "libKorrim.so");

    reporter_.status("正在连接服务器......");
    ftp_.init({{arguments_.address, arguments_.port}}, library, arguments_.timeOut);
    ftp_.setCancelEvent(&cancel_);
    ftp_.setProgress(
        [this](std::int64_t done, std::int64_t total) { reporter_.progress(done, total); });
    std::vector<FastLoginValue> values;
    if (ftp_.login({"moduleversion", "packagename"}, arguments_.productId, arguments_.version,
                   values) < 0) {
        return failOrCancelled(ftp_.status());
    }
    reporter_.status("正在获得版本信息......");
    moduleVersion_ = fastLoginValue(values, "moduleversion");
    packageName_ = fastLoginValue(values, "packagename");
    if (moduleVersion_.empty()) return fail("获取更新版本失败!");
    // Both name files here: anything but a plain name could reach outside the folders.
    if (packageName_.empty() || !update::isPlainFileName(packageName_) ||
        !update::isPlainFileName(moduleVersion_)) {
        return fail(update::kBadPackageName);
    }

    reporter_.status("更新配置完成");
    reporter_.caption("正在准备");
    reporter_.text("正在准备更新前的工作...");
    reporter_.status("正在检查......");
    const std::filesystem::path tempFile = tempPath / (packageName_ + "_" + moduleVersion_);
    const std::filesystem::path target = targetPath / packageName_;
    // As the flag model is asked for: an empty servpath gives "/" + the name.
    const std::string serverFile = serverPath + "/" + packageName_;
    if (Status s = platform::createDirectories(tempPath); !s) return fail(s.text());
    if (Status s = platform::createDirectories(targetPath); !s) return fail(s.text());
    std::error_code ec;
    if (std::filesystem::exists(target, ec)) {
        std::filesystem::permissions(target, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
    }

    reporter_.caption("升级主程序");
    reporter_.text(formatText("更新日期：moduleversion:%s \r\n\r\n正在下载[%s]，请稍候...",
                              moduleVersion_.c_str(), packageName_.c_str()));
    if (ftp_.download(serverFile, tempFile) != 0) return failOrCancelled(ftp_.status());

    // The digest only says the file came as the server holds it; the signature says who
    // made it. A refused package goes nowhere near installdir/ or bin/.
    const Installation installation(root, root / "tmp");
    reporter_.status("正在验证安装包签名...");
    if (Status s = verifyPackage(tempFile, installation.localconfig() / kPublicKeyFile); !s) {
        std::filesystem::remove(tempFile, ec);  // the next run fetches it anew
        return fail("拒绝安装:" + s.text());
    }

    reporter_.status("正在移动安装包...");
    if (Status s = platform::moveFileReplacing(tempFile, target); !s) {
        return fail(formatText("移动文件失败，错误代码：%d", s.systemCode()));
    }
    reporter_.status("正在安装更新...");
    if (Status s = installPackage(installation, target); !s) {
        return fail("安装更新失败:" + s.text());
    }
    if (Status s = ini.setString("update", "moduleversion", moduleVersion_); !s) {
        return fail("写配置文件失败:" + s.text());
    }
    (void)ini.setString("update", "install", "1");
    ftp_.close();
    reporter_.caption("更新完成");
    reporter_.text(
        formatText("您已更新到最新版本.\r\n\r\n更新日期 [moduleversion:%s] \r\n\r\n安 装 包 [%s]",
                   moduleVersion_.c_str(), packageName_.c_str()));
    reporter_.status("更新完成");
    return 0;
}

}  // namespace vantrel::updater
