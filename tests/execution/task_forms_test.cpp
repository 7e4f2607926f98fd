#include "client/execution/tasks/task_forms.h"

#include <gmock/gmock.h>

#include <functional>

#include "platform/disk_space.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel::execution {
namespace {

using catalogue::AutoSyncTask;
using catalogue::DownloadTask;
using catalogue::UploadTask;
using ::testing::HasSubstr;

// Answers every question with a scripted answer and counts them.
class ScriptedPrompt final : public UserPrompt {
  public:
    bool askYesNo(const std::string&, const std::string& text, Icon) override {
        questions.push_back(text);
        return answer;
    }
    void show(const std::string&, const std::string&, Icon) override {}
    bool answer = false;
    std::vector<std::string> questions;
};

std::string repeat(const std::string& unit, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += unit;
    return out;
}

class TaskFormsTest : public testing::CatalogueFixture {
  protected:
    TaskFormsTest() : module_(context_, planDir_) {
        module_.SetOperator("OP01");
        std::filesystem::create_directories(target_);
        std::filesystem::create_directories(sent_);
        scope_.module = &module_;
        scope_.prompt = &prompt_;
    }

    DownloadForm downloadForm() const {
        DownloadForm f;
        f.description = "日终文件";
        f.mailbox = "FTP_A_QS";
        f.fileName = "*.%";
        f.begin = {8, 0};
        f.end = {17, 0};
        f.directory = target_.string();
        return f;
    }
    UploadForm uploadForm() const {
        UploadForm f;
        f.description = "上传";
        f.mailbox = "FTP_SG";
        f.begin = {9, 0};
        f.end = {17, 0};
        f.uploadDirectory = target_.string();
        f.sentDirectory = sent_.string();
        return f;
    }
    AutoSyncForm autoSyncForm() const {
        AutoSyncForm f;
        f.mailbox = "FTP_A_QS";
        f.description = "A股同步";
        f.directory = target_.string();
        return f;
    }

    // The refusal text, or "" when the form is accepted.
    std::string downloadCheck(const DownloadForm& f) {
        DownloadTask t;
        return CheckDownloadForm(f, scope_, t).message;
    }

    std::size_t storedDownloadTasks() {
        catalogue::CPlanDir dirs;
        catalogue::CModule fresh(context_, dirs);
        fresh.SetOperator("OP01");
        fresh.Load<catalogue::DownloadTask>();
        return fresh.Tasks<catalogue::DownloadTask>().size();
    }

