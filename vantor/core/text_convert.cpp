#include "vantor/core/text_convert.h"

#include <algorithm>
#include <climits>
#include <cstddef>

#include "vantor/core/exception.h"
#include "vantor/core/utf_step.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

// Units of the stack buffers that the Unicode conversions run through, and of the blocks in
// which UTF-32 bytes are read.
constexpr std::size_t buffer_units = 256;
// Units of the stack buffer of the first code-page attempt.
constexpr int first_attempt_units = 255;

constexpr int internal_error_bad_step_result = 195;
constexpr int internal_error_unknown_kind = 267;

constexpr const char* convert_domain = "/xstd/convert";

bool is_utf16_kind(int kind)
{
    return kind >= 4 && kind <= 6;
}
bool is_utf32_kind(int kind)
{
    return kind >= 7 && kind <= 9;
}

// Runs `step` over the whole source through a stack buffer and hands each filled part of the
// buffer to sink(begin, end). Unconvertible units are skipped one at a time; a sequence that
// the end of the source cuts short is dropped. A UTF-32 source holds no multi-unit sequence,
// so it may be driven block by block.
template <typename Out, typename In, typename Step, typename Sink>
void drive(const In* source, const In* source_end, Step step, Sink sink)
{
    Out buffer[buffer_units];
    while (source < source_end) {
        const In* start = source;
        Out* target = buffer;
        const step_result result = step(source, source_end, target, buffer + buffer_units, true);
        sink(buffer, target);
        switch (result) {
            case step_result::target_full:
                // Every step fits at least one sequence into an empty buffer of this size.
                if (source == start) {
                    throw internal_error(internal_error_bad_step_result);
                }
                break;
            case step_result::done:
            case step_result::source_exhausted:
            case step_result::illegal_input:
                if (result == step_result::illegal_input && source < source_end) {
                    ++source;
                } else if (source == start) {
                    return;
                }
                break;
            default:
                throw internal_error(internal_error_bad_step_result);
        }
    }
}

std::uint32_t read_unit(const char* p, std::size_t bytes, bool big_endian)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        const std::size_t at = big_endian ? i : bytes - 1 - i;
        v = v << 8 | static_cast<std::uint8_t>(p[at]);
    }
    return v;
}

void append_unit(std::string& out, std::uint32_t v, std::size_t bytes, bool big_endian)
{
    char b[4];
    for (std::size_t i = 0; i < bytes; ++i) {
        const std::size_t at = big_endian ? bytes - 1 - i : i;
        b[at] = static_cast<char>(v >> (8 * i) & 0xFF);
    }
    out.append(b, bytes);
}

const std::uint8_t* byte_begin(const std::string& s)
{
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::wstring utf8_to_wide(const std::string& narrow)
{
    std::wstring out;
    // A UTF-8 text never has more UTF-16 units than bytes.
    out.reserve(narrow.size());
    const std::uint8_t* begin = byte_begin(narrow);
    drive<wchar_t>(begin, begin + narrow.size(), utf8_to_utf16_step,
                   [&out](const wchar_t* b, const wchar_t* e) { out.append(b, e); });
    return out;
}

std::string wide_to_utf8(const std::wstring& wide)
{
    std::string out;
    drive<std::uint8_t>(wide.data(), wide.data() + wide.size(), utf16_to_utf8_step,
                        [&out](const std::uint8_t* b, const std::uint8_t* e) {
                            out.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b));
                        });
    return out;
}

std::wstring utf16_bytes_to_wide(const std::string& narrow, bool big_endian)
{
    const std::size_t units = narrow.size() / 2;
    std::wstring out(units, L'\0');
    for (std::size_t i = 0; i < units; ++i) {
        out[i] = static_cast<wchar_t>(read_unit(narrow.data() + 2 * i, 2, big_endian));
    }
    return out;
}

std::string wide_to_utf16_bytes(const std::wstring& wide, bool big_endian)
{
    std::string out;
    out.reserve(wide.size() * 2);
    for (wchar_t unit : wide) {
        append_unit(out, static_cast<std::uint16_t>(unit), 2, big_endian);
    }
    return out;
}

// The bytes are read into an aligned block of host-order units before each step, which also
// takes care of the byte order.
std::wstring utf32_bytes_to_wide(const std::string& narrow, bool big_endian)
{
    const std::size_t units = narrow.size() / 4;
    std::wstring out;
    out.reserve(units);
    std::uint32_t block[buffer_units];
    for (std::size_t done = 0; done < units;) {
        const std::size_t n = std::min(buffer_units, units - done);
        for (std::size_t i = 0; i < n; ++i) {
            block[i] = read_unit(narrow.data() + 4 * (done + i), 4, big_endian);
        }
        drive<wchar_t>(static_cast<const std::uint32_t*>(block), block + n, utf32_to_utf16_step,
                       [&out](const wchar_t* b, const wchar_t* e) { out.append(b, e); });
        done += n;
    }
    return out;
}

