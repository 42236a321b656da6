#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/format.h"
#include "vantor/core/stringstream.h"

namespace {

template <std::size_t P>
std::vector<int> bytes_of(const vantor::format_detail::descriptor<P>& d)
{
    return std::vector<int>(d.bytes, d.bytes + 1 + 2 * d.bytes[0]);
}

TEST(packed_format, descriptor_bytes_match_the_literal)
{
    EXPECT_EQ(bytes_of(VANTOR_FMT("invalid api provided (want=16, got=%1%)")),
              (std::vector<int>{0x02, 0x23, 0x0b, 0x01, 0x00}));
    EXPECT_EQ(bytes_of(VANTOR_FMT("size:%1%")), (std::vector<int>{0x01, 0x05, 0x0b}));
    EXPECT_EQ(bytes_of(VANTOR_FMT("unknown tag %1%")), (std::vector<int>{0x01, 0x0c, 0x0b}));
    EXPECT_EQ(bytes_of(VANTOR_FMT("%2%: %1%")), (std::vector<int>{0x02, 0x00, 0x13, 0x02, 0x0b}));
    EXPECT_EQ(bytes_of(VANTOR_FMT("dir %1%%2%")), (std::vector<int>{0x02, 0x04, 0x0b, 0x00, 0x13}));
    EXPECT_EQ(bytes_of(VANTOR_FMT("RegQueryValueEx failed: %1% type: 0x%1%")),
              (std::vector<int>{0x02, 0x18, 0x0b, 0x09, 0x0b}));
}

// The run-time form fed with the same arguments, each rendered the way the formatter renders it.
template <typename... Args>
std::string parsed(const char* format, const Args&... args)
{
    vantor::format_parser p;
    p.parse(format);
    (p.add_arg(vantor::arg_text(args)), ...);
    return p.str();
}

struct agreement_row {
    const char* format;
    std::string expected;
    std::string packed;
    std::string runtime;
};

#define VANTOR_TEST_ROW(literal, expected, ...)                                                    \
    agreement_row                                                                                  \
    {                                                                                              \
        literal, expected, vantor::format(VANTOR_FMT(literal) __VA_OPT__(, ) __VA_ARGS__),         \
            parsed(literal __VA_OPT__(, ) __VA_ARGS__)                                             \
    }

#define VANTOR_LONG_TEXT_64 "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"
#define VANTOR_LONG_TEXT_320                                                                       \
    VANTOR_LONG_TEXT_64 VANTOR_LONG_TEXT_64 VANTOR_LONG_TEXT_64 VANTOR_LONG_TEXT_64 VANTOR_LONG_TEXT_64

TEST(format_forms, pre_encoded_and_run_time_forms_agree)
{
    const std::string s_a = "a";
    const std::string s_b = "b";
    const std::string long_text = VANTOR_LONG_TEXT_320;
    const agreement_row rows[] = {
        VANTOR_TEST_ROW("size:%1%", "size:12", 12u),
        VANTOR_TEST_ROW("%2%: %1%", "b: a", s_a, s_b),
        VANTOR_TEST_ROW("dir %1%%2%", "dir xy", "x", "y"),
        VANTOR_TEST_ROW("RegQueryValueEx failed: %1% type: 0x%1%",
                        "RegQueryValueEx failed: 7 type: 0x7", 7),
        VANTOR_TEST_ROW("invalid api provided (want=16, got=%1%)",
                        "invalid api provided (want=16, got=15)", 15),
        VANTOR_TEST_ROW("unknown tag %1%", "unknown tag t", std::string("t")),
        VANTOR_TEST_ROW("no placeholders", "no placeholders"),
        VANTOR_TEST_ROW("", ""),
        VANTOR_TEST_ROW("%3%-%1%-%2%-%3%", "c-a-b-c", "a", "b", "c"),
        VANTOR_TEST_ROW("[%1%]", "[]"),                            // unfilled slot
        VANTOR_TEST_ROW("%1% and %2%", "a and ", "a"),             // second slot unfilled
        VANTOR_TEST_ROW("%1%", "a", "a", "surplus", "more"),       // surplus arguments ignored
        VANTOR_TEST_ROW("a%0%b", "ab", "x"),                       // number 0 never gets an argument
        VANTOR_TEST_ROW("%1%%2%%3%%4%%5%%6%%7%%8%%9%%10%", "abcdefghij", "a", "b", "c", "d", "e",
                        "f", "g", "h", "i", "j"),
        VANTOR_TEST_ROW("100% sure %1%", "100% sure x", "x"),      // % before a blank stays
        VANTOR_TEST_ROW("flag %1%/%2%", "flag 1/0", true, false),
        VANTOR_TEST_ROW("ptr %1%", "ptr (null)", static_cast<const char*>(nullptr)),
        VANTOR_TEST_ROW("%1%", "4294967295", 4294967295ul),
        VANTOR_TEST_ROW("%1%", "2147483648", 2147483648u),
        VANTOR_TEST_ROW("%1%", "-2147483648", -2147483647 - 1),
        VANTOR_TEST_ROW("%1%", "18446744073709551615", 18446744073709551615ull),
        VANTOR_TEST_ROW("%1%", "-5", -5ll),
        VANTOR_TEST_ROW(VANTOR_LONG_TEXT_320 "%1%" VANTOR_LONG_TEXT_320, long_text + "x" + long_text,
                        "x"),
    };
    for (const agreement_row& r : rows) {
        SCOPED_TRACE(r.format);
        EXPECT_EQ(r.packed, r.expected);
        EXPECT_EQ(r.runtime, r.expected);
    }
}

TEST(format_forms, run_time_form_folds_percent_and_keeps_malformed_placeholders)
{
    struct row {
        const char* format;
        const char* expected;
    };
    const row rows[] = {
        {"100%%", "100%"},
        {"%%1%%", "%1%"},
        {"%a", "%a"},
        {"%1a", "%1a"},
        {"%12x%", "%12x%"},  // digits then a letter stay; the final % is a trailing one
        {"a%", "a%"},
        {"a%12", "a%12"},
        {"%1%%", "X%"},
        {"%", "%"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.format);
        EXPECT_EQ(parsed(r.format, std::string("X")), r.expected);
    }
}

TEST(format_forms, a_parser_can_be_reused)
{
    vantor::format_parser p;
    p.parse("%1%-%2%");
    p.add_arg("a");
    p.add_arg("b");
    EXPECT_EQ(p.str(), "a-b");
    p.parse("<%1%>");
    EXPECT_EQ(p.str(), "<>");
    p.add_arg("c");
    EXPECT_EQ(p.str(), "<c>");
}

TEST(format_forms, literal_runs_longer_than_a_piece_are_split)
{
    const auto& d = VANTOR_FMT(VANTOR_LONG_TEXT_320 "%1%");
    // 255 literal bytes, then 65 and the placeholder.
    EXPECT_EQ(bytes_of(d), (std::vector<int>{0x02, 0xff, 0x00, 0x41, 0x0b}));
}

}  // namespace
