#include "client/ui/mail_form_view.h"

#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>
#include <ctime>
#include <system_error>

#include "client/catalogue/mailbox_list_export.h"
#include "client/ui/progress_popup.h"
#include "client/ui/qt_text.h"
#include "client/ui/transfer_dialog.h"

namespace vantrel::ui {

namespace {

constexpr int kKindRole = Qt::UserRole;
constexpr int kSizeRole = Qt::UserRole + 1;
// Files of the shown folder watched for writes; each takes one of the user's inotify
// watches, so a folder of very many files has only its first ones followed.
constexpr qsizetype kWatchedLocalFiles = 1000;
std::string format(const char* pattern, const std::string& value) {
    return u8(qs(pattern).arg(qs(value)));
}

std::string localTimeText(const std::filesystem::file_time_type& stamp) {
    const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
        stamp - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now());
    const std::time_t t = std::chrono::system_clock::to_time_t(system);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

const char* mailboxDisplayName(const std::string& code) {
    for (const MailboxName& m : kBrowsableMailboxes) {
        if (code == m.code) return m.display;
    }
    return "";
}

}  // namespace

std::string remoteDateText(const std::string& date, const std::string& time) {
    // The 12-character stamp YYYYMMDDhhmm, shown as "%c%c%c%c-%c%c-%c%c %c%c:%c%c".
    std::string stamp = date.substr(0, 8);
    for (char c : time) {
        if (c != ':') stamp += c;
    }
    stamp.resize(12, ' ');
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " +
           stamp.substr(8, 2) + ":" + stamp.substr(10, 2);
}

std::string localSizeText(std::uint64_t bytes) {
    return bytes >= 1024 ? std::to_string(bytes / 1024) + "KB" : std::to_string(bytes) + "B";
}

ListRow CMailFormView::columnTitles() {
    return {"名称", "大小(B)", "创建日期", "类型"};
}

CMailFormView::CMailFormView(const Services& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      mailboxLabel_(new QLabel(this)),
      remotePathLabel_(new QLabel(this)),
      localPathBox_(new QLineEdit(this)),
      localList_(new QTreeWidget(this)),
      localWatch_(new QFileSystemWatcher(this)),
      remoteList_(new QTreeWidget(this)),
      commands_(new QWidget(this)) {
    askNewName = [this](const std::string& oldName) -> std::optional<std::string> {
        bool ok = false;
        const QString name = QInputDialog::getText(this, qs("重命名"), qs("新文件名:"),
                                                   QLineEdit::Normal, qs(oldName), &ok);
        if (!ok || name.trimmed().isEmpty()) return std::nullopt;
        return u8(name.trimmed());
    };
    askExportFile = [this]() -> std::optional<std::pair<std::filesystem::path, ExportKind>> {
        const QString table = qs("DBF文件(*.dbf)");
        const QString text = qs("文本文件 (*.txt)");
        const QString sheet = qs("Excel文件 (*.xls)");
        const QString workbook = qs("Excel工作簿 (*.xlsx)");
        QString chosen = text;
        QString file = QFileDialog::getSaveFileName(
            this, qs("导出"), qs((localDirectory_ / "*.txt").string()),
            table + ";;" + text + ";;" + sheet + ";;" + workbook, &chosen);
        if (file.isEmpty()) return std::nullopt;
        const ExportKind kind = chosen == table      ? ExportKind::Table
                                : chosen == sheet    ? ExportKind::Spreadsheet
                                : chosen == workbook ? ExportKind::Workbook
                                                     : ExportKind::Text;
        const char* extension = kind == ExportKind::Table         ? ".dbf"
                                : kind == ExportKind::Spreadsheet ? ".xls"
                                : kind == ExportKind::Workbook    ? ".xlsx"
                                                                  : ".txt";
        if (!file.endsWith(qs(extension), Qt::CaseInsensitive)) file += qs(extension);
        return std::make_pair(std::filesystem::path(u8(file)), kind);
    };
    buildLayout();
    setLocalDirectory(services_.settings->receiveDirectory());
}

void CMailFormView::buildLayout() {
    buildCommandRows();
    QWidget* localSide = buildLocalSide();
    QWidget* remoteSide = buildRemoteSide();

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(localSide);
    split->addWidget(remoteSide);
    split->setSizes({400, 560});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(commands_);
    layout->addWidget(split, 1);
}

// The mailboxes to open, then the commands on the remote list.
void CMailFormView::buildCommandRows() {
    auto* mailboxRow = new QHBoxLayout;
    for (const MailboxName& m : kBrowsableMailboxes) {
        auto* button = new QPushButton(qs(m.display), commands_);
        const std::string code = m.code;
        connect(button, &QPushButton::clicked, this, [this, code] { openMailbox(code); });
        mailboxRow->addWidget(button);
    }
    mailboxRow->addStretch();

    auto* commandRow = new QHBoxLayout;
    const std::pair<const char*, void (CMailFormView::*)()> commands[] = {
        {"刷新", &CMailFormView::refreshRemote},    {"上一层", &CMailFormView::goUp},
        {"上传", &CMailFormView::uploadSelected},   {"下载", &CMailFormView::downloadSelected},
        {"重命名", &CMailFormView::renameSelected}, {"删除", &CMailFormView::deleteSelected},
        {"导出", &CMailFormView::exportList}};
    for (const auto& [text, action] : commands) {
        auto* button = new QPushButton(qs(text), commands_);
        connect(button, &QPushButton::clicked, this, action);
        commandRow->addWidget(button);
    }
    commandRow->addStretch();
    auto* commandLayout = new QVBoxLayout(commands_);
    commandLayout->setContentsMargins(0, 0, 0, 0);
    commandLayout->addLayout(mailboxRow);
    commandLayout->addLayout(commandRow);
}

QWidget* CMailFormView::buildLocalSide() {
    // A path box with browse and up, then the files.
    auto* browse = new QPushButton(qs("浏览..."), this);
    auto* localUp = new QPushButton(qs("向上"), this);
    auto* localRefresh = new QPushButton(qs("刷新"), this);
    connect(localRefresh, &QPushButton::clicked, this, &CMailFormView::refreshLocal);
    auto* localExport = new QPushButton(qs("导出"), this);
    connect(localExport, &QPushButton::clicked, this, &CMailFormView::exportLocalList);
    watchLocalDirectory();
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString dir =
            QFileDialog::getExistingDirectory(this, qs("本地目录"), qs(localDirectory_.string()));
        if (!dir.isEmpty()) setLocalDirectory(u8(dir));
    });
    connect(localUp, &QPushButton::clicked, this,
            [this] { setLocalDirectory(localDirectory_.parent_path()); });
    connect(localPathBox_, &QLineEdit::returnPressed, this,
            [this] { setLocalDirectory(u8(localPathBox_->text())); });
    auto* localPathRow = new QHBoxLayout;
    localPathRow->addWidget(new QLabel(qs("本地目录:"), this));
    localPathRow->addWidget(localPathBox_, 1);
    // The buttons on a row of their own leave the path its whole width.
    auto* localButtonRow = new QHBoxLayout;
    localButtonRow->addWidget(localUp);
    localButtonRow->addWidget(localRefresh);
    localButtonRow->addWidget(browse);
    localButtonRow->addWidget(localExport);
    localButtonRow->addStretch();
    localList_->setHeaderLabels({qs("名称"), qs("大小"), qs("修改时间"), qs("类型")});
    localList_->setRootIsDecorated(false);
    localList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    localList_->header()->resizeSection(0, 150);
    localList_->header()->resizeSection(1, 60);
    // Wide enough for "YYYY-MM-DD hh:mm" in the font in use.
    localList_->header()->resizeSection(
        2, localList_->fontMetrics().horizontalAdvance(qs("0000-00-00 00:00")) + 24);
    connect(localList_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        if (item->data(0, kKindRole).toInt() == kDirectory)
            setLocalDirectory(localDirectory_ / u8(item->text(0)));
    });
    auto* localSide = new QWidget(this);
    auto* localLayout = new QVBoxLayout(localSide);
    localLayout->setContentsMargins(0, 0, 0, 0);
    localLayout->addLayout(localPathRow);
    localLayout->addLayout(localButtonRow);
    localLayout->addWidget(localList_);
    return localSide;
}

