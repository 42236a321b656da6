#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "vantor/core/crash_traps.h"
#include "vantor/core/win_api.h"

namespace {

const char trap_env[] = "KOVA_TEST_CRASH_TRAP";

// The child's own last filter: ends the process with the faulting address as its exit code
// (the write's target names the trap), or 0xDEAD when the crash was not a write fault.
LONG WINAPI report_fault(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    UINT code = 0xDEAD;
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2 && r->ExceptionInformation[0] == 1) {
        code = static_cast<UINT>(r->ExceptionInformation[1]);
    }
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_CONTINUE_SEARCH;
}

DWORD run_child(const char* trap)
{
    SetEnvironmentVariableA(trap_env, trap);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_filter=CrashTrapChild.*";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(exe, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableA(trap_env, nullptr);
    if (!started) return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace

// Fires one trap in a child process (started by the test below).
TEST(CrashTrapChild, Fire)
{
    char trap[32] = {};
    if (GetEnvironmentVariableA(trap_env, trap, sizeof trap) == 0) GTEST_SKIP() << "run by the parent test";
    vantor::crash::init();
    SetUnhandledExceptionFilter(&report_fault);
    if (std::strcmp(trap, "abort") == 0) std::abort();
    if (std::strcmp(trap, "alloc") == 0) {
        // More than the address space holds, yet below the runtime's own request limit.
        volatile std::size_t huge = sizeof(void*) == 8 ? std::size_t{1} << 52 : 0xF0000000u;
        void* p = std::malloc(huge);
        std::printf("allocation returned %p\n", p);
    }
    std::exit(0xBAD);
}

TEST(CrashTraps, FatalRuntimeErrorsBecomeWritesToTheirAddress)
{
    EXPECT_EQ(run_child("abort"), 4u);
    EXPECT_EQ(run_child("alloc"), 12u);
}
