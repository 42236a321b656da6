#include "vantor/services/json.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "vantor/core/netbuf.h"
#include "vantor/services/element.h"
#include "vantor/services/tests/element_test_util.h"

using tarvojson::element;
using tarvojson::element_kind;
using namespace element_test;

namespace {

element parsed(const std::string& text)
{
    element e;
    tarvojson::parse_text(e, text);
    return e;
}

std::string string_literal(const std::string& text)
{
    netbuf out;
    tarvojson::write_json_string(out, text);
    return out.to_string();
}

// The fixture folder beside this source; under Wine the Unix root is drive Z:.
std::string data_path(const std::string& name)
{
    std::string source = __FILE__;
    std::string folder = source.substr(0, source.find_last_of("/\\") + 1);
    return (folder.front() == '/' ? "Z:" + folder : folder) + "data/" + name;
}

TEST(JsonReaderTest, ReadsStandardJsonAndTheLenientExtras)
{
    struct row {
        const char* text;
        const char* json;  // the element written back
    };
    const row rows[] = {
        {"5", "5"},
        {"-12", "-12"},
        {"007", "7"},
        {"-0", "0"},
        {"null", "null"},
        {"9223372036854775807", "9223372036854775807"},
        {"-9223372036854775808", "-9223372036854775808"},
        // Values the element has no kind for stay unparsed JSON text, as written.
        {"true", "true"},
        {"[true,false,null]", "[true,false,null]"},
        {"1.5", "1.5"},
        {"[-2.5e-3,1E10,0.0]", "[-2.5e-3,1E10,0.0]"},
        {"9223372036854775808", "9223372036854775808"},
        {"-9223372036854775809", "-9223372036854775809"},
        {"18446744073709551616", "18446744073709551616"},
        {" \t\r\n{ \"a\" :\n [ 1 , 2 ] ,\"b\" : {} }", "{\"a\":[1,2],\"b\":{}}"},
        {"[1,,2 3]", "[1,2,3]"},
        {"{,}", "{}"},
        {"{}xyz", "{}"},
        {"{'a':'say \"hi\"'}", "{\"a\":\"say \\u0022hi\\u0022\"}"},
        {"{\"a\":1,\"a\":[2]}", "{\"a\":[2]}"},
        {"\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\"", "\"a\\u0022b\\u005cc/d\\u0008\\u000c\\u000a\\u000d\\u0009\""},
        {"'it\\'s'", "\"it\\u0027s\""},
        {"\"\\u00E9\"", "\"\\u00e9\""},
        {"\"\\ud83d\\ude00\"", "\"\\ud83d\\ude00\""},
        {"\"\xc3\xa9\xe4\xb8\xad\"", "\"\\u00e9\\u4e2d\""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        element e;
        ASSERT_EQ(error_of([&] { tarvojson::parse_text(e, r.text); }), "no exception");
        EXPECT_EQ(e.to_json(), r.json);
    }
}

TEST(JsonReaderTest, DecodesEscapesToUtf8WithoutLosingBytes)
{
    struct row {
        const char* text;
        std::string bytes;
    };
    const row rows[] = {
        {"\"\\u00e9\"", "\xc3\xa9"},
        {"\"\\ud83d\\ude00\"", "\xf0\x9f\x98\x80"},
        {"\"\\u0000x\"", std::string("\0x", 2)},
        {"\"a\\\"b\\\\\"", "a\"b\\"},
        {"\"\\\\u0041\"", "\\u0041"},  // an escaped backslash does not start an escape
        {"\"\xf0\x9f\x98\x80 raw\"", "\xf0\x9f\x98\x80 raw"},
        {"\"\\udc00\"", "\xed\xb0\x80"},  // a lone low surrogate stays as it is
        {"\"tab\there\"", "tab\there"},   // raw control bytes are accepted
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        element e = parsed(r.text);
        ASSERT_EQ(e.kind(), element_kind::string);
        EXPECT_EQ(hex_of(*e.string_if()), hex_of(r.bytes));
    }
    EXPECT_TRUE(parsed("{\"k\\u0041\":1}").find_path("kA") != nullptr);
}

TEST(JsonReaderTest, MalformedTextRaisesTheNumberedErrors)
{
    struct row {
        const char* text;
        int line;
    };
    const row rows[] = {
        {"", 202},
        {"  \r\n\t", 202},
        {"-", 202},
        {"\"abc", 202},
        {"\"abc\\", 202},
        {"\"abc\\\"", 202},
        {"[1,2", 202},
        {"{\"a\":1", 202},
        {"{\"a\"", 202},
        {"1.", 202},
        {"1e", 202},
        {"nul", 182},
        {"nope", 182},
        {"tru", 193},
        {"fals", 193},
        {"x", 193},
        {"+1", 193},
        {"-x", 193},
        {"[-]", 193},
        {"1.x", 193},
        {"[1e+]", 193},
        {"[1,x]", 193},
        {"{\"a\"x:1}", 127},
        {"{1:2}", 141},
        {"\"\\x\"", 55},
        {"\"\\u12g4\"", 55},
        {"\"\\u12\"", 67},
        {"\"\\ud83d\"", 74},
        {"\"\\ud83dx\"", 74},
        {"\"\\ud83d\\n12345\"", 77},
        {"\"\\ud83d\\u0041\"", 83},
        {"\"\\ud83d\\udZ00\"", 55},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        element e;
        EXPECT_EQ(error_of([&] { tarvojson::parse_text(e, r.text); }), internal_error_text(r.line));
    }
}

TEST(JsonReaderTest, AFailedReadKeepsWhatWasBuilt)
{
    element e = parsed("\"old\"");
    EXPECT_NE(error_of([&] { tarvojson::parse_text(e, "[1,{\"a\":2},x"); }), "no exception");
    EXPECT_EQ(e.to_json(), "[1,{\"a\":2},null]");
}

TEST(JsonReaderTest, ReadsTheTargetsOwnText)
{
    element e;
    e.as_text() = "[1,{\"a\":\"long enough to live on the heap\"}]";
    tarvojson::parse_text(e, *e.text_if());
    EXPECT_EQ(e.to_json(), "[1,{\"a\":\"long enough to live on the heap\"}]");
}

TEST(JsonReaderTest, RefusesNestingBeyondTheBound)
{
    std::string ok = std::string(tarvojson::max_nesting, '[') + std::string(tarvojson::max_nesting, ']');
    EXPECT_EQ(error_of([&] { parsed(ok); }), "no exception");

    const std::string too_deep = "json text nested too deeply";
    EXPECT_EQ(error_of([&] { parsed("[" + ok + "]"); }), too_deep);
    std::string objects;
    for (std::size_t k = 0; k <= tarvojson::max_nesting; ++k) {
        objects += "{\"a\":";
    }
    EXPECT_EQ(error_of([&] { parsed(objects); }), too_deep);
    EXPECT_EQ(error_of([&] { parsed(std::string(1000000, '[')); }), too_deep);
}

// Every prefix and many mutations of valid documents either read or raise the foundation's
// exception; nothing else escapes and nothing crashes.
TEST(JsonReaderTest, CutAndMutatedTextNeverEscapesAsAnythingButAnError)
{
    const std::string documents[] = {
        "{\"a\":[1,-2,\"x\\u00e9\\ud83d\\ude00\",{\"b\":null,'c':'d'}],\"e\":true,\"f\":-1.5e3}",
        "[\"\\\"\\\\\\/\\b\\f\\n\\r\\t\",[[[]]],{},{\"\":\"\"},007,null]",
    };
    auto attempt = [](const std::string& text) {
        element e;
        try {
            tarvojson::parse_text(e, text);
        } catch (const vantor::exception&) {
        }
    };
    for (const std::string& doc : documents) {
        for (std::size_t n = 0; n <= doc.size(); ++n) {
            EXPECT_NO_THROW(attempt(doc.substr(0, n))) << doc.substr(0, n);
        }
    }
    std::mt19937 rng(11);
    const std::string alphabet = "[]{}\"'\\:,-.eE0123456789untrfalsx \x01\xff";
    for (int round = 0; round < 3000; ++round) {
        std::string text = documents[round % 2];
        for (int k = 0; k < 3; ++k) {
            text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
        }
        EXPECT_NO_THROW(attempt(text)) << text;
    }
}

TEST(JsonWriterTest, EscapesToPrintableAscii)
{
    struct row {
        std::string text;
        const char* literal;
    };
    const row rows[] = {
        {"", "\"\""},
        {"plain ~ text", "\"plain ~ text\""},
        {"a<b", "\"a\\u003cb\""},
        {"it's", "\"it\\u0027s\""},
        {"\"\\&>", "\"\\u0022\\u005c\\u0026\\u003e\""},
        {"\xc3\xa9", "\"\\u00e9\""},
        {"\xf0\x9f\x98\x80", "\"\\ud83d\\ude00\""},
        {std::string("\0\x01\n\x7f", 4), "\"\\u0000\\u0001\\u000a\\u007f\""},
        {"a\xff"
         "b",
         "\"ab\""},  // ill-formed UTF-8 bytes are dropped
    };
    for (const row& r : rows) {
        SCOPED_TRACE(hex_of(r.text));
        EXPECT_EQ(string_literal(r.text), r.literal);
    }
}

TEST(JsonWriterTest, LongStringsMatchAUnitByUnitEscape)
{
    std::mt19937 rng(5);
    std::string text;
    while (text.size() < 200000) {
        text += random_text(rng, text_kind::utf8);
    }
    std::string expected = "\"";
    for (wchar_t w : vantor::to_wide(vantor::encoding_utf8, text)) {
        auto unit = static_cast<unsigned>(static_cast<std::uint16_t>(w));
        if (unit >= 0x20 && unit <= 0x7e &&
            std::string("\"'\\<>&").find(static_cast<char>(unit)) == std::string::npos) {
            expected.push_back(static_cast<char>(unit));
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unit);
            expected += escape;
        }
    }
    expected += "\"";

    netbuf out;
    out.append_string("head");
    tarvojson::write_json_string(out, text);
    EXPECT_EQ(out.size(), expected.size() + 4);
    EXPECT_TRUE(out.to_string() == "head" + expected);
}

TEST(JsonWriterTest, WritesEveryKindCompactly)
{
    element e;
    e.make_path("b").as_int64() = INT64_MIN;
    e.make_path("a").as_array().emplace_back();
    e.make_path("c").as_netbuf().append_string("block<");
    e.make_path("d").as_json_netbuf().append_string("{\"raw\": [1, 2]}");
    e.make_path("e").as_text() = "{ 'kept' : 1 }";
    e.make_path("f").as_int64() = INT64_MAX;
    const std::string expected =
        "{\"a\":[null],\"b\":-9223372036854775808,\"c\":\"block\\u003c\",\"d\":{\"raw\": [1, 2]},"
        "\"e\":{ 'kept' : 1 },\"f\":9223372036854775807}";
    EXPECT_EQ(e.to_json(), expected);

    netbuf out;
    out.append_string(">");
    e.write_json(out);
    EXPECT_EQ(out.to_string(), ">" + expected);
    EXPECT_EQ(e.get_string("d", "x"), "x");  // the block stays where it was
    EXPECT_EQ(e.find_path("d")->json_netbuf_if()->size(), 15u);
}

TEST(JsonRoundTripTest, RandomTreesComeBackEqual)
{
    std::mt19937 rng(1);
    for (int round = 0; round < 300; ++round) {
        element tree;
        fill_random(tree, rng, 5, text_kind::utf8);
        std::string text = tree.to_json();
        element back;
        ASSERT_EQ(error_of([&] { tarvojson::parse_text(back, text); }), "no exception") << text;
        EXPECT_TRUE(same_tree(tree, back)) << text;
        EXPECT_EQ(back.to_json(), text);
    }
}

// Each fixture line holds a JSON text that Python's json module wrote for a random tree (in
// one of several styles) and, after a blank, the text this writer must make of it; the
// generator checked with json.loads that the second text reads back as the same tree.
TEST(JsonInteropTest, TextsOfAStandardWriterReadBackAsThisWriterExpects)
{
    std::ifstream file(data_path("json_interop.txt"), std::ios::binary);
    ASSERT_TRUE(file.good()) << data_path("json_interop.txt");
    std::string line;
    int cases = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string input_hex;
        std::string expected_hex;
        fields >> input_hex >> expected_hex;
        std::string input = bytes_of(input_hex);
        std::string expected = bytes_of(expected_hex);
        SCOPED_TRACE(input);
        element e;
        ASSERT_EQ(error_of([&] { tarvojson::parse_text(e, input); }), "no exception");
        EXPECT_EQ(e.to_json(), expected);
        element again;
        tarvojson::parse_text(again, expected);
        EXPECT_EQ(again.to_json(), expected);
        ++cases;
    }
    EXPECT_GE(cases, 100);
}

}  // namespace
