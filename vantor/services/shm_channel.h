#pragma once
// A one-way message ring in an anonymous shared-memory section, shared by two processes and
// guarded by a mutex and two manual-reset events that live beside it: data-ready (set by every
// write, reset by the reader when it finds the ring empty) and space-freed (set by every read,
// reset by a writer just before it waits for room). Two rings, one per direction, form a duplex
// channel (mem_ipc::pair, shm_channel_pair.h).
//
// Shared section (capacity K; K + 20 bytes; little-endian):
//   0 magic 0xFABCDE03 | 4 capacity K | 8 state (low byte: bits 0-1 the side value, the closing
//   side ORs in 0xF0) | 12 read count | 16 write count | 20 the K ring bytes.
// Counts are totals that wrap at 2^32; the byte of count n lies at 20 + (n mod K), so K must be
// a power of two for positions to stay continuous across the wrap. A message record is
// {u32 tag; u32 body length L; L bytes}, written and read as a whole.
//
// Results are numbers, never exceptions; each failure is also logged through the log callback
// and sets one of the last-error codes below.
#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/shm_channel_block.h"

namespace win_utils {

inline constexpr DWORD shm_error_lock_timeout = 0x20000000;
inline constexpr DWORD shm_error_closed = 0x20000001;  // also a failed mutex wait
inline constexpr DWORD shm_error_no_room = 0x20000002;
inline constexpr DWORD shm_error_too_large = 0x20000003;  // length + 8 > capacity
inline constexpr DWORD shm_error_corrupt = 0x20000004;    // "ipc buffer currupt"

inline constexpr std::uint32_t shm_header_size = 20;
inline constexpr std::uint32_t shm_record_header_size = 8;
// Capacities a ring accepts: powers of two in this range.
inline constexpr std::uint32_t shm_min_capacity = 16;
inline constexpr std::uint32_t shm_max_capacity = 0x40000000;

bool is_supported_capacity(std::uint32_t capacity) noexcept;

// Receives the printf-style log lines of a ring or a pair; where they go is the owner's choice.
using shm_log_callback = void (*)(void* context, const char* format, va_list args);

// The mapped section of one ring with its mutex. Used by one thread at a time per object.
class mem_shared {
public:
    mem_shared(const mem_shared&) = delete;
    mem_shared& operator=(const mem_shared&) = delete;
    virtual ~mem_shared();

    virtual bool is_open() const noexcept { return data_ != nullptr; }

    // Null (the default) drops the lines.
    void set_log_callback(shm_log_callback callback, void* context) noexcept;

    std::uint32_t capacity() const noexcept { return capacity_; }
    unsigned instance() const noexcept { return instance_; }

protected:
    mem_shared() noexcept;

    void log(const char* format, ...) const noexcept;

    unsigned instance_;
    vantor::win_handle section_;
    vantor::win_handle mutex_;
    void* view_ = nullptr;          // the mapping, starting with the header
    std::uint8_t* data_ = nullptr;  // view + 20
    std::uint32_t capacity_ = 0;    // fixed when the ring is created or opened

private:
    shm_log_callback log_callback_ = nullptr;
    void* log_context_ = nullptr;
};

// One ring. Each ring serves one writer and one reader, normally in two processes; the mutex
// guards the header counts and the copying and is held only for one write or one read. close
// may run on another thread than the reader or writer.
class mem_ipc : public mem_shared {
public:
    class pair;

    // One message read into a buffer.
    struct message {
        std::uint32_t tag = 0;
        netbuf data;
    };

    mem_ipc() noexcept;
    // Closes the ring, then every handle.
    ~mem_ipc() override;

    // The section is mapped and both events are there.
    bool is_open() const noexcept override;

    // Creates the mutex, a page-file section of capacity + 20 bytes and both events, maps the
    // section and writes the header. False when the capacity is not supported (not a power of two
    // in [shm_min_capacity, shm_max_capacity]), when the ring was already created or opened, or
    // when a call fails; handles made before a failure stay until destruction.
    bool create_anonymous(std::uint32_t capacity) noexcept;

    // Duplicates the ring's four handles into `target` and fills `block` (whose size field must
    // be 64) with their values there.
    bool prepare_for_process(HANDLE target, channel_block& block) noexcept;

    // Adopts the handles of a valid block (valid in this process), maps the section and checks
    // the mapping and the header (magic, a supported capacity that the mapping holds).
    bool open_from_block(const channel_block& block) noexcept;

    // Writes one message; `length` -1 takes `data` as a zero-terminated text and tag 0xFFFFFFFF
    // becomes this process's id. Waits for room up to ten times 1000 ms. Returns the body length,
    // or -1 (closed, too large, corrupt counters, lock failure, or still no room).
    int write_message(std::uint32_t tag, const void* data, int length) noexcept;

    // Reads one message into `buffer`: the body length (0 also when nothing is waiting, the tag
    // then unchanged), -1 on error or when the drained ring is closed, -2 when the buffer is too
    // small (the message stays and `tag` holds the needed size).
    int read_message(std::uint32_t& tag, void* buffer, int buffer_size) noexcept;

    // As read_message, appending the body to out.data; never -2. out.tag is set only when a
    // message was read.
    int read_netbuf(message& out) noexcept;

    // Marks the ring closed for both processes (the first close ORs 0xF0 into the state and
    // sets both events, so that every waiter on either side wakes). Further writes fail; the
    // reader still drains what was written before.
    void close() noexcept;

    // The shared state still says open and this object has not closed the ring.
    bool ring_open() const noexcept;

    // Set while messages wait; for callers that wait for input.
    HANDLE data_ready_event() const noexcept { return data_ready_.get(); }

    HANDLE mutex_for_testing() const noexcept { return mutex_.get(); }
    void* header_for_testing() const noexcept { return view_; }

private:
    class lock;
    struct header;

    volatile header* shared() const noexcept;
    void put_bytes(std::uint32_t position, const void* source, std::uint32_t length) noexcept;
    void get_bytes(std::uint32_t position, void* target, std::uint32_t length) const noexcept;

    std::uint32_t side_ = 0;
    std::atomic<bool> closed_{false};
    std::atomic<bool> alive_{true};
    vantor::win_event data_ready_;
    vantor::win_event space_freed_;
};

}  // namespace win_utils