void CMailFormView::watchLocalDirectory() {
    // A change outside (a file saved, copied or removed there, or written on) is read once
    // it settles: the folder's entries are watched, and so are its files, because a file
    // written on changes no entry of the folder.
    auto* settle = new QTimer(this);
    settle->setSingleShot(true);
    settle->setInterval(300);
    connect(settle, &QTimer::timeout, this, &CMailFormView::refreshLocal);
    connect(localWatch_, &QFileSystemWatcher::directoryChanged, settle,
            qOverload<>(&QTimer::start));
    connect(localWatch_, &QFileSystemWatcher::fileChanged, settle, qOverload<>(&QTimer::start));
}

QWidget* CMailFormView::buildRemoteSide() {
    // The mailbox and directory, then the list.
    const ListRow titles = columnTitles();
    remoteList_->setHeaderLabels({qs(titles[0]), qs(titles[1]), qs(titles[2]), qs(titles[3])});
    remoteList_->setRootIsDecorated(false);
    remoteList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    remoteList_->setContextMenuPolicy(Qt::CustomContextMenu);
    remoteList_->header()->resizeSection(0, 200);
    remoteList_->header()->resizeSection(1, 90);
    remoteList_->header()->resizeSection(
        2, remoteList_->fontMetrics().horizontalAdvance(qs("0000-00-00 00:00")) + 24);
    connect(remoteList_, &QTreeWidget::itemDoubleClicked, this, &CMailFormView::openRemoteItem);
    connect(remoteList_, &QTreeWidget::customContextMenuRequested, this,
            &CMailFormView::showContextMenu);
    auto* remoteSide = new QWidget(this);
    auto* remoteLayout = new QVBoxLayout(remoteSide);
    remoteLayout->setContentsMargins(0, 0, 0, 0);
    auto* remoteHead = new QHBoxLayout;
    remoteHead->addWidget(mailboxLabel_);
    remoteHead->addWidget(remotePathLabel_, 1);
    remoteLayout->addLayout(remoteHead);
    remoteLayout->addWidget(remoteList_);
    return remoteSide;
}

