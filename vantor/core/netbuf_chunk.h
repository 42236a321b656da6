#pragma once
// The chunks of the local buffer implementation: counted blocks of bytes that slices of any
// number of buffers refer to. A chunk's count changes only atomically; the release that takes
// it to zero destroys the chunk on whichever thread that happens.
#include <atomic>
#include <cstdint>

#include "vantor/core/netbuf_api.h"

namespace vantor {
class simple_item_cache;
}

namespace netbuf_imp {

class chunk {
public:
    chunk(const chunk&) = delete;
    chunk& operator=(const chunk&) = delete;

    // Bytes may be written in place only while no other slice shares them.
    virtual bool writable() const noexcept = 0;

    void add_ref() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    // Drops one reference; the last one destroys the chunk.
    void release() noexcept;

    std::uint8_t* data() const noexcept { return data_; }
    std::int32_t capacity() const noexcept { return capacity_; }
    std::int32_t count() const noexcept { return count_.load(std::memory_order_acquire); }
    // The cache the block came from, or null.
    virtual const vantor::simple_item_cache* cache() const noexcept { return nullptr; }

protected:
    chunk(std::uint8_t* data, std::int32_t capacity) noexcept : data_(data), capacity_(capacity) {}
    virtual ~chunk() = default;

    bool exclusive() const noexcept { return count_.load(std::memory_order_acquire) < 2; }

private:
    std::atomic<std::int32_t> count_{1};
    std::uint8_t* data_;
    std::int32_t capacity_;
};

// Memory that the chunk owns: a cache block or a heap block.
class nchunk final : public chunk {
public:
    // A chunk over an adopted heap block (from alloc_block): freed with the chunk. When making
    // the chunk fails, the block is freed before the exception leaves.
    static chunk* adopt_heap_block(void* block, std::int32_t size);

    bool writable() const noexcept override { return exclusive(); }
    const vantor::simple_item_cache* cache() const noexcept override { return cache_; }

private:
    friend chunk* make_nchunk(std::int32_t size, std::int32_t maximum);
    nchunk(std::uint8_t* data, std::int32_t capacity, vantor::simple_item_cache* cache) noexcept
        : chunk(data, capacity), cache_(cache)
    {
    }
    ~nchunk() override;

    vantor::simple_item_cache* cache_;
};

// Caller memory, given back through the caller's callback when the last reference goes.
class cchunk final : public chunk {
public:
    // The callback runs exactly once: with the chunk's end, or at once when making it fails.
    static chunk* adopt(void* data, std::int32_t size, bool writable, netbuf_api::release_fn release,
                        void* user_data);

    bool writable() const noexcept override { return writable_ && exclusive(); }

private:
    cchunk(void* data, std::int32_t size, bool writable, netbuf_api::release_fn release,
           void* user_data) noexcept
        : chunk(static_cast<std::uint8_t*>(data), size),
          writable_(writable),
          release_(release),
          user_data_(user_data)
    {
    }
    ~cchunk() override;

    bool writable_;
    netbuf_api::release_fn release_;
    void* user_data_;
};

// A new chunk of at least size bytes (size above 0). With the caches on, the size is rounded up
// to the first size class that holds it, unless maximum (0 for none) is not above that class's
// block size; blocks come from the class's cache, or from the heap when it is exhausted.
chunk* make_nchunk(std::int32_t size, std::int32_t maximum);

// Heap blocks as the table hands them out and takes them back.
void* alloc_heap_block(std::int32_t n);
void free_heap_block(void* block) noexcept;

// The one-time initialisation; later calls do nothing.
void init_once(bool caches_on);
bool caches_on() noexcept;

}  // namespace netbuf_imp
