#include "vantor/core/utf_step.h"

#include <cstddef>

namespace vantor {
namespace {

static_assert(sizeof(wchar_t) == 2, "UTF-16 text is held in 16-bit wchar_t");

constexpr std::uint32_t replacement_char = 0xFFFD;
constexpr std::uint32_t max_bmp = 0xFFFF;
constexpr std::uint32_t max_code_point = 0x10FFFF;
constexpr std::uint32_t high_surrogate_first = 0xD800;
constexpr std::uint32_t high_surrogate_last = 0xDBFF;
constexpr std::uint32_t low_surrogate_first = 0xDC00;
constexpr std::uint32_t low_surrogate_last = 0xDFFF;
constexpr std::uint32_t supplementary_base = 0x10000;
constexpr int half_shift = 10;
constexpr std::uint32_t half_mask = 0x3FF;

bool is_high_surrogate(std::uint32_t v)
{
    return v >= high_surrogate_first && v <= high_surrogate_last;
}
bool is_low_surrogate(std::uint32_t v)
{
    return v >= low_surrogate_first && v <= low_surrogate_last;
}
bool is_surrogate(std::uint32_t v)
{
    return v >= high_surrogate_first && v <= low_surrogate_last;
}

// The length of the UTF-8 sequence that a lead byte starts, or 0 for a byte that never
// starts a well-formed sequence (a continuation byte, C0, C1 and F5..FF).
std::ptrdiff_t utf8_sequence_length(std::uint8_t lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC2) {
        return 0;
    }
    if (lead < 0xE0) {
        return 2;
    }
    if (lead < 0xF0) {
        return 3;
    }
    if (lead < 0xF5) {
        return 4;
    }
    return 0;
}

// Whether `byte` may stand at `index` (1 or more) of a sequence that starts with `lead`.
// The narrower second-byte ranges exclude overlong forms, encoded surrogates and values
// above U+10FFFF.
bool utf8_continuation_ok(std::uint8_t lead, std::ptrdiff_t index, std::uint8_t byte)
{
    if (index == 1) {
        switch (lead) {
            case 0xE0:
                return byte >= 0xA0 && byte <= 0xBF;
            case 0xED:
                return byte >= 0x80 && byte <= 0x9F;
            case 0xF0:
                return byte >= 0x90 && byte <= 0xBF;
            case 0xF4:
                return byte >= 0x80 && byte <= 0x8F;
            default:
                break;
        }
    }
    return byte >= 0x80 && byte <= 0xBF;
}

// Reads the sequence at `s`. A sequence whose bytes are well-formed so far but which the end
// of the source cuts short is source_exhausted; one that is ill-formed within the bytes present
// is illegal_input, so the valid text after a broken sequence is never taken for its tail.
// A well-formed sequence always decodes to a scalar value (no surrogate, at most U+10FFFF).
step_result read_utf8(const std::uint8_t* s, const std::uint8_t* end, std::uint32_t& code_point,
                      std::ptrdiff_t& length)
{
    const std::uint8_t lead = s[0];
    const std::ptrdiff_t n = utf8_sequence_length(lead);
    if (n == 0) {
        return step_result::illegal_input;
    }
    const std::ptrdiff_t present = n < end - s ? n : end - s;
    for (std::ptrdiff_t i = 1; i < present; ++i) {
        if (!utf8_continuation_ok(lead, i, s[i])) {
            return step_result::illegal_input;
        }
    }
    if (present < n) {
        return step_result::source_exhausted;
    }
    switch (n) {
        case 1:
            code_point = lead;
            break;
        case 2:
            code_point = (std::uint32_t{lead} & 0x1F) << 6 | (s[1] & 0x3Fu);
            break;
        case 3:
            code_point = (std::uint32_t{lead} & 0x0F) << 12 | (s[1] & 0x3Fu) << 6 | (s[2] & 0x3Fu);
            break;
        default:
            code_point = (std::uint32_t{lead} & 0x07) << 18 | (s[1] & 0x3Fu) << 12 | (s[2] & 0x3Fu) << 6 |
                         (s[3] & 0x3Fu);
            break;
    }
    length = n;
    return step_result::done;
}

// Reads one code point from UTF-16 at `s`: a surrogate pair is joined; an unpaired surrogate
// is passed on in lenient mode and illegal otherwise; a high surrogate as the last unit is
// source_exhausted.
step_result read_utf16(const wchar_t* s, const wchar_t* end, bool lenient, std::uint32_t& code_point,
                       std::ptrdiff_t& length)
{
    const std::uint32_t first = static_cast<std::uint16_t>(s[0]);
    code_point = first;
    length = 1;
    if (is_high_surrogate(first)) {
        if (end - s < 2) {
            return step_result::source_exhausted;
        }
        const std::uint32_t second = static_cast<std::uint16_t>(s[1]);
        if (is_low_surrogate(second)) {
            code_point = ((first - high_surrogate_first) << half_shift) + (second - low_surrogate_first) +
                         supplementary_base;
            length = 2;
        } else if (!lenient) {
            return step_result::illegal_input;
        }
    } else if (is_low_surrogate(first) && !lenient) {
        return step_result::illegal_input;
    }
    return step_result::done;
}

std::ptrdiff_t utf8_length(std::uint32_t code_point)
{
    if (code_point < 0x80) {
        return 1;
    }
    if (code_point < 0x800) {
        return 2;
    }
    if (code_point < supplementary_base) {
        return 3;
    }
    return 4;
}

// Writes a code point of at most U+10FFFF (surrogate values included) as `length` bytes.
void write_utf8(std::uint32_t code_point, std::ptrdiff_t length, std::uint8_t*& target)
{
    switch (length) {
        case 1:
            target[0] = static_cast<std::uint8_t>(code_point);
            break;
        case 2:
            target[0] = static_cast<std::uint8_t>(0xC0 | code_point >> 6);
            target[1] = static_cast<std::uint8_t>(0x80 | (code_point & 0x3F));
            break;
        case 3:
            target[0] = static_cast<std::uint8_t>(0xE0 | code_point >> 12);
            target[1] = static_cast<std::uint8_t>(0x80 | (code_point >> 6 & 0x3F));
            target[2] = static_cast<std::uint8_t>(0x80 | (code_point & 0x3F));
            break;
        default:
            target[0] = static_cast<std::uint8_t>(0xF0 | code_point >> 18);
            target[1] = static_cast<std::uint8_t>(0x80 | (code_point >> 12 & 0x3F));
            target[2] = static_cast<std::uint8_t>(0x80 | (code_point >> 6 & 0x3F));
            target[3] = static_cast<std::uint8_t>(0x80 | (code_point & 0x3F));
            break;
    }
    target += length;
}

// Writes a scalar value or a passed-on surrogate as one or two UTF-16 units; false when the
// target has no room for them.
bool write_utf16(std::uint32_t code_point, wchar_t*& target, wchar_t* target_end)
{
    if (code_point <= max_bmp) {
        if (target >= target_end) {
            return false;
        }
        *target++ = static_cast<wchar_t>(code_point);
        return true;
    }
    if (target_end - target < 2) {
        return false;
    }
    const std::uint32_t v = code_point - supplementary_base;
    *target++ = static_cast<wchar_t>(high_surrogate_first + (v >> half_shift));
    *target++ = static_cast<wchar_t>(low_surrogate_first + (v & half_mask));
    return true;
}

}  // namespace

