#include "platform/named_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace vantrel::platform {
namespace {

std::shared_ptr<NamedLock> openLock(const std::filesystem::path& dir,
                                    const std::string& name = "vantrel_SYSLOG") {
    Result<std::shared_ptr<NamedLock>> lock = NamedLock::open(name, dir);
    EXPECT_TRUE(lock) << lock.status().text();
    return lock ? lock.value() : nullptr;
}

// Runs `body` in a forked child and returns its pid; the child's exit code is what body returns.
template <class Body>
pid_t forkChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

int exitCodeOf(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(NamedLockTest, twoProcessesAppendingUnderTheLockLeaveOnlyWholeLines) {
    // setup: every line goes out in three writes, so unguarded writers would interleave
    testing::TempDir dir;
    const std::filesystem::path log = dir.path() / "system.log";
    const auto writer = [&](char tag) {
        return [&, tag] {
            Result<std::shared_ptr<NamedLock>> lock = NamedLock::open("vantrel_SYSLOG", dir.path());
            if (!lock) return 2;
            for (int i = 0; i < 1000; ++i) {
                NamedLockGuard guard(**lock);
                const std::string number = std::to_string(i);
                if (!appendToFile(log, std::string(1, tag)) ||
                    !appendToFile(log, ":" + number + ":") ||
                    !appendToFile(log, std::string(40, tag) + "\n")) {
                    return 3;
                }
            }
            return 0;
        };
    };
    // act
    const pid_t first = forkChild(writer('a'));
    const pid_t second = forkChild(writer('b'));
    ASSERT_EQ(exitCodeOf(first), 0);
    ASSERT_EQ(exitCodeOf(second), 0);
    // verify
    std::istringstream lines(readFile(log).value());
    std::set<std::string> seen;
    std::string line;
    while (std::getline(lines, line)) {
        ASSERT_GE(line.size(), 3u);
        const char tag = line[0];
        const std::size_t colon = line.find(':', 2);
        ASSERT_NE(colon, std::string::npos) << line;
        EXPECT_EQ(line.substr(colon + 1), std::string(40, tag)) << line;
        seen.insert(line.substr(0, colon));
    }
    EXPECT_EQ(seen.size(), 2000u);
}

TEST(NamedLockTest, tryLockFailsWhileAnotherProcessHoldsItAndSucceedsOnceThatProcessDies) {
    testing::TempDir dir;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = forkChild([&] {
        Result<std::shared_ptr<NamedLock>> lock = NamedLock::open("Vantrel_exe", dir.path());
        if (!lock) return 2;
        (*lock)->lock();
        const char signal = 'x';
        if (::write(ready[1], &signal, 1) != 1) return 3;
        ::pause();  // holds the lock until killed
        return 0;
    });
    char signal = 0;
    ASSERT_EQ(::read(ready[0], &signal, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);

    std::shared_ptr<NamedLock> lock = openLock(dir.path(), "Vantrel_exe");
    EXPECT_FALSE(lock->tryLock());

    ::kill(holder, SIGKILL);
    EXPECT_EQ(exitCodeOf(holder), 128 + SIGKILL);
    EXPECT_TRUE(lock->tryLock()) << "the kernel releases the lock of a dead process";
    lock->unlock();
}

TEST(NamedLockTest, twoObjectsOfOneNameExcludeEachOthersThreads) {
    testing::TempDir dir;
    std::shared_ptr<NamedLock> first = openLock(dir.path());
    std::shared_ptr<NamedLock> second = openLock(dir.path());
    int counter = 0;  // unsynchronised on purpose: only the lock guards it
    const auto work = [&counter](NamedLock& lock) {
        for (int i = 0; i < 20000; ++i) {
            NamedLockGuard guard(lock);
            counter = counter + 1;
        }
    };
    std::thread a(work, std::ref(*first));
    std::thread b(work, std::ref(*second));
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

TEST(NamedLockTest, tryLockFromAnotherThreadFailsWhileHeldAndSucceedsAfterUnlock) {
    testing::TempDir dir;
    std::shared_ptr<NamedLock> held = openLock(dir.path());
    std::shared_ptr<NamedLock> other = openLock(dir.path());
    const auto tryFromThread = [&other] {
        bool got = false;
        std::thread([&] {
            got = other->tryLock();
            if (got) other->unlock();
        }).join();
        return got;
    };
    held->lock();
    EXPECT_FALSE(tryFromThread());
    held->unlock();
    EXPECT_TRUE(tryFromThread());
}

TEST(NamedLockTest, differentNamesDoNotExcludeEachOther) {
    testing::TempDir dir;
    std::shared_ptr<NamedLock> log = openLock(dir.path(), "vantrel_LOG");
    std::shared_ptr<NamedLock> syslog = openLock(dir.path(), "vantrel_SYSLOG");
    log->lock();
    bool got = false;
    std::thread([&] {
        got = syslog->tryLock();
        if (got) syslog->unlock();
    }).join();
    EXPECT_TRUE(got);
    log->unlock();
}

TEST(NamedLockTest, lockWaitsForTheHolderToRelease) {
    testing::TempDir dir;
    std::shared_ptr<NamedLock> first = openLock(dir.path());
    std::shared_ptr<NamedLock> second = openLock(dir.path());
    first->lock();
    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        second->lock();
        acquired = true;
        second->unlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(acquired);
    first->unlock();
    waiter.join();
    EXPECT_TRUE(acquired);
}

TEST(NamedLockTest, badNamesAndMissingDirectoriesAreErrors) {
    testing::TempDir dir;
    EXPECT_EQ(NamedLock::open("", dir.path()).status().kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(NamedLock::open("../escape", dir.path()).status().kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(NamedLock::open("..", dir.path()).status().kind(), ErrorKind::InvalidArgument);
    EXPECT_EQ(NamedLock::open("x", dir.path() / "missing").status().kind(), ErrorKind::NotFound);
}

TEST(NamedLockTest, theRuntimeDirectoryComesFromTheEnvironmentAndIsCreatedPrivate) {
    testing::TempDir dir;
    const std::filesystem::path wanted = dir.path() / "deep" / "runtime";
    const char* saved = std::getenv("VANTREL_RUNTIME_DIR");
    const std::string restore = saved ? saved : "";
    ::setenv("VANTREL_RUNTIME_DIR", wanted.c_str(), 1);
    const std::filesystem::path got = defaultRuntimeDirectory();
    saved ? ::setenv("VANTREL_RUNTIME_DIR", restore.c_str(), 1) : ::unsetenv("VANTREL_RUNTIME_DIR");

    EXPECT_EQ(got, wanted);
    ASSERT_TRUE(std::filesystem::is_directory(wanted));
    EXPECT_EQ(std::filesystem::status(wanted).permissions(), std::filesystem::perms::owner_all);
    EXPECT_TRUE(NamedLock::open("vantrel_LOG", got));
}

}  // namespace
}  // namespace vantrel::platform
