#include "vantor/core/netbuf_local.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "vantor/core/element_ops.h"
#include "vantor/core/list_base.h"
#include "vantor/core/netbuf_chunk.h"

namespace netbuf_imp {
namespace {

// One run of bytes inside a chunk; holds exactly one reference on its chunk. The list copies
// slices as plain words; the buffer operations manage the references.
struct slice {
    chunk* owner;
    std::int32_t offset;
    std::int32_t length;

    std::uint8_t* begin() const noexcept { return owner->data() + offset; }
};

using slice_list = vantor_stl::list<slice>;

// Invariants: total is the sum of the slice lengths; every slice is at least 1 byte long.
struct buffer {
    slice_list slices;
    std::int32_t total = 0;
};

struct cursor {
    buffer* over;
    slice_list::iterator at;
};

// A buffer of more slices than this is merged into one chunk.
constexpr std::size_t compaction_slices = 128;
// Growth chunks are at most this large (unless the reservation itself is larger).
constexpr std::int64_t growth_chunk_max = 1048576;

buffer* from(netbuf_api::handle h) noexcept
{
    return reinterpret_cast<buffer*>(h);
}

netbuf_api::handle to_handle(buffer* b) noexcept
{
    return reinterpret_cast<netbuf_api::handle>(b);
}

cursor* from(netbuf_api::cursor_handle h) noexcept
{
    return reinterpret_cast<cursor*>(h);
}

netbuf_api::cursor_handle to_handle(cursor* c) noexcept
{
    return reinterpret_cast<netbuf_api::cursor_handle>(c);
}

template <typename T, typename... Args>
T* heap_new(Args&&... args)
{
    void* memory = vantor_stl::heap_allocate(sizeof(T));
    return ::new (memory) T{static_cast<Args&&>(args)...};
}

template <typename T>
void heap_delete(T* object) noexcept
{
    object->~T();
    vantor_stl::heap_free(object);
}

// total + n, refused when the byte count would pass what a buffer can describe.
std::int32_t grown_total(const buffer& b, std::int64_t n)
{
    const std::int64_t grown = static_cast<std::int64_t>(b.total) + n;
    if (grown > netbuf_api::all) {
        throw std::bad_alloc();
    }
    return static_cast<std::int32_t>(grown);
}

void release_all(buffer& b) noexcept
{
    for (slice& s : b.slices) {
        s.owner->release();
    }
    b.slices.clear();
    b.total = 0;
}

// Adds s at one end; the list owns s's reference afterwards. When the list cannot take it, the
// reference is dropped before the exception leaves.
void push_slice(buffer& b, const slice& s, bool at_end)
{
    try {
        if (at_end) {
            b.slices.push_back(s);
        } else {
            b.slices.push_front(s);
        }
    } catch (...) {
        s.owner->release();
        throw;
    }
}

void linearize_ex_imp(buffer& b, void** data_out, std::int32_t* length_out, std::int32_t n,
                      bool need_writable, bool exact);

void compact(buffer& b)
{
    if (b.slices.size() > compaction_slices) {
        void* data = nullptr;
        std::int32_t length = 0;
        linearize_ex_imp(b, &data, &length, netbuf_api::all, false, false);
    }
}

// Copies the first `count` slices (holding `bytes` bytes) into one new chunk that replaces them.
void merge_front(buffer& b, std::size_t count, std::int32_t bytes)
{
    chunk* merged = make_nchunk(bytes, 0);
    std::uint8_t* out = merged->data();
    auto it = b.slices.begin();
    for (std::size_t i = 0; i < count; ++i, ++it) {
        std::memcpy(out, it->begin(), static_cast<std::size_t>(it->length));
        out += it->length;
    }
    // The new slice goes in first, so that a failure leaves the old slices untouched.
    push_slice(b, slice{merged, 0, bytes}, false);
    it = b.slices.begin();
    ++it;
    for (std::size_t i = 0; i < count; ++i) {
        it->owner->release();
        it = b.slices.erase(it);
    }
}

void linearize_ex_imp(buffer& b, void** data_out, std::int32_t* length_out, std::int32_t n,
                      bool need_writable, bool exact)
{
    if (b.total == 0) {
        *data_out = nullptr;
        *length_out = 0;
        return;
    }
    if (b.total <= n && b.slices.size() > 1) {
        merge_front(b, b.slices.size(), b.total);
    } else {
        const slice& first = b.slices.front();
        const bool first_usable = !need_writable || first.owner->writable();
        const bool long_enough = exact ? first.length >= n : first.length > n / 2;
        if (!first_usable || (b.slices.size() > 1 && !long_enough)) {
            // A prefix of slices, up to n bytes; without exact it stops before a slice that is
            // long enough to stand as the front on its own.
            std::size_t count = 1;
            std::int32_t taken = first.length;
            auto it = b.slices.begin();
            for (++it; taken < n && it != b.slices.end(); ++it) {
                if (!exact && it->length > n / 2) {
                    break;
                }
                taken += it->length;
                ++count;
            }
            merge_front(b, count, taken);
        }
    }
    const slice& front = b.slices.front();
    *data_out = front.begin();
    *length_out = front.length;
}

// Slice (writable, with room) at one end, or null.
slice* growable_end(buffer& b, bool at_end)
{
    if (b.slices.empty()) {
        return nullptr;
    }
    slice& s = at_end ? b.slices.back() : b.slices.front();
    return s.owner->writable() ? &s : nullptr;
}

// Entries of the table.

void __cdecl init_caches(std::int32_t, std::int32_t enable)
{
    init_once(enable != 0);
}

void __cdecl init()
{
    init_once(true);
}

void __cdecl init_with(std::int32_t value)
{
    init_caches(value, 1);
}

void __cdecl release(netbuf_api::handle h)
{
    buffer* b = from(h);
    if (b != nullptr) {
        release_all(*b);
        heap_delete(b);
    }
}

netbuf_api::handle __cdecl create()
{
    return to_handle(heap_new<buffer>());
}

std::int32_t __cdecl size(netbuf_api::handle h)
{
    return from(h)->total;
}

netbuf_api::handle __cdecl copy_range(netbuf_api::handle h, std::int32_t offset, std::int32_t length)
{
    buffer* source = from(h);
    buffer* copy = heap_new<buffer>();
    try {
        std::int32_t left = length;
        std::int32_t position = 0;
        if (offset >= 0) {
            for (const slice& s : source->slices) {
                if (left <= 0) {
                    break;
                }
                if (position + s.length <= offset) {
                    position += s.length;
                    continue;
                }
                const std::int32_t skip = std::max(0, offset - position);
                const std::int32_t take = std::min(s.length - skip, left);
                s.owner->add_ref();
                push_slice(*copy, slice{s.owner, s.offset + skip, take}, true);
                copy->total += take;
                left -= take;
                position += s.length;
            }
        }
        compact(*copy);
    } catch (...) {
        release(to_handle(copy));
        throw;
    }
    return to_handle(copy);
}

void __cdecl append_shared(netbuf_api::handle h, netbuf_api::handle other_handle, std::int32_t at_end)
{
    buffer& b = *from(h);
    buffer& other = *from(other_handle);
    grown_total(b, other.total);
    // The count is taken first, so that sharing a buffer into itself doubles it once.
    std::size_t count = other.slices.size();
    if (at_end != 0) {
        auto it = other.slices.begin();
        for (; count > 0; --count, ++it) {
            const slice s = *it;
            s.owner->add_ref();
            push_slice(b, s, true);
            b.total += s.length;
        }
    } else if (count > 0) {
        auto it = other.slices.end();
        for (--it; count > 0; --count, --it) {
            const slice s = *it;
            s.owner->add_ref();
            push_slice(b, s, false);
            b.total += s.length;
        }
    }
    compact(b);
}

void __cdecl adopt_heap_block(netbuf_api::handle h, void* block, std::int32_t n, std::int32_t at_end)
{
    if (n <= 0) {
        free_heap_block(block);
        return;
    }
    buffer& b = *from(h);
    std::int32_t grown = 0;
    try {
        grown = grown_total(b, n);
    } catch (...) {
        free_heap_block(block);
        throw;
    }
    push_slice(b, slice{nchunk::adopt_heap_block(block, n), 0, n}, at_end != 0);
    b.total = grown;
    compact(b);
}

void* __cdecl reserve(netbuf_api::handle h, std::int32_t n, std::int32_t at_end)
{
    if (n <= 0) {
        return nullptr;
    }
    buffer& b = *from(h);
    compact(b);
    const std::int32_t grown = grown_total(b, n);
    if (slice* s = growable_end(b, at_end != 0)) {
        if (at_end == 0 && n <= s->offset) {
            s->offset -= n;
            s->length += n;
            b.total = grown;
            return s->begin();
        }
        if (at_end != 0 && n <= s->owner->capacity() - s->offset - s->length) {
            std::uint8_t* p = s->begin() + s->length;
            s->length += n;
            b.total = grown;
            return p;
        }
    }
    // A quarter of the content plus 128 bytes per slice, so that a run of small appends makes
    // few chunks.
    const std::int64_t growth = std::min<std::int64_t>(
        grown / 4 + static_cast<std::int64_t>(b.slices.size() + 1) * 128, growth_chunk_max);
    chunk* c = make_nchunk(static_cast<std::int32_t>(std::max<std::int64_t>(n, growth)), 0);
    // In front the bytes go to the chunk's end, leaving room for further prepends.
    const slice s{c, at_end != 0 ? 0 : c->capacity() - n, n};
    push_slice(b, s, at_end != 0);
    b.total = grown;
    return s.begin();
}

void __cdecl reserve_span(netbuf_api::handle h, std::int32_t n, std::int32_t at_end, void** data_out,
                          std::int32_t* length_out, std::int32_t limit)
{
    *data_out = nullptr;
    *length_out = 0;
    if (n <= 0) {
        return;
    }
    buffer& b = *from(h);
    compact(b);
    if (slice* s = growable_end(b, at_end != 0)) {
        const std::int32_t room = at_end != 0 ? s->owner->capacity() - s->offset - s->length : s->offset;
        if (room > 0) {
            const std::int32_t span = limit != 0 ? std::min(room, n) : room;
            const std::int32_t grown = grown_total(b, span);
            std::uint8_t* p = nullptr;
            if (at_end != 0) {
                p = s->begin() + s->length;
            } else {
                s->offset -= span;
                p = s->begin();
            }
            s->length += span;
            b.total = grown;
            *data_out = p;
            *length_out = span;
            return;
        }
    }
    const std::int32_t grown = grown_total(b, n);
    chunk* c = make_nchunk(n, 0);
    push_slice(b, slice{c, 0, n}, at_end != 0);
    b.total = grown;
    *data_out = c->data();
    *length_out = n;
}

void __cdecl writable_span(netbuf_api::handle h, std::int32_t n, std::int32_t at_end, void** data_out,
                           std::int32_t* length_out)
{
    reserve_span(h, n, at_end, data_out, length_out, 0);
}

void __cdecl linearize_ex(netbuf_api::handle h, void** data_out, std::int32_t* length_out, std::int32_t n,
                          std::int32_t need_writable, std::int32_t exact)
{
    linearize_ex_imp(*from(h), data_out, length_out, n, need_writable != 0, exact != 0);
}

void __cdecl linearize(netbuf_api::handle h, void** data_out, std::int32_t* length_out, std::int32_t n)
{
    linearize_ex_imp(*from(h), data_out, length_out, n, false, false);
}

void __cdecl drop(netbuf_api::handle h, std::int32_t n, std::int32_t from_end)
{
    buffer& b = *from(h);
    if (n <= 0) {
        return;
    }
    if (n >= b.total) {
        release_all(b);
        return;
    }
    b.total -= n;
    std::int32_t left = n;
    while (left > 0) {
        slice& s = from_end != 0 ? b.slices.back() : b.slices.front();
        if (s.length <= left) {
            left -= s.length;
            s.owner->release();
            if (from_end != 0) {
                b.slices.pop_back();
            } else {
                b.slices.pop_front();
            }
        } else {
            if (from_end == 0) {
                s.offset += left;
            }
            s.length -= left;
            left = 0;
        }
    }
}

void __cdecl copy_out(netbuf_api::handle h, void* destination, std::int32_t n, std::int32_t consume,
                      std::int32_t from_end)
{
    buffer& b = *from(h);
    if (n <= 0 || b.total == 0) {
        return;
    }
    const std::int32_t count = std::min(n, b.total);
    std::int32_t left = count;
    auto* out = static_cast<std::uint8_t*>(destination);
    if (from_end == 0) {
        for (auto it = b.slices.begin(); left > 0;) {
            const std::int32_t take = std::min(it->length, left);
            std::memcpy(out, it->begin(), static_cast<std::size_t>(take));
            out += take;
            left -= take;
            if (consume == 0) {
                ++it;
            } else if (take == it->length) {
                it->owner->release();
                it = b.slices.erase(it);
            } else {
                it->offset += take;
                it->length -= take;
            }
        }
    } else {
        // From the last slice backwards, filling the destination from its end.
        std::uint8_t* out_end = out + count;
        auto it = b.slices.end();
        --it;
        while (left > 0) {
            const std::int32_t take = std::min(it->length, left);
            out_end -= take;
            std::memcpy(out_end, it->begin() + (it->length - take), static_cast<std::size_t>(take));
            left -= take;
            if (consume == 0) {
                --it;
            } else if (take == it->length) {
                it->owner->release();
                auto previous = it;
                --previous;
                b.slices.erase(it);
                it = previous;
            } else {
                it->length -= take;
            }
        }
    }
    if (consume != 0) {
        b.total -= count;
    }
}

std::int32_t __cdecl reserved_12()
{
    return 0;
}

std::int64_t __cdecl reserved_21()
{
    return 0;
}

void __cdecl cursor_free(netbuf_api::cursor_handle c)
{
    if (c != nullptr) {
        heap_delete(from(c));
    }
}

netbuf_api::cursor_handle __cdecl cursor_create(netbuf_api::handle h)
{
    buffer* b = from(h);
    return to_handle(heap_new<cursor>(b, b->slices.begin()));
}

netbuf_api::cursor_handle __cdecl cursor_clone(netbuf_api::cursor_handle c)
{
    return to_handle(heap_new<cursor>(*from(c)));
}

std::int32_t __cdecl cursor_valid(netbuf_api::cursor_handle c)
{
    const cursor* at = from(c);
    return at->at != at->over->slices.end() ? 1 : 0;
}

void __cdecl cursor_data(netbuf_api::cursor_handle c, void** data_out, std::int32_t* length_out)
{
    const cursor* at = from(c);
    if (at->at == at->over->slices.end()) {
        *data_out = nullptr;
        *length_out = 0;
        return;
    }
    *data_out = at->at->begin();
    *length_out = at->at->length;
}

void __cdecl cursor_next(netbuf_api::cursor_handle c)
{
    ++from(c)->at;
}

void* __cdecl alloc_block(std::int32_t n)
{
    return alloc_heap_block(n);
}

void __cdecl free_block(void* block)
{
    free_heap_block(block);
}

void __cdecl adopt_buffer(netbuf_api::handle h, void* data, std::int32_t n, std::int32_t at_end,
                          std::int32_t writable, netbuf_api::release_fn release_callback, void* user_data,
                          std::int32_t compact_after)
{
    if (n <= 0) {
        if (release_callback != nullptr) {
            release_callback(user_data);
        }
        return;
    }
    // The chunk is made first: it owns the caller's memory from here on, whatever fails later.
    chunk* adopted = cchunk::adopt(data, n, writable != 0, release_callback, user_data);
    buffer& b = *from(h);
    std::int32_t grown = 0;
    try {
        grown = grown_total(b, n);
        // A slice that uses little of its chunk is moved into a chunk of its own size, so that
        // the chunk's unused room is not held behind the adopted memory.
        if (!b.slices.empty()) {
            slice& s = at_end != 0 ? b.slices.back() : b.slices.front();
            if (s.owner->capacity() / s.length >= 2) {
                chunk* packed = make_nchunk(s.length, 2 * s.length);
                std::memcpy(packed->data(), s.begin(), static_cast<std::size_t>(s.length));
                s.owner->release();
                s.owner = packed;
                s.offset = 0;
            }
        }
    } catch (...) {
        adopted->release();
        throw;
    }
    push_slice(b, slice{adopted, 0, n}, at_end != 0);
    b.total = grown;
    if (compact_after != 0) {
        compact(b);
    }
}

void __cdecl adopt_buffer_compact(netbuf_api::handle h, void* data, std::int32_t n, std::int32_t at_end,
                                  std::int32_t writable, netbuf_api::release_fn release_callback,
                                  void* user_data)
{
    adopt_buffer(h, data, n, at_end, writable, release_callback, user_data, 1);
}

void __cdecl splice_ex(netbuf_api::handle h, netbuf_api::handle other_handle, std::int32_t at_end,
                       std::int32_t compact_after)
{
    buffer& b = *from(h);
    buffer& other = *from(other_handle);
    if (&b != &other && other.total > 0) {
        grown_total(b, other.total);
        if (b.slices.empty()) {
            b.slices.swap(other.slices);
            b.total = other.total;
            other.total = 0;
        } else {
            // Slices move with their references; the totals follow each step, so a failure
            // leaves both buffers consistent.
            while (!other.slices.empty()) {
                const slice s = at_end != 0 ? other.slices.front() : other.slices.back();
                if (at_end != 0) {
                    b.slices.push_back(s);
                    other.slices.pop_front();
                } else {
                    b.slices.push_front(s);
                    other.slices.pop_back();
                }
                b.total += s.length;
                other.total -= s.length;
            }
        }
    }
    if (compact_after != 0) {
        compact(b);
    }
}

void __cdecl splice(netbuf_api::handle h, netbuf_api::handle other, std::int32_t at_end)
{
    splice_ex(h, other, at_end, 1);
}

// Calls visit(bytes, length) for the first n bytes (n at most the total), slice by slice, while
// it returns true.
template <typename Visit>
void walk_front(const buffer& b, std::int32_t n, Visit visit)
{
    for (auto it = b.slices.begin(); n > 0 && it != b.slices.end(); ++it) {
        const std::int32_t take = std::min(it->length, n);
        if (!visit(it->begin(), take)) {
            return;
        }
        n -= take;
    }
}

std::int32_t __cdecl find_byte(netbuf_api::handle h, std::int32_t byte, std::int32_t n)
{
    const buffer& b = *from(h);
    std::int32_t found = -1;
    std::int32_t position = 0;
    walk_front(b, std::min(n, b.total), [&](const std::uint8_t* p, std::int32_t length) {
        const void* hit = std::memchr(p, byte & 0xff, static_cast<std::size_t>(length));
        if (hit != nullptr) {
            found = position + static_cast<std::int32_t>(static_cast<const std::uint8_t*>(hit) - p);
            return false;
        }
        position += length;
        return true;
    });
    return found;
}

// Byte-wise comparison of `length` bytes of the buffer, from `start`, with data.
int compare_bytes(const buffer& b, std::int32_t start, const std::uint8_t* data, std::int32_t length)
{
    int order = 0;
    std::int32_t skip = start;
    walk_front(b, start + length, [&](const std::uint8_t* p, std::int32_t piece) {
        if (skip >= piece) {
            skip -= piece;
            return true;
        }
        const std::int32_t take = piece - skip;
        const int c = std::memcmp(p + skip, data, static_cast<std::size_t>(take));
        skip = 0;
        data += take;
        if (c != 0) {
            order = c < 0 ? -1 : 1;
            return false;
        }
        return true;
    });
    return order;
}

std::int32_t __cdecl compare(netbuf_api::handle h, const void* data, std::int32_t n)
{
    const buffer& b = *from(h);
    const std::int32_t wanted = std::max(n, 0);
    const std::int32_t common = std::min(wanted, b.total);
    const int order = compare_bytes(b, 0, static_cast<const std::uint8_t*>(data), common);
    if (order != 0) {
        return order;
    }
    return b.total > wanted ? 1 : (b.total < wanted ? -1 : 0);
}

std::int32_t __cdecl matches(netbuf_api::handle h, std::int32_t from_end, const void* data, std::int32_t n)
{
    const buffer& b = *from(h);
    if (n <= 0) {
        return 1;
    }
    if (b.total < n) {
        return 0;
    }
    const std::int32_t start = from_end != 0 ? b.total - n : 0;
    return compare_bytes(b, start, static_cast<const std::uint8_t*>(data), n) == 0 ? 1 : 0;
}

const netbuf_api local{
    &init,
    &release,
    &create,
    &copy_range,
    &size,
    &append_shared,
    &adopt_heap_block,
    &reserve,
    &writable_span,
    &linearize,
    &drop,
    &copy_out,
    &reserved_12,
    &free_block,
    &cursor_free,
    &cursor_create,
    &cursor_clone,
    &cursor_valid,
    &cursor_data,
    &cursor_next,
    &alloc_block,
    &reserved_21,
    &adopt_buffer_compact,
    &find_byte,
    &compare,
    &adopt_buffer,
    &splice,
    &init_with,
    &init_caches,
    &matches,
    &reserve_span,
    &splice_ex,
    &linearize_ex,
};

}  // namespace

const netbuf_api& local_table() noexcept
{
    return local;
}

std::vector<slice_view> slices_for_testing(netbuf_api::handle h)
{
    std::vector<slice_view> out;
    for (const slice& s : from(h)->slices) {
        out.push_back(slice_view{s.owner, s.owner->capacity(), s.owner->count(), s.offset, s.length,
                                 s.owner->writable(), s.owner->cache() != nullptr});
    }
    return out;
}

}  // namespace netbuf_imp
