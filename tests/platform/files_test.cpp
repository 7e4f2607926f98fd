// Files, free space, thread ids and errno mapping.
#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>

#include "platform/disk_space.h"
#include "platform/error_text.h"
#include "platform/thread_id.h"
#include "tests/support/temp_dir.h"

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FilesTest, createDirectoriesMakesEveryParentAndAcceptsAnExistingOne) {
    testing::TempDir dir;
    const fs::path deep = dir.path() / "tmp" / "20260208" / "FTP_A_QS";
    ASSERT_TRUE(createDirectories(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(createDirectories(deep));
    EXPECT_TRUE(createDirectories(dir.path()));
}

TEST(FilesTest, createDirectoriesFailsWhereAFileStandsInTheWay) {
    testing::TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir.path() / "log", "a file"));
    EXPECT_FALSE(createDirectories(dir.path() / "log"));
    EXPECT_FALSE(createDirectories(dir.path() / "log" / "below"));
    EXPECT_EQ(createDirectories("").kind(), ErrorKind::InvalidArgument);
}

TEST(FilesTest, writeFileAtomicallyReplacesTheWholeFileAndKeepsItsPermissions) {
    testing::TempDir dir;
    const fs::path path = dir.path() / "Client.ini";
    ASSERT_TRUE(writeFileAtomically(path, "first version, longer"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(writeFileAtomically(path, "second"));
    EXPECT_EQ(readFile(path).value(), "second");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"Client.ini"});
}

TEST(FilesTest, aFailedAtomicWriteLeavesNoTemporaryBehind) {
    testing::TempDir dir;
    // The rename onto a non-empty directory fails after the temporary was written.
    const fs::path blocked = dir.path() / "blocked";
    ASSERT_TRUE(createDirectories(blocked / "inside"));
    EXPECT_FALSE(writeFileAtomically(blocked, "bytes"));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"blocked"});
    EXPECT_EQ(writeFileAtomically(dir.path() / "missing" / "x", "bytes").kind(),
              ErrorKind::NotFound);
}

TEST(FilesTest, readAndAppendWholeFiles) {
    testing::TempDir dir;
    const fs::path path = dir.path() / "system.log";
    EXPECT_EQ(readFile(path).status().kind(), ErrorKind::NotFound);
    ASSERT_TRUE(appendToFile(path, "one\n"));
    ASSERT_TRUE(appendToFile(path, std::string("t\0o\n", 4)));
    EXPECT_EQ(readFile(path).value(), std::string("one\nt\0o\n", 8));
    const std::string big(300 * 1024 + 7, 'z');
    ASSERT_TRUE(writeFileAtomically(path, big));
    EXPECT_EQ(readFile(path).value(), big);
    EXPECT_FALSE(appendToFile(dir.path() / "missing" / "x", "a"));
    EXPECT_FALSE(readFile(dir.path()));
}

TEST(FilesTest, setFileTimeSetsTheModificationTime) {
    testing::TempDir dir;
    const fs::path path = dir.path() / "received.dat";
    ASSERT_TRUE(writeFileAtomically(path, "x"));
    const WallTime when =
        std::chrono::sys_days(std::chrono::year(2020) / 1 / 2) + 3h + 4min + 5s + 500ms;
    ASSERT_TRUE(setFileTime(path, when));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, std::chrono::system_clock::to_time_t(when));
    EXPECT_EQ(info.st_mtim.tv_nsec, 500'000'000);
    EXPECT_EQ(info.st_atim.tv_sec, info.st_mtim.tv_sec);
    EXPECT_EQ(setFileTime(dir.path() / "missing", when).kind(), ErrorKind::NotFound);
}

TEST(FilesTest, moveFileReplacingReplacesTheTargetAndKeepsTheSourceOnFailure) {
    testing::TempDir dir;
    const fs::path from = dir.path() / "from";
    const fs::path to = dir.path() / "to";
    ASSERT_TRUE(writeFileAtomically(from, "new"));
    ASSERT_TRUE(writeFileAtomically(to, "old"));
    ASSERT_TRUE(moveFileReplacing(from, to));
    EXPECT_EQ(readFile(to).value(), "new");
    EXPECT_FALSE(fs::exists(from));

    const Status missing = moveFileReplacing(from, to);
    EXPECT_EQ(missing.kind(), ErrorKind::NotFound);
    EXPECT_EQ(missing.systemCode(), ENOENT);
    ASSERT_TRUE(writeFileAtomically(from, "kept"));
    ASSERT_TRUE(createDirectories(dir.path() / "dir"));
    EXPECT_EQ(moveFileReplacing(from, dir.path() / "dir").systemCode(), EISDIR);
    EXPECT_EQ(readFile(from).value(), "kept");
}

