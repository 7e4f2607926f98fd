#include "client/ui/bulletin_view.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "client/app/desktop_open.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/main_frame.h"
#include "client/ui/qt_text.h"
#include "client/ui/transfer_dialog.h"
#include "platform/file_system.h"

namespace vantrel::ui {

namespace {
constexpr int kSizeRole = Qt::UserRole;
}

CBulletinView::CBulletinView(const Services& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      title_(new QLabel(this)),
      list_(new QTreeWidget(this)) {
    askDirectory = [this]() -> std::optional<std::filesystem::path> {
        const QString dir = QFileDialog::getExistingDirectory(this, qs("另存为"));
        if (dir.isEmpty()) return std::nullopt;
        return std::filesystem::path(u8(dir));
    };
    openFile = [](const std::filesystem::path& file) { return OpenOnDesktop(file); };
    list_->setHeaderLabels({qs("名称"), qs("大小(B)"), qs("创建日期")});
    list_->setRootIsDecorated(false);
    list_->header()->resizeSection(0, 320);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QTreeWidget::customContextMenuRequested, this, &CBulletinView::showMenu);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { openSelected(); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(title_);
    layout->addWidget(list_);
}

void CBulletinView::openFolder(const std::string& code, const std::string& title) {
    if (busy()) return;
    code_ = code;
    title_->setText(qs(title));
    list_->clear();
    job_.start(
        this,
        [this, code] {
            Listing listing;
            if (!services_.session->isLoggedIn() && !services_.session->loginToGateway()) {
                listing.result = GatewayOutcome::PeerClosed;
                return listing;
            }
            listing.result = services_.mailbox->list(code, "", listing.entries, listing.error);
            return listing;
        },
        [this](Listing listing) {
            if (listing.result != GatewayOutcome::Ok) {
                services_.prompt->show(kAppCaption,
                                       connectionLost(listing.result)
                                           ? std::string(kLostConnection)
                                           : "获取远程目录失败!(" + listing.error + ")",
                                       UserPrompt::Icon::Error);
            }
            for (const RemoteEntry& entry : listing.entries) {
                if (entry.isDirectory) continue;
                auto* item = new QTreeWidgetItem(list_);
                item->setIcon(0, style()->standardIcon(QStyle::SP_FileIcon));
                item->setText(0, qs(entry.name));
                item->setText(1, QString::number(static_cast<qulonglong>(entry.size)));
                item->setText(2, qs(remoteDateText(entry.date, entry.time)));
                item->setData(0, kSizeRole, QVariant::fromValue<qulonglong>(entry.size));
            }
            emit idle();
        });
}

void CBulletinView::showMenu(const QPoint& at) {
    QMenu menu(qs("公告右键菜单"), this);
    menu.addAction(qs("打开"))->setData(static_cast<int>(kCmdBulletinOpen));
    menu.addAction(qs("另存为"))->setData(static_cast<int>(kCmdBulletinSaveAs));
    QAction* chosen = menu.exec(list_->viewport()->mapToGlobal(at));
    if (!chosen) return;
    if (chosen->data().toInt() == kCmdBulletinOpen) {
        openSelected();
    } else {
        saveSelectedAs();
    }
}

std::optional<std::filesystem::path> CBulletinView::fetchSelected(
    const std::filesystem::path& directory) {
    QTreeWidgetItem* row = list_->currentItem();
    if (!row || busy()) return std::nullopt;
    (void)platform::FileSystem::real().createDirectories(directory);
    const TransferItem item{code_, "", u8(row->text(0)), directory,
                            row->data(0, kSizeRole).toULongLong()};
    CTransferDlg dialog(TransferDirection::Download, {item}, *services_.mailbox,
                        *services_.prompt, this);
    dialog.exec();
    if (dialog.lostConnection()) services_.session->dropIfLoggedIn();
    const auto& outcomes = dialog.outcomes();
    if (outcomes.empty() || outcomes.front().outcome != GatewayOutcome::Ok) return std::nullopt;
    return directory / item.remoteName;
}

std::optional<std::filesystem::path> CBulletinView::openSelected() {
    auto file = fetchSelected(services_.settings->bulletinDirectory());
    if (file && openFile) {
        openOnDesktop(this, *file, openFile, [this, shown = *file](const std::string& reason) {
            services_.prompt->show(kAppCaption,
                                   "打开文件" + shown.string() + "失败. \n\r原因:" + reason,
                                   UserPrompt::Icon::Error);
        });
    }
    return file;
}

std::optional<std::filesystem::path> CBulletinView::saveSelectedAs() {
    if (!list_->currentItem()) return std::nullopt;
    const auto directory = askDirectory();
    if (!directory) return std::nullopt;
    return fetchSelected(*directory);
}

}  // namespace vantrel::ui
