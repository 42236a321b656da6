#include "kova/protocol/mem_buf.h"

namespace kova {

void mem_buf::resize(std::uint32_t n)
{
    if (n > size_) {
        // The old block goes first, so that the two never exist together.
        data_.reset();
        size_ = 0;
        data_ = std::make_unique_for_overwrite<std::uint8_t[]>(n);
    }
    size_ = n;
}

void mem_buf::release() noexcept
{
    data_.reset();
    size_ = 0;
}

}  // namespace kova