void CMailFormView::showContextMenu(const QPoint& at) {
    QMenu menu(qs("目录"), this);
    const std::pair<const char*, MailboxCommand> items[] = {
        {"打开", kCmdOpen}, {"删除", kCmdDelete}, {"重命名", kCmdRename}, {"刷新", kCmdRefresh}};
    for (const auto& [text, id] : items) menu.addAction(qs(text))->setData(static_cast<int>(id));
    QAction* chosen = menu.exec(remoteList_->viewport()->mapToGlobal(at));
    if (!chosen) return;
    switch (chosen->data().toInt()) {
        case kCmdOpen:
            openRemoteItem(remoteList_->currentItem());
            break;
        case kCmdDelete:
            deleteSelected();
            break;
        case kCmdRename:
            renameSelected();
            break;
        case kCmdRefresh:
            refreshRemote();
            break;
    }
}

// --- local side --------------------------------------------------------------------------

void CMailFormView::setLocalDirectory(const std::filesystem::path& directory) {
    if (!localWatch_->directories().isEmpty()) localWatch_->removePaths(localWatch_->directories());
    localDirectory_ = directory;
    localPathBox_->setText(qs(directory.string()));
    std::error_code ec;
    if (std::filesystem::is_directory(directory, ec)) localWatch_->addPath(qs(directory.string()));
    refreshLocal();
}

