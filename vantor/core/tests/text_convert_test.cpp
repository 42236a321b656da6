#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/utf_step.h"

namespace {

using vantor::from_wide;
using vantor::to_wide;

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list) {
        s.push_back(static_cast<char>(b));
    }
    return s;
}

std::wstring units(std::initializer_list<int> list)
{
    std::wstring s;
    for (int u : list) {
        s.push_back(static_cast<wchar_t>(u));
    }
    return s;
}

std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

std::string hex(const std::wstring& s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (wchar_t w : s) {
        unsigned v = static_cast<std::uint16_t>(w);
        for (int shift = 12; shift >= 0; shift -= 4) {
            out += digits[(v >> shift) & 15];
        }
        out += ' ';
    }
    return out;
}

// Plain encoders of valid code points, written out by the bit patterns of the two forms;
// the expectations for long texts are built with them.
void ref_utf8(std::uint32_t cp, std::string& out)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 + cp / 64);
        out += static_cast<char>(0x80 + cp % 64);
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 + cp / 4096);
        out += static_cast<char>(0x80 + cp / 64 % 64);
        out += static_cast<char>(0x80 + cp % 64);
    } else {
        out += static_cast<char>(0xF0 + cp / 262144);
        out += static_cast<char>(0x80 + cp / 4096 % 64);
        out += static_cast<char>(0x80 + cp / 64 % 64);
        out += static_cast<char>(0x80 + cp % 64);
    }
}

void ref_utf16(std::uint32_t cp, std::wstring& out)
{
    if (cp < 0x10000) {
        out += static_cast<wchar_t>(cp);
    } else {
        out += static_cast<wchar_t>(0xD800 + (cp - 0x10000) / 1024);
        out += static_cast<wchar_t>(0xDC00 + (cp - 0x10000) % 1024);
    }
}

void ref_utf32(std::uint32_t cp, bool big_endian, std::string& out)
{
    for (int i = 0; i < 4; ++i) {
        int shift = big_endian ? 24 - 8 * i : 8 * i;
        out += static_cast<char>((cp >> shift) & 0xFF);
    }
}

struct reference_text {
    std::string utf8;
    std::wstring utf16;
    std::string utf32le;
    std::string utf32be;

    void add(std::uint32_t cp)
    {
        ref_utf8(cp, utf8);
        ref_utf16(cp, utf16);
        ref_utf32(cp, false, utf32le);
        ref_utf32(cp, true, utf32be);
    }
};

void expect_all_forms_agree(const reference_text& t)
{
    EXPECT_EQ(hex(to_wide(vantor::encoding_utf8, t.utf8)), hex(t.utf16));
    EXPECT_EQ(hex(from_wide(vantor::encoding_utf8, t.utf16)), hex(t.utf8));
    EXPECT_EQ(hex(to_wide(vantor::encoding_utf32le, t.utf32le)), hex(t.utf16));
    EXPECT_EQ(hex(to_wide(vantor::encoding_utf32be, t.utf32be)), hex(t.utf16));
    EXPECT_EQ(hex(from_wide(vantor::encoding_utf32le, t.utf16)), hex(t.utf32le));
    EXPECT_EQ(hex(from_wide(vantor::encoding_utf32be, t.utf16)), hex(t.utf32be));
    EXPECT_EQ(vantor::utf8_to_utf16_bytes(t.utf8), from_wide(vantor::encoding_utf16le, t.utf16));
}

