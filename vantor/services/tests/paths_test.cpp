#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantor/core/host_hooks.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/services/paths.h"

#include <shellapi.h>

namespace {

TEST(paths, parent_and_file_name)
{
    struct row {
        const char* path;
        const char* parent;
        const char* name;
    };
    const row rows[] = {
        {"name", ".", "name"},
        {"/name", "/", "name"},
        {"\\name", "\\", "name"},
        {"C:\\name", "C:\\", "name"},
        {"C:/name", "C:\\", "name"},
        {"a/b/c", "a/b", "c"},
        {"C:\\dir/sub\\file", "C:\\dir/sub", "file"},
        {"dir\\", "dir", ""},
        {"a\\b/c.txt", "a\\b", "c.txt"},
        {"", ".", ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(vantor::fs::parent_path(r.path), r.parent);
        EXPECT_EQ(vantor::fs::file_name(r.path), r.name);
    }
    EXPECT_EQ(vantor::fs::backslashes("a/b\\c/"), "a\\b\\c\\");
}

TEST(paths, safe_names)
{
    struct row {
        const char* name;
        bool safe;
    };
    const row rows[] = {
        {"file.txt", true},
        {"icon.txt", true},
        {"CONFIG.SYS", true},
        {"console", true},
        {"COM10", true},
        {"LPT", true},
        {"\xc3\xa9t\xc3\xa9.doc", true},  // bytes from 0x80 up
        {".hidden", true},
        {"", false},
        {" lead", false},
        {"trail ", false},
        {"dot.", false},
        {".", false},
        {"..", false},
        {"tab\there", false},
        {"a\"b", false},
        {"a*b", false},
        {"a/b", false},
        {"a:b", false},
        {"a<b", false},
        {"a>b", false},
        {"a?b", false},
        {"a\\b", false},
        {"a|b", false},
        // Device names in any case, with or without extensions or blanks before the dot.
        {"CON", false},
        {"con", false},
        {"Aux", false},
        {"PRN", false},
        {"NUL", false},
        {"COM1", false},
        {"com9", false},
        {"LPT1", false},
        {"lpt9", false},
        {"CON.TXT", false},
        {"nul.tar.gz", false},
        {"COM1.log", false},
        {"CON .txt", false},
        {"aux.", false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(vantor::fs::is_safe_name(r.name), r.safe);
        EXPECT_EQ(vantor::fs::is_valid_file_name(r.name), r.safe);
    }
}

TEST(paths, safe_relative_paths)
{
    struct row {
        const char* path;
        bool safe;
    };
    const row rows[] = {
        {"dir\\file.txt", true},
        {"a/b", true},
        {"a", true},
        {"a\\b/c\\d.e", true},
        {"dir\\", true},
        {"", false},
        {"\\", false},
        {"//", false},
        {"C:\\x", false},
        {"C:x", false},
        {"C:", false},
        {"\\x", false},
        {"/x", false},
        {"\\\\server\\share\\x", false},
        {"\\\\?\\C:\\x", false},
        {"dir\\..", false},
        {"..\\x", false},
        {"dir\\aux", false},
        {"dir\\aux.txt", false},
        {"dir\\nul.tar.gz", false},
        {"dir\\name.", false},
        {"dir\\ name", false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        EXPECT_EQ(vantor::fs::is_safe_path(r.path), r.safe);
    }
}

// Parses a command line with the system's own parser and returns the arguments after the
// program name.
std::vector<std::string> system_split(const std::string& arguments)
{
    std::wstring line = vantor::to_wide(vantor::encoding_utf8, "prog.exe " + arguments);
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(line.c_str(), &count);
    EXPECT_NE(argv, nullptr);
    std::vector<std::string> out;
    for (int i = 1; argv != nullptr && i < count; ++i) {
        out.push_back(vantor::from_wide(vantor::encoding_utf8, argv[i]));
    }
    LocalFree(argv);
    return out;
}

TEST(command_line, quoted_arguments_round_trip_through_the_system_parser)
{
    const std::vector<std::string> arguments = {
        "abc",
        "",
        "two words",
        "tab\there",
        "line\nbreak",
        "say \"hi\"",
        "\"",
        "\"\"",
        "C:\\Program Files\\dir\\",
        "C:\\dir\\",
        "trailing\\\\",
        "back\\slash",
        "back\\\"quote",
        "\\\\server\\share",
        "\\",
        " ",
        "end quote\"",
        "\xc3\xa9t\xc3\xa9 \xe2\x82\xac",
    };
    for (const std::string& argument : arguments) {
        SCOPED_TRACE(argument);
        std::string quoted = vantor::quote_argument(argument);
        EXPECT_EQ(system_split(quoted), std::vector<std::string>{argument}) << quoted;
    }
    // All of them on one line, each after a blank.
    std::string line;
    for (const std::string& argument : arguments) {
        line += vantor::quote_argument(argument) + " ";
    }
    EXPECT_EQ(system_split(line), arguments);
}

TEST(command_line, quoting_forms)
{
    EXPECT_EQ(vantor::quote_argument("abc"), "abc");
    EXPECT_EQ(vantor::quote_argument("a\\b"), "a\\b");
    EXPECT_EQ(vantor::quote_argument(""), "\"\"");
    EXPECT_EQ(vantor::quote_argument("a b\\"), "\"a b\\\\\"");
    EXPECT_EQ(vantor::quote_argument("a\tb"), "\"a\tb\"");
    EXPECT_EQ(vantor::quote_argument("a\\\"b"), "\"a\\\\\\\"b\"");
}

TEST(command_line, program_path_follows_the_host_switch)
{
    std::int32_t program_path_switch = 0;
    vantor::host().program_path_switch = &program_path_switch;
    EXPECT_EQ(vantor::quote_command("C:\\Program Files\\app.exe"), "\"C:\\Program Files\\app.exe\"");
    program_path_switch = 1;
    EXPECT_EQ(vantor::quote_command("C:\\Program Files\\app.exe"), "app.exe");
    vantor::host().program_path_switch = nullptr;
    EXPECT_EQ(vantor::quote_command("C:\\dir\\app.exe"), "C:\\dir\\app.exe");
}

TEST(command_line, split)
{
    struct row {
        const char* text;
        std::vector<std::string> arguments;
    };
    const row rows[] = {
        {"  ", {}},
        {"", {}},
        {"\"\"", {""}},
        {"a b\tc", {"a", "b", "c"}},
        {"  \"two words\"  next ", {"two words", "next"}},
        {"\"say \\\"hi\\\"\" x", {"say \"hi\"", "x"}},
        {"\"\" \"\"", {"", ""}},
        {"a\\b \"c\\d\"", {"a\\b", "c\\d"}},
        {"\"unterminated text", {"unterminated text"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        vantor_stl::vector<std::string> out;
        std::size_t n = vantor::split_command_line(r.text, out);
        EXPECT_EQ(n, r.arguments.size());
        EXPECT_EQ(std::vector<std::string>(out.begin(), out.end()), r.arguments);
    }
}

}  // namespace
