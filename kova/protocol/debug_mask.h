#pragma once
// The engine's process-wide debug-category mask: each set bit turns on the detail log lines of
// one category. It is 0 until the plug-in or helper start sets it from the environment, which
// happens before any encoder or viewer runs; afterwards it is only read.
#include <cstdint>

namespace kova {

extern std::uint32_t debug_mask;

// The allowed-application rule evaluation and the driver's window checks.
inline constexpr std::uint32_t debug_encoder_filters = 0x8000;

inline bool debug_on(std::uint32_t category) noexcept
{
    return (debug_mask & category) != 0;
}

}  // namespace kova
