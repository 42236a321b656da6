#pragma once
// The byte-buffer function table: the binary contract between the module and the host for
// buffers that both sides create, pass and release. The host hands its table over through its
// runtime function table; without one the foundation's own implementation fills it. Every entry
// is a plain C function; sizes, offsets and counts are signed 32-bit, flags are 32-bit words
// where non-zero means yes, and 2147483647 asks for everything where a length is asked.
#include <cstddef>
#include <cstdint>

struct netbuf_opaque;
struct netbuf_cursor_opaque;

struct netbuf_api {
    using handle = netbuf_opaque*;
    using cursor_handle = netbuf_cursor_opaque*;
    // Called once with the user data when the last reference to adopted caller memory goes.
    using release_fn = void(__cdecl*)(void* user_data);

    // The length that means "everything".
    static constexpr std::int32_t all = 2147483647;
    static constexpr std::size_t entry_count = 33;
    // Entries from this index on form the optional tail, which ends at its first null entry.
    static constexpr std::size_t first_optional_entry = 29;

    // 0: marks the table as installed; the foundation never calls it.
    void(__cdecl* init)();
    // 1: drops every chunk reference and frees the buffer.
    void(__cdecl* release)(handle buffer);
    // 2: a new empty buffer.
    handle(__cdecl* create)();
    // 3: a new buffer sharing the chunks of bytes [offset, offset + length).
    handle(__cdecl* copy_range)(handle buffer, std::int32_t offset, std::int32_t length);
    // 4: the number of bytes.
    std::int32_t(__cdecl* size)(handle buffer);
    // 5: adds a reference to each slice of other at that end; other is unchanged.
    void(__cdecl* append_shared)(handle buffer, handle other, std::int32_t at_end);
    // 6: a block from entry 20 becomes one chunk at that end; size 0 or less frees it at once.
    void(__cdecl* adopt_heap_block)(handle buffer, void* block, std::int32_t size, std::int32_t at_end);
    // 7: n new uninitialised bytes at that end; null for n 0 or less.
    void*(__cdecl* reserve)(handle buffer, std::int32_t n, std::int32_t at_end);
    // 8: entry 30 without the limit.
    void(__cdecl* writable_span)(handle buffer, std::int32_t n, std::int32_t at_end, void** data_out,
                                 std::int32_t* length_out);
    // 9: entry 32 without options.
    void(__cdecl* linearize)(handle buffer, void** data_out, std::int32_t* length_out, std::int32_t n);
    // 10: removes n bytes from the front or the end; n at least the size empties the buffer.
    void(__cdecl* drop)(handle buffer, std::int32_t n, std::int32_t from_end);
    // 11: copies min(n, size) bytes of the front or the end (in their order); consume removes them.
    void(__cdecl* copy_out)(handle buffer, void* destination, std::int32_t n, std::int32_t consume,
                            std::int32_t from_end);
    // 12: returns 0.
    std::int32_t(__cdecl* reserved_12)();
    // 13: frees a block from entry 20.
    void(__cdecl* free_block)(void* block);
    // 14 to 19: cursors walking the slices of a buffer in order.
    void(__cdecl* cursor_free)(cursor_handle cursor);
    cursor_handle(__cdecl* cursor_create)(handle buffer);
    cursor_handle(__cdecl* cursor_clone)(cursor_handle cursor);
    std::int32_t(__cdecl* cursor_valid)(cursor_handle cursor);
    void(__cdecl* cursor_data)(cursor_handle cursor, void** data_out, std::int32_t* length_out);
    // After the last slice the cursor stands nowhere; a further step goes back to the first.
    void(__cdecl* cursor_next)(cursor_handle cursor);
    // 20: a heap block of n bytes for entry 6; null for n 0 or less.
    void*(__cdecl* alloc_block)(std::int32_t n);
    // 21: returns 0.
    std::int64_t(__cdecl* reserved_21)();
    // 22: entry 25 with compaction.
    void(__cdecl* adopt_buffer_compact)(handle buffer, void* data, std::int32_t n, std::int32_t at_end,
                                        std::int32_t writable, release_fn release, void* user_data);
    // 23: index of the first occurrence of the byte (low 8 bits) within the first n bytes, or -1.
    std::int32_t(__cdecl* find_byte)(handle buffer, std::int32_t byte, std::int32_t n);
    // 24: byte-wise comparison of the content with n caller bytes: -1, 0 or 1.
    std::int32_t(__cdecl* compare)(handle buffer, const void* data, std::int32_t n);
    // 25: caller memory becomes one chunk at that end; release runs with the user data when the
    // last reference goes (at once for n 0 or less).
    void(__cdecl* adopt_buffer)(handle buffer, void* data, std::int32_t n, std::int32_t at_end,
                                std::int32_t writable, release_fn release, void* user_data,
                                std::int32_t compact);
    // 26: entry 31 with compaction.
    void(__cdecl* splice)(handle buffer, handle other, std::int32_t at_end);
    // 27: entry 28 with (value, caches on).
    void(__cdecl* init_with)(std::int32_t value);
    // 28: initialises the local implementation once; enable switches the block caches on.
    void(__cdecl* init_caches)(std::int32_t ignored, std::int32_t enable);

    // Optional tail.
    // 29: true when the first (or last) n bytes equal the data.
    std::int32_t(__cdecl* matches)(handle buffer, std::int32_t from_end, const void* data, std::int32_t n);
    // 30: a writable span of about n bytes at that end (at most n with limit); it belongs to the
    // content at once and may be shorter than n.
    void(__cdecl* reserve_span)(handle buffer, std::int32_t n, std::int32_t at_end, void** data_out,
                                std::int32_t* length_out, std::int32_t limit);
    // 31: moves every byte of other to that end and empties other.
    void(__cdecl* splice_ex)(handle buffer, handle other, std::int32_t at_end, std::int32_t compact);
    // 32: makes the front contiguous and gives the resulting first slice.
    void(__cdecl* linearize_ex)(handle buffer, void** data_out, std::int32_t* length_out, std::int32_t n,
                                std::int32_t need_writable, std::int32_t exact);
};

static_assert(sizeof(netbuf_api) == netbuf_api::entry_count * sizeof(void*),
              "the table is an array of 33 function pointers");
