#include "vantor/core/crash_traps.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "vantor/core/win_api.h"

namespace vantor::crash {

std::atomic<bool> helper_process_flag{false};

namespace {

// The store that faults; the address is held in a volatile so the compiler keeps the write.
[[noreturn]] void fault_at(std::uintptr_t address, std::uintptr_t value)
{
    volatile std::uintptr_t where = address;
    *reinterpret_cast<volatile std::uintptr_t*>(where) = value;
    std::abort();
}

void __cdecl on_abort_signal(int signal_number) { fault_at(4, static_cast<std::uintptr_t>(signal_number)); }
void __cdecl on_pure_call() { fault_at(4, 1); }
void __cdecl on_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, std::uintptr_t)
{
    fault_at(4, 2);
}
int __cdecl on_allocation_failure(size_t size) { fault_at(12, size); }
// operator new of this runtime does not pass the size; it reaches the runtime's handler above
// first through the heap (new mode 1), so this one only sees what slipped past.
void on_new_failure() { fault_at(12, 0); }

// The C runtime's hooks that its import library does not offer, bound by name from the runtime
// DLL this module uses; a missing one is skipped.
template <typename F>
F runtime_entry(const char* name)
{
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    return runtime ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(runtime, name))) : nullptr;
}

using crt_new_handler = int(__cdecl*)(size_t);
using set_new_handler_fn = crt_new_handler(__cdecl*)(crt_new_handler);
using set_new_mode_fn = int(__cdecl*)(int);
using set_abort_behavior_fn = unsigned(__cdecl*)(unsigned, unsigned);

}  // namespace

void init()
{
    std::signal(SIGABRT, &on_abort_signal);
    _set_purecall_handler(&on_pure_call);
    _set_invalid_parameter_handler(&on_invalid_parameter);
    // The runtime's handler gets the requested size; mode 1 lets failing heap allocations call it.
    // (The runtime exports both under their C++ names.)
    if (auto set_handler = runtime_entry<set_new_handler_fn>(sizeof(void*) == 4 ? "?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z"
                                                                                : "?_set_new_handler@@YAP6AH_K@ZP6AH0@Z@Z")) {
        set_handler(&on_allocation_failure);
    }
    if (auto set_mode = runtime_entry<set_new_mode_fn>("?_set_new_mode@@YAHH@Z")) set_mode(1);
    std::set_new_handler(&on_new_failure);
    if (auto set_abort = runtime_entry<set_abort_behavior_fn>("_set_abort_behavior")) {
        set_abort(0, _WRITE_ABORT_MSG);
        set_abort(0, _CALL_REPORTFAULT);
    }
    _set_error_mode(_OUT_TO_STDERR);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

}  // namespace vantor::crash
