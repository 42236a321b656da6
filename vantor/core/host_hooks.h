#pragma once
#include <cstdint>

namespace vantor {

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
    std::int32_t(__cdecl* log_sink)(const char* text, std::int32_t length) = nullptr;
    void(__cdecl* log_flush)() = nullptr;
};

// The process's host services (all null without a host).
host_services& host();

}  // namespace vantor
