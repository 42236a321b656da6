#pragma once
// The crash handler of the helper processes. The helper start installs it before anything else
// runs; on an unhandled exception it continues on a stack reserved in advance, appends a text
// record to "coredump.txt" in the current directory, writes a minidump beside it and ends the
// process with the exception code as its exit code. Inside the host the host owns crash
// handling and this handler is never installed.
//
// The handler runs on the faulting thread while the others keep running. Only one thread
// reports: another thread that faults meanwhile waits for the process to end. A fault inside the
// reporting ends the process at once with the exit code taken so far.
#include <cstddef>
#include <cstdint>

#include "vantor/core/win_api.h"
// After the project's Windows header, so that its settings apply to the debugging declarations.
#include <dbghelp.h>

namespace vantor::crash {

// Installs the handler once per process; later calls do nothing. Allocates the 1 MiB stack
// reserve (top-down; on failure the report is written on the faulting thread's own stack).
void install_process_filter() noexcept;

// The unhandled-exception filter. Never returns normally: it ends the process.
LONG WINAPI process_filter(EXCEPTION_POINTERS* info);

// Appends one text record for the exception to "coredump.txt" (nothing when the file cannot be
// opened). `info` may be null: the record then holds only the process facts.
void write_coredump(DWORD code, const EXCEPTION_POINTERS* info) noexcept;

// Writes the minidump into the current directory, named by minidump_file_name for this process
// and program; exception information is included when `info` is given. Nothing when dbghelp or
// its MiniDumpWriteDump is missing or the file cannot be created.
void write_process_minidump(EXCEPTION_POINTERS* info) noexcept;

// The minidump callback: a module that no memory references loses its module data; thread and
// module callbacks answer true, every other kind false.
BOOL CALLBACK minidump_callback(PVOID param, const PMINIDUMP_CALLBACK_INPUT input,
                                PMINIDUMP_CALLBACK_OUTPUT output);

// "TARVOMini", a number, the program's file name from after its last backslash up to its first
// dot, ".dmp". The number is (process id / 2) mod 10 in helper mode (at most ten dumps per
// program name), else the process id. An empty program path adds no name. Writes the name,
// NUL-terminated and cut to out_size, without using the heap; returns its length.
std::size_t minidump_file_name(std::uint32_t process_id, const wchar_t* program_path, bool helper_mode,
                               wchar_t* out, std::size_t out_size) noexcept;

// Makes the next report fault right after its first line, so that a test child can show that a
// fault during reporting ends the process with the original exception's code.
void fault_during_report_for_testing() noexcept;

}  // namespace vantor::crash
