// The real vantrel-cli program: a task's life through `tasks` against a temporary root.

#include <gmock/gmock.h>
#include <sys/wait.h>

#include <cstdlib>

#include "client/catalogue/table_schema.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace vantrel {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class CliTasksTest : public ::testing::Test {
  protected:
    CliTasksTest() {
        std::filesystem::create_directories(root_ / "localconfig");
        std::filesystem::create_directories(target_);
        std::filesystem::copy_file(VANTREL_SOURCE_DIR "/localconfig/Client.ini",
                                   root_ / "localconfig" / "Client.ini");
        platform::LocalTime day;
        day.year = 2026;
        for (const catalogue::TableSpec* spec : catalogue::ShippedTemplates()) {
            EXPECT_TRUE(platform::writeFileAtomically(root_ / "localconfig" / spec->fileName,
                                                      catalogue::BuildTableBytes(*spec, day)));
        }
    }

    // Runs `vantrel-cli --root ROOT tasks ARGUMENTS` as operator OP01; returns the exit code
    // and keeps what it printed.
    int tasks(const std::string& arguments) {
        const std::string command = "VANTREL_RUNTIME_DIR='" + (dir_.path() / "run").string() +
                                    "' VANTREL_OPERATOR=OP01 '" VANTREL_CLI_PATH "' --root '" +
                                    root_.string() + "' tasks " + arguments + " >'" +
                                    (dir_.path() / "out").string() + "' 2>'" +
                                    (dir_.path() / "err").string() + "'";
        const int status = std::system(command.c_str());
        out_ = textOf(dir_.path() / "out");
        err_ = textOf(dir_.path() / "err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static std::string textOf(const std::filesystem::path& file) {
        auto text = platform::readFile(file);
        return text ? text.value() : std::string();
    }

    testing::TempDir dir_;
    std::filesystem::path root_ = dir_.path() / "root";
    std::filesystem::path target_ = dir_.path() / "recv";
    std::string out_;
    std::string err_;
};

TEST_F(CliTasksTest, aTaskIsAddedListedEditedDisabledAndDeleted) {
    const std::string dir = target_.string();
    // add: the dated suffix sets the dated flag
    ASSERT_EQ(
        tasks("add download --desc 日终下载 --mailbox FTP_A_QS --file '*.%' --dir '" + dir +
              "/\"YYYYMMDD\"' --begin 22:00 --end 06:00 --next-day --days 1111100 --interval 15"),
        0)
        << err_;
    const std::string id = out_.substr(0, out_.find('\n'));
    ASSERT_THAT(id, ::testing::MatchesRegex("[0-9]{14}-[0-9]{5}"));

    // A second task on the same directory is only added when the question is answered Yes.
    EXPECT_EQ(tasks("add download --desc 第二个 --mailbox FTP_B_QS --file x --dir '" + dir +
                    "' --begin 08:00 --end 09:00"),
              4);
    EXPECT_THAT(err_, HasSubstr("该目录[" + dir +
                                "]已被其他任务使用，下载同名文件，将可能发生冲突，是否继续？"));
    EXPECT_EQ(
        tasks("add download --desc " + std::string(63, 'x') +
              "任任 --mailbox FTP_B_QS --file x --dir '" + dir + "' --begin 08:00 --end 09:00"),
        4);
    EXPECT_THAT(err_, HasSubstr("任务描述所占字节数不能超过40字节"));

    // list
    ASSERT_EQ(tasks("list"), 0) << err_;
    EXPECT_THAT(out_, HasSubstr("download\t" + id + "\tenabled\tFTP_A_QS\t日终下载\t从20"));
    EXPECT_THAT(out_, HasSubstr("每周一、二、三、四、五 22:00--次日06:00\t-\t-\t"));
    EXPECT_THAT(out_, Not(HasSubstr("第二个")));

    // edit: only the given fields change, and the checks run on the result
    ASSERT_EQ(tasks("edit " + id + " --desc 新描述 --end 05:00"), 0) << err_;
    ASSERT_EQ(tasks("show " + id), 0);
    EXPECT_THAT(out_, HasSubstr("plandes     新描述\n"));
    EXPECT_THAT(out_, HasSubstr("endtime     05:00\n"));
    EXPECT_THAT(out_, HasSubstr("filename    *.%\n"));
    EXPECT_THAT(out_, HasSubstr("recvpath    " + dir + "\n"));
    EXPECT_THAT(out_, HasSubstr("hasrecvdir  1\n"));
    EXPECT_THAT(out_, HasSubstr("timespace   15\n"));
    EXPECT_EQ(tasks("edit " + id + " --next-day no"), 4);
    EXPECT_THAT(err_, HasSubstr("开始时间必须在结束时间之前,且不能小于10分钟！"));
    EXPECT_EQ(tasks("edit " + id + " --keyword x"), 2) << "a mailbox task has no keyword";
    ASSERT_EQ(tasks("show " + id), 0);
    EXPECT_THAT(out_, HasSubstr("nextday     1\n")) << "a refused edit writes nothing";

    // disable, then delete
    ASSERT_EQ(tasks("disable " + id), 0) << err_;
    ASSERT_EQ(tasks("list"), 0);
    EXPECT_THAT(out_, HasSubstr(id + "\tdisabled\t"));
    EXPECT_THAT(out_, HasSubstr("\t-\t-\t-\n")) << "a disabled task has no next run";
    ASSERT_EQ(tasks("delete " + id), 0) << err_;
    ASSERT_EQ(tasks("list"), 0);
    EXPECT_THAT(out_, Not(HasSubstr(id)));
    EXPECT_EQ(tasks("delete " + id), 1);
    EXPECT_THAT(err_, HasSubstr("计划[" + id + "]不存在！"));
    EXPECT_EQ(tasks("add nothing"), 2);
}

}  // namespace
}  // namespace vantrel