std::string thrown_text(void (*f)())
{
    try {
        f();
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST(text_convert, documented_cases)
{
    EXPECT_EQ(to_wide(3, bytes({0x41, 0xC3, 0xA9})), units({0x0041, 0x00E9}));
    EXPECT_EQ(to_wide(3, bytes({0x61, 0x80, 0x62})), L"ab");
    EXPECT_EQ(to_wide(3, bytes({0x61, 0xE2, 0x82})), L"a");

    std::string encoded = from_wide(3, units({0xD800, 0x61}));
    EXPECT_EQ(hex(encoded), hex(bytes({0xED, 0xA0, 0x80, 0x61})));
    EXPECT_EQ(to_wide(3, encoded), L"a");

    EXPECT_EQ(hex(from_wide(5, units({0x0041}))), hex(bytes({0x00, 0x41})));
    EXPECT_EQ(hex(from_wide(4, units({0x0041}))), hex(bytes({0x41, 0x00})));
    EXPECT_EQ(to_wide(8, bytes({0x00, 0x01, 0xF6, 0x00})), units({0xD83D, 0xDE00}));
}

TEST(text_convert, empty_texts_stay_empty)
{
    for (int kind = 0; kind <= 9; ++kind) {
        SCOPED_TRACE(kind);
        EXPECT_EQ(to_wide(kind, std::string()), std::wstring());
        EXPECT_EQ(from_wide(kind, std::wstring()), std::string());
    }
}

// Every row has its expectation written out by hand from the UTF-8 rules: each byte that
// cannot start or continue a well-formed sequence is dropped on its own, and letters around
// it survive.
TEST(text_convert, ill_formed_utf8_is_dropped_unit_by_unit)
{
    struct row {
        const char* label;
        std::string input;
        std::wstring expected;
    };
    const std::vector<row> rows = {
        {"lone continuation", bytes({0x61, 0x80, 0x62}), L"ab"},
        {"run of continuations", bytes({0x61, 0x80, 0xBF, 0x9A, 0x62}), L"ab"},
        {"overlong C0", bytes({0x61, 0xC0, 0xAF, 0x62}), L"ab"},
        {"overlong C1", bytes({0x61, 0xC1, 0xBF, 0x62}), L"ab"},
        {"overlong E0 80", bytes({0x61, 0xE0, 0x80, 0x80, 0x62}), L"ab"},
        {"overlong E0 9F", bytes({0x61, 0xE0, 0x9F, 0xBF, 0x62}), L"ab"},
        {"overlong F0 8F", bytes({0x61, 0xF0, 0x8F, 0xBF, 0xBF, 0x62}), L"ab"},
        {"encoded high surrogate", bytes({0x61, 0xED, 0xA0, 0x80, 0x62}), L"ab"},
        {"encoded low surrogate", bytes({0x61, 0xED, 0xBF, 0xBF, 0x62}), L"ab"},
        {"above U+10FFFF", bytes({0x61, 0xF4, 0x90, 0x80, 0x80, 0x62}), L"ab"},
        {"F5 lead", bytes({0x61, 0xF5, 0x80, 0x80, 0x80, 0x62}), L"ab"},
        {"F8 lead", bytes({0x61, 0xF8, 0x88, 0x80, 0x80, 0x80, 0x62}), L"ab"},
        {"FE and FF", bytes({0x61, 0xFE, 0xFF, 0x62}), L"ab"},
        {"truncated 2 of 3 in the middle", bytes({0x61, 0xE2, 0x82, 0x62}), L"ab"},
        {"truncated 3 of 4 in the middle", bytes({0x61, 0xF0, 0x9F, 0x98, 0x62}), L"ab"},
        {"truncated lead before a valid sequence", bytes({0xE2, 0xC3, 0xA9}), units({0xE9})},
        {"truncated 1 of 2 at the end", bytes({0x61, 0xC3}), L"a"},
        {"truncated 3 of 4 at the end", bytes({0x61, 0xF0, 0x9F, 0x98}), L"a"},
        {"only a truncated sequence", bytes({0xF4, 0x8F, 0xBF}), L""},
        {"broken lead and a letter at the end", bytes({0x61, 0xE2, 0x62}), L"ab"},
        {"FF and letters at the end", bytes({0xFF, 0x61, 0x62}), L"ab"},
        {"encoded surrogate cut at the end", bytes({0x61, 0xED, 0xA0}), L"a"},
        {"well-formed limits",
         bytes({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xED, 0x9F, 0xBF, 0xEE, 0x80,
                0x80, 0xEF, 0xBF, 0xBF, 0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF}),
         units({0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF})},
        {"byte order mark is kept", bytes({0xEF, 0xBB, 0xBF, 0x61}), units({0xFEFF, 0x61})},
        {"embedded NUL is kept", bytes({0x61, 0x00, 0x62}), units({0x61, 0x00, 0x62})},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_EQ(hex(to_wide(vantor::encoding_utf8, r.input)), hex(r.expected));
    }
}

// Where each step stops and why: an ill-formed sequence stops at its first byte with result 3,
// one that the end cuts short with result 1, and a full target leaves the sequence unread.
TEST(text_convert, utf8_step_stops_at_the_first_byte_of_a_bad_sequence)
{
    struct row {
        const char* label;
        std::string input;
        std::size_t room;
        vantor::step_result result;
        std::size_t consumed;
        std::wstring written;
    };
    using r = vantor::step_result;
    const std::vector<row> rows = {
        {"whole text", bytes({0x61, 0xC3, 0xA9}), 8, r::done, 3, units({0x61, 0xE9})},
        {"lone continuation", bytes({0x61, 0x80, 0x62}), 8, r::illegal_input, 1, L"a"},
        {"encoded surrogate", bytes({0xED, 0xA0, 0x80}), 8, r::illegal_input, 0, L""},
        {"cut short", bytes({0x61, 0xE2, 0x82}), 8, r::source_exhausted, 1, L"a"},
        {"cut short at F4 8F", bytes({0xF4, 0x8F}), 8, r::source_exhausted, 0, L""},
        {"F4 90 is ill-formed even when cut short", bytes({0xF4, 0x90}), 8, r::illegal_input, 0, L""},
        {"a letter is no continuation", bytes({0x61, 0xE2, 0x62}), 8, r::illegal_input, 1, L"a"},
        {"pair needs two units", bytes({0x61, 0xF0, 0x9F, 0x98, 0x80}), 2, r::target_full, 1, L"a"},
        {"no room at all", bytes({0x61}), 0, r::target_full, 0, L""},
    };
    for (const row& c : rows) {
        SCOPED_TRACE(c.label);
        const auto* begin = reinterpret_cast<const std::uint8_t*>(c.input.data());
        const std::uint8_t* source = begin;
        wchar_t out[8] = {};
        wchar_t* target = out;
        EXPECT_EQ(vantor::utf8_to_utf16_step(source, begin + c.input.size(), target, out + c.room, true),
                  c.result);
        EXPECT_EQ(static_cast<std::size_t>(source - begin), c.consumed);
        EXPECT_EQ(std::wstring(out, target), c.written);
    }
}

TEST(text_convert, utf8_to_utf32_step_follows_the_same_rules)
{
    const std::string input = bytes({0x61, 0xF0, 0x9F, 0x98, 0x80, 0xED, 0xA0, 0x80});
    const auto* begin = reinterpret_cast<const std::uint8_t*>(input.data());
    const std::uint8_t* source = begin;
    std::uint32_t out[4] = {};
    std::uint32_t* target = out;
    EXPECT_EQ(vantor::utf8_to_utf32_step(source, begin + input.size(), target, out + 4, true),
              vantor::step_result::illegal_input);
    EXPECT_EQ(source - begin, 5);
    ASSERT_EQ(target - out, 2);
    EXPECT_EQ(out[0], 0x61u);
    EXPECT_EQ(out[1], 0x1F600u);
}

TEST(text_convert, unpaired_surrogates_from_wide)
{
    struct row {
        const char* label;
        int kind;
        std::wstring input;
        std::string expected;
    };
    const std::vector<row> rows = {
        {"pair to UTF-8", 3, units({0xD83D, 0xDE00}), bytes({0xF0, 0x9F, 0x98, 0x80})},
        {"high then letter", 3, units({0xD800, 0x61}), bytes({0xED, 0xA0, 0x80, 0x61})},
        {"low then letter", 3, units({0xDC00, 0x61}), bytes({0xED, 0xB0, 0x80, 0x61})},
        {"low at the end", 3, units({0x61, 0xDFFF}), bytes({0x61, 0xED, 0xBF, 0xBF})},
        {"high at the end is dropped", 3, units({0x61, 0xDBFF}), bytes({0x61})},
        {"reversed pair", 3, units({0xDE00, 0xD83D}), bytes({0xED, 0xB8, 0x80})},
        {"two highs", 3, units({0xD800, 0xD801, 0xDC00}), bytes({0xED, 0xA0, 0x80, 0xF0, 0x90, 0x90, 0x80})},
        {"UTF-32 passes a high on", 7, units({0xD800, 0x61}), bytes({0x00, 0xD8, 0, 0, 0x61, 0, 0, 0})},
        {"UTF-32 big-endian pair", 8, units({0xD83D, 0xDE00}), bytes({0x00, 0x01, 0xF6, 0x00})},
        {"UTF-32 high at the end is dropped", 9, units({0x61, 0xD800}), bytes({0x61, 0, 0, 0})},
        {"UTF-16 is not checked", 4, units({0xDC00, 0xD800}), bytes({0x00, 0xDC, 0x00, 0xD8})},
        {"UTF-16 big-endian", 5, units({0xD800, 0x1234}), bytes({0xD8, 0x00, 0x12, 0x34})},
        {"kind 6 is little-endian", 6, units({0x1234}), bytes({0x34, 0x12})},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_EQ(hex(from_wide(r.kind, r.input)), hex(r.expected));
    }
}

TEST(text_convert, code_units_to_wide_with_partial_trailing_units)
{
    struct row {
        const char* label;
        int kind;
        std::string input;
        std::wstring expected;
    };
    const std::vector<row> rows = {
        {"UTF-16 LE odd byte", 4, bytes({0x41, 0x00, 0x42}), L"A"},
        {"UTF-16 BE odd byte", 5, bytes({0x00, 0x41, 0x00}), L"A"},
        {"UTF-16 kind 6", 6, bytes({0x34, 0x12}), units({0x1234})},
        {"UTF-16 surrogates kept", 4, bytes({0x00, 0xDC, 0x00, 0xD8}), units({0xDC00, 0xD800})},
        {"UTF-16 single byte", 5, bytes({0x41}), L""},
        {"UTF-32 LE pair", 7, bytes({0x00, 0xF6, 0x01, 0x00}), units({0xD83D, 0xDE00})},
        {"UTF-32 kind 9", 9, bytes({0x00, 0xF6, 0x01, 0x00}), units({0xD83D, 0xDE00})},
        {"UTF-32 LE three trailing bytes", 7, bytes({0x41, 0, 0, 0, 0x42, 0, 0}), L"A"},
        {"UTF-32 BE one trailing byte", 8, bytes({0, 0, 0, 0x41, 0}), L"A"},
        {"UTF-32 shorter than a unit", 8, bytes({0, 0, 0}), L""},
        {"UTF-32 surrogate value", 7, bytes({0x00, 0xD8, 0, 0, 0x41, 0, 0, 0}), units({0xFFFD, 0x41})},
        {"UTF-32 above U+10FFFF", 8, bytes({0x00, 0x11, 0x00, 0x00, 0, 0, 0, 0x41}), units({0xFFFD, 0x41})},
        {"UTF-32 all ones", 7, bytes({0xFF, 0xFF, 0xFF, 0xFF}), units({0xFFFD})},
        {"UTF-32 U+10FFFF", 8, bytes({0x00, 0x10, 0xFF, 0xFF}), units({0xDBFF, 0xDFFF})},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        EXPECT_EQ(hex(to_wide(r.kind, r.input)), hex(r.expected));
    }
}

// The conversions run through 256-unit buffers; a sequence that does not fit at the end of a
// buffer must be carried whole into the next one.
TEST(text_convert, sequences_across_the_buffer_boundary)
{
    for (std::uint32_t cp : {0xE9u, 0x20ACu, 0x1F600u}) {
        for (int prefix = 250; prefix <= 258; ++prefix) {
            SCOPED_TRACE(testing::Message() << "code point " << cp << " after " << prefix);
            reference_text t;
            for (int i = 0; i < prefix; ++i) {
                t.add('x');
            }
            t.add(cp);
            t.add(cp);
            t.add('y');
            expect_all_forms_agree(t);
        }
    }
}

TEST(text_convert, long_mixed_text_matches_the_reference)
{
    reference_text t;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245u + 12345u;
        std::uint32_t r = seed >> 8;
        std::uint32_t cp = 0;
        switch (r % 4) {
            case 0:
                cp = 0x20 + r / 4 % 0x5F;
                break;
            case 1:
                cp = 0x80 + r / 4 % 0x780;
                break;
            case 2:
                cp = 0x800 + r / 4 % (0x10000 - 0x800);
                if (cp >= 0xD800 && cp <= 0xDFFF) {
                    cp -= 0x800;
                }
                break;
            default:
                cp = 0x10000 + r / 4 % 0x100000;
                break;
        }
        t.add(cp);
    }
    expect_all_forms_agree(t);
}

TEST(text_convert, dropped_bytes_near_the_buffer_boundary)
{
    const std::string x254(254, 'x');
    const std::string x255(255, 'x');
    const std::string y300(300, 'y');
    EXPECT_EQ(to_wide(3, x255 + bytes({0x80}) + y300), to_wide(3, x255 + y300));
    EXPECT_EQ(to_wide(3, x254 + bytes({0xF0, 0x9F, 0x98}) + y300), to_wide(3, x254 + y300));
    EXPECT_EQ(to_wide(3, x255 + bytes({0xED, 0xA0, 0x80}) + y300), to_wide(3, x255 + y300));
    EXPECT_EQ(to_wide(3, std::string(600, 'x') + bytes({0xE2, 0x82})), std::wstring(600, L'x'));
    EXPECT_EQ(from_wide(3, std::wstring(600, L'x') + units({0xD800})), std::string(600, 'x'));
}

TEST(text_convert, code_page_437)
{
    const std::string narrow = bytes({0x41, 0x82, 0x9B, 0xE1, 0xB0, 0xC9});
    const std::wstring wide = units({0x41, 0x00E9, 0x00A2, 0x00DF, 0x2591, 0x2554});
    EXPECT_EQ(hex(to_wide(vantor::encoding_cp437, narrow)), hex(wide));
    EXPECT_EQ(hex(from_wide(vantor::encoding_cp437, wide)), hex(narrow));
}

// ISO 8859-1 maps every byte to the code point of the same value. Lengths around 255 take
// the stack buffer or the heap path.
TEST(text_convert, code_page_28591_short_and_long)
{
    for (std::size_t length : {1u, 255u, 256u, 1000u}) {
        SCOPED_TRACE(length);
        std::string narrow;
        std::wstring wide;
        for (std::size_t i = 0; i < length; ++i) {
            const int v = 1 + static_cast<int>(i % 255);
            narrow += static_cast<char>(v);
            wide += static_cast<wchar_t>(v);
        }
        EXPECT_EQ(to_wide(vantor::encoding_latin1, narrow), wide);
        EXPECT_EQ(from_wide(vantor::encoding_latin1, wide), narrow);
    }
}

TEST(text_convert, ansi_code_page_keeps_ascii)
{
    EXPECT_EQ(to_wide(vantor::encoding_ansi, "plain text 123"), L"plain text 123");
    EXPECT_EQ(from_wide(vantor::encoding_ansi, L"plain text 123"), "plain text 123");
}

TEST(text_convert, unknown_kind_is_an_internal_error)
{
    EXPECT_EQ(thrown_text([] { to_wide(42, "a"); }), ":Error in line 267");
    EXPECT_EQ(thrown_text([] { from_wide(42, L"a"); }), ":Error in line 267");
    EXPECT_EQ(thrown_text([] { to_wide(-1, "a"); }), ":Error in line 267");
    EXPECT_EQ(thrown_text([] { from_wide(10, L""); }), ":Error in line 267");
}

TEST(text_convert, failed_code_page_conversion_raises_the_convert_domain)
{
    constexpr unsigned no_such_code_page = 12345;
    EXPECT_EQ(thrown_text([] { vantor::code_page_to_wide_for_testing(no_such_code_page, "a"); }),
              "/xstd/convert:");
    EXPECT_EQ(thrown_text([] { vantor::code_page_from_wide_for_testing(no_such_code_page, L"a"); }),
              "/xstd/convert:");
    EXPECT_EQ(vantor::code_page_to_wide_for_testing(no_such_code_page, ""), L"");
}

TEST(text_convert, utf8_to_utf16_bytes_are_little_endian_pairs)
{
    EXPECT_EQ(hex(vantor::utf8_to_utf16_bytes(bytes({0x41, 0xC3, 0xA9, 0x80, 0xF0, 0x9F, 0x98, 0x80}))),
              hex(bytes({0x41, 0x00, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE})));
    EXPECT_EQ(vantor::utf8_to_utf16_bytes(""), "");
}

TEST(text_convert, append_utf8_codepoint)
{
    struct row {
        std::uint32_t code_point;
        std::string expected;
    };
    const std::vector<row> rows = {
        {0x00, bytes({0x00})},
        {0x41, bytes({0x41})},
        {0xE9, bytes({0xC3, 0xA9})},
        {0x20AC, bytes({0xE2, 0x82, 0xAC})},
        {0xD800, bytes({0xED, 0xA0, 0x80})},
        {0xFFFF, bytes({0xEF, 0xBF, 0xBF})},
        {0x10FFFF, bytes({0xF4, 0x8F, 0xBF, 0xBF})},
        {0x110000, bytes({0xEF, 0xBF, 0xBD})},
        {0xFFFFFFFF, bytes({0xEF, 0xBF, 0xBD})},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.code_point);
        std::string out = "<";
        vantor::append_utf8_codepoint(r.code_point, out);
        EXPECT_EQ(hex(out), hex("<" + r.expected));
    }
}

TEST(text_convert, wide_arg_copies_utf8_text)
{
    const std::string text = bytes({0x43, 0x3A, 0x5C, 0xC3, 0xA9});
    EXPECT_EQ(std::wstring(vantor::wide_arg(text).c_str()), L"C:\\\u00e9");
    EXPECT_EQ(std::wstring(vantor::wide_arg(text.c_str()).c_str()), L"C:\\\u00e9");
    EXPECT_EQ(std::wstring(vantor::wide_arg(static_cast<const char*>(nullptr)).c_str()), L"");
}

}  // namespace
