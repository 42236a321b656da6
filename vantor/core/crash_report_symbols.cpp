#include "vantor/core/crash_report_symbols.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vantor/core/win_api.h"
// After the project's Windows header, so that its settings apply to the debugging declarations.
#include <dbghelp.h>

namespace vantor::crash {
namespace {

// The bound symbol functions. Written only by the one reporting thread (or a test), read after.
struct symbol_functions {
    HANDLE process = nullptr;
    decltype(&SymFromAddr) from_addr = nullptr;
    decltype(&SymGetModuleInfo64) module_info = nullptr;
    decltype(&SymGetLineFromAddr64) line_from_addr = nullptr;
    decltype(&StackWalk64) stack_walk = nullptr;
    decltype(&SymFunctionTableAccess64) function_table_access = nullptr;
    decltype(&SymGetModuleBase64) module_base = nullptr;
    bool tried = false;
};

symbol_functions symbols;
HMODULE dbghelp = nullptr;

// The symbol options the walk needs: undecorated names, deferred loads, line numbers, and no
// error dialogs from the symbol loader.
constexpr DWORD symbol_options = SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES |
                                 SYMOPT_FAIL_CRITICAL_ERRORS;
static_assert(symbol_options == 0x216);

constexpr int max_frames = 20;
// The walk also stops after this many steps, so that a stack that keeps answering with skipped
// marker frames cannot hold the handler for ever.
constexpr int max_walk_steps = 256;
constexpr int line_search_distance = 100;  // the address and the 99 below it

template <typename F>
F bound(HMODULE module, const char* name) noexcept
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

template <typename T>
bool read_own_memory(std::uintptr_t address, T& out) noexcept
{
    SIZE_T read = 0;
    return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), &out, sizeof(out), &read) &&
           read == sizeof(out);
}

const char* after_last_backslash(const char* path) noexcept
{
    const char* slash = std::strrchr(path, '\\');
    return slash != nullptr ? slash + 1 : path;
}

void append_module(report_line& line, std::uintptr_t address, std::uintptr_t base) noexcept
{
    line.append("(0x%08" PRIXPTR "/0x%08" PRIXPTR ")", address - base, base);
}

void append_section(report_line& line, const module_section& m) noexcept
{
    if (m.section != 0 && m.offset != 0) {
        line.append(" %04x:%08x", static_cast<unsigned>(m.section), static_cast<unsigned>(m.offset));
    }
}

bool module_info(std::uintptr_t address, IMAGEHLP_MODULE64& info) noexcept
{
    std::memset(&info, 0, sizeof(info));
    info.SizeOfStruct = sizeof(info);
    if (symbols.module_info(symbols.process, address, &info)) {
        return true;
    }
    // Older dbghelp versions know only the record up to the loaded image name.
    info.SizeOfStruct = offsetof(IMAGEHLP_MODULE64, LoadedPdbName);
    return symbols.module_info(symbols.process, address, &info) != FALSE;
}

// Step 1 of describe_address: the location from the symbol functions. False when they are not
// bound or know no symbol at the address.
bool describe_with_symbols(std::uintptr_t address, report_line& line) noexcept
{
    if (symbols.from_addr == nullptr) {
        return false;
    }
    constexpr std::size_t max_name = 2000;
    alignas(SYMBOL_INFO) char storage[sizeof(SYMBOL_INFO) + max_name];
    std::memset(storage, 0, sizeof(SYMBOL_INFO));
    auto* symbol = reinterpret_cast<SYMBOL_INFO*>(storage);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol->MaxNameLen = max_name;
    DWORD64 displacement = 0;
    if (!symbols.from_addr(symbols.process, address, &displacement, symbol)) {
        return false;
    }
    symbol->Name[symbol->NameLen < max_name ? symbol->NameLen : max_name] = 0;

    IMAGEHLP_MODULE64 module;
    std::uintptr_t base = static_cast<std::uintptr_t>(symbol->ModBase);
    const char* module_name = nullptr;
    if (module_info(static_cast<std::uintptr_t>(symbol->Address), module)) {
        base = static_cast<std::uintptr_t>(module.BaseOfImage);
        module.ModuleName[sizeof(module.ModuleName) - 1] = 0;
        module_name = module.ModuleName;
    }
    append_module(line, address, base);
    if (module_name != nullptr && module_name[0] != 0) {
        line.append(" %s", module_name);
    }
    line.append(" %s+0x%08" PRIXPTR, symbol->Name, static_cast<std::uintptr_t>(displacement));

    IMAGEHLP_LINE64 source;
    for (int back = 0; back < line_search_distance && address >= static_cast<std::uintptr_t>(back); ++back) {
        std::memset(&source, 0, sizeof(source));
        source.SizeOfStruct = sizeof(source);
        DWORD line_displacement = 0;
        if (symbols.line_from_addr(symbols.process, address - back, &line_displacement, &source) &&
            source.FileName != nullptr) {
            line.append(" %s(%d)", source.FileName, static_cast<int>(source.LineNumber));
            return true;
        }
    }
    module_section m;
    if (module_section_of(address, m)) {
        append_section(line, m);
    }
    return true;
}

}  // namespace

