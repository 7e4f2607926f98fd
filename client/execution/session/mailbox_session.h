#pragma once
// The mailbox browser's core, one for every front end: the interactive gateway session
// (log-in, the operator's facts, the permission check and its refusal texts) and the
// mailbox operations on it (list, rename, delete, and downloads and uploads that keep a
// progress snapshot a window polls). The GUI's ports forward to these classes and
// vantrel-cli's ls/get/put/rm/mv call them; both keep only their dialogs and printing.
//
// Threads and locks:
//  - MailboxSession: any thread. Every use of the interactive handle (log-in, permission
//    check, list, rename, delete, and transfers when the operations share the handle) runs
//    under the handle lock, one at a time; the permission list the handle loads is only
//    touched there. After each use the login state, codes and last error are copied under
//    the facts lock (which also guards the credentials), so the facts' getters never wait
//    for a network exchange; a GUI thread may call them.
//  - MailboxOperations: every method blocks on the network, so a window calls them from a
//    worker thread. list, findFile, rename and remove take the handle lock. download and
//    upload on a transfer handle of their own take only the transfer lock for the whole
//    file, so the windows keep using the session while a file moves; on the session's
//    handle they hold the handle lock instead.
//  - TransferProgress: written by the transfer's thread, read by any thread; its texts and
//    counts are guarded by its own mutex, the Stop flags are atomics.
// Lock order: the transfer lock or the handle lock before the facts lock, never the other
// way; the transfer lock and the handle lock are never held together.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/config/config.h"
#include "client/gateway/interactive_gateway.h"
#include "client/transfer/block_transfer.h"
#include "client/transfer/file_service_body.h"

namespace vantrel {

// What an operator may do in a mailbox, as the gateway's permission list names it.
enum class MailboxFunction { List, Delete, Rename, Upload, Download };

// The function code checked: "00" list, "01" delete, "02" rename, "03" upload, "04" download.
const char* mailboxFunctionCode(MailboxFunction function);
// What the operator is told when the mailbox refuses `function`.
const char* mailboxRefusal(MailboxFunction function);

enum class TransferDirection { Download, Upload };

// One file moved by hand.
struct MailboxTransferItem {
    std::string mailbox;          // service code, e.g. FTP_A_QS
    std::string remoteDirectory;  // the mailbox directory, "" at the root, else "dir\\"
    std::string remoteName;
    std::filesystem::path localDirectory;  // download: received into; upload: sent from
    std::uint64_t size = 0;                // download: from the listing
    std::string localName{};               // upload: the local file when not `remoteName`
};

// What a file's transfer came to: Ok, Cancelled by the operator, or a failure with the
// text; losesConnection() tells those that mean the connection to the gateway is lost.
struct TransferOutcome {
    GatewayOutcome outcome = GatewayOutcome::Ok;
    std::string text;
};

// A copy of one transfer's progress, taken at once.
struct TransferSnapshot {
    std::string fileName;
    std::int64_t bytesDone = 0;
    std::int64_t fileSize = 0;
    std::string speed;      // "%9.2fK"
    std::string remaining;  // "%02d:%02d:%02d"
    std::string statusLine;
};

// The progress of one transfer, written by the transfer's thread and polled by a window
// on a timer. The texts and counts are guarded by `mutex`.
struct TransferProgress {
    mutable std::mutex mutex;
    std::string fileName;
    std::int64_t bytesDone = 0;
    std::int64_t fileSize = 0;
    std::string speed;
    std::string remaining;
    std::string statusLine;
    // Set by the window when the operator presses Stop; the transfer takes it, asks whether
    // to cancel, and either ends the file (Cancelled) or sets `resumed`.
    std::atomic<bool> stopPressed{false};
    std::atomic<bool> resumed{false};

    // Any thread.
    TransferSnapshot snapshot() const;
};

// Copies one progress record of the transfer layer into `progress`.
void storeProgress(TransferProgress& progress, const TransferProgressRecord& record);

// The transfer layer's observer over a TransferProgress. Called on the transfer's thread.
class ProgressSnapshotObserver final : public TransferObserver {
  public:
    explicit ProgressSnapshotObserver(TransferProgress& progress) : progress_(progress) {}
    void begins(const std::string& fileName) override;
    void progress(const TransferProgressRecord& record) override;
    bool stopPressed() override { return progress_.stopPressed.exchange(false); }
    void resumed() override { progress_.resumed = true; }

  private:
    TransferProgress& progress_;
};

// What a second handle needs to log in as the session's operator.
struct SessionCredentials {
    std::vector<GatewayEntry> gateways;
    int mode = 0;  // 0 in the listed order, 1 random order
    std::string userCode;
    std::string operatorCode;
    std::string password;
};

// The interactive gateway handle, serialised, with its facts kept aside.
class MailboxSession {
  public:
    // `gateway` must outlive this object.
    explicit MailboxSession(InteractiveGateway& gateway);
    MailboxSession(const MailboxSession&) = delete;
    MailboxSession& operator=(const MailboxSession&) = delete;

