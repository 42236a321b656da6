#include <gtest/gtest.h>

#include "vantor/core/tests/self_child.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <string>

#include "vantor/core/crash_now.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/thread.h"
#include "vantor/core/win_handle.h"

// crash_now ends the process, so each case runs in a child: this test program started again with
// only the child test selected and the case named in an environment variable.
namespace {

constexpr wchar_t child_mode_variable[] = L"VANTOR_CRASH_NOW_CHILD";

// Exit codes the child chooses so that the parent can tell which way the process ended.
constexpr DWORD exit_fault_after_hook = 41;
constexpr DWORD exit_fault_unexpected = 42;
constexpr DWORD exit_pre_crash_from_thread_start = 43;
constexpr DWORD exit_returned = 99;

std::atomic<bool> pre_crash_called{false};

void __cdecl note_pre_crash()
{
    pre_crash_called = true;
}
void __cdecl end_in_pre_crash()
{
    TerminateProcess(GetCurrentProcess(), exit_pre_crash_from_thread_start);
}

LONG WINAPI child_filter(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    bool write_at_zero = r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2 &&
                         r->ExceptionInformation[0] == 1 && r->ExceptionInformation[1] == 0;
    TerminateProcess(GetCurrentProcess(),
                     write_at_zero && pre_crash_called ? exit_fault_after_hook : exit_fault_unexpected);
    return EXCEPTION_EXECUTE_HANDLER;
}

std::uintptr_t __cdecl never_begins(void(__cdecl*)(void*), unsigned, void*)
{
    errno = EAGAIN;
    return static_cast<std::uintptr_t>(-1);
}

class idle_thread : public vantor::thread {
public:
    idle_thread() : vantor::thread(false) {}

protected:
    void run() override {}
};

// Runs only as the child of the tests below (it is disabled in ordinary runs).
TEST(crash_now_child, DISABLED_run)
{
    wchar_t buffer[32] = {};
    DWORD n = GetEnvironmentVariableW(child_mode_variable, buffer, 32);
    if (n == 0 || n >= 32) {
        GTEST_SKIP() << "runs only as a child process";
    }
    std::wstring mode(buffer);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(child_filter);
    static volatile int harmless_target = 0;
    if (mode == L"fault") {
        vantor::host().pre_crash = note_pre_crash;
        vantor::crash_now();
    } else if (mode == L"continue") {
        vantor::host().pre_crash = note_pre_crash;
        vantor::set_crash_target_for_testing(&harmless_target);
        vantor::crash_now();
    } else if (mode == L"thread_start") {
        vantor::host().pre_crash = end_in_pre_crash;
        vantor::host().crash_handler_installer = nullptr;
        vantor::set_crash_target_for_testing(&harmless_target);
        vantor::set_begin_thread_for_testing(never_begins);
        vantor::set_sleep_for_testing([](std::uint32_t) {});
        vantor::set_thread_start_crash_query([] { return true; });
        idle_thread t;
        try {
            t.start();
        } catch (...) {
        }
    }
    ExitProcess(exit_returned);
}

DWORD run_child(const wchar_t* mode)
{
    return run_self_child(L"crash_now_child.DISABLED_run", child_mode_variable, mode, L" --gtest_catch_exceptions=0");
}

TEST(crash_now, faults_after_the_pre_crash_hook)
{
    EXPECT_EQ(run_child(L"fault"), exit_fault_after_hook);
}

TEST(crash_now, ends_with_a_failure_code_when_execution_continues)
{
    DWORD code = run_child(L"continue");
    EXPECT_NE(code, 0u);
    EXPECT_EQ(code, vantor::crash_exit_code);
}

TEST(crash_now, failed_thread_start_crashes_when_switched_on)
{
    EXPECT_EQ(run_child(L"thread_start"), exit_pre_crash_from_thread_start);
}

}  // namespace
