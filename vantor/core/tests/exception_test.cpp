#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/var_text.h"
#include "vantor/core/win_api.h"

namespace {

std::string text_of_raise(const char* function, const std::string& message, DWORD code)
{
    SetLastError(code);
    try {
        vantor::raise_win32_error(function, message);
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

std::string text_of_throw_error_at(const char* domain, const std::string& detail)
{
    try {
        vantor::throw_error_at(domain, detail);
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

TEST(exception_text, default_is_a_colon_and_streamed_text_follows)
{
    vantor::exception e;
    EXPECT_STREQ(e.what(), ":");
    e << "abc";
    EXPECT_STREQ(e.what(), ":abc");
    EXPECT_STREQ(e.what(), ":abc") << "reading twice gives the same text";
    e << 12 << 'x';
    EXPECT_STREQ(e.what(), ":abc12x");
}

TEST(exception_text, construction_forms)
{
    EXPECT_STREQ(vantor::exception("literal").what(), "literal");
    const std::string copied = "copied";
    EXPECT_STREQ(vantor::exception(copied).what(), "copied");
    std::string taken = "taken";
    EXPECT_STREQ(vantor::exception(std::move(taken)).what(), "taken");
    EXPECT_STREQ(vantor::exception("").what(), "");
}

TEST(exception_text, copies_take_the_complete_text)
{
    vantor::exception source("m:");
    source << "streamed";
    vantor::exception copy(source);
    EXPECT_STREQ(copy.what(), "m:streamed");
    // The source's stream was flushed into its message: a fresh stream starts empty.
    EXPECT_EQ(source.stream().str(), "");
    EXPECT_STREQ(source.what(), "m:streamed");

    vantor::exception target;
    target << "old";
    vantor::exception other("n:");
    other << "new";
    target = other;
    EXPECT_STREQ(target.what(), "n:new");
    target = target;
    EXPECT_STREQ(target.what(), "n:new");
}

TEST(exception_text, moves_keep_the_unread_stream)
{
    vantor::exception source;
    source << "pending";
    vantor::exception moved(std::move(source));
    EXPECT_STREQ(moved.what(), ":pending");

    vantor::exception target("x");
    target << "dropped";
    vantor::exception other;
    other << "kept";
    target = std::move(other);
    EXPECT_STREQ(target.what(), ":kept");
}

TEST(exception_text, is_caught_as_the_base_type)
{
    try {
        throw vantor::internal_error(535);
    } catch (const vantor_stl::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 535");
    }
    EXPECT_STREQ(vantor_stl::exception().what(), "");
}

TEST(exception_text, raise_win32_error_appends_function_and_hex_code)
{
    struct row {
        const char* function;
        const char* message;
        DWORD code;
        const char* expected;
    };
    const row rows[] = {
        {nullptr, "bad parameter", 87, "bad parameter, error: 0x57"},
        {"OpenProcess", "cannot open", 5, "cannot open, function: OpenProcess, error: 0x5"},
        {nullptr, "", 0, ", error: 0x0"},
        {"f", "m", 0xC0000005, "m, function: f, error: 0xc0000005"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.expected);
        EXPECT_EQ(text_of_raise(r.function, r.message, r.code), r.expected);
    }
}

TEST(exception_text, win32_errors_name_the_function_and_describe_the_code)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    std::string plain = vantor::exception::make_win32_error("CreateFileW").what();
    const std::string prefix = ":Error from 'CreateFileW': 2, ";
    ASSERT_EQ(plain.compare(0, prefix.size(), prefix), 0) << plain;
    EXPECT_GT(plain.size(), prefix.size()) << "the system's description follows";
    EXPECT_NE(plain.back(), '\n');
    EXPECT_NE(plain.back(), '\r');

    SetLastError(ERROR_FILE_NOT_FOUND);
    std::string with_context =
        vantor::exception::make_win32_error_for("CreateFileW", "C:\\x.txt").what();
    EXPECT_EQ(with_context, ":Error from 'CreateFileW': [C:\\x.txt] 2, " + plain.substr(prefix.size()));
}

TEST(exception_text, last_error_message_without_trailing_line_breaks)
{
    std::string text = vantor::last_error_message(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(vantor::last_error_message(), text);
    // A code the system has no text for comes back as its decimal number.
    EXPECT_EQ(vantor::last_error_message(0x3ffffff0), "1073741808");
}

TEST(exception_text, errno_text_is_the_runtime_library_text)
{
    EXPECT_FALSE(vantor::errno_text(ENOENT).empty());
    EXPECT_NE(vantor::errno_text(ENOENT), vantor::errno_text(EACCES));
}

TEST(exception_text, throw_error_at_expands_the_detail)
{
    EXPECT_EQ(text_of_throw_error_at("/xstd/convert", ""), "/xstd/convert:");
    EXPECT_EQ(text_of_throw_error_at("/xstd/convert", "a$$b$name$c"), "/xstd/convert:a$bc");
    EXPECT_EQ(text_of_throw_error_at("/xstd/base64", "lone$dollar"), "/xstd/base64:lonedollar");
}

TEST(var_text, expansion)
{
    struct row {
        const char* text;
        const char* expected;
    };
    const row rows[] = {
        {"plain", "plain"},
        {"$1$", "one"},
        {"<$1$|$2$>", "<one|two>"},
        {"$3$", ""},        // no value under the key
        {"$$", "$"},
        {"a$", "a"},        // a lone dollar is dropped
        {"$$$1$", "$one"},
        {"x$1", "x1"},      // no closing dollar: only the dollar goes
    };
    vantor::var_text v;
    v.set(1, "one");
    v.set(2, "two");
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        v.assign(r.text);
        EXPECT_EQ(v.expand(), r.expected);
    }
}

}  // namespace
