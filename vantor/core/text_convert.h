#pragma once
// Conversions between the narrow texts of the system (normally UTF-8) and the UTF-16 texts of
// the Windows API. Unicode conversions never fail: ill-formed units are dropped.
#include <cstdint>
#include <string>

namespace vantor {

// Encoding kinds: the narrow side of a conversion.
enum : int {
    encoding_ansi = 0,  // the system's ANSI code page
    encoding_cp437 = 1,
    encoding_latin1 = 2,  // code page 28591
    encoding_utf8 = 3,
    encoding_utf16le = 4,  // also 6
    encoding_utf16be = 5,
    encoding_utf32le = 7,  // also 9
    encoding_utf32be = 8,
};

// Kind 3: UTF-8 to UTF-16, ill-formed bytes and an incomplete sequence at the end dropped.
// Kinds 4 to 6: the bytes taken as UTF-16 units unchanged (a trailing odd byte is ignored).
// Kinds 7 to 9: the bytes taken as UTF-32 units (a trailing partial unit is ignored); surrogate
// values and values above U+10FFFF become U+FFFD.
// Kinds 0 to 2: MultiByteToWideChar with the kind's code page.
// Throws internal_error(267) for any other kind, and "/xstd/convert:" when the system cannot
// convert the text.
std::wstring to_wide(int kind, const std::string& narrow);

// Kind 3: UTF-16 to UTF-8; an unpaired surrogate is written as three bytes, except a high
// surrogate as the last unit, which is dropped.
// Kinds 4 to 6: every unit as two bytes; kinds 7 to 9: every code point as four bytes.
// Kinds 0 to 2: WideCharToMultiByte with the kind's code page and no default character.
// Throws as to_wide.
std::string from_wide(int kind, const std::wstring& wide);

// The UTF-16 code units of a UTF-8 text as little-endian byte pairs.
std::string utf8_to_utf16_bytes(const std::string& utf8);

// Appends one code point as UTF-8: a surrogate value as three bytes, a value above U+10FFFF
// as U+FFFD.
void append_utf8_codepoint(std::uint32_t code_point, std::string& out);

// The code-page conversions of to_wide and from_wide, for any code page.
std::wstring code_page_to_wide_for_testing(unsigned code_page, const std::string& narrow);
std::string code_page_from_wide_for_testing(unsigned code_page, const std::wstring& wide);

// A temporary UTF-16 copy of a UTF-8 text for one system call. A null pointer gives an empty
// text.
class wide_arg {
public:
    explicit wide_arg(const std::string& text);
    explicit wide_arg(const char* text);
    const wchar_t* c_str() const { return wide_.c_str(); }

private:
    std::wstring wide_;
};

}  // namespace vantor
