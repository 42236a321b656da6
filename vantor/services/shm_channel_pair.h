#pragma once
// A duplex channel of two shared-memory rings, and the two ways in which the side that creates
// the rings hands them to the other process in a channel descriptor:
// - through a pipe: the creator writes the descriptor into an anonymous pipe that is the child's
//   standard input (send_descriptor), the child reads it (open_from_pipe);
// - through the parent's memory: the parent commits a buffer holding an empty descriptor and
//   announces its address on the child's command line (wait_open), the child creates the rings
//   and writes the filled descriptor there (prepare_push).
// The descriptor crosses the rings: one side's write ring is the other side's read ring.
#include <cstdint>
#include <functional>

#include "vantor/services/shm_channel.h"

namespace win_utils {

// Each process reads its read ring and writes its write ring. The caller creates both rings
// (create_anonymous) before send_descriptor or prepare_push; the receiving operations open them.
// Results are booleans; failures are logged through the log callback.
class mem_ipc::pair {
public:
    pair() noexcept = default;
    pair(const pair&) = delete;
    pair& operator=(const pair&) = delete;

    mem_ipc& read_ring() noexcept { return read_; }
    mem_ipc& write_ring() noexcept { return write_; }

    // Sets the callback of the pair and of both rings.
    void set_log_callback(shm_log_callback callback, void* context) noexcept;

    // Duplicates both rings' handles into `child` and writes the complete 160-byte descriptor to
    // `pipe` in one write.
    bool send_descriptor(HANDLE child, HANDLE pipe) noexcept;

    // Reads the descriptor from `pipe` (waiting up to 60 seconds for its bytes), validates it and
    // opens the read ring, then the write ring.
    bool open_from_pipe(HANDLE pipe) noexcept;
    bool open_from_pipe_for_testing(HANDLE pipe, std::uint32_t timeout_ms) noexcept;

    // The parent side of the memory hand-over: commits a 1024-byte buffer holding an empty
    // descriptor, calls `launcher` with its address (false fails at once), polls the descriptor
    // every 100 ms for up to 60 seconds and opens the rings from it. On success the buffer is
    // decommitted; on failure it stays committed, since the child may still write into it.
    bool wait_open(const std::function<bool(void* buffer)>& launcher) noexcept;

    // The child side: checks the announced buffer in `parent` (readable and writable, at least
    // 160 bytes, holding an empty descriptor), duplicates this side's handles into the parent and
    // writes the complete descriptor there in one call.
    bool prepare_push(HANDLE parent, std::uint64_t buffer_address) noexcept;

private:
    bool open_from_pipe_within(HANDLE pipe, std::uint32_t timeout_ms) noexcept;
    bool open_rings(const channel_descriptor& descriptor) noexcept;
    void log(const char* format, ...) const noexcept;

    shm_log_callback log_callback_ = nullptr;
    void* log_context_ = nullptr;
    mem_ipc read_;
    mem_ipc write_;
};

}  // namespace win_utils