    std::filesystem::path target_ = dir_.path() / "recv";
    std::filesystem::path sent_ = dir_.path() / "sent";
    catalogue::CPlanDir planDir_;
    catalogue::CModule module_;
    ScriptedPrompt prompt_;
    FormScope scope_;
};

TEST_F(TaskFormsTest, downloadChecksRefuseInTheirOrderWithTheirTexts) {
    const std::string longDir = "/" + repeat(repeat("d", 50) + "/", 5) + "x";  // 257 bytes
    struct Case {
        const char* what;
        std::function<void(DownloadForm&)> change;
        std::string refusal;  // "" = accepted
    };
    const std::vector<Case> cases = {
        {"20 Chinese characters are 40 bytes",
         [](DownloadForm& f) { f.description = repeat("任", 20); }, ""},
        {"21 Chinese characters are 42 bytes",
         [](DownloadForm& f) { f.description = repeat("任", 21); },
         "任务描述所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！"},
        {"39 ASCII and one Chinese are 41 bytes",
         [](DownloadForm& f) { f.description = repeat("a", 39) + "任"; },
         "任务描述所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！"},
        {"a blank description is empty", [](DownloadForm& f) { f.description = "   "; },
         "任务描述不能为空！"},
        {"the description is checked before the mailbox",
         [](DownloadForm& f) { f.description.clear(), f.mailbox.clear(); }, "任务描述不能为空！"},
        {"no mailbox", [](DownloadForm& f) { f.mailbox.clear(); }, "信箱名称不能为空!"},
        {"no file name", [](DownloadForm& f) { f.fileName.clear(); }, "文件名称不能为空!"},
        {"a 41-byte file name", [](DownloadForm& f) { f.fileName = repeat("a", 41); },
         "文件名所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！"},
        {"a bulletin task names its bulletin folder",
         [](DownloadForm& f) { f.source = DownloadSource::Bulletin; }, "信箱名称不能为空!"},
        {"a bulletin folder the gateway does not serve",
         [](DownloadForm& f) { f.source = DownloadSource::Bulletin, f.bulletin = "FTP_A_BU"; },
         "信箱名称不能为空!"},
        {"a bulletin names a keyword",
         [](DownloadForm& f) {
             f.source = DownloadSource::Bulletin, f.bulletin = "FTP_A_BULLET", f.fileName.clear();
         },
         "关键字不能为空!"},
        {"a bulletin keyword of 41 bytes",
         [](DownloadForm& f) {
             f.source = DownloadSource::Bulletin, f.bulletin = "FTP_A_BULLET",
             f.fileName = repeat("公", 20) + "x";
         },
         "关键字所占字节数不能超过40字节（英文字符占1个字节，中文字符占2字节）！"},
        {"08:00-08:09 is under ten minutes",
         [](DownloadForm& f) {
             f.end = {8, 9};
         },
         "开始时间必须在结束时间之前,且不能小于10分钟！"},
        {"08:00-08:10 is ten minutes",
         [](DownloadForm& f) {
             f.end = {8, 10};
         },
         ""},
        {"an end before the start on the same day",
         [](DownloadForm& f) {
             f.end = {7, 59};
         },
         "开始时间必须在结束时间之前,且不能小于10分钟！"},
        {"08:00 to 次日 07:59 is 23 h 59 min",
         [](DownloadForm& f) {
             f.end = {7, 59}, f.nextDay = true;
         },
         ""},
        {"08:00 to 次日 08:00 is 24 hours",
         [](DownloadForm& f) {
             f.end = {8, 0}, f.nextDay = true;
         },
         ""},
        {"08:00 to 次日 08:01 is more than a day",
         [](DownloadForm& f) {
             f.end = {8, 1}, f.nextDay = true;
         },
         "开始时间与结束时间间隔不能大于24小时!"},
        {"a directory that does not exist",
         [this](DownloadForm& f) { f.directory = (dir_.path() / "none").string(); },
         "该目录[" + (dir_.path() / "none").string() + "]无效，请重新选择！"},
        {"a relative directory", [](DownloadForm& f) { f.directory = "recv"; },
         "该目录[recv]无效，请重新选择！"},
        {"a directory of 256 bytes or more", [&](DownloadForm& f) { f.directory = longDir; },
         "该目录[" + longDir + "]过长，为了正确下载文件，请重新选择下载目录！"},
        {"the root with the dated suffix", [](DownloadForm& f) { f.directory = "/\"YYYYMMDD\""; },
         ""},
        {"the schedule's interval is checked first",
         [](DownloadForm& f) { f.schedule.intervalMinutes = 2, f.description.clear(); },
         "请输入 3 至 60 之间的整数。"},
        {"interval 3", [](DownloadForm& f) { f.schedule.intervalMinutes = 3; }, ""},
        {"interval 60", [](DownloadForm& f) { f.schedule.intervalMinutes = 60; }, ""},
        {"interval 61", [](DownloadForm& f) { f.schedule.intervalMinutes = 61; },
         "请输入 3 至 60 之间的整数。"},
    };
    for (const Case& c : cases) {
        DownloadForm f = downloadForm();
        c.change(f);
        EXPECT_EQ(downloadCheck(f), c.refusal) << c.what;
    }
}

TEST_F(TaskFormsTest, directoryLimitsCountGbkBytesAndTheDatedSuffixIsCutOff) {
    // 4 Chinese characters are 12 bytes in UTF-8 but 8 in GBK: this directory stays under
    // 256 GBK bytes although its UTF-8 text is longer.
    std::filesystem::path dir = dir_.path();
    while (platform::gbkLength((dir / "目录名字").string()) < 250) dir /= "目录名字";
    ASSERT_GT(dir.string().size(), 256u);
    std::filesystem::create_directories(dir);

    DownloadForm f = downloadForm();
    f.directory = dir.string() + "/\"YYYYMMDD\"";
    DownloadTask task;
    const FormCheck check = CheckDownloadForm(f, scope_, task);
    ASSERT_TRUE(check.accepted) << check.message;
    EXPECT_EQ(task.recvpath, dir.string());
    EXPECT_EQ(task.hasrecvdir, 1);

    f.directory = "/\"YYYYMMDD\"";
    ASSERT_TRUE(CheckDownloadForm(f, scope_, task).accepted);
    EXPECT_EQ(task.recvpath, "/") << "nothing but the suffix is the root";
    EXPECT_EQ(task.hasrecvdir, 1);
}

TEST_F(TaskFormsTest, aSharedDirectoryAnsweredNoWritesNothingAndYesSavesTheTask) {
    // setup: one task already writes to the directory
    const SaveOutcome first = SaveDownloadTask(downloadForm(), scope_, clock_, "OP01");
    ASSERT_EQ(first.result, SaveResult::Saved) << first.message;
    // The task being edited does not share its directory with itself.
    scope_.editedTaskId = first.taskId;
    ASSERT_EQ(SaveDownloadTask(downloadForm(), scope_, clock_, "OP01").result, SaveResult::Saved);
    ASSERT_TRUE(prompt_.questions.empty());
    scope_.editedTaskId.clear();
    DownloadForm second = downloadForm();
    second.description = "第二个";
    const std::string question = "该目录[" + target_.string() +
                                 "]已被其他任务使用，下载同名文件，将可能发生冲突，是否继续？";

    // act: No
    prompt_.answer = false;
    const SaveOutcome refused = SaveDownloadTask(second, scope_, clock_, "OP01");
    // verify
    EXPECT_EQ(refused.result, SaveResult::Refused);
    EXPECT_EQ(refused.field, FormField::Directory);
    EXPECT_EQ(refused.message, question);
    EXPECT_EQ(prompt_.questions, std::vector<std::string>{question});
    EXPECT_EQ(storedDownloadTasks(), 1u);
    EXPECT_EQ(module_.Tasks<catalogue::DownloadTask>().size(), 1u);

    // act: Yes
    prompt_.answer = true;
    EXPECT_EQ(SaveDownloadTask(second, scope_, clock_, "OP01").result, SaveResult::Saved);
    EXPECT_EQ(storedDownloadTasks(), 2u);
}

// Regression: a read-only target directory was accepted without a word, and every run
// of the task then failed.
TEST_F(TaskFormsTest, aDirectoryTheTaskCannotWriteToIsAskedAboutInEveryKindOfTask) {
    // setup: a directory without write permission; root passes permission bits, so for
    // root a directory of the kernel's read-only tree stands in
    const std::filesystem::path locked = dir_.path() / "locked";
    std::filesystem::create_directories(locked);
    std::filesystem::permissions(
        locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    std::filesystem::path readOnly;
    for (const std::filesystem::path& candidate : {locked, std::filesystem::path("/proc/sys")}) {
        if (readOnly.empty() && !platform::directoryTakesFiles(candidate)) readOnly = candidate;
    }
    if (readOnly.empty()) GTEST_SKIP() << "no directory here refuses this process's writes";
    ASSERT_TRUE(platform::directoryTakesFiles(target_));
    const std::string question = "该目录[" + readOnly.string() +
                                 "]不能写入文件，任务运行时将无法保存或移动其中的文件，是否继续？";
    DownloadForm download = downloadForm();
    download.directory = readOnly.string();
    UploadForm upload = uploadForm();
    upload.sentDirectory = readOnly.string();
    AutoSyncForm sync = autoSyncForm();
    sync.directory = readOnly.string();

    // act: No to each
    prompt_.answer = false;
    DownloadTask d;
    UploadTask u;
    AutoSyncTask a;
    const FormCheck downloadRefused = CheckDownloadForm(download, scope_, d);
    const FormCheck uploadRefused = CheckUploadForm(upload, scope_, u);
    const FormCheck syncRefused = CheckAutoSyncForm(sync, scope_, a);

    // verify: each asked once and kept its dialog open on the directory
    EXPECT_EQ(prompt_.questions, std::vector<std::string>(3, question));
    EXPECT_EQ(downloadRefused.message, question);
    EXPECT_EQ(downloadRefused.field, FormField::Directory);
    EXPECT_EQ(uploadRefused.field, FormField::SentDirectory);
    EXPECT_EQ(syncRefused.field, FormField::Directory);

    // act / verify: Yes goes on
    prompt_.answer = true;
    EXPECT_TRUE(CheckDownloadForm(download, scope_, d).accepted);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
}

TEST_F(TaskFormsTest, aSavedTaskReadsBackAsItsFormAndAnEditKeepsItsIdAndFirstDay) {
    // setup
    DownloadForm f = downloadForm();
    f.source = DownloadSource::Bulletin;
    f.bulletin = "上市公司公告";  // a display name is taken for its code
    f.begin = {22, 0};
    f.end = {6, 0};
    f.nextDay = true;
    f.resume = false;
    f.schedule.everyDay = false;
    f.schedule.days = {true, false, true, false, true, false, false};
    f.schedule.intervalMinutes = 15;
    // act
    const SaveOutcome saved = SaveDownloadTask(f, scope_, clock_, "OP01");
    ASSERT_EQ(saved.result, SaveResult::Saved) << saved.message;
    clock_.setLocal(testing::localTime(2026, 12, 9, 10, 0, 0));
    module_.Load<catalogue::DownloadTask>();
    // verify
    const auto stored = module_.Find<catalogue::DownloadTask>(saved.taskId);
    ASSERT_TRUE(stored);
    EXPECT_THAT(stored->planid, ::testing::MatchesRegex("20261208093000-[0-9]{5}"));
    EXPECT_EQ(stored->plantype, 2);
    // the folder's whole code, beside the mailbox (it was once cut into the 8-wide mailname)
    EXPECT_EQ(stored->opertype, "FTP_SG_BULLET");
    EXPECT_EQ(stored->mailname, "FTP_A_QS");
    EXPECT_EQ(stored->right, "OP01");
    EXPECT_EQ(stored->begindate, "2026-12-08");
    EXPECT_EQ(stored->begintime, "22:00");
    EXPECT_EQ(stored->endtime, "06:00");
    EXPECT_EQ(stored->curweek, "1010100");
    EXPECT_EQ(stored->weektype, 2);
    EXPECT_EQ(stored->planstate, 1);
    EXPECT_EQ(ScheduleText(*stored), "从2026-12-08起,每周一、三、五 22:00--次日06:00");
    const DownloadForm back = DownloadFormOf(*stored);
    EXPECT_EQ(back.source, DownloadSource::Bulletin);
    EXPECT_EQ(back.bulletin, "FTP_SG_BULLET");
    EXPECT_TRUE(back.nextDay);
    EXPECT_FALSE(back.resume);
    EXPECT_FALSE(back.schedule.everyDay);
    EXPECT_EQ(back.schedule.days, f.schedule.days);
    EXPECT_EQ(back.schedule.intervalMinutes, 15);

    // act: edit the description on the next day
    DownloadForm edited = back;
    edited.description = "改过";
    edited.schedule.everyDay = true;
    scope_.editedTaskId = saved.taskId;
    ASSERT_EQ(SaveDownloadTask(edited, scope_, clock_, "OP01").result, SaveResult::Saved);
    module_.Load<catalogue::DownloadTask>();
    const auto after = module_.Find<catalogue::DownloadTask>(saved.taskId);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->plandes, "改过");
    EXPECT_EQ(after->begindate, "2026-12-08");
    EXPECT_EQ(after->curweek, "1111111");
    EXPECT_EQ(after->tmpweek, "1010100") << "the day boxes are kept for the dialog";
    EXPECT_EQ(module_.Tasks<catalogue::DownloadTask>().size(), 1u);
}

TEST_F(TaskFormsTest, uploadDirectoriesMustDifferAndNotBelongToAnotherUploadTask) {
    UploadTask t;
    UploadForm f = uploadForm();
    f.sentDirectory = target_.string() + "/";
    EXPECT_EQ(CheckUploadForm(f, scope_, t).message, "上传目录和已上传目录不能相同，请重新选择");
    f = uploadForm();
    f.description = " ";
    EXPECT_EQ(CheckUploadForm(f, scope_, t).message, "任务描述不能为空");
    f = uploadForm();
    f.sentDirectory.clear();
    EXPECT_EQ(CheckUploadForm(f, scope_, t).message, "已上传目录不能为空,请重新选择！");
    f = uploadForm();
    f.end = {9, 5};
    EXPECT_EQ(CheckUploadForm(f, scope_, t).message,
              "开始时间必须在结束时间之前,且不能小于10分钟！");

    ASSERT_EQ(SaveUploadTask(uploadForm(), scope_, clock_, "OP01").result, SaveResult::Saved);
    const std::filesystem::path other = dir_.path() / "other";
    std::filesystem::create_directories(other);
    f = uploadForm();
    f.sentDirectory = other.string();
    EXPECT_EQ(CheckUploadForm(f, scope_, t).message,
              "上传目录[" + target_.string() + "]已被其他任务使用，请重新选择！");
    f.uploadDirectory = other.string();
    f.sentDirectory = target_.string();
    EXPECT_EQ(CheckUploadForm(f, scope_, t).message,
              "已上传目录[" + target_.string() + "]已被其他任务使用,请重新选择！");
    EXPECT_TRUE(prompt_.questions.empty()) << "upload directories are refused, not asked about";
}

TEST_F(TaskFormsTest, autoSyncIntervalsAndDuplicatesAreRefused) {
    AutoSyncTask t;
    for (const auto& [minutes, accepted] :
         std::vector<std::pair<int, bool>>{{2, false}, {3, true}, {60, true}, {61, false}}) {
        AutoSyncForm f = autoSyncForm();
        f.intervalMinutes = minutes;
        const FormCheck check = CheckAutoSyncForm(f, scope_, t);
        EXPECT_EQ(check.message, accepted ? "" : "请输入 3 至 60 之间的整数。") << minutes;
    }

    const SaveOutcome first = SaveAutoSyncTask(autoSyncForm(), scope_, clock_, "OP01");
    ASSERT_EQ(first.result, SaveResult::Saved) << first.message;
    module_.Load<catalogue::AutoSyncTask>();  // adds the history entry beside the task
    prompt_.answer = true;        // the same directory is accepted when asked

    AutoSyncForm sameDescription = autoSyncForm();
    sameDescription.mailbox = "FTP_B_QS";
    EXPECT_EQ(CheckAutoSyncForm(sameDescription, scope_, t).message,
              "已存在任务描述对应的自动同步任务！");
    AutoSyncForm sameMailbox = autoSyncForm();
    sameMailbox.description = "另一个";
    sameMailbox.mailbox = "ftp_a_qs";
    EXPECT_EQ(CheckAutoSyncForm(sameMailbox, scope_, t).message, "已存在对应自动同步任务！");

    // An edit of the task itself (its history entry aside) is no duplicate.
    scope_.editedTaskId = first.taskId;
    prompt_.questions.clear();
    AutoSyncForm edited = autoSyncForm();
    edited.intervalMinutes = 30;
    ASSERT_EQ(SaveAutoSyncTask(edited, scope_, clock_, "OP01").result, SaveResult::Saved);
    EXPECT_TRUE(prompt_.questions.empty());
    const auto stored = module_.Find<catalogue::AutoSyncTask>(first.taskId);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->timespace, 30);
    EXPECT_EQ(stored->begintime, "00:00");
    EXPECT_EQ(stored->endtime, "23:59");
}

}  // namespace
}  // namespace vantrel::execution
