#include "client/ui/log_views.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "client/ui/qt_text.h"
#include "client/ui/task_file_rows.h"
#include "client/ui/task_log_pages.h"

namespace vantrel::ui {

namespace {
constexpr int kPathRole = Qt::UserRole;
}

// --- task log tree ---------------------------------------------------------------------

CTaskTreeView::CTaskTreeView(Installation installation, QWidget* parent)
    : QWidget(parent), installation_(std::move(installation)), tree_(new QTreeWidget(this)) {
    tree_->setHeaderHidden(true);
    // Long task names scroll instead of being cut off.
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tree_);
    connect(tree_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        const QString path = item->data(0, kPathRole).toString();
        if (!path.isEmpty()) emit fileChosen(std::filesystem::path(u8(path)));
    });
}

namespace {

// "<task id>-YYYYMMDD.log" (or "_his.log", ".dat") as "<description>-YYYYMMDD.log"; the
// file name itself when its task is not known.
QString taskFileName(const std::string& fileName, const std::map<std::string, std::string>& names) {
    // A task id is "%Y%m%d%H%M%S-%05d", 20 characters.
    constexpr std::size_t kIdLength = 20;
    if (fileName.size() > kIdLength && fileName[kIdLength] == '-') {
        const auto it = names.find(fileName.substr(0, kIdLength));
        if (it != names.end() && !it->second.empty())
            return qs(it->second + fileName.substr(kIdLength));
    }
    return qs(fileName);
}

}  // namespace

QString CTaskTreeView::shownName(const std::filesystem::path& file) const {
    const QString path = qs(file.string());
    for (QTreeWidgetItemIterator it(tree_); *it; ++it) {
        if ((*it)->data(0, kPathRole).toString() == path) return (*it)->text(0);
    }
    return qs(file.filename().string());
}

void CTaskTreeView::refresh(const std::string& yyyymmdd) {
    const std::optional<std::map<std::string, std::string>> known =
        descriptions ? descriptions() : std::map<std::string, std::string>();
    const std::map<std::string, std::string> names =
        known.value_or(std::map<std::string, std::string>());
    waiting_ = !known;
    // What the operator had open survives the rebuild.
    QSet<QString> collapsed;
    QString chosen;
    if (QTreeWidgetItem* root = tree_->topLevelItem(0)) {
        for (int i = 0; i < root->childCount(); ++i) {
            if (!root->child(i)->isExpanded()) collapsed.insert(root->child(i)->text(0));
        }
    }
    if (QTreeWidgetItem* current = tree_->currentItem())
        chosen = current->data(0, kPathRole).toString();
    tree_->clear();
    const TaskLogFiles files = known ? findTaskLogFiles(installation_, yyyymmdd) : TaskLogFiles{};
    auto* root = new QTreeWidgetItem(tree_, {qs("任务日志")});
    const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);
    root->setIcon(0, folder);
    root->setExpanded(true);
    const std::pair<const char*, const std::vector<std::filesystem::path>*> groups[] = {
        {"文件清单\\", &files.lists}, {"当日任务日志\\", &files.today},
        {"历史任务日志\\", &files.history}};
    for (const auto& [title, paths] : groups) {
        auto* group = new QTreeWidgetItem(root, {qs(title)});
        group->setIcon(0, folder);
        for (const std::filesystem::path& p : *paths) {
            auto* item =
                new QTreeWidgetItem(group, {taskFileName(p.filename().string(), names)});
            item->setIcon(0, file);
            item->setData(0, kPathRole, qs(p.string()));
            item->setToolTip(0, qs(p.filename().string()));
            if (!chosen.isEmpty() && chosen == qs(p.string())) tree_->setCurrentItem(item);
        }
        group->setExpanded(!collapsed.contains(group->text(0)));
    }
}

// --- task log --------------------------------------------------------------------------

