#pragma once
// What the windows need from the core, as small toolkit-free interfaces. The program wires
// them to the gateway handle, the settings, the file services and the task layer
// (core_ports.h); tests give scripted implementations. Each method says which thread calls
// it. Methods marked "worker thread" may block on the network and are never called on the
// GUI thread.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "client/config/config.h"
#include "client/execution/realtime/realtime_manual.h"
#include "client/execution/realtime/realtime_service.h"
#include "client/execution/session/mailbox_session.h"
#include "client/gateway/gateway_outcome.h"
#include "client/ui/system_settings.h"
#include "platform/status.h"

namespace vantrel {
class UserPrompt;
}

namespace vantrel::ui {

// The five gateways and how they are tried.
enum class GatewayOrder { InOrder = 0, Random = 1 };

struct LoginSettings {
    std::vector<GatewayEntry> gateways;  // five entries
    GatewayOrder order = GatewayOrder::InOrder;
    std::string operatorCode;
};

// Client.ini, read afresh on every call. GUI thread.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    virtual LoginSettings loadLogin() = 0;
    // Saves the gateways, the order and (when not empty) the operator code. The password
    // is never written.
    virtual Status saveLogin(const LoginSettings& settings) = 0;
    // system/DiskSpace in megabytes.
    virtual int minimumFreeMegabytes() = 0;
    // The directory downloads land in and uploads are picked from, created when missing.
    virtual std::filesystem::path receiveDirectory() = 0;
    // Today's bulletin directory, where opened bulletins are kept (not created here).
    virtual std::filesystem::path bulletinDirectory() = 0;
    // The system settings dialog's keys (HistoryDays, FlagFileExtend, CloseFlag and the
    // real-time report settings), and the disk-space minimum written on its own.
    virtual SystemSettings loadSystem() = 0;
    virtual Status saveSystem(const SystemSettings& settings) = 0;
    virtual Status saveMinimumFreeMegabytes(int megabytes) = 0;
};

// The interactive gateway handle: one logged-in session for the windows.
class GatewaySession {
  public:
    virtual ~GatewaySession() = default;
    // Any thread.
    virtual bool isLoggedIn() = 0;
    // GUI thread, while no worker uses the session.
    virtual void dropIfLoggedIn() = 0;
    virtual void setGatewayList(const std::vector<GatewayEntry>& gateways, GatewayOrder order,
                                const std::string& operatorCode, const std::string& password) = 0;
    // Worker thread: the fail-over login; true when logged in, else lastError() explains.
    virtual bool loginToGateway() = 0;
    virtual std::string lastError() = 0;
    // After a login: the user code and the branch code the gateway gave.
    virtual std::string userCode() = 0;
    virtual std::string branchCode() = 0;
    virtual std::string operatorCode() = 0;
    // Worker thread (may load the permission list): 1 allowed, 0 not, as the gateway
    // grants `functionCode` on mailbox `service` to organisation VRELKA.
    virtual bool checkPermission(const std::string& service, const std::string& functionCode) = 0;
};

// The checks that run before the start-up login (configuration file, client version).
// Results: 0 nothing to install, 2/3 the updater takes over (the login closes), 4 the
// operator declined a waiting install, negative failed with `text` filled.
class PreLoginUpdate {
  public:
    virtual ~PreLoginUpdate() = default;
    // GUI thread; may show its own questions.
    virtual int runBeforeLogin(std::string& text) = 0;
};

// One remote list entry as the file service returns it.
struct RemoteEntry {
    std::string name;
    bool isDirectory = false;
    std::uint64_t size = 0;
    std::string date;  // "YYYYMMDD"
    std::string time;  // "HH:MM:SS"
};

// The transfer types are the core's (client/execution/mailbox_session.h): TransferDirection,
// TransferProgress (the snapshot the dialog polls), TransferOutcome, and the file to move.
using TransferItem = MailboxTransferItem;

// Results of the file services that mean the connection to the gateway is lost.
inline bool connectionLost(GatewayOutcome outcome) {
    return losesConnection(outcome);
}
// What the operator is told then.
inline constexpr const char* kLostConnection = "与服务器连接失败，请查询网络连接";

