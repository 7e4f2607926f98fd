#include "platform/files.h"

#include "platform/file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

namespace vantrel::platform {

namespace {

Status writeAll(int fd, std::string_view bytes, const std::filesystem::path& path) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return statusFromErrno(errno, "写入[" + path.string() + "]");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return Status::ok();
}

// Makes a rename in `dir` durable. Failure only weakens durability, so it is not reported.
void syncDirectory(const std::filesystem::path& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A name beside `path` that no other writer in this or another process uses at the same time.
std::filesystem::path temporaryBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = path;
    temp += "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
    return temp;
}

Status syncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return statusFromErrno(errno, "打开[" + path.string() + "]");
    Status status;
    if (::fsync(fd) != 0) status = statusFromErrno(errno, "同步[" + path.string() + "]");
    ::close(fd);
    return status;
}

// Copies `from` into the new file `to` (which must not exist), keeping mode and times, and
// syncs it. A partial copy is removed.
Status copyFileSynced(const std::filesystem::path& from, const std::filesystem::path& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return statusFromErrno(errno, "打开[" + from.string() + "]");
    struct stat info {};
    if (::fstat(in, &info) != 0) {
        const int err = errno;
        ::close(in);
        return statusFromErrno(err, "读取属性[" + from.string() + "]");
    }
    const int out =
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return statusFromErrno(err, "创建[" + to.string() + "]");
    }
    Status status;
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            status = statusFromErrno(errno, "读取[" + from.string() + "]");
            break;
        }
        status = writeAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)), to);
        if (!status) break;
    }
    if (status) {
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        ::futimens(out, times);
        if (::fsync(out) != 0) status = statusFromErrno(errno, "同步[" + to.string() + "]");
    }
    if (::close(out) != 0 && status) status = statusFromErrno(errno, "关闭[" + to.string() + "]");
    ::close(in);
    if (!status) ::unlink(to.c_str());
    return status;
}

}  // namespace

Result<FileInfo> fileInfo(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return statusFromErrno(errno, "读取属性[" + path.string() + "]");
    const auto wall = [](const struct timespec& t) {
        return WallTime(std::chrono::duration_cast<WallTime::duration>(
            std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)));
    };
    FileInfo info;
    info.regular = S_ISREG(st.st_mode);
    info.size = static_cast<std::int64_t>(st.st_size);
    info.modified = wall(st.st_mtim);
    info.changed = wall(st.st_ctim);
    info.device = static_cast<std::uint64_t>(st.st_dev);
    info.inode = static_cast<std::uint64_t>(st.st_ino);
    info.links = static_cast<std::uint64_t>(st.st_nlink);
    return info;
}

Status createDirectories(const std::filesystem::path& dir) {
    if (dir.empty())
        return Status::error(ErrorKind::InvalidArgument, "create directory: empty path");
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return statusFromErrno(ec.value(), "创建目录[" + dir.string() + "]");
    if (!std::filesystem::is_directory(dir, ec)) {
        return Status::error(ErrorKind::AlreadyExists,
                             "create directory " + dir.string() + ": a file of that name exists");
    }
    return Status::ok();
}

Result<std::string> readFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return statusFromErrno(errno, "打开[" + path.string() + "]");
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        bytes.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            return statusFromErrno(err, "读取[" + path.string() + "]");
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return bytes;
}

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    return writeFileAtomically(FileSystem::real(), path, bytes);
}

Status appendToFile(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return statusFromErrno(errno, "打开[" + path.string() + "]");
    Status status = writeAll(fd, bytes, path);
    if (::close(fd) != 0 && status) status = statusFromErrno(errno, "关闭[" + path.string() + "]");
    return status;
}

Status setFileTime(const std::filesystem::path& path, WallTime time) {
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    const auto whole = floor<seconds>(sinceEpoch);
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(whole.count());
    times[0].tv_nsec = static_cast<long>(duration_cast<nanoseconds>(sinceEpoch - whole).count());
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        return statusFromErrno(errno, "设置时间[" + path.string() + "]");
    }
    return Status::ok();
}

Status moveFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    // The data reaches the disk before the new name does, so a crash never leaves `to`
    // naming unwritten blocks.
    if (Status synced = syncFile(from); !synced) return synced;
    if (::rename(from.c_str(), to.c_str()) == 0) {
        syncDirectory(to.parent_path());
        syncDirectory(from.parent_path());
        return Status::ok();
    }
    if (errno != EXDEV)
        return statusFromErrno(errno, "将[" + from.string() + "]改名为[" + to.string() + "]");

    const std::filesystem::path temp = temporaryBeside(to);
    if (Status copied = copyFileSynced(from, temp); !copied) return copied;
    if (::rename(temp.c_str(), to.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return statusFromErrno(err, "将[" + temp.string() + "]改名为[" + to.string() + "]");
    }
    syncDirectory(to.parent_path());
    // `to` is complete; a source that cannot be removed is still reported, so the caller
    // retries and replaces `to` again rather than leaving two copies unnoticed.
    if (::unlink(from.c_str()) != 0) return statusFromErrno(errno, "删除[" + from.string() + "]");
    syncDirectory(from.parent_path());
    return Status::ok();
}

Status exchangePaths(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0) {
        return statusFromErrno(errno, "交换[" + a.string() + "]与[" + b.string() + "]");
    }
    return Status::ok();
}

}  // namespace vantrel::platform
