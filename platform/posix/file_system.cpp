#include "platform/file_system.h"

#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace vantrel::platform {

namespace {

class PosixFile final : public File {
  public:
    PosixFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    Result<std::size_t> readAt(std::int64_t offset, void* buffer, std::size_t length) override {
        auto* out = static_cast<char*>(buffer);
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n =
                ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return statusFromErrno(errno, "读取[" + path_.string() + "]");
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    Status writeAt(std::int64_t offset, const void* bytes, std::size_t length) override {
        const auto* in = static_cast<const char*>(bytes);
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n =
                ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            // A write that moves nothing would loop for ever; the disk is full.
            if (n <= 0)
                return statusFromErrno(n == 0 ? ENOSPC : errno, "写入[" + path_.string() + "]");
            done += static_cast<std::size_t>(n);
        }
        return Status::ok();
    }

    Status resize(std::int64_t size) override {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
            return statusFromErrno(errno, "设置大小[" + path_.string() + "]");
        return Status::ok();
    }

    Result<std::int64_t> size() override {
        struct stat info {};
        if (::fstat(fd_, &info) != 0)
            return statusFromErrno(errno, "读取属性[" + path_.string() + "]");
        return static_cast<std::int64_t>(info.st_size);
    }

    Status sync() override {
        if (::fsync(fd_) != 0) return statusFromErrno(errno, "同步[" + path_.string() + "]");
        return Status::ok();
    }

    Status close() override {
        if (fd_ < 0) return Status::ok();
        const int rc = ::close(fd_);
        fd_ = -1;
        if (rc != 0) return statusFromErrno(errno, "关闭[" + path_.string() + "]");
        return Status::ok();
    }

  private:
    int fd_;
    std::filesystem::path path_;
};

class PosixFileSystem final : public FileSystem {
  public:
    Result<std::unique_ptr<File>> open(const std::filesystem::path& path, OpenMode mode) override {
        int flags = O_CLOEXEC;
        switch (mode) {
            case OpenMode::kRead:
                flags |= O_RDONLY;
                break;
            case OpenMode::kReadWrite:
                flags |= O_RDWR;
                break;
            case OpenMode::kCreate:
                flags |= O_RDWR | O_CREAT;
                break;
            case OpenMode::kCreateTruncate:
                flags |= O_RDWR | O_CREAT | O_TRUNC;
                break;
        }
        const int fd = ::open(path.c_str(), flags, 0644);
        if (fd < 0) return statusFromErrno(errno, "打开[" + path.string() + "]");
        struct stat info {};
        const int err = ::fstat(fd, &info) != 0 ? errno : S_ISREG(info.st_mode) ? 0 : EISDIR;
        if (err != 0) {
            ::close(fd);
            return statusFromErrno(err, "打开[" + path.string() + "]");
        }
        return std::unique_ptr<File>(std::make_unique<PosixFile>(fd, path));
    }

    Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0) {
            return statusFromErrno(errno, "将[" + from.string() + "]改名为[" + to.string() + "]");
        }
        return Status::ok();
    }

    Status remove(const std::filesystem::path& path) override {
        if (::unlink(path.c_str()) == 0) return Status::ok();
        if (errno == EISDIR && ::rmdir(path.c_str()) == 0) return Status::ok();
        return statusFromErrno(errno, "删除[" + path.string() + "]");
    }

    Status syncDirectory(const std::filesystem::path& directory) override {
        const int fd =
            ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return statusFromErrno(errno, "打开[" + directory.string() + "]");
        const int rc = ::fsync(fd);
        const int err = errno;
        ::close(fd);
        if (rc != 0) return statusFromErrno(err, "同步[" + directory.string() + "]");
        return Status::ok();
    }

    Result<MappedFile> map(const std::filesystem::path& path, std::size_t size,
                           bool create) override {
        return MappedFile::open(path, size, create);
    }

    Status flushMapped(MappedFile& file, std::size_t offset, std::size_t length) override {
        return file.flushRange(offset, length);
    }

    Status createDirectories(const std::filesystem::path& directory) override {
        return platform::createDirectories(directory);
    }

    Status removeAll(const std::filesystem::path& path) override {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (ec) return statusFromErrno(ec.value(), "删除[" + path.string() + "]");
        return Status::ok();
    }

    Status setPermissions(const std::filesystem::path& path, std::filesystem::perms perms,
                          std::filesystem::perm_options how) override {
        std::error_code ec;
        std::filesystem::permissions(path, perms, how, ec);
        if (ec) return statusFromErrno(ec.value(), "设置权限[" + path.string() + "]");
        return Status::ok();
    }

    Status hardLink(const std::filesystem::path& existing,
                    const std::filesystem::path& link) override {
        if (::link(existing.c_str(), link.c_str()) != 0) {
            return statusFromErrno(errno,
                                   "链接[" + existing.string() + "]为[" + link.string() + "]");
        }
        return Status::ok();
    }
};

// A name beside `path` that no other writer in this or another process uses at once.
std::filesystem::path temporaryBeside(const std::filesystem::path& path) {
    static std::atomic<unsigned> counter{0};
    std::filesystem::path temp = path;
    temp += "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
    return temp;
}

}  // namespace

FileSystem& FileSystem::real() {
    static PosixFileSystem instance;
    return instance;
}

