#include "vantor/core/clock.h"

#include <chrono>
#include <type_traits>

#include "vantor/core/host_hooks.h"
#include "vantor/core/locks.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

using tick64_function = ULONGLONG(WINAPI*)();

// Milliseconds between 1601-01-01 (the FILETIME epoch) and 1970-01-01.
constexpr std::int64_t filetime_epoch_offset_ms = 11644473600000;

struct time_base {
    lasting_critical_section lock;
    tick64_function tick64 = nullptr;  // GetTickCount64, null on systems without it
    ULONGLONG tick64_start = 0;
    // The extended 32-bit tick: the reading taken last and the milliseconds counted so far.
    std::uint32_t last_tick = 0;
    std::int64_t total = 0;
    tick_source source = nullptr;  // a replacement 32-bit source; forces the extended tick
};

// Threads may still read the clocks while the process ends, so the time base is never torn down.
static_assert(std::is_trivially_destructible_v<time_base>);

tick64_function bind_tick64()
{
    HMODULE kernel32 = GetModuleHandleW(L"Kernel32.dll");
    if (kernel32 == nullptr) {
        return nullptr;
    }
    FARPROC f = GetProcAddress(kernel32, "GetTickCount64");
    return reinterpret_cast<tick64_function>(reinterpret_cast<void (*)()>(f));
}

time_base& base()
{
    static time_base* const b = [] {
        static time_base storage;
        storage.tick64 = bind_tick64();
        if (storage.tick64 != nullptr) {
            storage.tick64_start = storage.tick64();
        }
        storage.last_tick = GetTickCount();
        return &storage;
    }();
    return *b;
}

// The next reading of the extended tick; called under the time-base lock. The difference is
// taken in 32-bit unsigned arithmetic, so a wrap between two reads adds the true distance.
std::int64_t extended_tick(time_base& b)
{
    std::uint32_t t = b.source != nullptr ? b.source() : GetTickCount();
    b.total += static_cast<std::uint32_t>(t - b.last_tick);
    b.last_tick = t;
    return b.total;
}

std::int64_t local_monotonic(time_base& b)
{
    cs_lock guard(b.lock.get());
    if (b.tick64 != nullptr && b.source == nullptr) {
        return static_cast<std::int64_t>(b.tick64() - b.tick64_start);
    }
    return extended_tick(b);
}

std::int64_t system_time_ms()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<std::int64_t>(t.QuadPart / 10000) - filetime_epoch_offset_ms;
}

}  // namespace

void time_base_init()
{
    base();
}

std::int64_t monotonic_ms()
{
    if (auto clock = host().monotonic_ms; clock != nullptr) {
        return clock();
    }
    return local_monotonic(base());
}

std::int64_t unix_time_ms()
{
    if (auto clock = host().wall_ms; clock != nullptr) {
        return clock();
    }
    time_base& b = base();
    if (b.tick64 == nullptr) {
        // Reading the tick here as well keeps the 32-bit extension from missing a wrap in a
        // process that reads the wall clock often but the monotonic clock rarely.
        monotonic_ms();
    }
    return system_time_ms();
}

std::int64_t now_ms()
{
    if (auto clock = host().timestamp_ms; clock != nullptr) {
        return clock();
    }
    cs_lock guard(base().lock.get());
    return unix_time_ms();
}

std::int64_t steady_clock_us()
{
    auto ns = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(ns).count() / 1000;
}

std::int64_t steady_clock_ms()
{
    auto ns = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(ns).count() / 1000000;
}

void set_tick_source_for_testing(tick_source source)
{
    time_base& b = base();
    cs_lock guard(b.lock.get());
    std::int64_t current = b.source == nullptr && b.tick64 != nullptr
                               ? static_cast<std::int64_t>(b.tick64() - b.tick64_start)
                               : extended_tick(b);
    b.source = source;
    if (source != nullptr) {
        b.last_tick = source();
        b.total = current;
    } else if (b.tick64 != nullptr) {
        b.tick64_start = b.tick64() - static_cast<ULONGLONG>(current);
    } else {
        b.last_tick = GetTickCount();
        b.total = current;
    }
}

}  // namespace vantor
