#pragma once
// The foundation's own buffer implementation: a list of slices over counted chunks, with block
// caches for small chunks. It is the process's table when the host offers none.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "vantor/core/netbuf_api.h"
#include "vantor/core/netbuf_cache.h"

namespace netbuf_imp {

// The size classes of the block caches, ended by a row of zeros. A row with 0 blocks per batch
// means 64.
struct size_class {
    std::int32_t block_size;
    std::int32_t blocks_per_batch;
    std::int64_t batches_allowed;
};
extern const size_class size_classes[];
constexpr std::size_t size_class_count = 5;
// What each cache keeps of wholly free batches after a peak (at least one batch).
constexpr std::size_t cache_retain_bytes = 1024 * 1024;

// The local table: every entry set, followed by nothing (the tail is complete).
const netbuf_api& local_table() noexcept;

// One slice of a local buffer as tests see it.
struct slice_view {
    const void* chunk;
    std::int32_t capacity;
    std::int32_t count;
    std::int32_t offset;
    std::int32_t length;
    bool writable;
    bool cached;
};
std::vector<slice_view> slices_for_testing(netbuf_api::handle buffer);
// Switches the caches on or off for chunks made from now on (building them on first use).
void set_caches_for_testing(bool on);
vantor::simple_item_cache::stats cache_stats_for_testing(std::size_t class_index);

}  // namespace netbuf_imp