HMODULE load_system_library(const wchar_t* file_name) noexcept
{
    wchar_t path[MAX_PATH + 32];
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return nullptr;
    }
    path[n++] = L'\\';
    for (const wchar_t* p = file_name; *p != 0 && n + 1 < sizeof(path) / sizeof(path[0]); ++p) {
        path[n++] = *p;
    }
    path[n] = 0;
    return LoadLibraryW(path);
}

void report_line::append(const char* format, ...) noexcept
{
    std::va_list args;
    va_start(args, format);
    append_list(format, args);
    va_end(args);
}

void report_line::append_list(const char* format, std::va_list args) noexcept
{
    if (size_ + 1 >= capacity) {
        return;
    }
    int n = std::vsnprintf(text_ + size_, capacity - size_, format, args);
    if (n < 0) {
        text_[size_] = 0;
        return;
    }
    // A cut line keeps what fit; the formatter has NUL-terminated it.
    size_ += static_cast<std::size_t>(n) < capacity - size_ ? static_cast<std::size_t>(n) : capacity - size_ - 1;
}

void report_line::finish() noexcept
{
    if (size_ + 1 >= capacity) {
        size_ = capacity - 2;
    }
    text_[size_++] = '\n';
    text_[size_] = 0;
}

HMODULE symbol_library() noexcept { return dbghelp; }

bool symbols_bound() noexcept { return symbols.from_addr != nullptr; }

void bind_symbols() noexcept
{
    if (symbols.tried) {
        return;
    }
    symbols.tried = true;
    dbghelp = load_system_library(L"dbghelp.dll");
    if (dbghelp == nullptr) {
        return;
    }
    auto get_options = bound<decltype(&SymGetOptions)>(dbghelp, "SymGetOptions");
    auto set_options = bound<decltype(&SymSetOptions)>(dbghelp, "SymSetOptions");
    auto initialize = bound<decltype(&SymInitialize)>(dbghelp, "SymInitialize");
    if (get_options == nullptr || set_options == nullptr || initialize == nullptr) {
        return;
    }
    set_options(get_options() | symbol_options);
    HANDLE process = GetCurrentProcess();
    if (!initialize(process, nullptr, TRUE)) {
        return;
    }
    symbol_functions found;
    found.process = process;
    found.from_addr = bound<decltype(found.from_addr)>(dbghelp, "SymFromAddr");
    found.module_info = bound<decltype(found.module_info)>(dbghelp, "SymGetModuleInfo64");
    found.line_from_addr = bound<decltype(found.line_from_addr)>(dbghelp, "SymGetLineFromAddr64");
    found.stack_walk = bound<decltype(found.stack_walk)>(dbghelp, "StackWalk64");
    found.function_table_access = bound<decltype(found.function_table_access)>(dbghelp, "SymFunctionTableAccess64");
    found.module_base = bound<decltype(found.module_base)>(dbghelp, "SymGetModuleBase64");
    found.tried = true;
    // All six or none: a partial set would mix located and unlocated frames.
    if (found.from_addr != nullptr && found.module_info != nullptr && found.line_from_addr != nullptr &&
        found.stack_walk != nullptr && found.function_table_access != nullptr && found.module_base != nullptr) {
        symbols = found;
    }
}