// A writable directory on another file system than `here`, if the machine has one: /dev/shm
// is its own file system on most machines, but not in a chroot that binds /dev alone.
std::optional<fs::path> directoryOnAnotherFileSystem(const fs::path& here) {
    struct stat ours {};
    if (::stat(here.c_str(), &ours) != 0) return std::nullopt;
    const std::string runUser = "/run/user/" + std::to_string(::getuid());
    for (const std::string& candidate : {std::string("/dev/shm"), runUser, std::string("/run/lock"),
                                         std::string("/var/tmp"), std::string("/tmp")}) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            info.st_dev == ours.st_dev || ::access(candidate.c_str(), W_OK | X_OK) != 0) {
            continue;
        }
        return fs::path(candidate);
    }
    return std::nullopt;
}

TEST(FilesTest, moveFileReplacingCopiesAcrossFileSystems) {
    testing::TempDir dir;
    const std::optional<fs::path> other = directoryOnAnotherFileSystem(dir.path());
    if (!other) GTEST_SKIP() << "no writable second file system beside " << dir.path();
    const fs::path from = *other / ("vantrel-move-" + std::to_string(::getpid()));
    ASSERT_TRUE(writeFileAtomically(from, std::string(3 << 20, 'x')));
    ASSERT_EQ(::chmod(from.c_str(), 0640), 0);
    ASSERT_TRUE(setFileTime(from, WallTime(std::chrono::seconds(1'700'000'000))));
    const fs::path to = dir.path() / "to";
    ASSERT_TRUE(writeFileAtomically(to, "old"));

    ASSERT_TRUE(moveFileReplacing(from, to));
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(readFile(to).value(), std::string(3 << 20, 'x'));
    struct stat info {};
    ASSERT_EQ(::stat(to.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(info.st_mtim.tv_sec, 1'700'000'000);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"to"}) << "no temporary is left";

    EXPECT_NE(mountPoint(*other), mountPoint(dir.path()));
    EXPECT_EQ(mountPoint(*other / "not" / "made"), mountPoint(*other));
    EXPECT_EQ(mountPoint(dir.path()), mountPoint(dir.path() / "x"))
        << "a missing tail belongs to its parent";
}

TEST(DiskSpaceTest, reportsFreeBytesOrNothing) {
    testing::TempDir dir;
    const std::optional<std::uint64_t> free = freeBytes(dir.path());
    ASSERT_TRUE(free.has_value());
    EXPECT_GT(*free, 0u);
    EXPECT_FALSE(freeBytes(dir.path() / "missing").has_value());
}

TEST(ThreadIdTest, threadsHaveTheirOwnKernelIds) {
    EXPECT_EQ(currentProcessId(), static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(currentThreadId(), currentProcessId()) << "the main thread's id is the process id";
    std::uint32_t other = 0;
    std::thread([&] { other = currentThreadId(); }).join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, currentThreadId());
}

TEST(StatusTest, errnoValuesMapToTheKindsCallersBranchOn) {
    EXPECT_TRUE(statusFromErrno(0, "x"));
    EXPECT_EQ(statusFromErrno(ENOSPC, "").kind(), ErrorKind::NoSpace);
    EXPECT_EQ(statusFromErrno(EDQUOT, "").kind(), ErrorKind::NoSpace);
    EXPECT_EQ(statusFromErrno(EPIPE, "").kind(), ErrorKind::PeerClosed);
    EXPECT_EQ(statusFromErrno(ECONNRESET, "").kind(), ErrorKind::PeerClosed);
    EXPECT_EQ(statusFromErrno(ETIMEDOUT, "").kind(), ErrorKind::TimedOut);
    EXPECT_EQ(statusFromErrno(ENOENT, "").kind(), ErrorKind::NotFound);
    EXPECT_EQ(statusFromErrno(EIO, "").kind(), ErrorKind::IoError);
    const Status status = statusFromErrno(ENOENT, "打开[/x]");
    EXPECT_EQ(status.text(), "打开[/x]失败：文件或目录不存在");
    EXPECT_EQ(status.systemCode(), ENOENT);
}

TEST(SystemErrorText, commonErrorsHaveChineseTextsAndTheRestKeepTheirNumber) {
    // The texts an operator meets most, whatever the machine's locale says.
    const std::pair<int, const char*> rows[] = {
        {ENOSPC, "磁盘空间不足"},       {EROFS, "文件系统只读"},      {EACCES, "没有访问权限"},
        {EPERM, "没有访问权限"},        {ENOENT, "文件或目录不存在"}, {ECONNREFUSED, "连接被拒绝"},
        {ECONNRESET, "连接被对方重置"}, {ETIMEDOUT, "连接超时"},      {EPIPE, "连接已断开"},
    };
    for (const auto& [err, text] : rows) EXPECT_EQ(systemErrorText(err), text) << err;
    EXPECT_EQ(systemErrorText(EDOM), "系统错误(错误码:" + std::to_string(EDOM) + ")");
    // An errno text never leaks through: every number gives Chinese or the number.
    for (int err = 1; err < 134; ++err) {
        const std::string text = systemErrorText(err);
        EXPECT_TRUE(static_cast<unsigned char>(text[0]) >= 0x80) << err << ": " << text;
    }
}

}  // namespace
}  // namespace vantrel::platform
