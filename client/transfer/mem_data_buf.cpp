#include "client/transfer/mem_data_buf.h"

#include <cstring>
#include <new>

namespace vantrel {

bool CMemDataBuf::resize(std::size_t length) {
    if (length > kInlineSize && length > heapSize_) {
        std::unique_ptr<char[]> grown(new (std::nothrow) char[length]);
        if (!grown) return false;
        std::memcpy(grown.get(), data(), length_);
        heap_ = std::move(grown);
        heapSize_ = length;
    }
    length_ = length;
    return true;
}

int CMemDataBuf::write(std::size_t offset, const void* bytes, std::size_t n) {
    if (offset > length_ || n > length_ - offset) return -1;
    std::memcpy(data() + offset, bytes, n);
    return 0;
}

int CMemDataBuf::read(std::size_t offset, void* out, std::size_t n) const {
    if (offset > length_ || n > length_ - offset) return -1;
    std::memcpy(out, data() + offset, n);
    return 0;
}

void CMemDataBuf::clear() {
    inline_.fill(0);
    heap_.reset();
    heapSize_ = 0;
    length_ = 0;
}

}  // namespace vantrel
