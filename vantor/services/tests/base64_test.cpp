#include <gtest/gtest.h>

#include <string>

#include "vantor/core/exception.h"
#include "vantor/services/base64.h"

namespace {

TEST(base64, decodes_whole_groups)
{
    struct row {
        std::string text;
        std::string bytes;
    };
    const row rows[] = {
        {"", ""},
        {"QQ==", "A"},
        {"QUI=", "AB"},
        {"QUJD", "ABC"},
        {"QUJDRA==", "ABCD"},
        {"AAEC/w==", std::string("\x00\x01\x02\xff", 4)},
        {"+/+/", "\xfb\xff\xbf"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        std::string text = r.text;
        xstd::base64::decode(text);
        EXPECT_EQ(text, r.bytes);
    }
}

TEST(base64, refuses_malformed_text)
{
    struct row {
        const char* text;
        const char* fault;
    };
    const row rows[] = {
        {"QUJDRA", "incomplete last group"},
        {"QQ", "shorter than one group"},
        {"Q", "shorter than one group"},
        {"QUJDR", "incomplete last group"},
        {"QQ==QUJD", "padding before the end"},
        {"QUI=QUJD", "padding before the end"},
        {"QQ=A", "one = where two are needed"},
        {"Q===", "padding in the second place"},
        {"=QUJ", "padding in the first place"},
        {"QU JD", "blank"},
        {"QUJD\r\n", "line break"},
        {"QU-D", "not in the alphabet"},
        {"QUJ\x80", "high byte"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.fault);
        std::string text = r.text;
        try {
            xstd::base64::decode(text);
            ADD_FAILURE() << "decoded to " << text.size() << " bytes";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), "/xstd/base64/decode:Decode error");
        }
        EXPECT_EQ(text, r.text) << "the text stays as it was";
    }
}

}  // namespace