bool module_section_of(std::uintptr_t address, module_section& out, char* path, std::size_t path_size) noexcept
{
    out = module_section{};
    if (path != nullptr && path_size > 0) {
        path[0] = 0;
    }
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof(region)) == 0 ||
        region.AllocationBase == nullptr) {
        return false;
    }
    const auto base = reinterpret_cast<std::uintptr_t>(region.AllocationBase);
    // The headers are copied out with ReadProcessMemory, which reports an unreadable page as a
    // failure instead of faulting inside the crash handler.
    IMAGE_DOS_HEADER dos;
    if (!read_own_memory(base, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
        dos.e_lfanew > 0x10000) {
        return false;
    }
    const std::uintptr_t nt_address = base + static_cast<std::uintptr_t>(dos.e_lfanew);
    IMAGE_NT_HEADERS nt;
    if (!read_own_memory(nt_address, nt) || nt.Signature != IMAGE_NT_SIGNATURE) {
        return false;
    }
    out.base = base;
    const std::uintptr_t rva = address - base;
    std::uintptr_t section_address =
        nt_address + offsetof(IMAGE_NT_HEADERS, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    for (unsigned k = 0; k < nt.FileHeader.NumberOfSections; ++k, section_address += sizeof(IMAGE_SECTION_HEADER)) {
        IMAGE_SECTION_HEADER section;
        if (!read_own_memory(section_address, section)) {
            return false;
        }
        const std::uintptr_t start = section.VirtualAddress;
        const std::uintptr_t size =
            section.Misc.VirtualSize > section.SizeOfRawData ? section.Misc.VirtualSize : section.SizeOfRawData;
        if (rva >= start && rva - start < size) {
            out.section = k + 1;
            out.offset = static_cast<std::uint32_t>(rva - start);
            break;
        }
    }
    if (path != nullptr && path_size > 0) {
        DWORD n = GetModuleFileNameA(reinterpret_cast<HMODULE>(base), path, static_cast<DWORD>(path_size));
        path[n < path_size ? n : path_size - 1] = 0;
    }
    return true;
}

void describe_address(std::uintptr_t address, report_line& line) noexcept
{
    if (describe_with_symbols(address, line)) {
        return;
    }
    char path[2000];
    module_section m;
    if (!module_section_of(address, m, path, sizeof(path))) {
        return;
    }
    append_module(line, address, m.base);
    const char* name = after_last_backslash(path);
    if (name[0] != 0) {
        line.append(" %s", name);
    }
    append_section(line, m);
}

BOOL CALLBACK read_process_memory(HANDLE, DWORD64 address, PVOID buffer, DWORD size, LPDWORD bytes_read)
{
    SIZE_T read = 0;
    BOOL ok = ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address)),
                                buffer, size, &read);
    if (bytes_read != nullptr) {
        *bytes_read = static_cast<DWORD>(read);
    }
    return ok;
}

void walk_stack(const CONTEXT& context, const line_writer& writer) noexcept
{
    if (symbols.stack_walk == nullptr) {
        bind_symbols();
    }
    if (symbols.stack_walk == nullptr || symbols.function_table_access == nullptr || symbols.module_base == nullptr) {
        return;
    }
    // StackWalk64 updates the context as it goes.
    CONTEXT walked = context;
    STACKFRAME64 frame;
    std::memset(&frame, 0, sizeof(frame));
#if defined(__x86_64__)
    const DWORD machine = IMAGE_FILE_MACHINE_AMD64;
    frame.AddrPC.Offset = walked.Rip;
    frame.AddrFrame.Offset = walked.Rbp;
    frame.AddrStack.Offset = walked.Rsp;
#else
    const DWORD machine = IMAGE_FILE_MACHINE_I386;
    frame.AddrPC.Offset = walked.Eip;
    frame.AddrFrame.Offset = walked.Ebp;
    frame.AddrStack.Offset = walked.Esp;
#endif
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Mode = AddrModeFlat;

    int written = 0;
    for (int step = 0; written < max_frames && step < max_walk_steps; ++step) {
        if (!symbols.stack_walk(machine, symbols.process, GetCurrentThread(), &frame, &walked, &read_process_memory,
                                symbols.function_table_access, symbols.module_base, nullptr)) {
            break;
        }
        const auto pc = static_cast<std::uintptr_t>(frame.AddrPC.Offset);
        if (pc == 0xCAFE || pc == 0xFACE) {
            continue;
        }
        report_line line;
        line.append("bt:0x%08" PRIXPTR, pc);
        describe_address(pc, line);
        line.finish();
        writer(line);
        ++written;
    }
}

}  // namespace vantor::crash
