#pragma once
// Runtime-error traps: each fatal runtime error (abort, pure virtual call, invalid runtime
// parameter, allocation failure) becomes an access violation at a small, recognisable address,
// which reaches the process's crash handler like any other crash. The written value names the
// trap: the signal number (22) or 1 or 2 at address 4, the requested size at address 12.
#include <atomic>

namespace vantor::crash {

// Installs the traps and switches off the system's error dialogs (process-wide).
void init();

// Set by the helper-process start; changes only the minidump's name.
extern std::atomic<bool> helper_process_flag;

}  // namespace vantor::crash
