#pragma once
// A disk that fails one chosen call: the Nth write, rename or sync (a write or resize of a
// file, a flush of a mapped range, a rename or hard link, a sync of a file or a directory)
// after failCall(N) fails once, writes with ENOSPC and the others with EIO; every other
// call passes. failCall(0) only counts. Deterministic (calls, not bytes or time);
// thread-safe.

#include <cerrno>
#include <mutex>
#include <string>

#include "platform/file_system.h"

namespace vantrel::testing {

class FailingFileSystem final : public platform::FileSystemWrapper {
  public:
    FailingFileSystem() : FileSystemWrapper(platform::FileSystem::real()) {}

    // Counts from zero again; call `n` (from 1) will fail, none for 0.
    void failCall(int n) {
        std::lock_guard lock(mutex_);
        calls_ = 0;
        failAt_ = n;
        failed_.clear();
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // What failed ("rename /path"), empty while nothing has.
    std::string failed() const {
        std::lock_guard lock(mutex_);
        return failed_;
    }

    Result<std::unique_ptr<platform::File>> open(const std::filesystem::path& path,
                                                 platform::OpenMode mode) override {
        Result<std::unique_ptr<platform::File>> file = target().open(path, mode);
        if (!file) return file;
        return std::unique_ptr<platform::File>(
            std::make_unique<Counted>(std::move(file.value()), *this, path));
    }
    Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
        if (Status s = take("rename", from, EIO); !s) return s;
        return target().rename(from, to);
    }
    Status hardLink(const std::filesystem::path& existing,
                    const std::filesystem::path& link) override {
        if (Status s = take("link", existing, EIO); !s) return s;
        return target().hardLink(existing, link);
    }
    Status syncDirectory(const std::filesystem::path& directory) override {
        if (Status s = take("sync", directory, EIO); !s) return s;
        return target().syncDirectory(directory);
    }
    Status flushMapped(platform::MappedFile& file, std::size_t offset,
                       std::size_t length) override {
        if (Status s = take("flush", "mapped", EIO); !s) return s;
        return target().flushMapped(file, offset, length);
    }

  private:
    class Counted final : public platform::FileWrapper {
      public:
        Counted(std::unique_ptr<platform::File> file, FailingFileSystem& disk,
                std::filesystem::path path)
            : FileWrapper(std::move(file)), disk_(disk), path_(std::move(path)) {}
        Status writeAt(std::int64_t offset, const void* bytes, std::size_t length) override {
            if (Status s = disk_.take("write", path_, ENOSPC); !s) return s;
            return FileWrapper::writeAt(offset, bytes, length);
        }
        Status resize(std::int64_t size) override {
            if (Status s = disk_.take("resize", path_, ENOSPC); !s) return s;
            return FileWrapper::resize(size);
        }
        Status sync() override {
            if (Status s = disk_.take("sync", path_, EIO); !s) return s;
            return FileWrapper::sync();
        }

      private:
        FailingFileSystem& disk_;
        std::filesystem::path path_;
    };

    Status take(const char* what, const std::filesystem::path& path, int error) {
        std::lock_guard lock(mutex_);
        if (++calls_ != failAt_) return Status::ok();
        failed_ = std::string(what) + " " + path.string();
        return statusFromErrno(error, failed_);
    }

    mutable std::mutex mutex_;
    int calls_ = 0;
    int failAt_ = 0;
    std::string failed_;
};

}  // namespace vantrel::testing
