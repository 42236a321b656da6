#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "vantor/core/stringstream.h"

namespace {

template <typename T>
std::string written(T value, int radix)
{
    vantor_stl::stringstream s;
    s.radix = radix;
    s << value;
    return s.str();
}

struct number_row {
    const char* name;
    std::string hex;
    std::string oct;
    std::string dec;
};

template <typename T>
void expect_renderings(const number_row& r, T value)
{
    SCOPED_TRACE(r.name);
    EXPECT_EQ(written(value, 16), r.hex);
    EXPECT_EQ(written(value, 8), r.oct);
    EXPECT_EQ(written(value, 10), r.dec);
    EXPECT_EQ(written(value, 2), r.dec) << "any other radix prints decimal";
}

TEST(stream_write, integers_in_each_radix)
{
    expect_renderings({"int 255", "ff", "377", "255"}, 255);
    expect_renderings({"int -1", "ffffffff", "37777777777", "-1"}, -1);
    expect_renderings({"unsigned max", "ffffffff", "37777777777", "4294967295"}, 0xffffffffu);
    expect_renderings({"unsigned 0x80000000", "80000000", "20000000000", "2147483648"},
                      0x80000000u);
    expect_renderings({"long min", "80000000", "20000000000", "-2147483648"},
                      static_cast<long>(-2147483647L - 1));
    expect_renderings({"unsigned long 0x80000001", "80000001", "20000000001", "2147483649"},
                      0x80000001ul);
    expect_renderings({"short -2", "fffe", "177776", "-2"}, static_cast<short>(-2));
    expect_renderings({"unsigned short max", "ffff", "177777", "65535"},
                      static_cast<unsigned short>(65535));
    expect_renderings({"64-bit signed", "fffffffffffffffb", "1777777777777777777773", "-5"},
                      static_cast<std::int64_t>(-5));
    expect_renderings({"64-bit unsigned max", "ffffffffffffffff", "1777777777777777777777",
                       "18446744073709551615"},
                      static_cast<std::uint64_t>(-1));
    expect_renderings({"64-bit above 32 bits", "100000000", "40000000000", "4294967296"},
                      static_cast<std::uint64_t>(0x100000000ull));
}

TEST(stream_write, bool_text_double_and_pointer)
{
    EXPECT_EQ(written(true, 10), "1");
    EXPECT_EQ(written(false, 16), "0");
    EXPECT_EQ(written(0.5, 16), "0.5") << "doubles ignore the radix";
    EXPECT_EQ(written(1e20, 10), "1e+20");
    EXPECT_EQ(written("text", 16), "text");
    EXPECT_EQ(written(std::string("a\0b", 3), 10), std::string("a\0b", 3));
    EXPECT_EQ(written(static_cast<const char*>(nullptr), 10), "(null)");
    int local = 0;
    EXPECT_FALSE(written(static_cast<const void*>(&local), 10).empty());
}

TEST(stream_write, text_builders_never_print_unsigned_values_negative)
{
    EXPECT_EQ(vantor::decimal_text(0x80000000ul), "2147483648");
    EXPECT_EQ(vantor::decimal_text(0xfffffffful), "4294967295");
    EXPECT_EQ(vantor::decimal_text(static_cast<long long>(-12)), "-12");
    EXPECT_EQ(vantor::decimal_text(static_cast<long long>(0x123456789ll)), "4886718345");
    EXPECT_EQ(vantor::hex_text(0xdeadbeeful), "deadbeef");
    EXPECT_EQ(vantor::hex_text(0ul), "0");
}

TEST(stream_read, integers)
{
    struct row {
        const char* text;
        int value;
        bool good;
        int next;  // the byte left to read, -1 at the end
    };
    const row rows[] = {
        {"42abc", 42, true, 'a'},
        {"-7", -7, true, -1},
        {"-", 0, false, -1},
        {"", 0, false, -1},
        {" \t\r\n 12 ", 12, true, ' '},
        {"abc", 0, false, 'a'},
        {"--1", 0, false, '-'},
        {"007", 7, true, -1},
        {"-0", 0, true, -1},
        {"2147483647", 2147483647, true, -1},
        {"4294967295", -1, true, -1},  // the 64-bit value narrowed to int
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        vantor_stl::stringstream s{std::string(r.text)};
        int v = 1234;
        s >> v;
        EXPECT_EQ(v, r.value);
        EXPECT_EQ(s.good, r.good);
        EXPECT_EQ(s.peek(), r.next);
    }
}

TEST(stream_read, sixty_four_bits_and_sequences)
{
    vantor_stl::stringstream s{std::string("9000000000 -9000000000 x 5")};
    long long a = 0;
    long long b = 0;
    s >> a >> b;
    EXPECT_EQ(a, 9000000000ll);
    EXPECT_EQ(b, -9000000000ll);
    EXPECT_TRUE(s.good);
    int c = 0;
    s >> c;
    EXPECT_FALSE(s.good);
    EXPECT_EQ(c, 0);
    s.advance();
    s >> c;
    EXPECT_EQ(c, 5);
    EXPECT_FALSE(s.good) << "a failed extraction is not undone by a later success";
}

TEST(stream_read, bytes_above_127_are_returned_unsigned)
{
    vantor_stl::stringstream s{std::string("\xff")};
    EXPECT_EQ(s.peek(), 0xff);
    s.advance();
    EXPECT_EQ(s.peek(), -1);
    s.advance();
    EXPECT_EQ(s.peek(), -1) << "advancing past the end stays at the end";
}

TEST(stream_write, writes_append_after_the_initial_text)
{
    vantor_stl::stringstream s{std::string("ab")};
    s.put('c');
    s.write("de", 2);
    s << 5;
    EXPECT_EQ(s.str(), "abcde5");
    EXPECT_EQ(s.take_str(), "abcde5");
    EXPECT_EQ(s.str(), "");
}

}  // namespace
