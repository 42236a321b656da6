#include "vantor/core/crash_now.h"

#include <cstdlib>

#include "vantor/core/host_hooks.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

// Read through a volatile pointer so that the compiler cannot see the null write and replace it
// with a trap of its own: the fault must be a real write access violation at address 0.
volatile int* volatile crash_target = nullptr;

}  // namespace

void crash_now()
{
    if (auto hook = host().pre_crash; hook != nullptr) {
        hook();
    }
    *crash_target = 0;
    // Execution continued after the fault: end as a crash, never with a success code.
    TerminateProcess(GetCurrentProcess(), crash_exit_code);
    std::_Exit(static_cast<int>(crash_exit_code));
}

void set_crash_target_for_testing(volatile int* target)
{
    crash_target = target;
}

}  // namespace vantor
