#pragma once
// CConfig: the client's settings in localconfig/Client.ini. A short-lived object: construct,
// load, use, destroy; nothing is cached across operations, so a change in the file is seen
// by the next reader. A missing file or key gives the defaults; failed writes are returned
// but callers may ignore them (the system never reports them).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "client/base/gateway_entry.h"
#include "client/base/installation.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr int kGatewayCount = 5;

// The real-time report settings, read and written as one record.
struct RealtimeReportSettings {
    std::string receivePath;        // sshbcfg/revpath
    std::string manualReceivePath;  // sshbcfg/handrevpath
    bool stopped = false;           // sshbcfg/runstate != 1
    bool addDate = false;           // sshbcfg/adddate == 1
    bool operator==(const RealtimeReportSettings&) const = default;
};

class CConfig {
  public:
    explicit CConfig(const Installation& installation);
    virtual ~CConfig() = default;

    // Client.ini -> fields, with every default and validation.
    void load();
    // Fields -> Client.ini: OpertID, HistoryDays, FlagFileExtend, CloseFlag, GateType, the
    // gateway list, SelectTimeOut, NoUnzipFileType, TransCounts. The password is never written.
    Status save() const;
    // Fills sendPath, sentPath and recvPath: each configured name joined to the root.
    void readPaths();

    // Single keys, read or written directly in the file.
    // The operator code of the last login (userinfo/OpertID), kept for the next login.
    Status writeOperatorCode(const std::string& operatorCode) const;
    Status writeDiskSpace(int megabytes) const;
    int readDiskSpace() const;
    int readHistoryDays() const;
    int readTransCounts() const;
    int readSelectTimeOut() const;
    std::string readFlagFileExtend() const;
    int readAutoSyncDay() const;
    int readForceTimeMulti() const;
    int readInstallState() const;
    // update/ServeInstall: whether `vantrel-cli serve` installs what the night version
    // check finds (default off: it only logs the offer).
    bool readServeInstall() const;
    std::string readModuleVersion() const;
    std::string readFlagModuleVersion() const;
    std::string readFlagServPath() const;
    std::string readCleanHisDate() const;
    Status writeCleanHisDate(const std::string& yyyymmdd) const;
    std::string readMailSavePath() const;
    Status writeMailSavePath(const std::string& path) const;

    // <root>/<Bullet defaultpath>/<YYYYMMDD of today>.
    std::filesystem::path todayBulletinDirectory(const platform::Clock& clock) const;

    RealtimeReportSettings readRealtimeReportSettings() const;
    Status writeRealtimeReportSettings(const RealtimeReportSettings& settings) const;

    // The no-unpack list as stored: pieces between "|", empty pieces dropped, no trimming
    // of a piece beyond the whole value's.
    static std::vector<std::string> parseNoUnzipFileTypes(std::string_view value);
    // Each entry followed by "|"; an empty list gives "docx|pptx|xlsx|".
    static std::string formatNoUnzipFileTypes(const std::vector<std::string>& types);
    // A non-empty port as its decimal integer ("08888" gives "8888", "x" gives "0").
    static std::string normalisePort(std::string_view port);

    // Fields, in the order the settings are known by.
    std::filesystem::path clientIniPath;
    int transCounts = 0;
    std::string operatorCode;
    std::string password;
    std::string productId;
    std::string flagId;
    std::string version;
    int installState = 0;
    int sendThreadCount = 0;
    int recvThreadCount = 0;
    std::string flagFileExtend;
    int closeFlag = 0;
    int diskSpace = 0;
    int historyDays = 0;
    std::filesystem::path sendPath;
    std::filesystem::path recvPath;
    std::filesystem::path sentPath;
    std::vector<GatewayEntry> gateways;
    int gateType = 0;
    std::vector<std::string> noUnzipFileTypes;
    int selectTimeOut = 0;

  private:
    void loadGateways();
    Installation installation_;
};

// Defaults that other parts of the client share.
inline constexpr const char* kDefaultVersion = "01.30.00_20200828";
inline constexpr int kDefaultTransCounts = 5;
inline constexpr int kDefaultHistoryDays = 30;
inline constexpr int kDefaultAutoSyncDay = 15;
inline constexpr int kDefaultDiskSpace = 1000;
inline constexpr int kDefaultSelectTimeOut = 5;

}  // namespace vantrel
