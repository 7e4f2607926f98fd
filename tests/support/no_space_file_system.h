#pragma once
// A disk that fills up on cue: from the Nth block-needing call on (a write, a resize, a
// sync, a flush of a mapped range) every such call fails with ENOSPC, until spaceBack().
// Deterministic: the count is of calls, not of bytes or time. Thread-safe.

#include <cerrno>
#include <mutex>

#include "platform/file_system.h"

namespace vantrel::testing {

class NoSpaceFileSystem final : public platform::FileSystemWrapper {
  public:
    NoSpaceFileSystem() : FileSystemWrapper(platform::FileSystem::real()) {}

    // The next `n`th call and every later one fail (n >= 1).
    void failFrom(int n) {
        std::lock_guard lock(mutex_);
        calls_ = 0;
        failFrom_ = n;
        failures_ = 0;
    }
    void spaceBack() {
        std::lock_guard lock(mutex_);
        failFrom_ = 0;
    }
    // Calls counted since failFrom(), and how many of them failed.
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int failures() const {
        std::lock_guard lock(mutex_);
        return failures_;
    }

    Result<std::unique_ptr<platform::File>> open(const std::filesystem::path& path,
                                                 platform::OpenMode mode) override {
        Result<std::unique_ptr<platform::File>> file = target().open(path, mode);
        if (!file) return file;
        return std::unique_ptr<platform::File>(
            std::make_unique<Counted>(std::move(file.value()), *this));
    }
    Status flushMapped(platform::MappedFile& file, std::size_t offset,
                       std::size_t length) override {
        if (Status s = take("flush"); !s) return s;
        return target().flushMapped(file, offset, length);
    }

  private:
    class Counted final : public platform::FileWrapper {
      public:
        Counted(std::unique_ptr<platform::File> file, NoSpaceFileSystem& disk)
            : FileWrapper(std::move(file)), disk_(disk) {}
        Status writeAt(std::int64_t offset, const void* bytes, std::size_t length) override {
            if (Status s = disk_.take("write"); !s) return s;
            return FileWrapper::writeAt(offset, bytes, length);
        }
        Status resize(std::int64_t size) override {
            if (Status s = disk_.take("resize"); !s) return s;
            return FileWrapper::resize(size);
        }
        Status sync() override {
            if (Status s = disk_.take("sync"); !s) return s;
            return FileWrapper::sync();
        }

      private:
        NoSpaceFileSystem& disk_;
    };

    Status take(const char* what) {
        std::lock_guard lock(mutex_);
        ++calls_;
        if (failFrom_ == 0 || calls_ < failFrom_) return Status::ok();
        ++failures_;
        return statusFromErrno(ENOSPC, what);
    }

    mutable std::mutex mutex_;
    int calls_ = 0;
    int failFrom_ = 0;
    int failures_ = 0;
};

}  // namespace vantrel::testing
