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
    return moveFileReplacing(FileSystem::real(), from, to);
}

Status exchangePaths(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0) {
        return statusFromErrno(errno, "交换[" + a.string() + "]与[" + b.string() + "]");
    }
    return Status::ok();
}

}  // namespace vantrel::platform
