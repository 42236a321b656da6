#include "vantor/core/crash_report.h"

#include <cstdint>

#include "vantor/core/crash_report_symbols.h"
#include "vantor/core/crash_traps.h"

namespace vantor::crash {
namespace {

constexpr std::size_t stack_reserve_size = 1048576;
// The report starts this far below the reserve's end.
constexpr std::size_t stack_reserve_headroom = 768;
constexpr MINIDUMP_TYPE minidump_type = static_cast<MINIDUMP_TYPE>(MiniDumpScanMemory | MiniDumpWithIndirectlyReferencedMemory);
static_assert(minidump_type == 0x50);

// Process-wide handler state: set at installation, never freed.
bool installed = false;
LPTOP_LEVEL_EXCEPTION_FILTER previous_filter = nullptr;
unsigned char* stack_reserve = nullptr;

// The thread that is writing the report (0 while none is), and the exit code taken so far.
volatile LONG reporting_thread = 0;
volatile DWORD exit_code = 0xFFFFFFFF;

[[noreturn]] void end_process() noexcept
{
    TerminateProcess(GetCurrentProcess(), exit_code);
    // TerminateProcess of the own process does not return; should it fail, nothing else may run.
    ExitProcess(exit_code);
}

bool is_hard_fault(DWORD code) noexcept
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
        return true;
    default:
        return false;
    }
}

// A fault of the reporting thread, seen before any frame handler. The report code has no frame
// handlers of its own (and on x86-64 the frames on the reserve cannot be unwound back to the
// original stack), so this is how a fault during reporting ends the process with the exit code
// taken so far. dbghelp catches faults of its own; those are left to it.
LONG CALLBACK reporting_fault_handler(EXCEPTION_POINTERS* info)
{
    if (reporting_thread == 0 || static_cast<DWORD>(reporting_thread) != GetCurrentThreadId() ||
        info == nullptr || info->ExceptionRecord == nullptr || !is_hard_fault(info->ExceptionRecord->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    HMODULE dbghelp = symbol_library();
    MEMORY_BASIC_INFORMATION region;
    if (dbghelp != nullptr &&
        VirtualQuery(info->ExceptionRecord->ExceptionAddress, &region, sizeof(region)) != 0 &&
        region.AllocationBase == reinterpret_cast<void*>(dbghelp)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    end_process();
}

// Steps 2 to 4 of the filter, on the reserve.
void __cdecl report_and_end(void* argument)
{
    auto* info = static_cast<EXCEPTION_POINTERS*>(argument);
    if (info != nullptr && info->ExceptionRecord != nullptr) {
        exit_code = info->ExceptionRecord->ExceptionCode;
    }
    write_coredump(exit_code, info);
    write_process_minidump(info);
    end_process();
}

// Calls `function(argument)` with the stack pointer inside the reserve, `headroom` bytes below
// its end with the low byte of the current stack pointer kept (on x86-64 rounded down to the 16
// bytes the calling convention requires). Returns on the original stack.
struct stack_call {
    std::uintptr_t stack_base;  // end of the reserve minus the headroom, 256-byte aligned
    void(__cdecl* function)(void*);
    void* argument;
};

__attribute__((noinline)) void call_on_stack(stack_call* call)
{
#if defined(__x86_64__)
    asm volatile(
        "movq %%rsp, %%rbx\n\t"
        "movq %%rsp, %%rax\n\t"
        "andq $0xF0, %%rax\n\t"
        "movq 0(%%rcx), %%rsp\n\t"
        "addq %%rax, %%rsp\n\t"
        "subq $32, %%rsp\n\t"  // the callee's home area for its register arguments
        "movq 8(%%rcx), %%rax\n\t"
        "movq 16(%%rcx), %%rcx\n\t"
        "callq *%%rax\n\t"
        "movq %%rbx, %%rsp\n\t"
        : "+c"(call)
        :
        : "rax", "rbx", "rdx", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
          "memory", "cc");
#elif defined(__i386__)
    asm volatile(
        "movl %%esp, %%ebx\n\t"
        "movl %%esp, %%eax\n\t"
        "andl $0xFF, %%eax\n\t"
        "movl 0(%%ecx), %%esp\n\t"
        "addl %%eax, %%esp\n\t"
        "subl $16, %%esp\n\t"
        "movl 8(%%ecx), %%eax\n\t"
        "movl %%eax, (%%esp)\n\t"
        "call *4(%%ecx)\n\t"
        "movl %%ebx, %%esp\n\t"
        : "+c"(call)
        :
        : "eax", "ebx", "edx", "memory", "cc");
#else
#error "the crash handler's stack switch supports i386 and x86-64 only"
#endif
}

}  // namespace

void install_process_filter() noexcept
{
    if (installed) {
        return;
    }
    installed = true;
    stack_reserve = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, stack_reserve_size, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE));
    AddVectoredExceptionHandler(1, &reporting_fault_handler);
    previous_filter = SetUnhandledExceptionFilter(&process_filter);
}

