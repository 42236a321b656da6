#include "vantor/core/windows_version.h"

#include <cstring>

namespace vantor {
namespace {

using rtl_get_version_fn = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW* record);

std::uint32_t word_of(std::uint32_t major, std::uint32_t minor) noexcept
{
    return ((major & 0xFFFFu) << 16) | (minor & 0xFFFFu);
}

}  // namespace

bool rtl_version(RTL_OSVERSIONINFOEXW& record) noexcept
{
    std::memset(&record, 0, sizeof(record));
    record.dwOSVersionInfoSize = sizeof(record);
    // ntdll is mapped into every process, so its handle is taken without loading it again.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return false;
    }
    auto get = reinterpret_cast<rtl_get_version_fn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    return get != nullptr && get(&record) == 0;
}

std::uint32_t windows_version_word() noexcept
{
    RTL_OSVERSIONINFOEXW record;
    if (rtl_version(record)) {
        return word_of(record.dwMajorVersion, record.dwMinorVersion);
    }
    OSVERSIONINFOW info;
    std::memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    BOOL ok = GetVersionExW(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok || info.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        return 0;
    }
    return word_of(info.dwMajorVersion, info.dwMinorVersion);
}

bool windows_at_least_xp(std::uint32_t word) noexcept
{
    return word > 0x5FFFFu || ((word >> 16) == 5 && (word & 0xFFFFu) != 0);
}

bool windows_at_least_vista(std::uint32_t word) noexcept { return word > 0x5FFFFu; }

bool windows_at_least_8(std::uint32_t word) noexcept
{
    return word > 0x6FFFFu || ((word >> 16) == 6 && (word & 0xFFFFu) > 1);
}

bool windows_build_at_least_19041(std::uint32_t major, std::uint32_t minor, std::uint32_t build) noexcept
{
    return major > 10 || (major == 10 && (minor != 0 || build > 19040));
}

bool windows_at_least_xp() noexcept { return windows_at_least_xp(windows_version_word()); }
bool windows_at_least_vista() noexcept { return windows_at_least_vista(windows_version_word()); }
bool windows_at_least_8() noexcept { return windows_at_least_8(windows_version_word()); }

bool windows_build_at_least_19041() noexcept
{
    RTL_OSVERSIONINFOEXW record;
    return rtl_version(record) &&
           windows_build_at_least_19041(record.dwMajorVersion, record.dwMinorVersion, record.dwBuildNumber);
}

std::uint32_t windows_build_number() noexcept
{
    RTL_OSVERSIONINFOEXW record;
    return rtl_version(record) ? record.dwBuildNumber : 0;
}

}  // namespace vantor
