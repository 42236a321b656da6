#pragma once
// A heap block for pixel rows, cursor images and compressor output: scratch space whose contents
// are rewritten after each resize. Owned by one object and used on its executor.
#include <cstdint>
#include <memory>

namespace kova {

class mem_buf {
public:
    mem_buf() = default;
    mem_buf(const mem_buf&) = delete;
    mem_buf& operator=(const mem_buf&) = delete;
    virtual ~mem_buf() = default;

    // When n is larger than the current size, the block is replaced by a new one of n bytes and
    // its contents are lost; otherwise the block stays. Either way the size becomes n, so a later
    // growth beyond n allocates again even when the old block was larger. Never copies. Raises
    // std::bad_alloc when the heap refuses.
    void resize(std::uint32_t n);
    // Frees the block; data becomes null and size 0.
    void release() noexcept;

    std::uint32_t size() const noexcept { return size_; }
    std::uint8_t* data() const noexcept { return data_.get(); }

private:
    std::uint32_t size_ = 0;
    std::unique_ptr<std::uint8_t[]> data_;
};

}  // namespace kova