// UTF-8 input is checked the same way in both modes, and a well-formed sequence never
// yields a surrogate or a value above U+10FFFF, so the flag changes nothing here.
step_result utf8_to_utf16_step(const std::uint8_t*& source, const std::uint8_t* source_end, wchar_t*& target,
                               wchar_t* target_end, bool /*lenient*/)
{
    while (source < source_end) {
        if (*source < 0x80) {
            if (target >= target_end) {
                return step_result::target_full;
            }
            *target++ = static_cast<wchar_t>(*source++);
            continue;
        }
        std::uint32_t code_point = 0;
        std::ptrdiff_t length = 0;
        const step_result read = read_utf8(source, source_end, code_point, length);
        if (read != step_result::done) {
            return read;
        }
        if (!write_utf16(code_point, target, target_end)) {
            return step_result::target_full;
        }
        source += length;
    }
    return step_result::done;
}

step_result utf8_to_utf32_step(const std::uint8_t*& source, const std::uint8_t* source_end,
                               std::uint32_t*& target, std::uint32_t* target_end, bool /*lenient*/)
{
    while (source < source_end) {
        std::uint32_t code_point = 0;
        std::ptrdiff_t length = 0;
        const step_result read = read_utf8(source, source_end, code_point, length);
        if (read != step_result::done) {
            return read;
        }
        if (target >= target_end) {
            return step_result::target_full;
        }
        *target++ = code_point;
        source += length;
    }
    return step_result::done;
}

