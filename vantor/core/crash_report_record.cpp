// The text record of the crash handler: one record per crash appended to "coredump.txt".
#include <cinttypes>
#include <cstdarg>
#include <cstdint>

#include "vantor/core/crash_report.h"
#include "vantor/core/crash_report_symbols.h"
#include "vantor/core/win_api.h"
// After the project's Windows header, so that its settings apply to the declarations.
#include <psapi.h>

namespace vantor::crash {
namespace {

bool fault_after_first_line = false;
// The testing fault's target, held in a volatile so that the compiler keeps the write.
volatile std::uintptr_t testing_fault_address = 0;

// The nested exception records are followed at most this deep, so that a corrupt chain that
// loops cannot hold the handler.
constexpr int max_exception_records = 32;

// "coredump.txt" opened for appending; each line is written at once and flushed, so that a
// second fault during the record keeps every line written before it.
class record_file {
public:
    record_file() noexcept
        : file_(CreateFileW(L"coredump.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        if (file_ != INVALID_HANDLE_VALUE) {
            SetFilePointer(file_, 0, nullptr, FILE_END);
        }
    }
    record_file(const record_file&) = delete;
    record_file& operator=(const record_file&) = delete;
    ~record_file()
    {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
        }
    }

    bool is_open() const noexcept { return file_ != INVALID_HANDLE_VALUE; }

    void write(const report_line& line) noexcept
    {
        DWORD written = 0;
        WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        FlushFileBuffers(file_);
    }

    line_writer writer() noexcept
    {
        return {[](void* self, const report_line& line) noexcept { static_cast<record_file*>(self)->write(line); },
                this};
    }

private:
    HANDLE file_;
};

__attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3))) void write_line(record_file& file, const char* format, ...) noexcept
{
    report_line line;
    std::va_list args;
    va_start(args, format);
    line.append_list(format, args);
    va_end(args);
    file.write(line);
}

void write_memory_lines(record_file& file) noexcept
{
    using performance_info_fn = decltype(&GetPerformanceInfo);
    performance_info_fn performance_info = nullptr;
    if (HMODULE psapi = load_system_library(L"psapi.dll")) {
        performance_info =
            reinterpret_cast<performance_info_fn>(reinterpret_cast<void*>(GetProcAddress(psapi, "GetPerformanceInfo")));
    }
    PERFORMANCE_INFORMATION performance{};
    performance.cb = sizeof(performance);
    if (performance_info != nullptr && performance_info(&performance, sizeof(performance))) {
        write_line(file, "hc:%d;tc:%d\n", static_cast<int>(performance.HandleCount),
                   static_cast<int>(performance.ThreadCount));
        write_line(file, "gps:%d;gct:%d;gmt:%d;gma:%d\n", static_cast<int>(performance.PageSize),
                   static_cast<int>(performance.CommitTotal), static_cast<int>(performance.PhysicalTotal),
                   static_cast<int>(performance.PhysicalAvailable));
        return;
    }
    MEMORYSTATUS status{};
    status.dwLength = sizeof(status);
    GlobalMemoryStatus(&status);
    write_line(file, "gm:%lu,%llu,%llu,%llu,%llu\n", status.dwMemoryLoad,
               static_cast<unsigned long long>(status.dwTotalPhys), static_cast<unsigned long long>(status.dwAvailPhys),
               static_cast<unsigned long long>(status.dwTotalVirtual),
               static_cast<unsigned long long>(status.dwAvailVirtual));
}

void write_process_lines(record_file& file, DWORD code) noexcept
{
    write_line(file, "pid:%u;tid:%lu\n", static_cast<unsigned>(GetCurrentProcessId()), GetCurrentThreadId());
    if (fault_after_first_line) {
        *reinterpret_cast<volatile int*>(testing_fault_address) = 0;
    }
    write_line(file, "ex:0x%x\n", static_cast<unsigned>(code));

    char program[1024];
    DWORD length = GetModuleFileNameA(nullptr, program, sizeof(program));
    if (length > 0 && length < sizeof(program)) {
        program[length] = 0;
        write_line(file, "fn:%s\n", program);
    }

    SYSTEMTIME now;
    GetSystemTime(&now);
    write_line(file, "t:%d-%02d-%02dT%02d:%02d:%02dZ\n", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
               now.wSecond);

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    write_line(file, "pn:%d;pt:%d\n", static_cast<int>(system.dwNumberOfProcessors),
               static_cast<int>(system.dwProcessorType));

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(&version)) {
        version.szCSDVersion[sizeof(version.szCSDVersion) - 1] = 0;
        write_line(file, "gw:%d,%d.%04d,%d,%s\n", static_cast<int>(version.dwPlatformId),
                   static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion),
                   static_cast<int>(version.dwBuildNumber), version.szCSDVersion);
    }
    write_memory_lines(file);
}

void write_exception_lines(record_file& file, const EXCEPTION_RECORD* record) noexcept
{
    for (int k = 1; record != nullptr && k <= max_exception_records; ++k, record = record->ExceptionRecord) {
        write_line(file, "e:%d;ex:0x%x;efl:%x\n", k, static_cast<unsigned>(record->ExceptionCode),
                   static_cast<unsigned>(record->ExceptionFlags));

        const auto address = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
        report_line where;
        where.append("ea:0x%08" PRIXPTR, address);
        describe_address(address, where);
        where.finish();
        file.write(where);

        DWORD count = record->NumberParameters;
        if (count > EXCEPTION_MAXIMUM_PARAMETERS) {
            count = EXCEPTION_MAXIMUM_PARAMETERS;
        }
        if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && count > 0) {
            write_line(file, "eaop:%s\n", record->ExceptionInformation[0] != 0 ? "w" : "r");
        }
        if (count > 0) {
            report_line parameters;
            for (DWORD p = 0; p < count; ++p) {
                parameters.append(p == 0 ? "ep:0x%08" PRIXPTR : ";ep:0x%08" PRIXPTR,
                                  static_cast<std::uintptr_t>(record->ExceptionInformation[p]));
            }
            parameters.finish();
            file.write(parameters);
        }
    }
}

}  // namespace

void fault_during_report_for_testing() noexcept { fault_after_first_line = true; }

void write_coredump(DWORD code, const EXCEPTION_POINTERS* info) noexcept
{
    record_file file;
    if (!file.is_open()) {
        return;
    }
    write_process_lines(file, code);
    bind_symbols();
    if (info != nullptr) {
        write_exception_lines(file, info->ExceptionRecord);
        if (info->ContextRecord != nullptr) {
            walk_stack(*info->ContextRecord, file.writer());
        }
    }
    write_line(file, "\n");
}

}  // namespace vantor::crash