LONG WINAPI process_filter(EXCEPTION_POINTERS* info)
{
    const auto self = static_cast<LONG>(GetCurrentThreadId());
    const LONG owner = InterlockedCompareExchange(&reporting_thread, self, 0);
    if (owner == self) {
        // A fault of the report itself that no handler took.
        end_process();
    }
    if (owner != 0) {
        // Another thread is reporting and ends the process when it is done.
        for (;;) {
            Sleep(INFINITE);
        }
    }
    if (stack_reserve != nullptr) {
        stack_call call{reinterpret_cast<std::uintptr_t>(stack_reserve) + stack_reserve_size - stack_reserve_headroom,
                        &report_and_end, info};
        call_on_stack(&call);
    } else {
        report_and_end(info);
    }
    end_process();
}

std::size_t minidump_file_name(std::uint32_t process_id, const wchar_t* program_path, bool helper_mode,
                               wchar_t* out, std::size_t out_size) noexcept
{
    if (out == nullptr || out_size == 0) {
        return 0;
    }
    std::size_t n = 0;
    auto put = [&](wchar_t c) {
        if (n + 1 < out_size) {
            out[n++] = c;
        }
    };
    for (const wchar_t* p = L"TARVOMini"; *p != 0; ++p) {
        put(*p);
    }
    std::uint32_t number = helper_mode ? (process_id / 2) % 10 : process_id;
    wchar_t digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0) {
        put(digits[--count]);
    }
    if (program_path != nullptr) {
        const wchar_t* name = program_path;
        for (const wchar_t* p = program_path; *p != 0; ++p) {
            if (*p == L'\\') {
                name = p + 1;
            }
        }
        for (const wchar_t* p = name; *p != 0 && *p != L'.'; ++p) {
            put(*p);
        }
    }
    for (const wchar_t* p = L".dmp"; *p != 0; ++p) {
        put(*p);
    }
    out[n] = 0;
    return n;
}

BOOL CALLBACK minidump_callback(PVOID, const PMINIDUMP_CALLBACK_INPUT input, PMINIDUMP_CALLBACK_OUTPUT output)
{
    if (input == nullptr || output == nullptr) {
        return FALSE;
    }
    switch (input->CallbackType) {
    case ModuleCallback:
        if ((output->ModuleWriteFlags & ModuleReferencedByMemory) == 0) {
            output->ModuleWriteFlags &= ~static_cast<ULONG>(ModuleWriteModule);
        }
        return TRUE;
    case ThreadCallback:
    case ThreadExCallback:
    case IncludeThreadCallback:
    case IncludeModuleCallback:
        return TRUE;
    default:
        return FALSE;
    }
}

void write_process_minidump(EXCEPTION_POINTERS* info) noexcept
{
    HMODULE dbghelp = load_system_library(L"dbghelp.dll");
    if (dbghelp == nullptr) {
        return;
    }
    auto write_dump = reinterpret_cast<decltype(&MiniDumpWriteDump)>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (write_dump == nullptr) {
        return;
    }
    wchar_t program[1024];
    DWORD length = GetModuleFileNameW(nullptr, program, 1024);
    program[length < 1024 ? length : 0] = 0;
    wchar_t name[1200];
    minidump_file_name(GetCurrentProcessId(), program, helper_process_flag.load(), name, 1200);

    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION exception{GetCurrentThreadId(), info, FALSE};
    MINIDUMP_CALLBACK_INFORMATION callback{&minidump_callback, nullptr};
    write_dump(GetCurrentProcess(), GetCurrentProcessId(), file, minidump_type, info != nullptr ? &exception : nullptr,
               nullptr, &callback);
    CloseHandle(file);
}

}  // namespace vantor::crash
