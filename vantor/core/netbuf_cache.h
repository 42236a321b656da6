#pragma once
// Fixed-size block caches for the local buffer implementation: blocks are carved from batches
// (one heap allocation each) and reused first in, first out within a batch.
#include <cstddef>
#include <cstdint>

#include "vantor/core/locks.h"

namespace netbuf_imp {

struct cache_batch;
struct cache_block;

// The bookkeeping of one cache. Every block carries one pointer-sized link word ahead of the
// bytes handed out (4 bytes in the 32-bit build): the next free block while it is free, its
// batch while it is in use.
struct cache_mem {
    std::size_t total_blocks = 0;  // blocks in batches currently held
    std::size_t free_blocks = 0;
    std::size_t block_size = 0;
    std::size_t block_stride = 0;  // block size + the link word
    std::size_t blocks_per_batch = 0;
    std::int64_t batches_allowed = 0;  // batches that may still be made
    std::size_t retained_blocks_max = 0;
    std::size_t batches = 0;
    // Batches with at least one free block, in the order in which they gained one.
    cache_batch* available_head = nullptr;
    cache_batch* available_tail = nullptr;
};

}  // namespace netbuf_imp

namespace vantor {

// A thread-safe cache of blocks of one size. get and put may be called from any thread; each
// holds the cache's lock only for the list operation (and a batch allocation or release).
//
// Memory comes back after a peak: a batch whose blocks are all free again is returned to the
// heap while the cache holds more free blocks than its retention bound, so at most
// max(one batch, retain_bytes) of wholly free batches stay held. A batch with a block in use
// stays until that block comes back.
class simple_item_cache {
public:
    struct stats {
        std::size_t total_blocks;  // blocks in the batches held
        std::size_t free_blocks;
        std::size_t batches;
        std::int64_t batches_allowed;
        std::size_t held_bytes;            // heap bytes held by the batches
        std::size_t retained_bytes_bound;  // what stays held of wholly free batches at most
    };

    // blocks_per_batch 0 means 64.
    simple_item_cache(std::size_t block_size, std::size_t blocks_per_batch, std::int64_t batches_allowed,
                      std::size_t retain_bytes);
    simple_item_cache(const simple_item_cache&) = delete;
    simple_item_cache& operator=(const simple_item_cache&) = delete;
    // Frees every batch; no block of this cache may be in use any more.
    ~simple_item_cache();

    // A block of block_size() bytes, or null when no block is free and no batch may be made.
    // Throws std::bad_alloc when the heap refuses a new batch.
    void* get();
    // Gives back a block that get of this cache returned.
    void put(void* block) noexcept;

    std::size_t block_size() const noexcept { return mem_.block_size; }
    // The most bytes of wholly free batches that stay held after a release.
    std::size_t retained_bytes_bound() const noexcept;
    stats statistics();

private:
    std::size_t batch_bytes() const noexcept;

    netbuf_imp::cache_mem mem_;
    critical_section lock_;
};

}  // namespace vantor
