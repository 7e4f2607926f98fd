#pragma once
// CMailFormView: the operator's manual window onto a mailbox. A local directory list and
// the remote list side by side; browsing, refresh, upload, download, rename, delete and
// export, each behind the operator's permission for the mailbox. Network work runs off the
// GUI thread; while it runs the commands are disabled.

#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "client/base/notifier.h"
#include "client/base/user_prompt.h"
#include "client/ui/background_job.h"
#include "client/ui/list_export.h"
#include "client/ui/ports.h"

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantrel::ui {

class ProgressPopup;

// The mailbox list context menu "目录" and its command ids.
enum MailboxCommand {
    kCmdOpen = 32802,
    kCmdDelete = 32803,
    kCmdRename = 32804,
    kCmdRefresh = 32805
};

inline constexpr const char* kParentRow = "返回上一层目录...";

// One mailbox the view can show: display name and service code.
struct MailboxName {
    const char* display;
    const char* code;
};
inline constexpr MailboxName kBrowsableMailboxes[] = {
    {"A股信箱", "FTP_A_QS"}, {"B股信箱", "FTP_B_QS"}, {"上市公司信箱", "FTP_SG"}};

// Spreadsheet: the XML .xls form; Workbook: an .xlsx workbook.
enum class ExportKind { Table, Text, Spreadsheet, Workbook };

class CMailFormView final : public QWidget {
    Q_OBJECT
  public:
    struct Services : MailboxPorts {
        Notifier* notifier = nullptr;
        ProgressPopup* progress = nullptr;
    };

    CMailFormView(const Services& services, QWidget* parent = nullptr);

    // The dialogs the operator answers. Defaults show Qt dialogs; tests replace them.
    // The new name for `oldName`, or none when the operator cancelled.
    std::function<std::optional<std::string>(const std::string& oldName)> askNewName;
    // The export file and its form, or none when cancelled.
    std::function<std::optional<std::pair<std::filesystem::path, ExportKind>>()> askExportFile;

    // Commands. GUI thread; each returns at once and ends with idle().
    void openMailbox(const std::string& code);
    void refreshRemote();
    void goUp();
    void openRemoteItem(QTreeWidgetItem* item);
    void uploadSelected();
    void downloadSelected();
    void renameSelected();
    void deleteSelected();
    // Exports the remote list, or the local one, in the form the operator picks.
    void exportList();
    void exportLocalList();

    // Shows `directory` and follows changes made in it from outside.
    void setLocalDirectory(const std::filesystem::path& directory);
    // Reads the local directory again (also after each own operation that may change it).
    void refreshLocal();

    bool busy() const { return job_.busy(); }
    const std::string& mailboxCode() const { return mailboxCode_; }
    const std::string& remoteDirectory() const { return remoteDirectory_; }
    const std::filesystem::path& localDirectory() const { return localDirectory_; }
    QTreeWidget* remoteList() const { return remoteList_; }
    QTreeWidget* localList() const { return localList_; }
    // The remote rows as shown, without the parent row (name, size, date, type).
    std::vector<ListRow> remoteRows() const;
    static ListRow columnTitles();
    // The local rows as shown (name, size in bytes, modification time, type) and their titles.
    std::vector<ListRow> localRows() const;
    static ListRow localColumnTitles();

  signals:
    // A command ended (with whatever messages it showed).
    void idle();

  private:
    enum RowKind { kParent = 0, kDirectory = 1, kFile = 2 };
    struct RemoteOutcome {
        bool silent = false;  // end without a word (offline and the login failed)
        std::string refusal;  // a permission refusal, shown as a warning
        std::string error;    // a failure, shown as an error
        std::vector<RemoteEntry> entries;
        bool listed = false;
        std::string directory;  // the directory listed
    };

    void buildLayout();
    void buildCommandRows();
    QWidget* buildLocalSide();
    void watchLocalDirectory();
    QWidget* buildRemoteSide();
    void showContextMenu(const QPoint& at);
    // Runs `work` off the GUI thread with `text` in the progress window; `done` back on it.
    void runRemote(const QString& text, std::function<RemoteOutcome()> work,
                   std::function<void(RemoteOutcome&)> done = {});
    // Worker thread: logged in, or logs in again; false when that failed.
    bool ensureLoggedIn();
    // Worker thread: checks `function` on mailbox `code`; false fills the refusal.
    bool permitted(const std::string& code, MailboxFunction function, RemoteOutcome& outcome);
    // Logs in again if need be and checks `function` on mailbox `code` off the GUI
    // thread; `done` runs on it only when both succeeded.
    void runPermitted(const std::string& code, MailboxFunction function,
                      std::function<void(RemoteOutcome&)> done);
    // Worker thread: lists `directory` into `outcome`, logging in again after a lost
    // connection.
    void listInto(const std::string& code, const std::string& directory, RemoteOutcome& outcome);
    void listDirectory(const std::string& directory);
    void fillRemote(const RemoteOutcome& outcome);
    void postProgress(const std::string& text);
    QList<QTreeWidgetItem*> selectedRemote() const;
    // The transfer of the listed file `row` between the current directories.
    TransferItem transferItem(const QTreeWidgetItem& row) const;
    // Runs the transfer dialog; false when the connection was lost, after the window has been
    // told the session is offline.
    bool runTransferDialog(TransferDirection direction, std::vector<TransferItem> items);
    // The connection is gone: the session is dropped, so the window shows offline and offers
    // the re-login.
    void markOffline();
    void finishCommand();
    void exportRows(const ListRow& titles, const std::vector<ListRow>& rows);
    void writeExport(const std::filesystem::path& file, ExportKind kind, const ListRow& titles,
                     const std::vector<ListRow>& rows);

    Services services_;
    std::string mailboxCode_;
    std::string remoteDirectory_;  // "" at the root, else "a\\b\\"
    std::filesystem::path localDirectory_;

    QLabel* mailboxLabel_;
    QLabel* remotePathLabel_;
    QLineEdit* localPathBox_;
    QTreeWidget* localList_;
    QFileSystemWatcher* localWatch_;
    QTreeWidget* remoteList_;
    QWidget* commands_;

    BackgroundJob job_;  // last: joined before the members above go
};

// "YYYYMMDD" + "HH:MM:SS" as "YYYY-MM-DD hh:mm" (the server's 12-character stamp).
std::string remoteDateText(const std::string& date, const std::string& time);
// "%dKB" from 1024 bytes up, else "%dB".
std::string localSizeText(std::uint64_t bytes);

}  // namespace vantrel::ui
