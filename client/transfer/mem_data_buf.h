#pragma once
// CMemDataBuf: the bytes of one message. Messages up to 131072 bytes live in the inline
// area; longer ones on the heap. Reads and writes must stay inside the current length.

#include <array>
#include <cstddef>
#include <memory>

namespace vantrel {

class CMemDataBuf {
  public:
    static constexpr std::size_t kInlineSize = 131072;

    // Makes room for `length` bytes and sets the current length; false (and the buffer
    // unchanged) when the heap area cannot be had.
    bool resize(std::size_t length);
    // 0, or -1 when [offset, offset + n) ends beyond the current length.
    int write(std::size_t offset, const void* bytes, std::size_t n);
    int read(std::size_t offset, void* out, std::size_t n) const;
    // Zeroes the inline area, frees the heap area, length 0.
    void clear();

    std::size_t length() const { return length_; }
    char* data() { return heap_ ? heap_.get() : inline_.data(); }
    const char* data() const { return heap_ ? heap_.get() : inline_.data(); }

  private:
    std::array<char, kInlineSize> inline_{};
    std::unique_ptr<char[]> heap_;
    std::size_t heapSize_ = 0;
    std::size_t length_ = 0;
};

}  // namespace vantrel
