#pragma once
// The forced crash used when an internal state is impossible.
#include <cstdint>

namespace vantor {

// The exit code of a process whose forced crash did not stop it (STATUS_ACCESS_VIOLATION, the
// code the crash itself would have ended it with).
constexpr std::uint32_t crash_exit_code = 0xC0000005u;

// Calls the host's pre-crash hook when it offers one, then writes to address 0 so that the access
// violation reaches the process's crash reporting. Should execution continue after the write (a
// handler that resumes it), the process is terminated with crash_exit_code: it never ends with a
// success code and never returns.
[[noreturn]] void crash_now();

// Redirects the write of crash_now to `target` (null restores address 0), so that a test process
// can see what happens when execution continues after the write.
void set_crash_target_for_testing(volatile int* target);

}  // namespace vantor