void CMailFormView::refreshLocal() {
    localList_->clear();
    if (!localWatch_->files().isEmpty()) localWatch_->removePaths(localWatch_->files());
    QStringList watched;
    std::error_code ec;
    std::vector<QTreeWidgetItem*> directories;
    std::vector<QTreeWidgetItem*> files;
    for (std::filesystem::directory_iterator it(localDirectory_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const bool isDirectory = it->is_directory(ec);
        auto* item = new QTreeWidgetItem;
        item->setText(0, qs(it->path().filename().string()));
        item->setIcon(0, style()->standardIcon(isDirectory ? QStyle::SP_DirIcon
                                                           : QStyle::SP_FileIcon));
        item->setText(3, qs(isDirectory ? "文件夹" : "文件"));
        item->setData(0, kKindRole, isDirectory ? kDirectory : kFile);
        if (!isDirectory) {
            if (watched.size() < kWatchedLocalFiles) watched.push_back(qs(it->path().string()));
            const std::uint64_t size = it->file_size(ec);
            item->setText(1, qs(localSizeText(ec ? 0 : size)));
            item->setData(0, kSizeRole, QVariant::fromValue<qulonglong>(ec ? 0 : size));
        }
        const auto stamp = it->last_write_time(ec);
        if (!ec) item->setText(2, qs(localTimeText(stamp)));
        (isDirectory ? directories : files).push_back(item);
    }
    auto byName = [](QTreeWidgetItem* a, QTreeWidgetItem* b) { return a->text(0) < b->text(0); };
    std::sort(directories.begin(), directories.end(), byName);
    std::sort(files.begin(), files.end(), byName);
    for (auto* item : directories) localList_->addTopLevelItem(item);
    for (auto* item : files) localList_->addTopLevelItem(item);
    if (!watched.isEmpty()) localWatch_->addPaths(watched);
}

// --- remote work ---------------------------------------------------------------------------

void CMailFormView::runRemote(const QString& text, std::function<RemoteOutcome()> work,
                              std::function<void(RemoteOutcome&)> done) {
    commands_->setEnabled(false);
    remoteList_->setEnabled(false);
    if (!text.isEmpty()) services_.progress->showText(text);
    job_.start(this, std::move(work), [this, done = std::move(done)](RemoteOutcome outcome) {
        services_.progress->showText({});
        commands_->setEnabled(true);
        remoteList_->setEnabled(true);
        if (!outcome.refusal.empty()) {
            services_.prompt->show(kAppCaption, outcome.refusal, UserPrompt::Icon::Warning);
        } else if (!outcome.error.empty()) {
            services_.prompt->show(kAppCaption, outcome.error, UserPrompt::Icon::Error);
        } else if (!outcome.silent && done) {
            done(outcome);
        }
        finishCommand();
    });
}

void CMailFormView::finishCommand() {
    // A command that chained further work ends with that work.
    if (!job_.busy()) emit idle();
}

bool CMailFormView::ensureLoggedIn() {
    if (services_.session->isLoggedIn()) return true;
    return services_.session->loginToGateway();
}

void CMailFormView::runPermitted(const std::string& code, MailboxFunction function,
                                 std::function<void(RemoteOutcome&)> done) {
    runRemote(
        {},
        [this, code, function] {
            RemoteOutcome outcome;
            if (!ensureLoggedIn())
                outcome.error = kLostConnection;
            else
                permitted(code, function, outcome);
            return outcome;
        },
        std::move(done));
}

bool CMailFormView::permitted(const std::string& code, MailboxFunction function,
                              RemoteOutcome& outcome) {
    const std::string functionCode = mailboxFunctionCode(function);
    if (services_.session->checkPermission(code, functionCode)) return true;
    // A permission list that could not be loaded dropped the connection: that is a lost
    // connection, not a refusal. The re-login loads the list afresh.
    if (!services_.session->isLoggedIn()) {
        if (!ensureLoggedIn()) {
            outcome.error = kLostConnection;
            return false;
        }
        if (services_.session->checkPermission(code, functionCode)) return true;
        if (!services_.session->isLoggedIn()) {
            outcome.error = kLostConnection;
            return false;
        }
    }
    outcome.refusal = mailboxRefusal(function);
    return false;
}

void CMailFormView::listInto(const std::string& code, const std::string& directory,
                             RemoteOutcome& outcome) {
    std::string error;
    std::vector<RemoteEntry> entries;
    GatewayOutcome result = services_.mailbox->list(code, directory, entries, error);
    if (result != GatewayOutcome::Ok &&
        (connectionLost(result) || !services_.session->isLoggedIn())) {
        if (!ensureLoggedIn()) {
            outcome.error = kLostConnection;
            return;
        }
        entries.clear();
        result = services_.mailbox->list(code, directory, entries, error);
        if (result != GatewayOutcome::Ok && connectionLost(result)) {
            outcome.error = kLostConnection;
            return;
        }
    }
    if (result != GatewayOutcome::Ok) {
        outcome.error = "获取远程目录失败!(" + error + ")";
        return;
    }
    outcome.entries = std::move(entries);
    outcome.listed = true;
    outcome.directory = directory;
}

void CMailFormView::openMailbox(const std::string& code) {
    if (busy() || code == mailboxCode_) return;
    // The view is on the mailbox once it has been listed; a refusal leaves it on none, so
    // the operator may try again.
    mailboxCode_.clear();
    remoteDirectory_.clear();
    remoteList_->clear();
    mailboxLabel_->setText(qs(mailboxDisplayName(code)));
    remotePathLabel_->clear();
    runRemote(
        qs("正在读取远程文件列表, 请稍候......"),
        [this, code] {
            RemoteOutcome outcome;
            if (!ensureLoggedIn()) {
                outcome.silent = true;
                return outcome;
            }
            if (permitted(code, MailboxFunction::List, outcome)) listInto(code, "", outcome);
            return outcome;
        },
        [this, code](RemoteOutcome& outcome) {
            mailboxCode_ = code;
            fillRemote(outcome);
        });
}

void CMailFormView::listDirectory(const std::string& directory) {
    if (busy() || mailboxCode_.empty()) return;
    const QString text =
        directory.empty() ? qs("正在读取远程文件列表, 请稍候......")
                          : qs("正在读取远程目录 %1 下的文件列表, 请稍候......").arg(qs(directory));
    const std::string code = mailboxCode_;
    runRemote(
        text,
        [this, code, directory] {
            RemoteOutcome outcome;
            if (!ensureLoggedIn()) {
                outcome.error = kLostConnection;
                return outcome;
            }
            if (permitted(code, MailboxFunction::List, outcome)) listInto(code, directory, outcome);
            return outcome;
        },
        [this](RemoteOutcome& outcome) { fillRemote(outcome); });
}

void CMailFormView::fillRemote(const RemoteOutcome& outcome) {
    if (!outcome.listed) return;
    remoteDirectory_ = outcome.directory;
    remoteList_->clear();
    if (!remoteDirectory_.empty()) {
        auto* parent = new QTreeWidgetItem(remoteList_, {qs(kParentRow)});
        parent->setData(0, kKindRole, kParent);
    }
    for (const RemoteEntry& entry : outcome.entries) {
        auto* item = new QTreeWidgetItem(remoteList_);
        item->setText(0, qs(entry.name));
        item->setIcon(0, style()->standardIcon(entry.isDirectory ? QStyle::SP_DirIcon
                                                                 : QStyle::SP_FileIcon));
        item->setText(1, entry.isDirectory ? qs("DIR")
                                           : QString::number(static_cast<qulonglong>(entry.size)));
        item->setText(2, qs(remoteDateText(entry.date, entry.time)));
        item->setText(3, qs(entry.isDirectory ? "文件夹" : "文件"));
        item->setData(0, kKindRole, entry.isDirectory ? kDirectory : kFile);
        item->setData(0, kSizeRole, QVariant::fromValue<qulonglong>(entry.size));
    }
    remotePathLabel_->setText(remoteDirectory_.empty()
                                  ? qs("已经到顶层目录了!")
                                  : qs(mailboxCode_ + "\\" + remoteDirectory_));
}

void CMailFormView::refreshRemote() {
    listDirectory(remoteDirectory_);
}

void CMailFormView::goUp() {
    if (mailboxCode_.empty()) return;
    if (remoteDirectory_.empty()) {
        services_.prompt->show(kAppCaption, "已经到顶层目录了!", UserPrompt::Icon::Information);
        return;
    }
    std::string parent =
        remoteDirectory_.substr(0, remoteDirectory_.size() - 1);  // drop the trailing '\'
    const auto cut = parent.rfind('\\');
    parent = cut == std::string::npos ? std::string() : parent.substr(0, cut + 1);
    listDirectory(parent);
}

void CMailFormView::openRemoteItem(QTreeWidgetItem* item) {
    if (!item) return;
    switch (item->data(0, kKindRole).toInt()) {
        case kParent:
            goUp();
            break;
        case kDirectory:
            listDirectory(remoteDirectory_ + u8(item->text(0)) + "\\");
            break;
        default:
            break;  // a remote file is not opened
    }
}

QList<QTreeWidgetItem*> CMailFormView::selectedRemote() const {
    QList<QTreeWidgetItem*> rows;
    for (QTreeWidgetItem* item : remoteList_->selectedItems()) {
        if (item->data(0, kKindRole).toInt() != kParent) rows.push_back(item);
    }
    return rows;
}

std::vector<ListRow> CMailFormView::remoteRows() const {
    std::vector<ListRow> rows;
    for (int i = 0; i < remoteList_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = remoteList_->topLevelItem(i);
        if (item->data(0, kKindRole).toInt() == kParent) continue;
        rows.push_back(
            {u8(item->text(0)), u8(item->text(1)), u8(item->text(2)), u8(item->text(3))});
    }
    return rows;
}

std::vector<ListRow> CMailFormView::localRows() const {
    std::vector<ListRow> rows;
    for (int i = 0; i < localList_->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = localList_->topLevelItem(i);
        const bool isFile = item->data(0, kKindRole).toInt() == kFile;
        rows.push_back({u8(item->text(0)),
                        isFile ? std::to_string(item->data(0, kSizeRole).toULongLong()) : "",
                        u8(item->text(2)), u8(item->text(3))});
    }
    return rows;
}

ListRow CMailFormView::localColumnTitles() {
    return {"名称", "大小(B)", "修改时间", "类型"};
}

void CMailFormView::postProgress(const std::string& text) {
    ProgressPopup* popup = services_.progress;
    QMetaObject::invokeMethod(
        popup, [popup, text] { popup->showText(qs(text)); }, Qt::QueuedConnection);
}

// --- transfers ------------------------------------------------------------------------------

bool CMailFormView::runTransferDialog(TransferDirection direction,
                                      std::vector<TransferItem> items) {
    CTransferDlg dialog(direction, std::move(items), *services_.mailbox, *services_.prompt, this);
    dialog.exec();
    if (!dialog.lostConnection()) return true;
    markOffline();
    return false;
}

void CMailFormView::markOffline() {
    // No worker holds the session here: the transfer has ended. The window hears of the
    // drop from the session itself.
    services_.session->dropIfLoggedIn();
}

TransferItem CMailFormView::transferItem(const QTreeWidgetItem& row) const {
    return {mailboxCode_, remoteDirectory_, u8(row.text(0)), localDirectory_,
            row.data(0, kSizeRole).toULongLong()};
}

void CMailFormView::uploadSelected() {
    if (busy() || mailboxCode_.empty()) return;
    const auto selected = localList_->selectedItems();
    if (selected.isEmpty()) {
        services_.prompt->show(kAppCaption, "请在本地目录中选择需要上传的文件！",
                               UserPrompt::Icon::Warning);
        return;
    }
    std::vector<TransferItem> items;
    for (QTreeWidgetItem* row : selected) {
        if (row->data(0, kKindRole).toInt() != kFile) {
            services_.prompt->show(kAppCaption,
                                   "您选择的不是文件，请在本地目录中选择需要上传的文件!",
                                   UserPrompt::Icon::Warning);
            return;
        }
        items.push_back(transferItem(*row));
    }
    runPermitted(mailboxCode_, MailboxFunction::Upload, [this, items](RemoteOutcome&) {
        const bool connected = runTransferDialog(TransferDirection::Upload, items);
        refreshLocal();
        if (connected) refreshRemote();
    });
}

void CMailFormView::downloadSelected() {
    if (busy() || mailboxCode_.empty()) return;
    const auto selected = selectedRemote();
    if (selected.isEmpty()) {
        services_.prompt->show(kAppCaption, "请在远程目录中选择需要下载的文件！",
                               UserPrompt::Icon::Warning);
        return;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(localDirectory_, ec)) {
        services_.prompt->show(kAppCaption, "本地目录不存在！", UserPrompt::Icon::Warning);
        return;
    }
    std::vector<TransferItem> items;
    bool allFiles = true;
    for (QTreeWidgetItem* row : selected) {
        if (row->data(0, kKindRole).toInt() != kFile) allFiles = false;
        items.push_back(transferItem(*row));
    }
    runPermitted(mailboxCode_, MailboxFunction::Download, [this, items, allFiles](RemoteOutcome&) {
        if (!allFiles) {
            services_.prompt->show(kAppCaption,
                                   "您选择的不是文件，请在远程目录中选择需要下载的文件!",
                                   UserPrompt::Icon::Warning);
            return;
        }
        runTransferDialog(TransferDirection::Download, items);
        refreshLocal();
    });
}

// --- rename and delete ----------------------------------------------------------------------

void CMailFormView::renameSelected() {
    if (busy() || mailboxCode_.empty()) return;
    const auto selected = selectedRemote();
    if (selected.isEmpty()) {
        services_.prompt->show(kAppCaption, "请在远程目录中选择需要重命名的文件！",
                               UserPrompt::Icon::Warning);
        return;
    }
    if (selected.front()->data(0, kKindRole).toInt() != kFile) {
        services_.prompt->show(kAppCaption, "只能重命名文件!", UserPrompt::Icon::Warning);
        return;
    }
    const std::string oldName = u8(selected.front()->text(0));
    const std::string code = mailboxCode_;
    const std::string directory = remoteDirectory_;
    runPermitted(code, MailboxFunction::Rename, [this, code, directory, oldName](RemoteOutcome&) {
        const auto newName = askNewName(oldName);
        if (!newName || *newName == oldName) return;
        runRemote(
            qs("正在进行重命名请求，请稍候..."),
            [this, code, directory, oldName, newName] {
                RemoteOutcome outcome;
                std::string error;
                if (services_.mailbox->rename(code, directory + oldName, directory + *newName,
                                              error) != GatewayOutcome::Ok) {
                    outcome.error = error;
                    return outcome;
                }
                listInto(code, directory, outcome);
                return outcome;
            },
            [this](RemoteOutcome& outcome) { fillRemote(outcome); });
    });
}

void CMailFormView::deleteSelected() {
    if (busy() || mailboxCode_.empty()) return;
    const auto selected = selectedRemote();
    if (selected.isEmpty()) return;
    std::vector<std::string> names;
    for (QTreeWidgetItem* row : selected) {
        if (row->data(0, kKindRole).toInt() != kFile) {
            services_.prompt->show(kAppCaption, format("不能删除%1目录", u8(row->text(0))),
                                   UserPrompt::Icon::Warning);
            return;
        }
        names.push_back(u8(row->text(0)));
    }
    const std::string code = mailboxCode_;
    const std::string directory = remoteDirectory_;
    runPermitted(code, MailboxFunction::Delete, [this, code, directory, names](RemoteOutcome&) {
        const std::string question = names.size() == 1
                                         ? format("确实要删除%1文件吗？", names.front())
                                         : u8(qs("确实要删除此%1项吗？").arg(names.size()));
        if (!services_.prompt->askYesNo(kAppCaption, question, UserPrompt::Icon::Question)) return;
        runRemote(
            {},
            [this, code, directory, names] {
                RemoteOutcome outcome;
                for (const std::string& name : names) {
                    postProgress(format("正在删除文件%1,请稍候...", name));
                    std::string error;
                    if (services_.mailbox->remove(code, directory + name, error) !=
                        GatewayOutcome::Ok) {
                        outcome.error = error;
                        break;
                    }
                }
                postProgress("正在更新列表，请稍候...");
                // The list is read again even after a failure: some files may be gone.
                RemoteOutcome listed;
                listInto(code, directory, listed);
                if (outcome.error.empty()) return listed;
                outcome.entries = std::move(listed.entries);
                return outcome;
            },
            [this](RemoteOutcome& outcome) { fillRemote(outcome); });
    });
}

// --- export -----------------------------------------------------------------------------------

void CMailFormView::exportList() {
    if (busy()) return;
    if (remoteRows().empty()) {
        services_.prompt->show(kAppCaption, "远程目录中没有文件!", UserPrompt::Icon::Warning);
        return;
    }
    exportRows(columnTitles(), remoteRows());
}

void CMailFormView::exportLocalList() {
    if (busy()) return;
    const std::vector<ListRow> rows = localRows();
    if (rows.empty()) {
        services_.prompt->show(kAppCaption, "本地目录中没有文件!", UserPrompt::Icon::Warning);
        return;
    }
    exportRows(localColumnTitles(), rows);
}

void CMailFormView::exportRows(const ListRow& titles, const std::vector<ListRow>& rows) {
    const auto choice = askExportFile();
    if (!choice) return;
    writeExport(choice->first, choice->second, titles, rows);
    refreshLocal();
    emit idle();
}

void CMailFormView::writeExport(const std::filesystem::path& file, ExportKind kind,
                                const ListRow& titles, const std::vector<ListRow>& rows) {
    int written = 0;
    Status status;
    switch (kind) {
        case ExportKind::Table: {
            std::vector<std::vector<std::string>> table;
            for (const ListRow& row : rows) table.emplace_back(row.begin(), row.end());
            Result<int> result = services_.tableExport->write(file, titles, table);
            status = result.status();
            if (result) written = result.value();
            break;
        }
        case ExportKind::Text:
            status = writeTextList(file, titles, rows);
            written = static_cast<int>(rows.size());
            break;
        case ExportKind::Spreadsheet: {
            if (spreadsheetNeedsSplit(rows.size()) &&
                !services_.prompt->askYesNo(kAppCaption, "记录数很大，需要分文件导出，是否继续？",
                                            UserPrompt::Icon::Question)) {
                return;
            }
            auto result = writeSpreadsheetList(file, titles, rows);
            status = result.status();
            written = static_cast<int>(rows.size());
            break;
        }
        case ExportKind::Workbook:
            status = catalogue::ExportMailboxListWorkbook(file, titles, rows);
            written = static_cast<int>(rows.size());
            break;
    }
    if (!status) {
        services_.prompt->show(kAppCaption, "无法创建目标文件", UserPrompt::Icon::Error);
        return;
    }
    services_.prompt->show(
        kAppCaption, u8(qs("导出记录：%1条\n导出文件：%2").arg(written).arg(qs(file.string()))),
        UserPrompt::Icon::Information);
}

}  // namespace vantrel::ui
