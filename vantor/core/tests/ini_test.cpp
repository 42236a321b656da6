#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "vantor/core/ini.h"
#include "vantor/core/log.h"

namespace {

using flat = std::map<std::string, std::map<std::string, std::string>>;

vantor_stl::vector<std::string> lines_of(std::vector<std::string> v)
{
    return vantor_stl::vector<std::string>(v.begin(), v.end());
}

flat as_std(const vantor::ini_sections& sections)
{
    flat out;
    for (const auto& [name, pairs] : sections) {
        auto& section = out[name];
        for (const auto& [key, value] : pairs) {
            section[key] = value;
        }
    }
    return out;
}

flat parse(std::vector<std::string> lines) { return as_std(vantor::parse_ini_lines(lines_of(lines))); }

// Collects the log lines written while it lives.
class log_capture {
public:
    log_capture() { vantor::set_log_line_observer(&log_capture::observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    static void observe(const char* text, std::size_t length, void* context)
    {
        static_cast<log_capture*>(context)->lines_.emplace_back(text, length);
    }
    std::vector<std::string> lines_;
};

TEST(ini_header, recognition)
{
    struct row {
        const char* line;
        bool header;
        const char* name;
    };
    const row rows[] = {
        {"[s]", true, "s"},
        {"  \t[s]", true, "s"},
        {"[ in ner ]", true, " in ner "},
        {"[]", true, ""},
        {"[a]junk=1", true, "a"},
        {"[a]b]", true, "a"},
        {"[no close", false, ""},
        {"x[a]", false, ""},
        {"   ", false, ""},
        {"", false, ""},
        {"\r[a]", false, ""},  // only blanks and tabs may precede the bracket
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.line);
        std::string name = "unchanged";
        EXPECT_EQ(vantor::ini_section_header(r.line, name), r.header);
        if (r.header) {
            EXPECT_EQ(name, r.name);
        }
    }
}

TEST(ini_parse, sections_keys_and_values)
{
    struct row {
        const char* name;
        std::vector<std::string> lines;
        flat expected;
    };
    const row rows[] = {
        {"later key overwrites", {"  [s]", "k = v", "k=w"}, {{"s", {{"k", "w"}}}}},
        {"lines before the first header", {"a=1", "[x]", "b=2"},
         {{"", {{"a", "1"}}}, {"x", {{"b", "2"}}}}},
        {"cut at the first =", {"a=b=c"}, {{"", {{"a", "b=c"}}}}},
        {"both sides trimmed", {" key \t=\t value \r"}, {{"", {{"key", "value"}}}}},
        {"empty value", {"novalue="}, {{"", {{"novalue", ""}}}}},
        {"lines without = and empty sections are dropped",
         {"; comment", "[empty]", "text only", "[]", "", "[full]", "k=v"},
         {{"full", {{"k", "v"}}}}},
        {"a repeated header continues its section", {"[s]", "a=1", "[t]", "b=2", "[s]", "c=3"},
         {{"s", {{"a", "1"}, {"c", "3"}}}, {"t", {{"b", "2"}}}}},
        {"the empty header name is the first section", {"a=1", "[]", "b=2"},
         {{"", {{"a", "1"}, {"b", "2"}}}}},
        {"inner blanks of keys stay", {"a key = a value"}, {{"", {{"a key", "a value"}}}}},
        {"no lines", {}, {}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(parse(r.lines), r.expected);
    }
}

TEST(ini_parse, a_line_with_an_empty_key_is_skipped_and_logged)
{
    log_capture log;
    flat result = parse({"a=1", "=", " = v", "[s]", "\t=x", "k=v", "b=2"});
    EXPECT_EQ(result, (flat{{"", {{"a", "1"}}}, {"s", {{"k", "v"}, {"b", "2"}}}}));
    ASSERT_EQ(log.lines().size(), 1u) << "one line per parse";
    EXPECT_EQ(log.lines()[0], "ini: skipped 3 line(s) with an empty key");
}

TEST(ini_parse, a_clean_file_logs_nothing)
{
    log_capture log;
    parse({"[s]", "k=v"});
    EXPECT_TRUE(log.lines().empty());
}

TEST(ini_parse, pair_results)
{
    vantor::ini_sections result;
    EXPECT_EQ(vantor::ini_parse_pair(result, "s", "no pair"), vantor::ini_pair_result::no_pair);
    EXPECT_EQ(vantor::ini_parse_pair(result, "s", " = v"), vantor::ini_pair_result::empty_key);
    EXPECT_TRUE(result.empty()) << "nothing is created for a line that stores nothing";
    EXPECT_EQ(vantor::ini_parse_pair(result, "s", "k=v"), vantor::ini_pair_result::stored);
    EXPECT_EQ(as_std(result), (flat{{"s", {{"k", "v"}}}}));
}

TEST(ini_parse, grouping_keeps_line_order)
{
    auto groups = vantor::ini_group_sections(lines_of({"x", "[b]", "2", "1", "[a]", "3", "[b]", "0"}));
    std::map<std::string, std::vector<std::string>> got;
    for (const auto& [name, section_lines] : groups) {
        got[name] = std::vector<std::string>(section_lines.begin(), section_lines.end());
    }
    EXPECT_EQ(got, (std::map<std::string, std::vector<std::string>>{
                       {"", {"x"}}, {"a", {"3"}}, {"b", {"2", "1", "0"}}}));
}

}  // namespace
