#pragma once
// Step converters between UTF-8, UTF-16 and UTF-32. Each converts from *source up to
// source_end into *target up to target_end, advances both cursors past what it converted and
// reports why it stopped. On result 1, 2 or 3 the source cursor rests on the first unit of
// the sequence it could not convert, so a caller may resume or skip from there.
//
// Every caller in the system passes lenient = true, which relaxes the checks as follows:
//  - UTF-16 input: an unpaired surrogate is passed on as if it were a code point;
//  - UTF-32 to UTF-16: a surrogate value or a value above U+10FFFF becomes U+FFFD;
//  - UTF-32 to UTF-8: a surrogate value is written as three bytes; a value above U+10FFFF
//    becomes U+FFFD and the step reports illegal_input once the whole source is converted.
// UTF-8 input is checked strictly in both modes: a byte below 0x80 stands alone; a longer
// sequence starts with 0xC2..0xF4 and continues with 0x80..0xBF, except that the second byte
// lies in A0..BF after E0, 80..9F after ED, 90..BF after F0 and 80..8F after F4 (so overlong
// forms, encoded surrogates and values above U+10FFFF are ill-formed).
#include <cstdint>

namespace vantor {

enum class step_result : int {
    done = 0,
    source_exhausted = 1,  // the source ends inside a sequence that is well-formed so far
    target_full = 2,
    illegal_input = 3,
};

step_result utf8_to_utf16_step(const std::uint8_t*& source, const std::uint8_t* source_end, wchar_t*& target,
                               wchar_t* target_end, bool lenient);
step_result utf8_to_utf32_step(const std::uint8_t*& source, const std::uint8_t* source_end,
                               std::uint32_t*& target, std::uint32_t* target_end, bool lenient);
step_result utf16_to_utf8_step(const wchar_t*& source, const wchar_t* source_end, std::uint8_t*& target,
                               std::uint8_t* target_end, bool lenient);
step_result utf16_to_utf32_step(const wchar_t*& source, const wchar_t* source_end, std::uint32_t*& target,
                                std::uint32_t* target_end, bool lenient);
step_result utf32_to_utf16_step(const std::uint32_t*& source, const std::uint32_t* source_end,
                                wchar_t*& target, wchar_t* target_end, bool lenient);
step_result utf32_to_utf8_step(const std::uint32_t*& source, const std::uint32_t* source_end,
                               std::uint8_t*& target, std::uint8_t* target_end, bool lenient);

}  // namespace vantor
