#pragma once
// `netbuf`: the one-handle wrapper over a chain of byte chunks, the form of every payload of the
// system. Every operation goes through the process's buffer table (the host's, or the
// foundation's own), so buffers can be passed to and taken from the host unchanged.
//
// A buffer is used by one thread at a time; copies share chunks by reference, so copies held by
// different threads are fine. Sizes are size_t here and 32-bit in the table: a length or count
// above 2147483647 means "everything" where one is removed or read, and fails with
// std::bad_alloc where bytes would be added. Allocation failure throws std::bad_alloc.
//
// A null netbuf (after a move, a detach or release) allows only size, is_empty, release,
// assignment, swap and destruction.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantor/core/netbuf_api.h"

class netbuf {
public:
    using handle = netbuf_api::handle;

    // A new empty buffer.
    netbuf();
    // Takes over a raw handle (may be null); the netbuf releases it.
    explicit netbuf(handle adopted) noexcept : handle_(adopted) {}
    // A new handle sharing all of the source's chunks.
    netbuf(const netbuf& source);
    netbuf(netbuf&& source) noexcept : handle_(source.handle_) { source.handle_ = nullptr; }
    netbuf& operator=(const netbuf& source)
    {
        copy_assign(source);
        return *this;
    }
    netbuf& operator=(netbuf&& source) noexcept
    {
        move_assign(source);
        return *this;
    }
    ~netbuf() { release(); }

    static netbuf construct_from_bytes(const void* data, std::size_t n);
    // A buffer holding the 8 bytes "fwd_cmd ".
    static netbuf construct_fwd_cmd();
    static netbuf construct_from_string(std::string_view text);
    static netbuf construct_from_moved_string(std::string&& text);
    // A new buffer sharing the chunks of bytes [offset, offset + length) of the source; a range
    // past the end yields what is there.
    static netbuf construct_range(handle source, std::size_t offset, std::size_t length);
    static netbuf construct_range(const netbuf& source, std::size_t offset, std::size_t length)
    {
        return construct_range(source.handle_, offset, length);
    }

    // Takes a full shared copy of the source, then releases the held handle. Assigning the
    // handle already held changes nothing.
    void copy_assign(const netbuf& source) { assign_handle(source.handle_); }
    void assign_handle(handle source);
    // Releases the held handle and takes the source's, leaving the source null.
    void move_assign(netbuf& source) noexcept;
    void swap(netbuf& other) noexcept;

    handle get() const noexcept { return handle_; }
    // Gives the handle up without releasing it (for handing it to an operation that releases it).
    [[nodiscard]] handle detach() noexcept;
    // Releases the handle; the netbuf becomes null.
    void release() noexcept;

    std::size_t size() const;
    bool is_empty() const { return size() == 0; }

    // n of 0 does nothing.
    void append_bytes(const void* data, std::size_t n);
    void append_byte(std::uint8_t value);
    void append_string(std::string_view text);
    void prepend_string(std::string_view text);
    // The string is empty afterwards. Below 4096 bytes its bytes are copied; from 4096 bytes on
    // its memory is handed over without copying (read-only, freed with the last reference).
    void append_moved_string(std::string&& text);
    // n uninitialised bytes at the end / in front; null for n 0.
    std::uint8_t* append_space(std::size_t n);
    std::uint8_t* prepend_space(std::size_t n);
    // A writable span at the end that belongs to the content at once: the free room of the last
    // chunk when it has some (which may be shorter or longer than n), else n bytes in a new
    // chunk. Give what is not written back with trim_back. n of 0 gives null and 0.
    void reserve_tail_span(std::size_t n, std::uint8_t** data, std::size_t* length);
    void trim_back(std::size_t n);
    void drop_front(std::size_t n);
    void clear();

    // Copies the last min(n, size) bytes, in their order, to the destination and removes them.
    void pop_back_bytes(void* destination, std::size_t n);
    // Copies the first min(12, size) bytes to the destination, leaving them in place.
    void peek_12_bytes(void* destination) const;

    // Move every byte of other to the end / the front; other becomes empty. Other must be a
    // different buffer: passing the same one is a programming error that crashes the process.
    void splice_back(netbuf& other);
    void splice_front(netbuf& other);
    // Adds other's bytes at the end / the front by sharing its chunks; other is unchanged. The
    // same rule on other applies.
    void append_shared(const netbuf& other);
    void prepend_copy(const netbuf& other);
    // splice_back under the name the stream and transfer code use.
    void append_move(netbuf& other) { splice_back(other); }

    // Makes the whole content contiguous and gives its address and length (null and 0 when
    // empty). The bytes stay valid until the buffer is next changed.
    void linearize(std::uint8_t** data, std::size_t* length);
    std::string to_string() const;
    // Append the first / last min(n, size) bytes to the string without removing them.
    void copy_front_to_string(std::string& out, std::size_t n) const;
    void copy_back_to_string(std::string& out, std::size_t n) const;

    // Walks the chunks of a buffer in order without joining them:
    // for (netbuf::cursor c(buffer); c.valid(); c.next()) { c.data(&p, &n); ... }
    // The buffer must not change while a cursor walks it.
    class cursor {
    public:
        explicit cursor(const netbuf& buffer);
        cursor(const cursor&) = delete;
        cursor& operator=(const cursor&) = delete;
        ~cursor() { release(); }

        bool valid() const;
        void data(const std::uint8_t** data, std::size_t* length) const;
        void next();
        void release() noexcept;

    private:
        netbuf_api::cursor_handle cursor_;
    };

    // Entry 28 of the installed table with the two flags.
    static void enable_caches(std::uint8_t ignored, std::uint8_t enable);

    // Installs a buffer table for the process: true when it took the table. A table is taken
    // once per process; later calls (and a null table) are refused and change nothing. Of the
    // optional tail, each of entries 30 to 32 that the table lacks is replaced by a fallback
    // built on the required entries.
    static bool install_table(const netbuf_api* table);
    // Installs the host's table when the host's function table gave one (vantor::host()).
    static bool install_host_table();
    // Installs the foundation's own table and, when that took effect, initialises it with the
    // block caches on. True when the local implementation is now in use.
    static bool install_local_table();
    // The installed entries (all null before installation).
    static const netbuf_api& table() noexcept;

    // The replacements for a missing optional tail, in the table's calling convention.
    static void __cdecl fallback_reserve_span(handle buffer, std::int32_t n, std::int32_t at_end,
                                              void** data_out, std::int32_t* length_out, std::int32_t limit);
    static void __cdecl fallback_splice(handle buffer, handle other, std::int32_t at_end,
                                        std::int32_t compact);
    static void __cdecl fallback_linearize(handle buffer, void** data_out, std::int32_t* length_out,
                                           std::int32_t n, std::int32_t need_writable, std::int32_t exact);
    // Frees the heap string that append_moved_string handed over.
    static void __cdecl release_moved_string(void* user_data);

    // Replaces the installed table wholesale and returns the previous one, so that a test can
    // install tables of its own and put the process's back afterwards.
    static netbuf_api swap_table_for_testing(const netbuf_api& replacement);

private:
    handle handle_;
};

inline void swap(netbuf& a, netbuf& b) noexcept
{
    a.swap(b);
}