std::string wide_to_utf32_bytes(const std::wstring& wide, bool big_endian)
{
    std::string out;
    out.reserve(wide.size() * 4);
    drive<std::uint32_t>(wide.data(), wide.data() + wide.size(), utf16_to_utf32_step,
                         [&out, big_endian](const std::uint32_t* b, const std::uint32_t* e) {
                             for (; b != e; ++b) {
                                 append_unit(out, *b, 4, big_endian);
                             }
                         });
    return out;
}

UINT code_page_of(int kind)
{
    switch (kind) {
        case encoding_ansi:
            return CP_ACP;
        case encoding_cp437:
            return 437;
        case encoding_latin1:
            return 28591;
        default:
            throw internal_error(internal_error_unknown_kind);
    }
}

int checked_length(std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX)) {
        throw_error_at(convert_domain, std::string());
    }
    return static_cast<int>(size);
}

std::wstring code_page_to_wide(UINT code_page, const std::string& narrow)
{
    if (narrow.empty()) {
        return std::wstring();
    }
    const int length = checked_length(narrow.size());
    wchar_t first[first_attempt_units];
    int n = MultiByteToWideChar(code_page, 0, narrow.data(), length, first, first_attempt_units);
    if (n > 0) {
        return std::wstring(first, static_cast<std::size_t>(n));
    }
    const int needed = MultiByteToWideChar(code_page, 0, narrow.data(), length, nullptr, 0);
    if (needed <= 0) {
        throw_error_at(convert_domain, std::string());
    }
    std::wstring out(static_cast<std::size_t>(needed), L'\0');
    n = MultiByteToWideChar(code_page, 0, narrow.data(), length, out.data(), needed);
    if (n <= 0) {
        throw_error_at(convert_domain, std::string());
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string code_page_from_wide(UINT code_page, const std::wstring& wide)
{
    if (wide.empty()) {
        return std::string();
    }
    const int length = checked_length(wide.size());
    char first[first_attempt_units];
    int n =
        WideCharToMultiByte(code_page, 0, wide.data(), length, first, first_attempt_units, nullptr, nullptr);
    if (n > 0) {
        return std::string(first, static_cast<std::size_t>(n));
    }
    const int needed = WideCharToMultiByte(code_page, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        throw_error_at(convert_domain, std::string());
    }
    std::string out(static_cast<std::size_t>(needed), '\0');
    n = WideCharToMultiByte(code_page, 0, wide.data(), length, out.data(), needed, nullptr, nullptr);
    if (n <= 0) {
        throw_error_at(convert_domain, std::string());
    }
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

std::wstring to_wide(int kind, const std::string& narrow)
{
    if (kind == encoding_utf8) {
        return utf8_to_wide(narrow);
    }
    if (is_utf16_kind(kind)) {
        return utf16_bytes_to_wide(narrow, kind == encoding_utf16be);
    }
    if (is_utf32_kind(kind)) {
        return utf32_bytes_to_wide(narrow, kind == encoding_utf32be);
    }
    return code_page_to_wide(code_page_of(kind), narrow);
}

std::string from_wide(int kind, const std::wstring& wide)
{
    if (kind == encoding_utf8) {
        return wide_to_utf8(wide);
    }
    if (is_utf16_kind(kind)) {
        return wide_to_utf16_bytes(wide, kind == encoding_utf16be);
    }
    if (is_utf32_kind(kind)) {
        return wide_to_utf32_bytes(wide, kind == encoding_utf32be);
    }
    return code_page_from_wide(code_page_of(kind), wide);
}

std::string utf8_to_utf16_bytes(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    const std::uint8_t* begin = byte_begin(utf8);
    drive<wchar_t>(begin, begin + utf8.size(), utf8_to_utf16_step,
                   [&out](const wchar_t* b, const wchar_t* e) {
                       for (; b != e; ++b) {
                           append_unit(out, static_cast<std::uint16_t>(*b), 2, false);
                       }
                   });
    return out;
}

void append_utf8_codepoint(std::uint32_t code_point, std::string& out)
{
    const std::uint32_t* source = &code_point;
    drive<std::uint8_t>(source, source + 1, utf32_to_utf8_step,
                        [&out](const std::uint8_t* b, const std::uint8_t* e) {
                            out.append(reinterpret_cast<const char*>(b), static_cast<std::size_t>(e - b));
                        });
}

std::wstring code_page_to_wide_for_testing(unsigned code_page, const std::string& narrow)
{
    return code_page_to_wide(code_page, narrow);
}

std::string code_page_from_wide_for_testing(unsigned code_page, const std::wstring& wide)
{
    return code_page_from_wide(code_page, wide);
}

wide_arg::wide_arg(const std::string& text) : wide_(to_wide(encoding_utf8, text)) {}

wide_arg::wide_arg(const char* text)
    : wide_(text != nullptr ? to_wide(encoding_utf8, std::string(text)) : std::wstring())
{
}

}  // namespace vantor