// The mailbox file services of the interactive handle. Worker thread.
class MailboxService {
  public:
    virtual ~MailboxService() = default;
    // Ok, or what failed with `error`; connectionLost tells which mean the connection is lost.
    virtual GatewayOutcome list(const std::string& mailbox, const std::string& directory,
                                std::vector<RemoteEntry>& entries, std::string& error) = 0;
    // The entries `pattern` names in `service`, asked as a scheduled run asks (a day's
    // history list when `history`): the task dialog's preview.
    virtual GatewayOutcome listPattern(const std::string& service, const std::string& pattern,
                                       bool history, std::vector<RemoteEntry>& entries,
                                       std::string& error) = 0;
    virtual GatewayOutcome rename(const std::string& mailbox, const std::string& oldPath,
                                  const std::string& newPath, std::string& error) = 0;
    virtual GatewayOutcome remove(const std::string& mailbox, const std::string& path,
                                  std::string& error) = 0;
    virtual TransferOutcome download(const TransferItem& item, TransferProgress& progress) = 0;
    virtual TransferOutcome upload(const TransferItem& item, TransferProgress& progress) = 0;
};

// The task layer, asked by the main window before it closes. GUI thread.
class TaskActivity {
  public:
    virtual ~TaskActivity() = default;
    // The client is ending on its own (the updater takes over): close without questions.
    virtual bool shuttingDown() = 0;
    // What refuses the close while a task runs ("下载任务正在运行,请先停止!", ...); empty
    // when no task runs.
    virtual std::string closeRefusal() = 0;
    virtual bool realtimeServiceRunning() = 0;
    // Stops the real-time service (logging why) and the background threads; blocks until
    // they are gone.
    virtual void stopForExit() = 0;
};

// The real-time report service's switch and what it shows. GUI thread.
class RealtimeReports {
  public:
    virtual ~RealtimeReports() = default;
    virtual bool running() = 0;
    // The operator's switch: saved as the start-up state and logged by the service.
    virtual void setRunning(bool on) = 0;
    // A copy of the view's lines and the status text.
    virtual RealtimeSnapshot snapshot() = 0;
    // Today's receive directory (the view's double-click opens it).
    virtual std::filesystem::path receiveDirectory() = 0;
};

// The manual receive of real-time reports over the interactive handle. Worker thread,
// except defaultDirectory (GUI thread).
class RealtimeReceive {
  public:
    virtual ~RealtimeReceive() = default;
    // Client.ini's handrevpath.
    virtual std::filesystem::path defaultDirectory() = 0;
    // The reports of the days `from` to `to` ("YYYYMMDD") → their number, or -1 with `error`.
    virtual int query(const std::string& from, const std::string& to,
                      std::vector<ManualReport>& out, std::string& error) = 0;
    // Checks, creates and saves `directory` as handrevpath, then fetches the reports at the
    // positions `chosen` of `listed` one by one.
    virtual Result<std::vector<ManualFetchResult>> fetch(
        const std::vector<std::size_t>& chosen, const std::vector<ManualReport>& listed,
        const std::filesystem::path& directory) = 0;
};

// The mailbox-list export table (DBF, four text columns 125/20/20/8). GUI thread.
class ListTableExport {
  public:
    virtual ~ListTableExport() = default;
    // Writes one record per row (name, size, date, type) under the four column `titles`;
    // the count of records written.
    virtual Result<int> write(const std::filesystem::path& file,
                              const std::array<std::string, 4>& titles,
                              const std::vector<std::vector<std::string>>& rows) = 0;
};

// The ports both the main window and its mailbox browser are given; the window passes
// them on. Not owned.
struct MailboxPorts {
    GatewaySession* session = nullptr;
    MailboxService* mailbox = nullptr;
    SettingsStore* settings = nullptr;
    UserPrompt* prompt = nullptr;
    ListTableExport* tableExport = nullptr;
};

}  // namespace vantrel::ui
