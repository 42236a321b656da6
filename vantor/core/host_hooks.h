#pragma once
#include <cstdint>

#include "vantor/core/job.h"

namespace vantor {

// The host's file-access hook record; the host may use the operation codes as it likes.
struct file_access_hook_record {
    std::int32_t(__cdecl* notify)(const char* path, std::int32_t length, std::int32_t operation);
};

// The services that the host's function table can take over. The foundation start copies the
// host's entries here; a null entry means the foundation's own implementation is used. Written
// once during start-up, before any thread of the module runs, and only read afterwards.
struct host_services {
    void(__cdecl* process_lock)() = nullptr;
    void(__cdecl* process_unlock)() = nullptr;
    void(__cdecl* pre_crash)() = nullptr;
    std::int32_t(__cdecl* random)() = nullptr;
    std::int32_t* failed_thread_starts = nullptr;
    void* crash_handler_installer = nullptr;  // never called; non-null marks host crash handling
    void(__cdecl* global_lock)() = nullptr;
    void(__cdecl* global_unlock)() = nullptr;
    // The logger's hook: 0 means the line was taken and is not written locally. Inside the host
    // it is host_log_sink, which hands the line to the host's own sink (host_log).
    std::int32_t(__cdecl* log_sink)(const char* text, std::int32_t length) = nullptr;
    void(__cdecl* host_log)(const char* text, std::int32_t length) = nullptr;
    void(__cdecl* log_flush)() = nullptr;

    // Byte buffers: the host's netbuf table (installed by the buffer layer).
    void* netbuf_table = nullptr;

    // Clocks and timers. Timer ids are 64-bit; the executor of a once-timer is always null.
    std::int64_t(__cdecl* monotonic_ms)() = nullptr;
    std::int64_t(__cdecl* timestamp_ms)() = nullptr;
    std::int64_t(__cdecl* wall_ms)() = nullptr;
    std::int64_t(__cdecl* schedule_once)(std::int64_t due, post_fn post, void* context, job_fn run,
                                         job_fn release, void* arg) = nullptr;
    std::int32_t(__cdecl* cancel_timer)(std::int64_t id) = nullptr;
    std::int64_t(__cdecl* schedule)(std::int64_t value, std::int32_t kind, post_fn post, void* context,
                                    job_fn run, job_fn release, void* arg) = nullptr;
    void(__cdecl* schedule_once_id)(std::int64_t* id_out, std::int64_t due, post_fn post, void* context,
                                    job_fn run, job_fn release, void* arg) = nullptr;
    void(__cdecl* schedule_id)(std::int64_t* id_out, std::int64_t value, std::int32_t kind, post_fn post,
                               void* context, job_fn run, job_fn release, void* arg) = nullptr;

    // The host's default executor: fills in its post function and context.
    void(__cdecl* default_executor)(post_fn* post_out, void** context_out) = nullptr;

    // Files: the host's program-path switch (non-zero: command lines name a program by its file
    // name only) and its file-access hook record, told of file-system accesses.
    std::int32_t* program_path_switch = nullptr;
    file_access_hook_record* file_access_hook = nullptr;
};

// The process's host services (all null without a host).
host_services& host();

}  // namespace vantor
