#pragma once
// CBulletinView: the files of one bulletin folder, with the context menu "公告右键菜单":
// 打开 fetches the bulletin into today's bulletin directory and opens it with the desktop's
// program, 另存为 fetches it into a directory the operator chooses. Listing runs off the GUI
// thread; the fetch runs in the transfer dialog. A lost connection marks the session
// offline. GUI thread.

#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "client/base/notifier.h"
#include "client/ui/background_job.h"
#include "client/ui/desktop_opener.h"
#include "client/ui/ports.h"

class QLabel;
class QTreeWidget;

namespace vantrel::ui {

class CBulletinView final : public QWidget {
    Q_OBJECT
  public:
    struct Services : MailboxPorts {
        Notifier* notifier = nullptr;
    };
    CBulletinView(const Services& services, QWidget* parent = nullptr);

    // The operator's choices; defaults show Qt dialogs and the desktop, tests replace them.
    std::function<std::optional<std::filesystem::path>()> askDirectory;
    // The checked opener (off the GUI thread; a failure is told in a box).
    DesktopOpen openFile;

    // Lists bulletin folder `code` ("FTP_TZ_BULLET", ...) titled `title`.
    void openFolder(const std::string& code, const std::string& title);
    // 打开 / 另存为 on the selected bulletin; the path it was saved to, if it was.
    std::optional<std::filesystem::path> openSelected();
    std::optional<std::filesystem::path> saveSelectedAs();

    bool busy() const { return job_.busy(); }
    QTreeWidget* list() const { return list_; }

  signals:
    void idle();

  private:
    struct Listing {
        GatewayOutcome result = GatewayOutcome::Ok;
        std::string error;
        std::vector<RemoteEntry> entries;
    };
    std::optional<std::filesystem::path> fetchSelected(const std::filesystem::path& directory);
    void showMenu(const QPoint& at);

    Services services_;
    std::string code_;
    QLabel* title_;
    QTreeWidget* list_;
    BackgroundJob job_;  // last
};

}  // namespace vantrel::ui
