// The mailbox browser over scripted services: browsing, every refusal, transfers with
// their progress and Stop question, rename, delete and the three export forms.

#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "client/ui/core_ports.h"
#include "client/ui/list_export.h"
#include "client/ui/mail_form_view.h"
#include "client/ui/progress_popup.h"
#include "client/ui/transfer_dialog.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/ui_fixture.h"

namespace vantrel::ui {
namespace {

using testing::waitUntil;

RemoteEntry file(const std::string& name, std::uint64_t size) {
    return RemoteEntry{name, false, size, "20261208", "09:30:15"};
}
RemoteEntry directory(const std::string& name) {
    return RemoteEntry{name, true, 0, "20261207", "18:00:00"};
}

class MailFormViewTest : public testing::QtTest {
  protected:
    MailFormViewTest() : tableExport(platform::RealClock::instance()) {
        settings.receive = local.path();
        mailbox.prompt = &prompt;
        session.loggedIn = true;
        mailbox.tree["FTP_A_QS"][""] = {file("a.txt", 10), directory("sub"),
                                        file("big.zip", 123456)};
        mailbox.tree["FTP_A_QS"]["sub\\"] = {file("inner.dat", 2048)};
        CMailFormView::Services s;
        s.session = &session;
        s.mailbox = &mailbox;
        s.settings = &settings;
        s.prompt = &prompt;
        s.progress = &progress;
        s.tableExport = &tableExport;
        view = std::make_unique<CMailFormView>(s);
        view->show();
    }

    // Runs a command and waits for its end.
    void run(const std::function<void()>& command) {
        bool ended = false;
        auto connection = QObject::connect(view.get(), &CMailFormView::idle, [&] { ended = true; });
        command();
        ASSERT_TRUE(waitUntil([&] { return ended || !view->busy(); }));
        waitUntil([&] { return !view->busy(); });
        QObject::disconnect(connection);
    }

    void openA() {
        run([&] { view->openMailbox("FTP_A_QS"); });
    }

    QTreeWidgetItem* remoteRow(const std::string& name) {
        for (int i = 0; i < view->remoteList()->topLevelItemCount(); ++i) {
            auto* item = view->remoteList()->topLevelItem(i);
            if (item->text(0).toStdString() == name) return item;
        }
        return nullptr;
    }
    QTreeWidgetItem* localRow(const std::string& name) {
        for (int i = 0; i < view->localList()->topLevelItemCount(); ++i) {
            auto* item = view->localList()->topLevelItem(i);
            if (item->text(0).toStdString() == name) return item;
        }
        return nullptr;
    }
    void selectRemote(std::initializer_list<const char*> names) {
        view->remoteList()->clearSelection();
        for (const char* n : names) remoteRow(n)->setSelected(true);
    }