step_result utf16_to_utf8_step(const wchar_t*& source, const wchar_t* source_end, std::uint8_t*& target,
                               std::uint8_t* target_end, bool lenient)
{
    while (source < source_end) {
        std::uint32_t code_point = 0;
        std::ptrdiff_t units = 0;
        const step_result read = read_utf16(source, source_end, lenient, code_point, units);
        if (read != step_result::done) {
            return read;
        }
        const std::ptrdiff_t length = utf8_length(code_point);
        if (target_end - target < length) {
            return step_result::target_full;
        }
        write_utf8(code_point, length, target);
        source += units;
    }
    return step_result::done;
}

step_result utf16_to_utf32_step(const wchar_t*& source, const wchar_t* source_end, std::uint32_t*& target,
                                std::uint32_t* target_end, bool lenient)
{
    while (source < source_end) {
        std::uint32_t code_point = 0;
        std::ptrdiff_t units = 0;
        const step_result read = read_utf16(source, source_end, lenient, code_point, units);
        if (read != step_result::done) {
            return read;
        }
        if (target >= target_end) {
            return step_result::target_full;
        }
        *target++ = code_point;
        source += units;
    }
    return step_result::done;
}

step_result utf32_to_utf16_step(const std::uint32_t*& source, const std::uint32_t* source_end,
                                wchar_t*& target, wchar_t* target_end, bool lenient)
{
    while (source < source_end) {
        std::uint32_t code_point = *source;
        if (is_surrogate(code_point) || code_point > max_code_point) {
            if (!lenient) {
                return step_result::illegal_input;
            }
            code_point = replacement_char;
        }
        if (!write_utf16(code_point, target, target_end)) {
            return step_result::target_full;
        }
        ++source;
    }
    return step_result::done;
}

// A value above U+10FFFF is replaced in both modes; the step then finishes its source and
// reports illegal_input, unless the target fills first.
step_result utf32_to_utf8_step(const std::uint32_t*& source, const std::uint32_t* source_end,
                               std::uint8_t*& target, std::uint8_t* target_end, bool lenient)
{
    step_result result = step_result::done;
    while (source < source_end) {
        std::uint32_t code_point = *source;
        if (is_surrogate(code_point) && !lenient) {
            return step_result::illegal_input;
        }
        bool replaced = false;
        if (code_point > max_code_point) {
            code_point = replacement_char;
            replaced = true;
        }
        const std::ptrdiff_t length = utf8_length(code_point);
        if (target_end - target < length) {
            return step_result::target_full;
        }
        write_utf8(code_point, length, target);
        ++source;
        if (replaced) {
            result = step_result::illegal_input;
        }
    }
    return result;
}

}  // namespace vantor