CTaskLogView::CTaskLogView(QWidget* parent)
    : QWidget(parent),
      title_(new QLabel(this)),
      lines_(new QListWidget(this)),
      table_(new QTreeWidget(this)),
      previous_(new QPushButton(qs("上一页"), this)),
      next_(new QPushButton(qs("下一页"), this)) {
    auto* head = new QHBoxLayout;
    head->addWidget(title_, 1);
    head->addWidget(previous_);
    head->addWidget(next_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(head);
    layout->addWidget(lines_);
    layout->addWidget(table_);
    table_->setRootIsDecorated(false);
    table_->header()->setDefaultSectionSize(120);
    table_->hide();
    connect(previous_, &QPushButton::clicked, this, [this] { showPage(page_ - 1); });
    connect(next_, &QPushButton::clicked, this, [this] { showPage(page_ + 1); });
    previous_->setEnabled(false);
    next_->setEnabled(false);
}

std::int64_t CTaskLogView::pageCount() const {
    const std::int64_t records = taskLogRecordCount(file_);
    return records == 0 ? 1 : (records + kPageRecords - 1) / kPageRecords;
}

void CTaskLogView::showFile(const std::filesystem::path& file, const QString& name) {
    file_ = file;
    name_ = name.isEmpty() ? qs(file.filename().string()) : name;
    const bool list = file_.extension() == ".dat";
    lines_->setVisible(!list);
    table_->setVisible(list);
    if (list) {
        showTable();
        return;
    }
    showPage(pageCount() - 1);
}

void CTaskLogView::reload() {
    if (file_.empty()) return;
    if (file_.extension() == ".dat") {
        showTable();
    } else {
        showPage(page_);
    }
}

void CTaskLogView::showTable() {
    table_->clear();
    const FileListKind kind = fileListKindOf(file_).value_or(FileListKind::Download);
    QStringList titles;
    for (const std::string& title : fileListTitles(kind)) titles << qs(title);
    table_->setColumnCount(titles.size());
    table_->setHeaderLabels(titles);
    table_->header()->resizeSection(0, 240);
    const auto rows = readFileListRows(file_, kind);
    for (const auto& texts : rows) {
        auto* item = new QTreeWidgetItem(table_);
        for (int c = 0; c < static_cast<int>(texts.size()); ++c) item->setText(c, qs(texts[c]));
    }
    title_->setText(name_ + qs("  共%1个文件").arg(rows.size()));
    previous_->setEnabled(false);
    next_->setEnabled(false);
}

void CTaskLogView::showPage(std::int64_t page) {
    const std::int64_t pages = pageCount();
    page_ = std::clamp<std::int64_t>(page, 0, pages - 1);
    lines_->clear();
    if (file_.extension() == ".log") {
        for (const std::string& line : readTaskLogPage(file_, page_ * kPageRecords, kPageRecords))
            lines_->addItem(qs(line));
    }
    title_->setText(name_ + qs("  第%1/%2页").arg(page_ + 1).arg(pages));
    previous_->setEnabled(page_ > 0);
    next_->setEnabled(page_ + 1 < pages);
}

// --- flags -----------------------------------------------------------------------------

namespace {

// The mark of a flag's state: green once arrived, grey while awaited.
QIcon stateMark(bool arrived) {
    QPixmap mark(12, 12);
    mark.fill(Qt::transparent);
    QPainter painter(&mark);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(arrived ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xb0, 0xb0, 0xb0));
    painter.drawEllipse(1, 1, 10, 10);
    return QIcon(mark);
}

constexpr int kArrivedRole = Qt::UserRole + 1;

}  // namespace

CFlagStatusView::CFlagStatusView(QWidget* parent)
    : QWidget(parent), list_(new QTreeWidget(this)) {
    list_->setHeaderLabels({qs("标志文件"), qs("下载时间")});
    list_->setRootIsDecorated(false);
    list_->header()->resizeSection(0, 260);
    auto* legend = new QHBoxLayout;
    for (const bool arrived : {true, false}) {
        auto* mark = new QLabel(this);
        mark->setPixmap(stateMark(arrived).pixmap(12, 12));
        legend->addWidget(mark);
        legend->addWidget(
            new QLabel(qs(arrived ? "表示标志文件已下载" : "表示标志文件未下载"), this));
        legend->addSpacing(16);
    }
    legend->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    layout->addLayout(legend);
}

bool CFlagStatusView::arrived(const QTreeWidgetItem* row) {
    return row->data(0, kArrivedRole).toBool();
}

bool CFlagStatusView::apply(const NotifierEvent& event) {
    if (std::holds_alternative<FlagViewRefill>(event) ||
        std::holds_alternative<FlagViewClear>(event)) {
        list_->clear();
        return true;
    }
    const auto* flag = std::get_if<FlagViewFlag>(&event);
    if (!flag) return false;
    const QString name = qs(flag->name);
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < list_->topLevelItemCount() && !row; ++i) {
        if (list_->topLevelItem(i)->text(0) == name) row = list_->topLevelItem(i);
    }
    if (!row) row = new QTreeWidgetItem(list_, {name});
    const bool arrived = !flag->time.empty();
    row->setText(1, qs(flag->time));
    row->setIcon(0, stateMark(arrived));
    row->setData(0, kArrivedRole, arrived);
    const QBrush text = arrived ? list_->palette().text() : QBrush(Qt::gray);
    row->setForeground(0, text);
    row->setForeground(1, text);
    return true;
}

}  // namespace vantrel::ui
