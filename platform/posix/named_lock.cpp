#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

namespace vantrel::platform {

namespace {

// One mutex per lock file, shared by every NamedLock of that file in this process, so
// that threads exclude each other whichever object they hold.
std::shared_ptr<std::mutex> mutexFor(const std::string& lockFile) {
    static std::mutex registryMutex;
    static std::map<std::string, std::weak_ptr<std::mutex>> registry;
    std::lock_guard guard(registryMutex);
    std::erase_if(registry, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<std::mutex>& slot = registry[lockFile];
    std::shared_ptr<std::mutex> mutex = slot.lock();
    if (!mutex) {
        mutex = std::make_shared<std::mutex>();
        slot = mutex;
    }
    return mutex;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// flock may be interrupted by a signal handler; the wait simply goes on.
int flockRetrying(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

std::filesystem::path defaultRuntimeDirectory() {
    std::filesystem::path dir;
    if (const char* own = std::getenv("VANTREL_RUNTIME_DIR"); own != nullptr && *own != '\0') {
        dir = own;
    } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
        dir = std::filesystem::path(xdg) / "vantrel";
    } else {
        dir = "/tmp/vantrel-" + std::to_string(::getuid());
    }
    // Parents are created as needed; the directory itself is private to the user. An error
    // shows when a lock is opened in it.
    std::error_code ec;
    if (dir.has_parent_path()) std::filesystem::create_directories(dir.parent_path(), ec);
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

struct NamedLock::Impl {
    int fd;
    std::shared_ptr<std::mutex> mutex;
};

Result<std::shared_ptr<NamedLock>> NamedLock::open(const std::string& name,
                                                   const std::filesystem::path& directory) {
    if (!isPlainName(name)) {
        return Status::error(ErrorKind::InvalidArgument, "named lock: bad name \"" + name + "\"");
    }
    const std::filesystem::path file = directory / (name + ".lock");
    // Close-on-exec: a child that inherited the descriptor would keep the lock after we die.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return statusFromErrno(errno, "打开锁文件[" + file.string() + "]");
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(file, ec);
    std::shared_ptr<NamedLock> lock(new NamedLock(fd, (ec ? file : canonical).string()));
    return lock;
}

NamedLock::NamedLock(int fd, std::string name) : impl_(new Impl{fd, mutexFor(name)}) {}

NamedLock::~NamedLock() {
    ::close(impl_->fd);
}

void NamedLock::lock() {
    impl_->mutex->lock();
    // Only EBADF, EINVAL or ENOLCK can fail here, none of which a valid descriptor from
    // open() meets; the threads of this process stay excluded by the mutex regardless.
    flockRetrying(impl_->fd, LOCK_EX);
}

bool NamedLock::tryLock() {
    if (!impl_->mutex->try_lock()) return false;
    if (flockRetrying(impl_->fd, LOCK_EX | LOCK_NB) != 0) {
        impl_->mutex->unlock();
        return false;
    }
    return true;
}

void NamedLock::unlock() {
    flockRetrying(impl_->fd, LOCK_UN);
    impl_->mutex->unlock();
}

}  // namespace vantrel::platform