    // The start-up log-in of a headless front end: drops a previous session, logs in with
    // fail-over and tells the window (InteractiveGateway::login). True when logged in.
    bool login(const LoginRequest& request, const std::string& operatorCode,
               const std::string& password);
    // The login dialog's two steps: hand over the gateways, mode and codes, then log in
    // with fail-over (also the re-login after a lost connection). True when logged in;
    // success sets the re-login notice.
    void setGatewayList(const std::vector<GatewayEntry>& gateways, int mode,
                        const std::string& operatorCode, const std::string& password);
    bool loginToGateway();
    void dropIfLoggedIn();

    // The facts of the last use; never wait for the handle.
    bool isLoggedIn() const { return loggedIn_; }
    std::string lastError() const;
    std::string userCode() const;
    // The gateway identifies the operator's branch by the user code of the login.
    std::string branchCode() const { return userCode(); }
    std::string operatorCode() const;
    SessionCredentials credentials() const;

    // True when the gateway grants `functionCode` on mailbox `service` to the mailbox
    // organisation; loads the permission list once per login (network).
    bool checkPermission(const std::string& service, const std::string& functionCode);
    bool permits(const std::string& mailbox, MailboxFunction function) {
        return checkPermission(mailbox, mailboxFunctionCode(function));
    }

    // Runs `use` with the handle under the handle lock, then refreshes the facts.
    template <class F>
    auto withHandle(F use) {
        std::lock_guard lock(handleMutex_);
        struct Refresh {
            MailboxSession* self;
            ~Refresh() { self->keepFacts(); }
        } refresh{this};
        return use(gateway_.handle());
    }

  private:
    // Requires: handleMutex_ held.
    void keepFacts();

    InteractiveGateway& gateway_;
    std::mutex handleMutex_;  // the handle and the permission list
    mutable std::mutex factsMutex_;
    std::atomic<bool> loggedIn_{false};
    std::string operatorCode_;  // the facts: under factsMutex_
    std::string userCode_;
    std::string lastError_;
    SessionCredentials credentials_;
};

// The mailbox file services of a session. Results of list, findFile, rename and remove:
// Ok, or what failed with `error` (the handle's text); losesConnection() tells those that
// mean the connection is lost.
class MailboxOperations {
  public:
    // Where files move: on a handle of their own logged in as the session's operator (a
    // window that keeps asking while a file moves), or on the session's handle (a command
    // that does one thing at a time).
    enum class TransferHandle { Own, Session };

    // The pointees must outlive this object; `context` must carry the clock and the prompt
    // that asks the Stop question. `process` is the gateway state the handles share.
    MailboxOperations(MailboxSession& session, const Context& context, GatewayProcessState& process,
                      TransferHandle transferHandle);
    ~MailboxOperations();
    MailboxOperations(const MailboxOperations&) = delete;
    MailboxOperations& operator=(const MailboxOperations&) = delete;

    // The entries of `directory` ("" the root, "dir" or "dir\\"); today's only when asked.
    GatewayOutcome list(const std::string& mailbox, const std::string& directory,
                        std::vector<filesvc::ListEntry>& entries, std::string& error,
                        bool todayOnly = false);
    // The entries of `service` that `pattern` ("FTP_A_QS\\*.121") names, as a scheduled
    // run asks for them: a day's history list ("09") when `history`, else a plain list.
    GatewayOutcome listPattern(const std::string& service, const std::string& pattern, bool history,
                               std::vector<filesvc::ListEntry>& entries, std::string& error);
    // The listing entry of `remotePath` ("dir\\name") into `file`; left empty when it is
    // missing or a directory.
    GatewayOutcome findFile(const std::string& mailbox, const std::string& remotePath,
                            std::optional<filesvc::ListEntry>& file, std::string& error);
    GatewayOutcome rename(const std::string& mailbox, const std::string& oldPath,
                          const std::string& newPath, std::string& error);
    GatewayOutcome remove(const std::string& mailbox, const std::string& path, std::string& error);

    // One whole file; progress and the Stop question go through `observer`. The block state
    // is kept, so an interrupted transfer resumes when run again.
    TransferOutcome download(const MailboxTransferItem& item, TransferObserver& observer);
    TransferOutcome upload(const MailboxTransferItem& item, TransferObserver& observer);
    TransferOutcome transfer(TransferDirection direction, const MailboxTransferItem& item,
                             TransferProgress& progress);
    // The files one after the other into `progress`; ends after a file the operator
    // cancelled. One outcome per file started.
    std::vector<TransferOutcome> transferQueue(TransferDirection direction,
                                               const std::vector<MailboxTransferItem>& items,
                                               TransferProgress& progress);

  private:
    TransferOutcome move(TransferDirection direction, const MailboxTransferItem& item,
                         TransferObserver& observer);
    // Requires: transferMutex_ held. The own handle, logged in as the session's operator.
    CVornFtp* ownHandle(std::string& error);

    MailboxSession& session_;
    Context context_;
    NullNotifier quiet_;  // the own handle's login state is not the window's
    GatewayProcessState& process_;
    const TransferHandle transferHandle_;
    std::mutex transferMutex_;  // the own handle
    std::unique_ptr<CVornFtp> handle_;
};

// The file queue of a manual transfer: `move` for each item in order, ending after a file
// the operator cancelled. One outcome per file started.
std::vector<TransferOutcome> runTransferQueue(
    const std::vector<MailboxTransferItem>& items,
    const std::function<TransferOutcome(const MailboxTransferItem&)>& move);

}  // namespace vantrel
