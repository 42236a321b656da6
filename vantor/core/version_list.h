#pragma once
// Version lists such as "1,3-5,0x10": comma-separated single versions and ranges, compared by
// overlap. The session service and its client agree on their interface version with them.
// Nothing here raises: text that does not parse gives the value 0 or is skipped.
#include <cstdint>
#include <string>

#include "vantor/core/vector.h"

namespace vantor {

struct version_range {
    std::uint64_t min;
    std::uint64_t max;

    // {min(x, y), max(x, y)}.
    static version_range normalize(std::uint64_t x, std::uint64_t y) noexcept;
};

// "0x" or "0X" followed by hexadecimal digits (any other character counts as the digit 0; only
// the last 16 digits stay), else a signed 64-bit decimal number taken as its bits; no digit
// gives 0.
std::uint64_t parse_number_or_hex(const std::string& text);

// Appends the ranges of `text` in text order: entries between commas, each one value or two
// values joined by "-" (an empty text reads as "1"; an entry of any other shape is skipped).
// True when at least one range was added.
bool parse_version_ranges(vantor_stl::vector<version_range>& ranges, const std::string& text);

// True when either list is exactly "*", or some range of one meets some range of the other;
// false when either list has no range.
bool version_list_matches(const std::string& a, const std::string& b);

}  // namespace vantor
