#pragma once
// The 2 MiB block of shared memory that holds the metrics counters of a process and of the
// helper processes it starts. Entries are allocated lock-free by advancing the next free offset
// with compare-and-swap, filled, and then made visible by committing their state word; they are
// never freed or moved. Nothing here raises: failures are logged and reported as null or 0.
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace vantor::metric {

constexpr std::uint32_t block_magic = 0x7d9ce5bc;
constexpr std::uint32_t block_magic2 = 0x8f166880;
constexpr std::uint32_t block_version_mark = 0xbf1cd3c3;
constexpr std::uint32_t block_first_entry = 32;
constexpr std::uint32_t block_total_size = 0x200000;
constexpr std::uint32_t entry_committed = 0x79476318;
constexpr std::uint32_t tag_string = 0x9ebeb2a9;
constexpr std::uint32_t tag_type = 0xcb893157;
constexpr std::uint32_t tag_data = 0xadf3f363;
constexpr std::uint32_t max_entry_size = 0x20010;
constexpr std::uint32_t max_payload = 0x20000;
constexpr std::uint32_t max_string = 1024;

// MurmurHash3 x86_32 body with seed 3 over three words and its final mix, without the length.
std::uint32_t block_hash(std::uint32_t a, std::uint32_t b, std::uint32_t c);

// Checks a block's header words, its total size against the expected one and the header hash;
// logs the first mismatch on "persistent".
bool check_block_header(const void* view, std::uint32_t expected_total);

// The mapping of one block in this process: its mapping handle, its view and, made on demand,
// the duplicate handle handed to child processes (which stays open when the holder closes).
class shared_block {
public:
    shared_block() = default;
    shared_block(const shared_block&) = delete;
    shared_block& operator=(const shared_block&) = delete;
    ~shared_block() { close(); }

    // A new anonymous read/write mapping of block_total_size bytes; null on failure (logged).
    void* map_new();
    // Maps the block whose handle a parent handed over, after checking the view's protection,
    // type and size; null on failure (logged).
    void* map_from_parent(HANDLE handle, std::uint32_t minimum_size);
    // The handle to give a child process (duplicated once, then kept); 0 on failure (logged).
    HANDLE duplicate_to();

    void* view() const { return view_; }
    void close();

private:
    win_handle mapping_;
    void* view_ = nullptr;
    HANDLE duplicate_ = nullptr;
};

namespace persistent {

// A committed or uncommitted entry as found in the block.
struct entry_header {
    std::uint32_t size;
    std::uint32_t hash;
    std::uint32_t tag;
    std::uint32_t state;
};

// Access to one checked block: empty until init_new or attach succeeds.
class store {
public:
    store() = default;
    store(const store&) = delete;
    store& operator=(const store&) = delete;

    // Maps a new block and writes its header; false on failure (logged).
    bool init_new();
    // Maps the block handed over by a parent and checks its header; false on failure (logged).
    bool attach(HANDLE handle, std::uint32_t size);
    // Maps and checks a handed-over block on a temporary mapping that is closed again.
    static bool validate_handle(HANDLE handle, std::uint32_t size);

    bool valid() const { return base_ != nullptr; }
    std::uint8_t* base() const { return base_; }
    std::uint32_t total() const { return total_; }
    shared_block& mapping() { return mapping_; }

    // An entry for n payload bytes (zeroed, uncommitted) or null.
    entry_header* alloc(std::uint32_t n, std::uint32_t tag);
    static void commit(entry_header* e);
    static bool is_committed(const entry_header* e);
    // The entry at an offset when it passes the entry check (and is committed, when asked).
    entry_header* get(std::uint32_t offset, bool committed_only) const;
    // The offset of a valid, committed entry; 0 otherwise.
    std::uint32_t offset_of(const entry_header* e) const;

    std::uint32_t find_string(std::string_view text) const;
    std::uint32_t add_string(std::string_view text);
    std::uint32_t find_or_add_string(std::string_view text);
    // The text of a committed string entry, or an empty view with a null data pointer.
    std::string_view read_string(std::uint32_t offset) const;

    std::uint32_t find_or_add_type(const std::uint32_t (&payload)[4]);
    std::uint32_t find_or_add_data(const std::uint32_t (&key)[4], std::uint32_t counter_size);

    // Hands every committed entry to the visitor (offset, entry) until it returns false or the
    // scan meets the end, an invalid entry or a zero tag.
    void for_each(const std::function<bool(std::uint32_t, entry_header*)>& visitor) const;

private:
    bool fill_from_header();
    std::uint32_t find_by_key(std::uint32_t tag, const void* key, std::size_t key_size,
                              std::uint32_t wanted_size, bool& size_mismatch) const;

    shared_block mapping_;
    std::uint8_t* base_ = nullptr;
    std::uint8_t* first_ = nullptr;
    std::uint32_t total_ = 0;
    std::uint32_t first_offset_ = 0;
};

}  // namespace persistent
}  // namespace vantor::metric
