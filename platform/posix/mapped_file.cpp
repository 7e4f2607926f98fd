#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vantrel::platform {

namespace {

// Reserves real blocks rather than leaving a sparse hole: a store through the mapping into
// a hole on a full disk would kill the process with SIGBUS instead of failing here.
Status reserve(int fd, std::size_t size, const std::filesystem::path& path) {
    int err;
    do {
        err = ::posix_fallocate(fd, 0, static_cast<off_t>(size));
    } while (err == EINTR);
    return err == 0 ? Status::ok() : statusFromErrno(err, "分配空间[" + path.string() + "]");
}

Result<std::uint8_t*> mapShared(int fd, std::size_t size, const std::filesystem::path& path) {
    void* data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) return statusFromErrno(errno, "映射[" + path.string() + "]");
    return static_cast<std::uint8_t*>(data);
}

}  // namespace

Result<MappedFile> MappedFile::open(const std::filesystem::path& path, std::size_t size,
                                    bool create) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
    if (fd < 0) return statusFromErrno(errno, "打开[" + path.string() + "]");
    MappedFile file;
    file.path_ = path;
    file.fd_ = fd;  // closed by `file` from here on

    struct stat info {};
    if (::fstat(fd, &info) != 0) return statusFromErrno(errno, "读取属性[" + path.string() + "]");
    const auto length = static_cast<std::size_t>(info.st_size);
    if (size == 0) size = length;
    if (size == 0) {
        return Status::error(ErrorKind::InvalidArgument, "map " + path.string() + ": empty file");
    }
    if (length < size) {
        if (Status status = reserve(fd, size, path); !status) return status;
    }
    Result<std::uint8_t*> data = mapShared(fd, size, path);
    if (!data) return data.status();
    file.data_ = *data;
    file.size_ = size;
    return file;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    close();
}

Status MappedFile::flushRange(std::size_t offset, std::size_t length) {
    if (!isOpen()) return Status::error(ErrorKind::InvalidArgument, "flush: file not mapped");
    if (offset > size_ || length > size_ - offset) {
        return Status::error(ErrorKind::InvalidArgument,
                             "flush " + path_.string() + ": range outside the mapping");
    }
    if (length == 0) return Status::ok();
    // msync wants a page-aligned start.
    const auto pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t start = offset - offset % pageSize;
    if (::msync(data_ + start, offset + length - start, MS_SYNC) != 0) {
        return statusFromErrno(errno, "写回[" + path_.string() + "]");
    }
    return Status::ok();
}

Status MappedFile::resize(std::size_t newSize) {
    if (!isOpen()) return Status::error(ErrorKind::InvalidArgument, "resize: file not mapped");
    if (newSize < size_) {
        return Status::error(ErrorKind::InvalidArgument,
                             "resize " + path_.string() + ": cannot shrink");
    }
    if (newSize == size_) return Status::ok();
    if (Status status = reserve(fd_, newSize, path_); !status) return status;
    // Map the new size before dropping the old mapping, so a failure leaves this file usable.
    Result<std::uint8_t*> data = mapShared(fd_, newSize, path_);
    if (!data) return data.status();
    ::munmap(data_, size_);
    data_ = *data;
    size_ = newSize;
    return Status::ok();
}

void MappedFile::close() {
    if (data_ != nullptr) ::munmap(data_, size_);
    if (fd_ >= 0) ::close(fd_);
    data_ = nullptr;
    size_ = 0;
    fd_ = -1;
}

}  // namespace vantrel::platform