Status copyFile(FileSystem& fs, const std::filesystem::path& from,
                const std::filesystem::path& to) {
    Result<std::unique_ptr<File>> in = fs.open(from, OpenMode::kRead);
    if (!in) return in.status();
    Result<std::unique_ptr<File>> out = fs.open(to, OpenMode::kCreateTruncate);
    if (!out) return out.status();
    char buffer[65536];
    for (std::int64_t at = 0;;) {
        Result<std::size_t> n = in.value()->readAt(at, buffer, sizeof buffer);
        if (!n) return n.status();
        if (n.value() == 0) break;
        if (Status s = out.value()->writeAt(at, buffer, n.value()); !s) return s;
        at += static_cast<std::int64_t>(n.value());
    }
    if (Status s = out.value()->sync(); !s) return s;
    return out.value()->close();
}

Status replaceFileDurably(
    FileSystem& fs, const std::filesystem::path& target,
    const std::function<Status(const std::filesystem::path& temporary)>& build) {
    const std::filesystem::path temporary = temporaryBeside(target);
    Status status = build(temporary);
    if (status) {
        // The build closed its handles; the data reaches the disk before the name does.
        Result<std::unique_ptr<File>> written = fs.open(temporary, OpenMode::kReadWrite);
        status = written ? written.value()->sync() : written.status();
        if (status) status = written.value()->close();
    }
    if (status) status = fs.rename(temporary, target);
    if (!status) {
        (void)fs.remove(temporary);
        return status;
    }
    // The old name may already point at the new file; a failed directory sync is reported
    // so the caller knows the replacement may not survive a power cut.
    return fs.syncDirectory(target.parent_path());
}

namespace {

// Across file systems: a synced copy beside `to` (mode and times kept) renamed over it, and
// only then is `from` removed.
Status copyAcross(FileSystem& fs, const std::filesystem::path& from,
                  const std::filesystem::path& to) {
    const std::filesystem::path temp = temporaryBeside(to);
    Status status = copyFile(fs, from, temp);
    std::error_code ec;
    const std::filesystem::file_status source = std::filesystem::status(from, ec);
    if (status && !ec)
        status =
            fs.setPermissions(temp, source.permissions(), std::filesystem::perm_options::replace);
    if (Result<FileInfo> info = fileInfo(from); status && info)
        status = setFileTime(temp, info->modified);
    if (status) status = fs.rename(temp, to);
    if (!status) {
        (void)fs.remove(temp);
        return status;
    }
    (void)fs.syncDirectory(to.parent_path());
    // `to` is complete; a source that cannot be removed is still reported, so the caller
    // retries and replaces `to` again rather than leaving two copies unnoticed.
    if (Status removed = fs.remove(from); !removed) return removed;
    (void)fs.syncDirectory(from.parent_path());
    return Status::ok();
}

}  // namespace

Status moveFileReplacing(FileSystem& fs, const std::filesystem::path& from,
                         const std::filesystem::path& to) {
    // The data reaches the disk before the new name does, so a crash never leaves `to`
    // naming unwritten blocks.
    Result<std::unique_ptr<File>> source = fs.open(from, OpenMode::kRead);
    if (!source) return source.status();
    if (Status synced = source.value()->sync(); !synced) return synced;
    (void)source.value()->close();
    Status renamed = fs.rename(from, to);
    if (!renamed && renamed.systemCode() == EXDEV) return copyAcross(fs, from, to);
    if (!renamed) return renamed;
    // The move has happened; a directory that cannot be synced only weakens its durability.
    (void)fs.syncDirectory(to.parent_path());
    (void)fs.syncDirectory(from.parent_path());
    return Status::ok();
}

Status removeIfPresent(FileSystem& fs, const std::filesystem::path& path) {
    Status status = fs.remove(path);
    if (!status && status.kind() == ErrorKind::NotFound) return Status::ok();
    return status;
}

Status writeWholeFile(FileSystem& fs, const std::filesystem::path& path, std::string_view bytes) {
    Result<std::unique_ptr<File>> out = fs.open(path, OpenMode::kCreateTruncate);
    if (!out) return out.status();
    if (Status s = out.value()->writeAt(0, bytes.data(), bytes.size()); !s) return s;
    return out.value()->close();
}

Status writeFileAtomically(FileSystem& fs, const std::filesystem::path& path,
                           std::string_view bytes) {
    return replaceFileDurably(fs, path, [&](const std::filesystem::path& temporary) {
        if (Status s = writeWholeFile(fs, temporary, bytes); !s) return s;
        std::error_code ec;
        const std::filesystem::file_status existing = std::filesystem::status(path, ec);
        if (ec || !std::filesystem::exists(existing)) return Status::ok();
        return fs.setPermissions(temporary, existing.permissions(),
                                 std::filesystem::perm_options::replace);
    });
}

Result<std::string> readWholeFile(FileSystem& fs, const std::filesystem::path& path) {
    Result<std::unique_ptr<File>> in = fs.open(path, OpenMode::kRead);
    if (!in) return in.status();
    std::string bytes;
    char buffer[65536];
    for (;;) {
        Result<std::size_t> n =
            in.value()->readAt(static_cast<std::int64_t>(bytes.size()), buffer, sizeof buffer);
        if (!n) return n.status();
        if (n.value() == 0) break;
        bytes.append(buffer, n.value());
    }
    return bytes;
}

}  // namespace vantrel::platform