    vantrel::testing::TempDir local;
    testing::FakeSession session;
    testing::FakeMailbox mailbox;
    testing::MemorySettings settings;
    testing::ScriptedPrompt prompt;
    ProgressPopup progress;
    CatalogueListExport tableExport;
    std::unique_ptr<CMailFormView> view;
};

TEST_F(MailFormViewTest, browsesAMailboxWithTheParentRowOnlyBelowTheRoot) {
    openA();
    ASSERT_EQ(view->remoteList()->topLevelItemCount(), 3);
    const auto* first = view->remoteList()->topLevelItem(0);
    EXPECT_EQ(first->text(0).toStdString(), "a.txt");  // the root has no parent row
    EXPECT_EQ(first->text(1).toStdString(), "10");
    EXPECT_EQ(first->text(2).toStdString(), "2026-12-08 09:30");
    EXPECT_EQ(remoteRow("sub")->text(1).toStdString(), "DIR");
    EXPECT_EQ(remoteRow("sub")->text(3).toStdString(), "文件夹");
    const auto* header = view->remoteList()->headerItem();
    EXPECT_EQ(header->text(1).toStdString(), "大小(B)");
    EXPECT_EQ(header->text(2).toStdString(), "创建日期");

    run([&] { view->openRemoteItem(remoteRow("sub")); });
    EXPECT_EQ(view->remoteDirectory(), "sub\\");
    ASSERT_EQ(view->remoteList()->topLevelItemCount(), 2);
    EXPECT_EQ(view->remoteList()->topLevelItem(0)->text(0).toStdString(), kParentRow);
    EXPECT_EQ(view->remoteList()->topLevelItem(1)->text(0).toStdString(), "inner.dat");

    run([&] { view->openRemoteItem(view->remoteList()->topLevelItem(0)); });
    EXPECT_EQ(view->remoteDirectory(), "");
    view->goUp();
    EXPECT_EQ(prompt.last(), "已经到顶层目录了!");
    EXPECT_EQ(mailbox.listed,
              (std::vector<std::string>{"FTP_A_QS:", "FTP_A_QS:sub\\", "FTP_A_QS:"}));
}

TEST_F(MailFormViewTest, refusalsAndFailuresLeaveTheListsAsTheyWere) {
    session.denied = {"FTP_B_QS/00"};
    run([&] { view->openMailbox("FTP_B_QS"); });
    EXPECT_EQ(prompt.last(), "该操作员无此信箱获取文件列表权限！");
    EXPECT_EQ(prompt.messages().back().icon, UserPrompt::Icon::Warning);
    EXPECT_EQ(prompt.messages().back().caption, kAppCaption);
    EXPECT_TRUE(mailbox.listed.empty());
    EXPECT_EQ(view->mailboxCode(), "");
    session.denied.clear();
    run([&] { view->openMailbox("FTP_B_QS"); });  // the operator may try again
    EXPECT_EQ(view->mailboxCode(), "FTP_B_QS");

    openA();
    mailbox.failList = true;
    run([&] { view->refreshRemote(); });
    EXPECT_EQ(prompt.last(), "获取远程目录失败!(目录不存在)");
    EXPECT_EQ(view->remoteList()->topLevelItemCount(), 3);
}

TEST_F(MailFormViewTest, offlineTheBrowserLogsInAgainAndEndsSilentlyWhenThatFails) {
    session.loggedIn = false;
    session.loginSucceeds = false;
    openA();
    EXPECT_EQ(session.loginCalls, 1);
    EXPECT_TRUE(prompt.messages().empty());
    EXPECT_TRUE(mailbox.listed.empty());
}

TEST_F(MailFormViewTest, downloadChecksSelectionDirectoryPermissionAndKindInThatOrder) {
    openA();
    view->downloadSelected();
    EXPECT_EQ(prompt.last(), "请在远程目录中选择需要下载的文件！");

    selectRemote({"a.txt", "sub"});
    run([&] { view->downloadSelected(); });
    EXPECT_EQ(prompt.last(), "您选择的不是文件，请在远程目录中选择需要下载的文件!");

    session.denied = {"FTP_A_QS/04"};
    run([&] { view->downloadSelected(); });
    EXPECT_EQ(prompt.last(), "该操作员无此信箱文件下载权限！");

    view->setLocalDirectory(local.path() / "missing");
    view->downloadSelected();
    EXPECT_EQ(prompt.last(), "本地目录不存在！");
    EXPECT_TRUE(mailbox.moved.empty());
}

TEST_F(MailFormViewTest, downloadShowsTheProgressRecordOfEachFile) {
    openA();
    mailbox.stepMs = 300;
    selectRemote({"a.txt", "big.zip"});
    std::set<std::string> statusLines;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CTransferDlg*>(QApplication::activeModalWidget())) {
            dialog->refresh();
            if (!dialog->statusLine().isEmpty())
                statusLines.insert(dialog->statusLine().toStdString());
        }
    });
    watch.start(50);
    run([&] { view->downloadSelected(); });
    watch.stop();
    EXPECT_EQ(mailbox.moved, (std::vector<std::string>{"a.txt", "big.zip"}));
    EXPECT_TRUE(statusLines.count("正在接收文件[big.zip](61728B / 123456B ), 请稍候..."))
        << statusLines.size();
    EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(MailFormViewTest, stopAsksAndYesCancelsTheRestOfTheQueue) {
    openA();
    mailbox.stepMs = 200;
    selectRemote({"a.txt", "big.zip"});
    prompt.answer(true);
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<CTransferDlg*>(QApplication::activeModalWidget())) {
            stopper.stop();
            dialog->stopButton()->click();
        }
    });
    stopper.start(100);
    run([&] { view->downloadSelected(); });
    ASSERT_FALSE(prompt.messages().empty());
    EXPECT_EQ(prompt.messages().front().caption, "停止下载文件");
    EXPECT_EQ(prompt.messages().front().text, "是否要取消下载?");
    EXPECT_TRUE(mailbox.moved.empty());
}

