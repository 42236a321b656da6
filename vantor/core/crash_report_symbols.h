#pragma once
// Locations for the crash record: the symbol functions of dbghelp (bound at the first crash),
// the description of a code address, the module and section lookup that works without symbols,
// and the walk over the crashing thread's stack.
//
// Everything here runs inside the crash handler, on its reserved stack, in a process whose heap
// may be broken: nothing allocates from the C++ heap, takes a lock or raises.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // the runtime formatter and its format-checking attribute

#include "vantor/core/win_api.h"

namespace vantor::crash {

// One line of the text record, formatted into a fixed 1024-byte buffer. Text that does not fit
// is cut; finish always leaves room for the line end.
class report_line {
public:
    static constexpr std::size_t capacity = 1024;

    report_line() noexcept { text_[0] = 0; }

    // Appends printf-formatted text (the runtime's C99 formatter).
    void append(const char* format, ...) noexcept __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));
    void append_list(const char* format, std::va_list args) noexcept;
    // Ends the line with "\n" (cutting the last byte when the buffer is full).
    void finish() noexcept;
    void clear() noexcept { size_ = 0; }

    const char* data() const noexcept { return text_; }
    std::size_t size() const noexcept { return size_; }

private:
    char text_[capacity];
    std::size_t size_ = 0;  // at most capacity - 1; text_[size_] is always NUL
};

// Where finished lines go: the record file in the handler, a collector in tests.
struct line_writer {
    void (*write)(void* context, const report_line& line) noexcept;
    void* context;

    void operator()(const report_line& line) const noexcept { write(context, line); }
};

// Loads a library from the system folder only (no other search path); null when it is missing.
HMODULE load_system_library(const wchar_t* file_name) noexcept;

// Loads dbghelp and binds the symbol functions, once per process; later calls do nothing. Not
// synchronised: the crash handler lets only one thread report.
void bind_symbols() noexcept;
// Whether the six symbol functions are bound (false before bind_symbols, or when dbghelp is
// missing or SymInitialize failed).
bool symbols_bound() noexcept;
// The dbghelp module the binding loaded, or null.
HMODULE symbol_library() noexcept;

// The module that holds `address`, read from the image in memory.
struct module_section {
    std::uintptr_t base = 0;      // the module's image base (its allocation base)
    std::uint32_t section = 0;    // section number from 1; 0 when no section holds the address
    std::uint32_t offset = 0;     // offset from the start of that section
};

// Finds the module, section and offset of `address`. When `path` is given, the module's path is
// stored there (NUL-terminated, cut to path_size). False when the address lies in no readable
// module image; a failed read of the image answers false instead of faulting.
bool module_section_of(std::uintptr_t address, module_section& out, char* path = nullptr,
                       std::size_t path_size = 0) noexcept;

// Appends the location of a code address to `line`: module offset and base, module name, symbol
// and displacement, source file and line, or section and offset, each part only when known.
// Symbols are used only when bind_symbols has bound them.
void describe_address(std::uintptr_t address, report_line& line) noexcept;

// Writes one "bt:" line per frame of the stack that `context` describes (at most 20; the marker
// program counters 0xCAFE and 0xFACE are skipped without counting). Binds the symbol functions
// first when needed; writes nothing without them. The context is copied, not changed.
void walk_stack(const CONTEXT& context, const line_writer& writer) noexcept;

// The stack walk's memory reader: ReadProcessMemory on the current process.
BOOL CALLBACK read_process_memory(HANDLE process, DWORD64 address, PVOID buffer, DWORD size,
                                  LPDWORD bytes_read);

}  // namespace vantor::crash
