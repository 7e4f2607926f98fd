#include "client/config/config.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "client/base/day_text.h"
#include "client/base/day_text.h"
#include "platform/ini_file.h"

namespace vantrel {
namespace {

// The stored readers used fixed buffers of 260 (mailsavepath: 520) characters.
constexpr std::size_t kValueChars = 259;
constexpr std::size_t kLongValueChars = 519;

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string readString(const platform::IniFile& ini, const char* section, const std::string& key,
                       const std::string& fallback, std::size_t maxChars = kValueChars) {
    return trimmed(ini.getString(section, key, fallback, maxChars));
}

std::string withoutAnyAddress(std::string address) {
    return address == "0.0.0.0" ? std::string() : address;
}

std::string numbered(const char* key, int n) {
    return key + std::to_string(n);
}

// Out-of-range or nonsensical day counts fall back to the default, so a clean-up never
// reaches today's files.
int atLeastOneOr(int value, int fallback) {
    return value < 1 ? fallback : value;
}

int clampedTransCounts(int value) {
    if (value <= 0) return 1;
    if (value > 9) return 10;
    return value;
}

int validSelectTimeOut(int value) {
    return value < 3 || value > 60 ? kDefaultSelectTimeOut : value;
}

}  // namespace

CConfig::CConfig(const Installation& installation)
    : clientIniPath(installation.clientIni()), installation_(installation) {}

std::string CConfig::normalisePort(std::string_view port) {
    if (port.empty()) return {};
    const std::int64_t value = base::LeadingInteger(port);
    // The stored reader produced a 32-bit integer; keep that range.
    if (value > std::numeric_limits<int>::max())
        return std::to_string(std::numeric_limits<int>::max());
    if (value < std::numeric_limits<int>::min())
        return std::to_string(std::numeric_limits<int>::min());
    return std::to_string(value);
}

std::vector<std::string> CConfig::parseNoUnzipFileTypes(std::string_view value) {
    std::vector<std::string> types;
    std::string rest = trimmed(value);
    for (;;) {
        const std::size_t bar = rest.find('|');
        if (bar == std::string::npos) break;
        if (bar > 0) types.push_back(rest.substr(0, bar));
        rest.erase(0, bar + 1);
    }
    if (!rest.empty()) types.push_back(rest);
    return types;
}

std::string CConfig::formatNoUnzipFileTypes(const std::vector<std::string>& types) {
    if (types.empty()) return "docx|pptx|xlsx|";
    std::string value;
    for (const std::string& type : types) value += type + "|";
    return value;
}

void CConfig::load() {
    const platform::IniFile ini(clientIniPath);
    transCounts = clampedTransCounts(ini.getInt("network", "TransCounts", kDefaultTransCounts));
    operatorCode = readString(ini, "userinfo", "OpertID", "");
    password = readString(ini, "userinfo", "password", "");
    productId = readString(ini, "system", "pdtid", "HMRQ0001");
    version = readString(ini, "system", "version", kDefaultVersion);
    if (version.empty()) version = kDefaultVersion;
    flagId = readString(ini, "system", "Flagid", "FLAG0001");
    historyDays =
        atLeastOneOr(ini.getInt("system", "HistoryDays", kDefaultHistoryDays), kDefaultHistoryDays);
    flagFileExtend = readString(ini, "system", "FlagFileExtend", ".rdy");
    closeFlag = ini.getInt("system", "CloseFlag", 0);
    diskSpace = ini.getInt("system", "DiskSpace", kDefaultDiskSpace);
    sendThreadCount = ini.getInt("system", "sendthread", 2);
    recvThreadCount = ini.getInt("system", "recvthread", 2);
    installState = ini.getInt("update", "install", 0);
    gateType = ini.getInt("GateMultiple", "GateType", 0) != 0 ? 1 : 0;
    loadGateways();
    selectTimeOut =
        validSelectTimeOut(ini.getInt("GateMultiple", "SelectTimeOut", kDefaultSelectTimeOut));
    noUnzipFileTypes =
        parseNoUnzipFileTypes(ini.getString("system", "NoUnzipFileType", "", kValueChars));
}

void CConfig::loadGateways() {
    const platform::IniFile ini(clientIniPath);
    gateways.clear();
    bool anyComplete = false;
    for (int n = 1; n <= kGatewayCount; ++n) {
        GatewayEntry entry;
        entry.address =
            withoutAnyAddress(readString(ini, "GateMultiple", numbered("GateIP", n), ""));
        entry.port = normalisePort(readString(ini, "GateMultiple", numbered("GatePort", n), ""));
        entry.ftpPort = readString(ini, "GateMultiple", numbered("FtpPort", n), "8021");
        entry.timeOut = readString(ini, "GateMultiple", numbered("TimeOut", n), "30");
        anyComplete = anyComplete || (!entry.address.empty() && !entry.port.empty());
        gateways.push_back(std::move(entry));
    }
    if (anyComplete) return;
    // No numbered gateway is complete: the single gateway of [network] takes entry 1.
    GatewayEntry& first = gateways.front();
    first.address = withoutAnyAddress(readString(ini, "network", "GateIP", "127.0.0.1"));
    first.port = normalisePort(readString(ini, "network", "GatePort", "8888"));
    first.ftpPort = readString(ini, "network", "FtpPort", "8021");
    first.timeOut = readString(ini, "network", "TimeOut", "30");
    for (std::size_t i = 1; i < gateways.size(); ++i) {
        gateways[i].ftpPort = first.ftpPort;
        gateways[i].timeOut = first.timeOut;
    }
}

Status CConfig::save() const {
    platform::IniFile ini(clientIniPath);
    Status failure;
    auto keep = [&failure](Status s) {
        if (failure.isOk() && !s.isOk()) failure = std::move(s);
    };
    keep(ini.setString("userinfo", "OpertID", operatorCode));
    keep(ini.setInt("system", "HistoryDays", historyDays));
    keep(ini.setString("system", "FlagFileExtend", flagFileExtend));
    keep(ini.setInt("system", "CloseFlag", closeFlag));
    keep(ini.setInt("GateMultiple", "GateType", gateType));
    for (std::size_t i = 0; i < gateways.size(); ++i) {
        const GatewayEntry& g = gateways[i];
        const int n = static_cast<int>(i) + 1;
        keep(ini.setString("GateMultiple", numbered("GateIP", n),
                           g.address == "0.0.0.0" ? "" : g.address));
        keep(ini.setString("GateMultiple", numbered("GatePort", n), g.port == "0" ? "" : g.port));
        keep(ini.setString("GateMultiple", numbered("FtpPort", n), g.ftpPort));
        keep(ini.setString("GateMultiple", numbered("TimeOut", n), g.timeOut));
    }
    keep(ini.setInt("GateMultiple", "SelectTimeOut", selectTimeOut));
    keep(ini.setString("system", "NoUnzipFileType", formatNoUnzipFileTypes(noUnzipFileTypes)));
    keep(ini.setInt("network", "TransCounts", transCounts));
    return failure;
}

void CConfig::readPaths() {
    const platform::IniFile ini(clientIniPath);
    const std::filesystem::path& root = installation_.root();
    sendPath = root / readString(ini, "default", "sendpath", "send");
    sentPath = root / readString(ini, "default", "sentpath", "sent");
    recvPath = root / readString(ini, "default", "recvpath", "recv");
}

Status CConfig::writeOperatorCode(const std::string& code) const {
    return platform::IniFile(clientIniPath).setString("userinfo", "OpertID", code);
}

Status CConfig::writeDiskSpace(int megabytes) const {
    return platform::IniFile(clientIniPath).setInt("system", "DiskSpace", megabytes);
}

int CConfig::readDiskSpace() const {
    return platform::IniFile(clientIniPath).getInt("system", "DiskSpace", kDefaultDiskSpace);
}

int CConfig::readHistoryDays() const {
    return atLeastOneOr(
        platform::IniFile(clientIniPath).getInt("system", "HistoryDays", kDefaultHistoryDays),
        kDefaultHistoryDays);
}

int CConfig::readTransCounts() const {
    return clampedTransCounts(
        platform::IniFile(clientIniPath).getInt("network", "TransCounts", kDefaultTransCounts));
}

int CConfig::readSelectTimeOut() const {
    return validSelectTimeOut(platform::IniFile(clientIniPath)
                                  .getInt("GateMultiple", "SelectTimeOut", kDefaultSelectTimeOut));
}

std::string CConfig::readFlagFileExtend() const {
    return readString(platform::IniFile(clientIniPath), "system", "FlagFileExtend", ".rdy");
}

int CConfig::readAutoSyncDay() const {
    return atLeastOneOr(
        platform::IniFile(clientIniPath).getInt("system", "AutoSyncDay", kDefaultAutoSyncDay),
        kDefaultAutoSyncDay);
}

int CConfig::readForceTimeMulti() const {
    return platform::IniFile(clientIniPath).getInt("system", "ForceTimeMuli", 3);
}

int CConfig::readInstallState() const {
    return platform::IniFile(clientIniPath).getInt("update", "install", 0);
}

bool CConfig::readServeInstall() const {
    return platform::IniFile(clientIniPath).getInt("update", "ServeInstall", 0) == 1;
}

std::string CConfig::readModuleVersion() const {
    return readString(platform::IniFile(clientIniPath), "update", "moduleversion", "");
}

std::string CConfig::readFlagModuleVersion() const {
    return readString(platform::IniFile(clientIniPath), "update_flag", "flagmoduleversion", "");
}

std::string CConfig::readFlagServPath() const {
    return readString(platform::IniFile(clientIniPath), "update_flag", "flagservpath", "");
}

std::string CConfig::readCleanHisDate() const {
    return readString(platform::IniFile(clientIniPath), "system", "cleanHisDate", "");
}

Status CConfig::writeCleanHisDate(const std::string& yyyymmdd) const {
    return platform::IniFile(clientIniPath).setString("system", "cleanHisDate", yyyymmdd);
}

std::string CConfig::readMailSavePath() const {
    // A drive letter means nothing here; the operator's home folder is the natural start.
    const char* home = std::getenv("HOME");
    const std::string fallback = home && *home ? home : installation_.root().string();
    return readString(platform::IniFile(clientIniPath), "system", "mailsavepath", fallback,
                      kLongValueChars);
}

Status CConfig::writeMailSavePath(const std::string& path) const {
    return platform::IniFile(clientIniPath).setString("system", "mailsavepath", path);
}

std::filesystem::path CConfig::todayBulletinDirectory(const platform::Clock& clock) const {
    const std::string name =
        readString(platform::IniFile(clientIniPath), "Bullet", "defaultpath", "Bullet");
    return installation_.root() / name / base::FormatDate(clock.localNow());
}

RealtimeReportSettings CConfig::readRealtimeReportSettings() const {
    const platform::IniFile ini(clientIniPath);
    RealtimeReportSettings s;
    s.receivePath =
        readString(ini, "sshbcfg", "revpath", (installation_.root() / "sshbrev").string() + "/");
    s.manualReceivePath =
        readString(ini, "sshbcfg", "handrevpath", (installation_.root() / "sshbrev_s").string());
    s.stopped = ini.getInt("sshbcfg", "runstate", 1) != 1;
    s.addDate = ini.getInt("sshbcfg", "adddate", 0) == 1;
    return s;
}

Status CConfig::writeRealtimeReportSettings(const RealtimeReportSettings& settings) const {
    platform::IniFile ini(clientIniPath);
    Status failure;
    auto keep = [&failure](Status s) {
        if (failure.isOk() && !s.isOk()) failure = std::move(s);
    };
    keep(ini.setString("sshbcfg", "revpath", settings.receivePath));
    keep(ini.setString("sshbcfg", "handrevpath", settings.manualReceivePath));
    keep(ini.setString("sshbcfg", "runstate", settings.stopped ? "0" : "1"));
    keep(ini.setString("sshbcfg", "adddate", settings.addDate ? "1" : "0"));
    return failure;
}

}  // namespace vantrel
