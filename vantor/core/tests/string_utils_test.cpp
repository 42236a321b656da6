#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantor/core/string_utils.h"

namespace {

std::vector<std::string> as_std(const vantor_stl::vector<std::string>& v)
{
    return std::vector<std::string>(v.begin(), v.end());
}

vantor_stl::vector<std::string> parts(std::vector<std::string> v)
{
    return vantor_stl::vector<std::string>(v.begin(), v.end());
}

using lines = std::vector<std::string>;

TEST(string_split, keeps_or_drops_empty_pieces)
{
    struct row {
        const char* text;
        const char* separators;
        lines all;
        lines nonempty;
    };
    const row rows[] = {
        {"a,,b,", ",", {"a", "", "b", ""}, {"a", "b"}},
        {"", ",", {""}, {}},
        {"abc", ",", {"abc"}, {"abc"}},
        {",", ",", {"", ""}, {}},
        {"a;b,c", ",;", {"a", "b", "c"}, {"a", "b", "c"}},
        {"a b", "", {"a b"}, {"a b"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(as_std(vantor::split(r.text, r.separators)), r.all);
        EXPECT_EQ(as_std(vantor::split_nonempty(r.text, r.separators)), r.nonempty);
        EXPECT_EQ(as_std(vantor::split_any(r.separators, r.text)), r.nonempty)
            << "split_any takes the separators first";
    }
}

TEST(string_split, lines_at_every_kind_of_break)
{
    struct row {
        const char* name;
        std::string text;
        lines expected;
    };
    const row rows[] = {
        {"BOM, CR LF, lone CR, lone LF", "\xEF\xBB\xBFx\r\n\ry\n", {"x", "", "y"}},
        {"empty", "", {}},
        {"no break", "a", {"a"}},
        {"break at the end", "a\n", {"a"}},
        {"two breaks at the end", "a\n\n", {"a", ""}},
        {"only a break", "\r\n", {""}},
        {"LF then CR", "\n\r", {"", ""}},
        {"lone CR", "a\rb", {"a", "b"}},
        {"CR LF between", "a\r\n\r\nb", {"a", "", "b"}},
        {"BOM only", "\xEF\xBB\xBF", {}},
        {"short BOM-like text", "\xEF\xBB", {"\xEF\xBB"}},
        {"BOM not at the start", "a\xEF\xBB\xBF", {"a\xEF\xBB\xBF"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(as_std(vantor::split_lines(r.text)), r.expected);
    }
}

TEST(string_trim, removes_the_four_white_space_bytes_only)
{
    struct row {
        std::string text;
        std::string expected;
    };
    const row rows[] = {
        {"   ", ""},
        {"\tabc\r\n", "abc"},
        {"abc", "abc"},
        {"", ""},
        {" a b ", "a b"},
        {"\x0b" "a\x0c", "\x0b" "a\x0c"},  // vertical tab and form feed stay
        {std::string("\0a", 2), std::string("\0a", 2)},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        std::string t = r.text;
        vantor::trim(t);
        EXPECT_EQ(t, r.expected);
    }
}

TEST(string_compare, prefixes_and_suffixes)
{
    EXPECT_TRUE(vantor::starts_with("abc", "ab"));
    EXPECT_TRUE(vantor::starts_with("abc", ""));
    EXPECT_TRUE(vantor::starts_with("", ""));
    EXPECT_FALSE(vantor::starts_with("ab", "abc"));
    EXPECT_FALSE(vantor::starts_with("abc", "b"));
    EXPECT_TRUE(vantor::ends_with("abc", "bc"));
    EXPECT_TRUE(vantor::ends_with("abc", ""));
    EXPECT_FALSE(vantor::ends_with("bc", "abc"));
    EXPECT_FALSE(vantor::ends_with("abc", "ab"));
    EXPECT_TRUE(vantor::ends_with_char("ab", 'b'));
    EXPECT_FALSE(vantor::ends_with_char("ab", 'a'));
    EXPECT_FALSE(vantor::ends_with_char("", '\0'));
}

TEST(string_case, maps_ascii_letters_only)
{
    EXPECT_EQ(vantor::to_lower_copy("AbC-1\xC9"), "abc-1\xC9");
    EXPECT_EQ(vantor::to_upper_copy("AbC-1\xE9"), "ABC-1\xE9");
    EXPECT_EQ(vantor::to_lower_copy(""), "");
}

TEST(string_join, joins_with_the_separator_between)
{
    struct row {
        lines input;
        const char* expected;
    };
    const row rows[] = {
        {{}, ""},
        {{"a"}, "a"},
        {{"a", "b", "c"}, "a, b, c"},
        {{"", ""}, ", "},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(vantor::join(", ", parts(r.input)), r.expected);
        EXPECT_EQ(vantor::join_strings(", ", parts(r.input)), r.expected);
    }
    EXPECT_EQ(vantor::join_strings(static_cast<const char*>(nullptr), parts({"a", "b"})), "ab");
}

TEST(string_ref, lengths)
{
    EXPECT_EQ(vantor::str_ref(static_cast<const char*>(nullptr)).length, 0u);
    EXPECT_EQ(vantor::str_ref("abc").length, 3u);
    const std::string with_nul("a\0b", 3);
    vantor::str_ref r(with_nul);
    EXPECT_EQ(r.length, 3u);
    EXPECT_EQ(r.data, with_nul.data());
    EXPECT_EQ(r.view(), std::string_view(with_nul));
}

TEST(string_replace, left_to_right_without_rescanning)
{
    struct row {
        const char* text;
        const char* search;
        const char* replacement;
        const char* expected;
        bool found;
    };
    const row rows[] = {
        {"aaa", "a", "aa", "aaaaaa", true},
        {"aaaa", "aa", "b", "bb", true},
        {"aaa", "aa", "b", "ba", true},
        {"abab", "ab", "", "", true},
        {"abc", "x", "y", "abc", false},
        {"", "x", "y", "", false},
        {"a.b.c", ".", "\\", "a\\b\\c", true},
        {"abc", "", "x", "abc", false},  // an empty search text matches nothing
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.text) + " / " + r.search);
        std::string t = r.text;
        EXPECT_EQ(vantor::replace_all(t, r.search, r.replacement), r.found);
        EXPECT_EQ(t, r.expected);
    }
}

TEST(string_misc, path_join_map_lookup_buffer_and_user_agent)
{
    EXPECT_EQ(vantor::path_join("C:\\dir", "file.txt"), "C:\\dir\\file.txt");
    EXPECT_EQ(vantor::path_join("", ""), "\\");

    vantor_stl::map<std::string, std::string> m;
    m["k"] = "v";
    EXPECT_EQ(vantor::string_map_get(m, "k"), "v");
    EXPECT_EQ(vantor::string_map_get(m, "absent"), "");
    EXPECT_FALSE(m.contains("absent")) << "a lookup does not insert";

    vantor::heap_buffer buffer;
    EXPECT_EQ(static_cast<void*>(buffer.wide()), static_cast<void*>(buffer.data()));
    buffer.wide()[vantor::heap_buffer::wide_chars] = L'\0';  // the terminating unit fits
    buffer.data()[vantor::heap_buffer::bytes - 1] = 'x';
    EXPECT_EQ(vantor::heap_buffer::block_size, 0x40002u);

    const std::string agent = vantor::user_agent;
    const std::size_t client = agent.find("-Client/");
    ASSERT_NE(client, std::string::npos);
    EXPECT_GT(client, 0u) << "the product name comes first";
    ASSERT_TRUE(vantor::ends_with(agent, " (Win; x86)"));
    std::string version = agent.substr(client + 8, agent.size() - client - 8 - 11);
    auto numbers = vantor::split(version, ".");
    ASSERT_EQ(numbers.size(), 4u) << version;
    for (const std::string& n : numbers) {
        EXPECT_FALSE(n.empty());
        EXPECT_EQ(n.find_first_not_of("0123456789"), std::string::npos) << n;
    }
}

}  // namespace