TEST_F(MailFormViewTest, uploadTakesOnlyLocalFilesTheOperatorMaySend) {
    openA();
    ASSERT_TRUE(platform::writeFileAtomically(local.path() / "out.txt", "hello"));
    std::filesystem::create_directory(local.path() / "folder");
    view->refreshLocal();
    view->uploadSelected();
    EXPECT_EQ(prompt.last(), "请在本地目录中选择需要上传的文件！");
    localRow("folder")->setSelected(true);
    view->uploadSelected();
    EXPECT_EQ(prompt.last(), "您选择的不是文件，请在本地目录中选择需要上传的文件!");
    view->localList()->clearSelection();
    localRow("out.txt")->setSelected(true);
    EXPECT_EQ(localRow("out.txt")->text(1).toStdString(), "5B");
    session.denied = {"FTP_A_QS/03"};
    run([&] { view->uploadSelected(); });
    EXPECT_EQ(prompt.last(), "该操作员无此信箱文件上传权限！");
    session.denied.clear();
    prompt.clear();
    run([&] { view->uploadSelected(); });
    EXPECT_EQ(mailbox.moved, (std::vector<std::string>{"out.txt"}));
    EXPECT_TRUE(prompt.messages().empty());
}

TEST_F(MailFormViewTest, deleteAsksAndRefusesDirectories) {
    openA();
    selectRemote({"sub"});
    view->deleteSelected();
    EXPECT_EQ(prompt.last(), "不能删除sub目录");

    selectRemote({"a.txt", "big.zip"});
    prompt.answer(false);
    run([&] { view->deleteSelected(); });
    EXPECT_EQ(prompt.last(), "确实要删除此2项吗？");
    EXPECT_TRUE(mailbox.removed.empty());

    selectRemote({"a.txt"});
    prompt.answer(true);
    run([&] { view->deleteSelected(); });
    EXPECT_EQ(prompt.last(), "确实要删除a.txt文件吗？");
    EXPECT_EQ(mailbox.removed, (std::vector<std::string>{"FTP_A_QS:a.txt"}));
    EXPECT_EQ(remoteRow("a.txt"), nullptr);  // the list was read again

    session.denied = {"FTP_A_QS/01"};
    selectRemote({"big.zip"});
    run([&] { view->deleteSelected(); });
    EXPECT_EQ(prompt.last(), "该操作员无此信箱文件删除权限！");
}

TEST_F(MailFormViewTest, renameTakesOneFileAndTheNewNameFromTheDialog) {
    openA();
    view->renameSelected();
    EXPECT_EQ(prompt.last(), "请在远程目录中选择需要重命名的文件！");
    selectRemote({"sub"});
    view->renameSelected();
    EXPECT_EQ(prompt.last(), "只能重命名文件!");
    selectRemote({"a.txt"});
    view->askNewName = [](const std::string& old) {
        return std::optional<std::string>(old + ".bak");
    };
    run([&] { view->renameSelected(); });
    EXPECT_EQ(mailbox.renamed, (std::vector<std::string>{"FTP_A_QS:a.txt>a.txt.bak"}));
    session.denied = {"FTP_A_QS/02"};
    selectRemote({"big.zip"});
    run([&] { view->renameSelected(); });
    EXPECT_EQ(prompt.last(), "该操作员无此信箱文件重命名权限！");
}

