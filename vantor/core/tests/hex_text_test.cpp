#include <gtest/gtest.h>

#include "vantor/core/hex_text.h"
#include "vantor/core/stack_string_buffer.h"

namespace {

TEST(hex_text, encodes_and_reads_digits)
{
    const unsigned char bytes[] = {0x00, 0xAB, 0x7F, 0x10};
    EXPECT_EQ(vantor::hex_encode(bytes, 2), "00ab");
    EXPECT_EQ(vantor::hex_encode(bytes, 4), "00ab7f10");
    EXPECT_EQ(vantor::hex_encode_string(std::string("\x01\xfe", 2)), "01fe");
    EXPECT_EQ(vantor::hex_encode(bytes, 0), "");

    const std::pair<char, int> digits[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'F', 15}, {'g', 0}, {'-', 0}};
    for (const auto& [c, value] : digits) {
        EXPECT_EQ(vantor::hex_digit_value(c), value) << c;
    }
}

TEST(stack_string_buffer, spills_past_its_storage_in_order)
{
    vantor::stack_string_buffer buffer;
    std::string expected;
    for (int i = 0; i < 1024; ++i) {
        char c = static_cast<char>('a' + i % 26);
        buffer.push_back(c);
        expected.push_back(c);
    }
    EXPECT_FALSE(buffer.spilled());
    EXPECT_EQ(buffer.view(), expected);

    buffer.push_back('!');
    expected.push_back('!');
    EXPECT_TRUE(buffer.spilled());
    EXPECT_EQ(buffer.str(), expected);
    EXPECT_EQ(buffer.view().size(), 1025u);
}

}  // namespace
