#pragma once
// Every change the client and the updater make to files and directories goes through this
// interface, with the machine's file system as its default and a forwarding wrapper, so
// that a test can fail any call (the Nth write with "no space", a rename, a sync, a
// deletion) and watch what is kept. Read-only queries (exists, sizes, listings) may use
// std::filesystem directly.
// Every failure is a Status whose kind comes from statusFromErrno (ENOSPC is NoSpace).
//
// Thread safety: real() and its files may be used from any thread; one File object is used
// by one thread at a time. A wrapper's own state is its author's to guard.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/mapped_file.h"
#include "platform/status.h"

namespace vantrel::platform {

// One open file, read and written at offsets. Closing happens in the destructor too, but
// only close() reports a failure.
class File {
  public:
    virtual ~File() = default;
    // Up to `length` bytes at `offset`; fewer only at the end of the file.
    virtual Result<std::size_t> readAt(std::int64_t offset, void* buffer, std::size_t length) = 0;
    // All `length` bytes at `offset`, or the failure.
    virtual Status writeAt(std::int64_t offset, const void* bytes, std::size_t length) = 0;
    // Sets the length (growing reserves no blocks: a full disk shows at the writes).
    virtual Status resize(std::int64_t size) = 0;
    virtual Result<std::int64_t> size() = 0;
    // Makes what was written durable.
    virtual Status sync() = 0;
    virtual Status close() = 0;
};

enum class OpenMode {
    kRead,            // existing file, read only
    kReadWrite,       // existing file
    kCreate,          // read-write, created empty when missing
    kCreateTruncate,  // read-write, created or emptied
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual Result<std::unique_ptr<File>> open(const std::filesystem::path& path,
                                               OpenMode mode) = 0;
    // Replaces `to` if it exists.
    virtual Status rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // A file or an empty directory; a missing one is NotFound.
    virtual Status remove(const std::filesystem::path& path) = 0;
    // Makes the entries of `directory` (a rename into it) durable.
    virtual Status syncDirectory(const std::filesystem::path& directory) = 0;
    // MappedFile::open and MappedFile::flushRange, so that the state files of the transfers
    // fail in tests as other writes do.
    virtual Result<MappedFile> map(const std::filesystem::path& path, std::size_t size,
                                   bool create) = 0;
    virtual Status flushMapped(MappedFile& file, std::size_t offset, std::size_t length) = 0;
    // `directory` with every missing parent; an existing directory is success.
    virtual Status createDirectories(const std::filesystem::path& directory) = 0;
    // A file, or a directory with all it holds; a missing one is success.
    virtual Status removeAll(const std::filesystem::path& path) = 0;
    virtual Status setPermissions(const std::filesystem::path& path, std::filesystem::perms perms,
                                  std::filesystem::perm_options how) = 0;
    // A second name `link` for the file `existing` (same file system only).
    virtual Status hardLink(const std::filesystem::path& existing,
                            const std::filesystem::path& link) = 0;

    // The machine's file system; lives for the whole process.
    static FileSystem& real();
};

// Forwards every call to a target; a test overrides what it wants to break.
class FileSystemWrapper : public FileSystem {
  public:
    // `target` must outlive the wrapper.
    explicit FileSystemWrapper(FileSystem& target) : target_(target) {}
    Result<std::unique_ptr<File>> open(const std::filesystem::path& path, OpenMode mode) override {
        return target_.open(path, mode);
    }
    Status rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
        return target_.rename(from, to);
    }
    Status remove(const std::filesystem::path& path) override { return target_.remove(path); }
    Status syncDirectory(const std::filesystem::path& directory) override {
        return target_.syncDirectory(directory);
    }
    Result<MappedFile> map(const std::filesystem::path& path, std::size_t size,
                           bool create) override {
        return target_.map(path, size, create);
    }
    Status flushMapped(MappedFile& file, std::size_t offset, std::size_t length) override {
        return target_.flushMapped(file, offset, length);
    }
    Status createDirectories(const std::filesystem::path& directory) override {
        return target_.createDirectories(directory);
    }
    Status removeAll(const std::filesystem::path& path) override { return target_.removeAll(path); }
    Status setPermissions(const std::filesystem::path& path, std::filesystem::perms perms,
                          std::filesystem::perm_options how) override {
        return target_.setPermissions(path, perms, how);
    }
    Status hardLink(const std::filesystem::path& existing,
                    const std::filesystem::path& link) override {
        return target_.hardLink(existing, link);
    }

  protected:
    FileSystem& target() { return target_; }

  private:
    FileSystem& target_;
};

// Forwards every call to a file it owns.
class FileWrapper : public File {
  public:
    explicit FileWrapper(std::unique_ptr<File> target) : target_(std::move(target)) {}
    Result<std::size_t> readAt(std::int64_t offset, void* buffer, std::size_t length) override {
        return target_->readAt(offset, buffer, length);
    }
    Status writeAt(std::int64_t offset, const void* bytes, std::size_t length) override {
        return target_->writeAt(offset, bytes, length);
    }
    Status resize(std::int64_t size) override { return target_->resize(size); }
    Result<std::int64_t> size() override { return target_->size(); }
    Status sync() override { return target_->sync(); }
    Status close() override { return target_->close(); }

  private:
    std::unique_ptr<File> target_;
};

// Copies `from` to `to` (created or emptied) through `fs`, and syncs the copy.
Status copyFile(FileSystem& fs, const std::filesystem::path& from, const std::filesystem::path& to);

// Replaces `target` as a whole. `build` writes the complete new version at the temporary
// path it is given, beside `target`, through `fs` (it may copy a template there first);
// then the temporary is synced, renamed over `target` and the directory synced. On any
// failure, `build`'s included, the temporary is removed and `target` is left untouched.
Status replaceFileDurably(
    FileSystem& fs, const std::filesystem::path& target,
    const std::function<Status(const std::filesystem::path& temporary)>& build);

// Moves a file onto `to`, replacing a file there, written through: the data is synced and
// renamed; across file systems it is copied to a temporary beside `to` (mode and times
// kept), synced and renamed over `to`, and only then is `from` removed. On failure `from`
// is kept and `to` is either untouched or already replaced whole. The parent of `to` must
// exist.
Status moveFileReplacing(FileSystem& fs, const std::filesystem::path& from,
                         const std::filesystem::path& to);

// remove() that counts a missing file as removed.
Status removeIfPresent(FileSystem& fs, const std::filesystem::path& path);

// Replaces `path` as a whole with `bytes` (through replaceFileDurably: written beside it,
// synced, renamed, the directory synced), keeping the permissions of the file it replaces.
Status writeFileAtomically(FileSystem& fs, const std::filesystem::path& path,
                           std::string_view bytes);

// The whole file, read through `fs`.
Result<std::string> readWholeFile(FileSystem& fs, const std::filesystem::path& path);

// Writes `bytes` as the whole content of `path` (created or emptied) and closes it; no sync.
Status writeWholeFile(FileSystem& fs, const std::filesystem::path& path, std::string_view bytes);

}  // namespace vantrel::platform