TEST_F(MailFormViewTest, exportKeepsTheFirstFileAtTheRootAndDropsOnlyTheParentRow) {
    view->exportList();
    EXPECT_EQ(prompt.last(), "远程目录中没有文件!");
    openA();
    const auto text = local.path() / "list.txt";
    view->askExportFile = [&] { return std::optional(std::make_pair(text, ExportKind::Text)); };
    view->exportList();
    EXPECT_EQ(prompt.last(), "导出记录：3条\n导出文件：" + text.string());
    auto lines = platform::readFile(text);
    ASSERT_TRUE(lines.isOk());
    EXPECT_EQ(std::count(lines.value().begin(), lines.value().end(), '\n'), 4);  // titles + 3 rows
    EXPECT_NE(lines.value().find("a.txt\t10\t2026-12-08 09:30"), std::string::npos);

    // A table: its header's record count is the number of records written (bytes 4..7).
    const auto table = local.path() / "list.dbf";
    view->askExportFile = [&] { return std::optional(std::make_pair(table, ExportKind::Table)); };
    view->exportList();
    EXPECT_EQ(prompt.last(), "导出记录：3条\n导出文件：" + table.string());
    auto bytes = platform::readFile(table);
    ASSERT_TRUE(bytes.isOk());
    ASSERT_GT(bytes.value().size(), 8u);
    const auto& b = bytes.value();
    EXPECT_EQ(static_cast<unsigned char>(b[4]) | static_cast<unsigned char>(b[5]) << 8, 3);
    EXPECT_NE(b.find("a.txt"), std::string::npos);

    // Below the root the parent row is not a record.
    run([&] { view->openRemoteItem(remoteRow("sub")); });
    view->askExportFile = [&] { return std::optional(std::make_pair(text, ExportKind::Text)); };
    view->exportList();
    EXPECT_EQ(prompt.last(), "导出记录：1条\n导出文件：" + text.string());
    lines = platform::readFile(text);
    EXPECT_EQ(lines.value().find("返回上一层"), std::string::npos);

    view->askExportFile = [&] {
        return std::optional(
            std::make_pair(local.path() / "no" / "such" / "dir.txt", ExportKind::Text));
    };
    view->exportList();
    EXPECT_EQ(prompt.last(), "无法创建目标文件");
}

TEST_F(MailFormViewTest, aSpreadsheetExportPastOneSheetAsksBeforeSplitting) {
    auto& root = mailbox.tree["FTP_SG"][""];
    for (std::size_t i = 0; i <= kSpreadsheetRowsPerFile; ++i)
        root.push_back(file("f" + std::to_string(i), i));
    run([&] { view->openMailbox("FTP_SG"); });
    const auto sheet = local.path() / "big.xls";
    view->askExportFile = [&] {
        return std::optional(std::make_pair(sheet, ExportKind::Spreadsheet));
    };
    prompt.answer(false);
    view->exportList();
    EXPECT_EQ(prompt.last(), "记录数很大，需要分文件导出，是否继续？");
    EXPECT_FALSE(std::filesystem::exists(local.path() / "big_1.xls"));
    prompt.answer(true);
    view->exportList();
    EXPECT_EQ(prompt.last(), "导出记录：65535条\n导出文件：" + sheet.string());
    EXPECT_TRUE(std::filesystem::exists(local.path() / "big_1.xls"));
    EXPECT_TRUE(std::filesystem::exists(local.path() / "big_2.xls"));
    EXPECT_FALSE(std::filesystem::exists(local.path() / "big_3.xls"));
}

