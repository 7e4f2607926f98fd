#pragma once
// A file mapped shared into memory; changes reach the file, and flushRange makes a byte
// range durable (msync) so a crash right after a flush loses nothing of it.

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "platform/status.h"

namespace vantrel::platform {

class MappedFile {
  public:
    // Opens `path` read-write, creating it when `create` is true, and maps `size` bytes.
    // A file shorter than `size` is extended with zero bytes; a longer one is not cut.
    // `size` 0 maps the file's current length (an empty file cannot be mapped). Growth
    // reserves disk blocks, so a full disk fails here (NoSpace) and not at a later store.
    static Result<MappedFile> open(const std::filesystem::path& path, std::size_t size,
                                   bool create);

    MappedFile() = default;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile();

    bool isOpen() const { return data_ != nullptr; }
    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    const std::filesystem::path& path() const { return path_; }

    // Writes [offset, offset + length) back to the file and waits for it.
    Status flushRange(std::size_t offset, std::size_t length);
    // Grows the file and the mapping to `newSize` (pointers into the old mapping die).
    Status resize(std::size_t newSize);
    void close();

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace vantrel::platform
