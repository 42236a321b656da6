#pragma once
// The operating-system version as the system's own branches ask for it. The version comes from
// RtlGetVersion, which reports the real version whatever the program's manifest says; only when
// that is missing does GetVersionExW answer. None of these functions raises.
#include <cstdint>

#include "vantor/core/win_api.h"

namespace vantor {

// RtlGetVersion of the already loaded "ntdll.dll" into `record` (zeroed first, its size field
// set). False when the function is missing or answers a failure status.
bool rtl_version(RTL_OSVERSIONINFOEXW& record) noexcept;

// (major << 16) | minor, each as 16 bits; 0 when no version can be had.
std::uint32_t windows_version_word() noexcept;

// 5.1 (XP) and later; 6.0 (Vista) and later; 6.2 (Windows 8) and later.
bool windows_at_least_xp() noexcept;
bool windows_at_least_vista() noexcept;
bool windows_at_least_8() noexcept;
// Windows 10 build 19041 (version 2004) and later; false when RtlGetVersion fails.
bool windows_build_at_least_19041() noexcept;
// The build number; 0 when RtlGetVersion fails.
std::uint32_t windows_build_number() noexcept;

// The same decisions on given version numbers.
bool windows_at_least_xp(std::uint32_t version_word) noexcept;
bool windows_at_least_vista(std::uint32_t version_word) noexcept;
bool windows_at_least_8(std::uint32_t version_word) noexcept;
bool windows_build_at_least_19041(std::uint32_t major, std::uint32_t minor, std::uint32_t build) noexcept;

}  // namespace vantor
