#include "vantor/core/netbuf_cache.h"

#include <algorithm>
#include <new>

#include "vantor/core/element_ops.h"

namespace netbuf_imp {

// A free block's link word points at the next free block of its batch; a block in use points at
// its batch, so that put finds the batch without a search.
struct cache_block {
    union {
        cache_block* next_free;
        cache_batch* batch;
    } link;
};

// The head of one batch allocation; its blocks follow it.
struct cache_batch {
    cache_batch* prev_available;
    cache_batch* next_available;
    cache_block* free_head;
    cache_block* free_tail;
    std::size_t free_count;
    bool available;
};

}  // namespace netbuf_imp

namespace vantor {
namespace {

using netbuf_imp::cache_batch;
using netbuf_imp::cache_block;
using netbuf_imp::cache_mem;

constexpr std::size_t link_size = sizeof(cache_block);
// Blocks start at a multiple of the heap's alignment from the batch's start.
constexpr std::size_t batch_header_size = (sizeof(cache_batch) + vantor_stl::heap_alignment - 1) /
                                          vantor_stl::heap_alignment * vantor_stl::heap_alignment;

cache_block* block_at(cache_batch* b, std::size_t index, std::size_t stride)
{
    return reinterpret_cast<cache_block*>(reinterpret_cast<unsigned char*>(b) + batch_header_size +
                                          index * stride);
}

void* bytes_of(cache_block* block)
{
    return reinterpret_cast<unsigned char*>(block) + link_size;
}

cache_block* block_of(void* bytes)
{
    return reinterpret_cast<cache_block*>(static_cast<unsigned char*>(bytes) - link_size);
}

void append_available(cache_mem& m, cache_batch* b)
{
    b->available = true;
    b->next_available = nullptr;
    b->prev_available = m.available_tail;
    if (m.available_tail != nullptr) {
        m.available_tail->next_available = b;
    } else {
        m.available_head = b;
    }
    m.available_tail = b;
}

void unlink_available(cache_mem& m, cache_batch* b)
{
    if (b->prev_available != nullptr) {
        b->prev_available->next_available = b->next_available;
    } else {
        m.available_head = b->next_available;
    }
    if (b->next_available != nullptr) {
        b->next_available->prev_available = b->prev_available;
    } else {
        m.available_tail = b->prev_available;
    }
    b->prev_available = nullptr;
    b->next_available = nullptr;
    b->available = false;
}

}  // namespace

simple_item_cache::simple_item_cache(std::size_t block_size, std::size_t blocks_per_batch,
                                     std::int64_t batches_allowed, std::size_t retain_bytes)
{
    mem_.block_size = block_size;
    mem_.block_stride = block_size + link_size;
    mem_.blocks_per_batch = blocks_per_batch != 0 ? blocks_per_batch : 64;
    mem_.batches_allowed = batches_allowed;
    // Whole batches only, and at least one: a cache that gave its last batch back at once would
    // allocate and free a batch on every swing around that boundary.
    const std::size_t retained_batches = std::max<std::size_t>(1, retain_bytes / batch_bytes());
    mem_.retained_blocks_max = retained_batches * mem_.blocks_per_batch;
}

simple_item_cache::~simple_item_cache()
{
    // Only wholly free batches remain reachable once every block is back.
    while (mem_.available_head != nullptr) {
        cache_batch* b = mem_.available_head;
        unlink_available(mem_, b);
        vantor_stl::heap_free(b);
    }
}

std::size_t simple_item_cache::batch_bytes() const noexcept
{
    return batch_header_size + mem_.block_stride * mem_.blocks_per_batch;
}

std::size_t simple_item_cache::retained_bytes_bound() const noexcept
{
    return mem_.retained_blocks_max / mem_.blocks_per_batch * batch_bytes();
}

void* simple_item_cache::get()
{
    cs_lock hold(lock_.get());
    cache_batch* b = mem_.available_head;
    if (b == nullptr) {
        if (mem_.batches_allowed <= 0) {
            return nullptr;
        }
        b = static_cast<cache_batch*>(vantor_stl::heap_allocate(batch_bytes()));
        *b = cache_batch{nullptr, nullptr, nullptr, nullptr, mem_.blocks_per_batch, false};
        // Threaded in address order, so the batch hands its blocks out front to back.
        cache_block* previous = nullptr;
        for (std::size_t i = 0; i < mem_.blocks_per_batch; ++i) {
            cache_block* block = block_at(b, i, mem_.block_stride);
            block->link.next_free = nullptr;
            if (previous != nullptr) {
                previous->link.next_free = block;
            } else {
                b->free_head = block;
            }
            previous = block;
        }
        b->free_tail = previous;
        --mem_.batches_allowed;
        ++mem_.batches;
        mem_.total_blocks += mem_.blocks_per_batch;
        mem_.free_blocks += mem_.blocks_per_batch;
        append_available(mem_, b);
    }
    cache_block* block = b->free_head;
    b->free_head = block->link.next_free;
    if (b->free_head == nullptr) {
        b->free_tail = nullptr;
    }
    --b->free_count;
    --mem_.free_blocks;
    if (b->free_count == 0) {
        unlink_available(mem_, b);
    }
    block->link.batch = b;
    return bytes_of(block);
}

void simple_item_cache::put(void* bytes) noexcept
{
    cache_block* block = block_of(bytes);
    cache_batch* released = nullptr;
    {
        cs_lock hold(lock_.get());
        cache_batch* b = block->link.batch;
        block->link.next_free = nullptr;
        if (b->free_tail != nullptr) {
            b->free_tail->link.next_free = block;
        } else {
            b->free_head = block;
        }
        b->free_tail = block;
        ++b->free_count;
        ++mem_.free_blocks;
        if (!b->available) {
            append_available(mem_, b);
        }
        if (b->free_count == mem_.blocks_per_batch && mem_.free_blocks > mem_.retained_blocks_max) {
            unlink_available(mem_, b);
            mem_.free_blocks -= mem_.blocks_per_batch;
            mem_.total_blocks -= mem_.blocks_per_batch;
            --mem_.batches;
            // The allowance limits what is held, so a returned batch may be made again.
            ++mem_.batches_allowed;
            released = b;
        }
    }
    vantor_stl::heap_free(released);
}

simple_item_cache::stats simple_item_cache::statistics()
{
    cs_lock hold(lock_.get());
    return stats{mem_.total_blocks,
                 mem_.free_blocks,
                 mem_.batches,
                 mem_.batches_allowed,
                 mem_.batches * batch_bytes(),
                 retained_bytes_bound()};
}

}  // namespace vantor
