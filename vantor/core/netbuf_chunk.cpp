#include "vantor/core/netbuf_chunk.h"

#include <new>

#include "vantor/core/element_ops.h"
#include "vantor/core/netbuf_cache.h"
#include "vantor/core/netbuf_local.h"

namespace netbuf_imp {

const size_class size_classes[] = {
    {128, 1000, 256}, {512, 500, 256}, {2048, 500, 64}, {8192, 150, 64}, {65536, 50, 32}, {0, 0, 0},
};

namespace {

// Process-wide state, set once by the initialisation before other threads use buffers. The
// caches are never destroyed: chunks from them may be released until the process ends.
bool initialised = false;
bool caches_enabled = false;
vantor::simple_item_cache* caches[size_class_count] = {};
alignas(vantor::simple_item_cache) unsigned char cache_storage[size_class_count]
                                                              [sizeof(vantor::simple_item_cache)];

void build_caches()
{
    if (caches[0] != nullptr) {
        return;
    }
    for (std::size_t i = 0; i < size_class_count; ++i) {
        const size_class& row = size_classes[i];
        caches[i] = ::new (cache_storage[i]) vantor::simple_item_cache(
            static_cast<std::size_t>(row.block_size), static_cast<std::size_t>(row.blocks_per_batch),
            row.batches_allowed, cache_retain_bytes);
    }
}

// The first class whose blocks hold size bytes, or none.
std::size_t class_for(std::int32_t size)
{
    for (std::size_t i = 0; size_classes[i].block_size != 0; ++i) {
        if (size_classes[i].block_size >= size) {
            return i;
        }
    }
    return size_class_count;
}

}  // namespace

void chunk::release() noexcept
{
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        this->~chunk();
        vantor_stl::heap_free(this);
    }
}

nchunk::~nchunk()
{
    if (cache_ != nullptr) {
        cache_->put(data());
    } else {
        vantor_stl::heap_free(data());
    }
}

chunk* nchunk::adopt_heap_block(void* block, std::int32_t size)
{
    void* memory = nullptr;
    try {
        memory = vantor_stl::heap_allocate(sizeof(nchunk));
    } catch (...) {
        vantor_stl::heap_free(block);
        throw;
    }
    return ::new (memory) nchunk(static_cast<std::uint8_t*>(block), size, nullptr);
}

cchunk::~cchunk()
{
    if (release_ != nullptr) {
        release_(user_data_);
    }
}

chunk* cchunk::adopt(void* data, std::int32_t size, bool writable, netbuf_api::release_fn release,
                     void* user_data)
{
    void* memory = nullptr;
    try {
        memory = vantor_stl::heap_allocate(sizeof(cchunk));
    } catch (...) {
        if (release != nullptr) {
            release(user_data);
        }
        throw;
    }
    return ::new (memory) cchunk(data, size, writable, release, user_data);
}

chunk* make_nchunk(std::int32_t size, std::int32_t maximum)
{
    vantor::simple_item_cache* cache = nullptr;
    void* block = nullptr;
    if (caches_enabled) {
        const std::size_t c = class_for(size);
        if (c < size_class_count && (maximum == 0 || size_classes[c].block_size < maximum)) {
            size = size_classes[c].block_size;
            block = caches[c]->get();
            if (block != nullptr) {
                cache = caches[c];
            }
        }
    }
    if (block == nullptr) {
        block = vantor_stl::heap_allocate(static_cast<std::size_t>(size));
    }
    void* memory = nullptr;
    try {
        memory = vantor_stl::heap_allocate(sizeof(nchunk));
    } catch (...) {
        if (cache != nullptr) {
            cache->put(block);
        } else {
            vantor_stl::heap_free(block);
        }
        throw;
    }
    return ::new (memory) nchunk(static_cast<std::uint8_t*>(block), size, cache);
}

void* alloc_heap_block(std::int32_t n)
{
    return n > 0 ? vantor_stl::heap_allocate(static_cast<std::size_t>(n)) : nullptr;
}

void free_heap_block(void* block) noexcept
{
    vantor_stl::heap_free(block);
}

void init_once(bool on)
{
    if (initialised) {
        return;
    }
    initialised = true;
    caches_enabled = on;
    if (on) {
        build_caches();
    }
}

bool caches_on() noexcept
{
    return caches_enabled;
}

void set_caches_for_testing(bool on)
{
    if (on) {
        build_caches();
    }
    caches_enabled = on;
}

vantor::simple_item_cache::stats cache_stats_for_testing(std::size_t class_index)
{
    build_caches();
    return caches[class_index]->statistics();
}

}  // namespace netbuf_imp
