#include <gtest/gtest.h>

#include "vantor/services/url_query.h"

using vantor::url_decode;
using vantor::url_encode;

TEST(UrlQuery, EncodeAndDecodeTables)
{
    const std::pair<std::string, std::string> encoded[] = {
        {"a b", "a+b"}, {"1&2", "1%262"}, {"A_z9", "A_z9"}, {"-.~", "%2d%2e%7e"}, {std::string("\xff\x00", 2), "%ff%00"},
    };
    for (const auto& [plain, text] : encoded) {
        EXPECT_EQ(url_encode(plain), text) << text;
        EXPECT_EQ(url_decode(text), plain) << text;
    }
    const std::pair<std::string, std::string> decoded[] = {
        {"%4", ""}, {"ab%4", "ab"}, {"%", ""}, {"x%4Ay", "xJy"}, {"%zz", std::string(1, '\0')}, {"%g1", "\x01"}, {"a+b+", "a b "},
    };
    for (const auto& [text, plain] : decoded) EXPECT_EQ(url_decode(text), plain) << text;
}

TEST(UrlQuery, QueryStringsBothWays)
{
    EXPECT_EQ(vantor::url_query_string({{"a b", "1&2"}}), "a+b=1%262");
    EXPECT_EQ(vantor::url_query_string({{"", "x"}, {"b", ""}, {"a", "1"}}), "a=1&b=");
    const auto parsed = vantor::parse_query_string("a=1&b&=skipped&c=x=y&a=2&d%20e=f+g", '&', '=');
    const std::map<std::string, std::string> expected{{"a", "2"}, {"b", ""}, {"c", "x=y"}, {"d e", "f g"}};
    EXPECT_EQ(parsed, expected);
    EXPECT_TRUE(vantor::parse_query_string("", '&', '=').empty());
}

TEST(UrlQuery, SplitOnce)
{
    EXPECT_EQ(vantor::split_once("a::b::c", "::"), (std::vector<std::string>{"a", "b::c"}));
    EXPECT_EQ(vantor::split_once("abc", "::"), (std::vector<std::string>{"abc"}));
    EXPECT_EQ(vantor::split_once("::", "::"), (std::vector<std::string>{"", ""}));
}
