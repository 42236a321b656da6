#include <gtest/gtest.h>

#include "vantor/core/version_list.h"

namespace {

TEST(version_list, matches)
{
    struct row {
        const char* a;
        const char* b;
        bool match;
    };
    const row rows[] = {
        {"*", "anything", true},
        {"garbage", "*", true},
        {"", "1", true},       // an empty list reads as "1"
        {"5-7", "6", true},
        {"7-5", "5", true},    // ranges are normalised
        {"5-7", "8", false},
        {"0x10", "16", true},
        {"1-2-3", "1", false},  // three parts: the only entry is skipped
        {"1, 3-4 ,9", "4", true},
        {"1,,2", "2", true},
        {",", "1", false},       // no entry at all
        {"2", "1,3", false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << '"' << r.a << "\" vs \"" << r.b << '"');
        EXPECT_EQ(vantor::version_list_matches(r.a, r.b), r.match);
        EXPECT_EQ(vantor::version_list_matches(r.b, r.a), r.match);
    }
}

TEST(version_list, numbers_and_ranges)
{
    struct row {
        const char* text;
        std::uint64_t value;
    };
    const row rows[] = {
        {"0xG1", 1},  // a non-hex character counts as 0
        {"-1", 0xFFFFFFFFFFFFFFFFull},
        {"abc", 0},
        {"0x", 0},
        {"0XfF", 255},
        {"  42z", 42},
        {"0x1234567890abcdef1", 0x234567890abcdef1ull},  // higher digits shift out
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(vantor::parse_number_or_hex(r.text), r.value);
    }

    vantor_stl::vector<vantor::version_range> ranges;
    EXPECT_TRUE(vantor::parse_version_ranges(ranges, "9-3,x-y-z, 4 "));
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].min, 3u);
    EXPECT_EQ(ranges[0].max, 9u);
    EXPECT_EQ(ranges[1].min, 4u);
    EXPECT_EQ(ranges[1].max, 4u);
    EXPECT_FALSE(vantor::parse_version_ranges(ranges, "1-2-3"));
    EXPECT_EQ(ranges.size(), 2u);
}

}  // namespace