TEST(ListExportTest, aLongListIsSplitIntoSpreadsheetFilesWithTitlesInEach) {
    vantrel::testing::TempDir dir;
    std::vector<ListRow> rows;
    for (int i = 0; i < 5; ++i)
        rows.push_back({"f" + std::to_string(i) + "<&>.txt", "12", "2026-12-08 09:30", "文件"});
    auto written =
        writeSpreadsheetList(dir.path() / "list.xls", CMailFormView::columnTitles(), rows, 2);
    ASSERT_TRUE(written.isOk());
    ASSERT_EQ(written.value().size(), 3u);
    EXPECT_EQ(written.value()[0].filename(), "list_1.xls");
    EXPECT_EQ(written.value()[2].filename(), "list_3.xls");
    const auto last = platform::readFile(written.value()[2]);
    ASSERT_TRUE(last.isOk());
    EXPECT_NE(last.value().find("<Data ss:Type=\"String\">大小(B)</Data>"), std::string::npos);
    EXPECT_NE(last.value().find("f4&lt;&amp;&gt;.txt"), std::string::npos);
    EXPECT_EQ(last.value().find("f3"), std::string::npos);
    EXPECT_NE(last.value().find("<Data ss:Type=\"Number\">12</Data>"), std::string::npos);

    auto single = writeSpreadsheetList(dir.path() / "one.xls", CMailFormView::columnTitles(), rows);
    ASSERT_TRUE(single.isOk());
    EXPECT_EQ(single.value(), std::vector<std::filesystem::path>{dir.path() / "one.xls"});
    EXPECT_FALSE(spreadsheetNeedsSplit(kSpreadsheetRowsPerFile));
    EXPECT_TRUE(spreadsheetNeedsSplit(kSpreadsheetRowsPerFile + 1));
}

// A user's local list went stale after an export into the shown folder and after files
// were copied there from outside.
TEST_F(MailFormViewTest, localListFollowsOwnExportsAndChangesMadeOutside) {
    // setup
    std::filesystem::create_directories(local.path() / "dir");
    view->refreshLocal();
    ASSERT_NE(localRow("dir"), nullptr);
    EXPECT_EQ(localRow("dir")->text(3).toStdString(), "文件夹");
    EXPECT_FALSE(localRow("dir")->icon(0).isNull());
    openA();
    // act: an export into the shown folder
    const auto text = local.path() / "list.txt";
    view->askExportFile = [&] { return std::optional(std::make_pair(text, ExportKind::Text)); };
    view->exportList();
    // verify: listed at once, as a file
    ASSERT_NE(localRow("list.txt"), nullptr);
    EXPECT_EQ(localRow("list.txt")->text(3).toStdString(), "文件");
    // A file written by another program shows up without a refresh.
    std::ofstream(local.path() / "outside.dat") << "x";
    EXPECT_TRUE(waitUntil([&] { return localRow("outside.dat") != nullptr; }, 5000));
    // A file caught while it was being written shows its final size once written.
    {
        std::ofstream growing(local.path() / "outside.dat", std::ios::app);
        growing << std::string(2047, 'y');
    }
    EXPECT_TRUE(waitUntil([&] { return localRow("outside.dat")->text(1) == "2KB"; }, 5000));
    std::filesystem::remove(local.path() / "outside.dat");
    EXPECT_TRUE(waitUntil([&] { return localRow("outside.dat") == nullptr; }, 5000));

    // The local list exports as the remote one does, here as a workbook.
    const auto book = local.path() / "local.xlsx";
    view->askExportFile = [&] { return std::optional(std::make_pair(book, ExportKind::Workbook)); };
    view->exportLocalList();
    EXPECT_EQ(prompt.last(), "导出记录：2条\n导出文件：" + book.string());  // dir, list.txt
    ASSERT_TRUE(std::filesystem::exists(book));
    auto head = platform::readFile(book);
    EXPECT_EQ(head.value().substr(0, 2), "PK");
    std::filesystem::remove_all(local.path());
    std::filesystem::create_directories(local.path());
    view->refreshLocal();
    view->exportLocalList();
    EXPECT_EQ(prompt.last(), "本地目录中没有文件!");
}

}  // namespace
}  // namespace vantrel::ui
