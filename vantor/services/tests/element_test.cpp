#include "vantor/services/element.h"

#include <gtest/gtest.h>

#include <string>

#include "vantor/core/netbuf.h"
#include "vantor/services/json.h"
#include "vantor/services/tests/element_test_util.h"

using element_test::error_of;
using tarvojson::element;
using tarvojson::element_kind;

namespace {

element parsed(const std::string& text)
{
    element e;
    tarvojson::parse_text(e, text);
    return e;
}

TEST(ElementTest, KindSwitchesKeepTheValueOfTheSameKindAndReplaceAnyOther)
{
    element e;
    EXPECT_TRUE(e.is_null());
    e.as_int64() = 5;
    EXPECT_EQ(e.as_int64(), 5);  // same kind: unchanged
    EXPECT_EQ(e.as_string(), "");
    EXPECT_EQ(e.kind(), element_kind::string);
    e.as_string() = "x";
    EXPECT_TRUE(e.as_array().empty());
    e.as_array().emplace_back().as_int64() = 1;
    EXPECT_EQ(e.as_array().size(), 1u);
    EXPECT_TRUE(e.as_object().empty());
    EXPECT_EQ(e.as_int64(), 0);
    EXPECT_EQ(e.as_text(), "");
    EXPECT_EQ(e.kind(), element_kind::text);
    EXPECT_EQ(e.as_netbuf().size(), 0u);
    EXPECT_EQ(e.kind(), element_kind::netbuf);
    EXPECT_EQ(e.as_json_netbuf().size(), 0u);
    EXPECT_EQ(e.kind(), element_kind::json_netbuf);
}

TEST(ElementTest, CopiesAreDeepAndByteBlocksAreShared)
{
    element original = parsed("{\"a\":[1,\"x\",{\"b\":null}],\"c\":-7}");
    original.make_path("blob").as_netbuf().append_string("bytes");

    element copy(original);
    copy.make_path("a[0]").as_int64() = 99;
    copy.make_path("a[2].b").as_string() = "changed";
    copy.make_path("blob").as_netbuf().append_string("+more");

    EXPECT_EQ(original.to_json(), "{\"a\":[1,\"x\",{\"b\":null}],\"blob\":\"bytes\",\"c\":-7}");
    EXPECT_EQ(copy.get_string("blob", ""), "bytes+more");

    element assigned;
    assigned = original;
    EXPECT_EQ(assigned.to_json(), original.to_json());
}

TEST(ElementTest, MovesLeaveTheSourceNullAndSelfAssignmentIsHarmless)
{
    element a = parsed("[1,2]");
    element b(std::move(a));
    EXPECT_TRUE(a.is_null());
    EXPECT_EQ(b.to_json(), "[1,2]");

    element c;
    c = std::move(b);
    EXPECT_TRUE(b.is_null());
    EXPECT_EQ(c.to_json(), "[1,2]");

    element& same = c;
    c = same;
    EXPECT_EQ(c.to_json(), "[1,2]");
    c.swap(b);
    EXPECT_TRUE(c.is_null());
    EXPECT_EQ(b.to_json(), "[1,2]");
}

TEST(ElementTest, AssigningFromAnElementInsideTheTargetKeepsTheSource)
{
    element a = parsed("{\"inner\":{\"x\":[1,2,3]}}");
    a = *a.find_path("inner");  // copy out of the value being replaced
    EXPECT_EQ(a.to_json(), "{\"x\":[1,2,3]}");
    a.move_from(*a.find_path("x"));  // move out of the value being replaced
    EXPECT_EQ(a.to_json(), "[1,2,3]");
}

TEST(ElementTest, StringReadersAcceptStringsAndByteBlocksOnly)
{
    element block;
    block.as_netbuf().append_string("raw");
    element text = parsed("\"t\"");
    element number = parsed("12");

    std::string out = "untouched";
    EXPECT_FALSE(tarvojson::try_get_string(nullptr, out));
    EXPECT_FALSE(tarvojson::try_get_string(&number, out));
    EXPECT_EQ(out, "untouched");
    EXPECT_TRUE(tarvojson::try_get_string(&block, out));
    EXPECT_EQ(out, "raw");
    EXPECT_TRUE(tarvojson::try_get_string(&text, out));
    EXPECT_EQ(out, "t");

    std::int64_t n = 0;
    EXPECT_TRUE(tarvojson::try_get_int64(&number, n));
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(tarvojson::try_get_int64(&text, n));

    EXPECT_EQ(block.string_value(), "raw");
    EXPECT_EQ(number.string_value(), "");
    ASSERT_NE(block.string_ptr(), nullptr);
    EXPECT_EQ(block.kind(), element_kind::string);  // converted in place
    EXPECT_EQ(*block.string_ptr(), "raw");
    EXPECT_EQ(number.string_ptr(), nullptr);
}

TEST(ElementTest, StringMapsTakeOnlyStringMembers)
{
    element e = parsed("{\"a\":\"1\",\"b\":2,\"c\":[\"x\"]}");
    e.make_path("d").as_netbuf().append_string("block");

    element::string_map map;
    map["stale"] = "gone";
    ASSERT_TRUE(element::get_string_map(&e, map));
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(map["a"], "1");
    EXPECT_EQ(map["d"], "block");

    element not_object = parsed("[1]");
    element::string_map kept;
    kept["k"] = "v";
    EXPECT_FALSE(element::get_string_map(&not_object, kept));
    EXPECT_FALSE(element::get_string_map(nullptr, kept));
    EXPECT_EQ(kept.size(), 1u);

    element target = parsed("{\"old\":1}");
    target.set_string_map(map);
    EXPECT_EQ(target.to_json(), "{\"a\":\"1\",\"d\":\"block\"}");
    target.set_string("abc", 2);
    EXPECT_EQ(target.to_json(), "\"ab\"");
}

TEST(ElementTest, MemberNamesAreOrderedByUnsignedBytes)
{
    element e;
    for (const char* name : {"b", "ab", "a", "\xc3\xa9", "z", ""}) {
        e.as_object()[name];
    }
    std::string order;
    for (const auto& [name, value] : *e.object_if()) {
        order += "[" + name + "]";
    }
    EXPECT_EQ(order, "[][a][ab][b][z][\xc3\xa9]");
}

TEST(ElementTest, SplitPathTakesOneStep)
{
    struct row {
        const char* path;
        bool is_index;
        const char* first;
        const char* rest;
        int index;
        bool insert;
    };
    const row rows[] = {
        {"a", false, "a", "", 0, false},           {"a.b.c", false, "a", "b.c", 0, false},
        {"a[2].c", false, "a", "[2].c", 0, false}, {"[2].c", true, "[2]", "c", 2, false},
        {"[]", true, "[]", "", -1, false},         {"[+3]", true, "[+3]", "", 3, true},
        {"[-1]", true, "[-1]", "", -1, false},     {"[1][2]", true, "[1][2]", "", 1, false},
        {"a[2", false, "a[2", "", 0, false},       {"a]", false, "a]", "", 0, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        std::string first;
        std::string rest;
        int index = 0;
        bool insert = false;
        EXPECT_EQ(tarvojson::split_path(r.path, first, rest, index, insert), r.is_index);
        EXPECT_EQ(first, r.first);
        EXPECT_EQ(rest, r.rest);
        if (r.is_index) {
            EXPECT_EQ(index, r.index);
            EXPECT_EQ(insert, r.insert);
        }
    }
    std::string first;
    std::string rest;
    int index = 0;
    bool insert = false;
    for (const char* invalid : {"[x]", "[+]", "[-2]", "[99999999999]"}) {
        SCOPED_TRACE(invalid);
        EXPECT_TRUE(tarvojson::split_path(invalid, first, rest, index, insert));
        EXPECT_LT(index, -1);
    }
}

TEST(ElementTest, MakePathBuildsWhatIsMissing)
{
    element e;
    element& c = e.make_path("a.b[2].c");
    EXPECT_TRUE(c.is_null());
    c.as_int64() = 7;
    EXPECT_EQ(e.to_json(), "{\"a\":{\"b\":[null,null,{\"c\":7}]}}");
    EXPECT_EQ(&e.make_path("a.b[2].c"), &c);  // found again, not rebuilt
    EXPECT_EQ(&e.make_path(""), &e);

    element x = parsed("{\"x\":[1,2]}");
    x.make_path("x[+0]").as_string() = "front";
    x.make_path("x[]").as_string() = "end";
    x.make_path("x[-1]").as_string() = "end2";
    x.make_path("x[1][5]").as_int64() = 9;  // the second index is ignored
    EXPECT_EQ(x.to_json(), "{\"x\":[\"front\",9,2,\"end\",\"end2\"]}");

    element scalar = parsed("5");
    scalar.make_path("k").as_int64() = 1;  // a scalar gives way to an object
    EXPECT_EQ(scalar.to_json(), "{\"k\":1}");

    for (const char* invalid : {"x[abc]", "x[-2]", "a.[+]"}) {
        SCOPED_TRACE(invalid);
        EXPECT_EQ(error_of([&] { x.make_path(invalid); }), "invalid_path");
    }
}

TEST(ElementTest, FindPathChangesNothing)
{
    const element e = parsed("{\"a\":{\"b\":[10,{\"c\":\"x\"}]},\"e\":[]}");
    struct row {
        const char* path;
        const char* found;  // JSON of what is found, or null for nothing
    };
    const row rows[] = {
        {"", "{\"a\":{\"b\":[10,{\"c\":\"x\"}]},\"e\":[]}"},
        {"a.b[0]", "10"},
        {"a.b[-1].c", "\"x\""},
        {"a.b[]", "{\"c\":\"x\"}"},
        {"a.b[+1].c", "\"x\""},  // the insert mark is ignored
        {"a.b[2]", nullptr},
        {"e[]", nullptr},
        {"a.missing", nullptr},
        {"a.b.c", nullptr},
        {"a[0]", nullptr},
        {"a.b[x]", nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        const element* found = e.find_path(r.path);
        if (r.found == nullptr) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->to_json(), r.found);
        }
    }
    EXPECT_EQ(e.get_string("a.b[1].c", "d"), "x");
    EXPECT_EQ(e.get_string("a.b[0]", "d"), "d");
    EXPECT_EQ(e.get_string("nothing", "d"), "d");
}

TEST(ElementTest, ErasePathRemovesWhatThePathNames)
{
    const std::string start = "{\"a\":{\"b\":[1,2,3],\"c\":4},\"d\":[]}";
    struct row {
        const char* path;
        const char* result;  // JSON after the erase, or the error text
    };
    const row rows[] = {
        {"", "null"},
        {"d", "{\"a\":{\"b\":[1,2,3],\"c\":4}}"},
        {"a.c", "{\"a\":{\"b\":[1,2,3]},\"d\":[]}"},
        {"a.b[1]", "{\"a\":{\"b\":[1,3],\"c\":4},\"d\":[]}"},
        {"a.b[]", "{\"a\":{\"b\":[1,2],\"c\":4},\"d\":[]}"},
        {"a.b.[0]", "{\"a\":{\"b\":[2,3],\"c\":4},\"d\":[]}"},
        {"a.b[3]", "invalid_path"},
        {"d[]", "invalid_path"},
        {"a.x", "invalid_path"},
        {"x.b", "invalid_path"},
        {"a.c[0]", "invalid_path"},
        {"a.b[x]", "invalid_path"},
        {"d.x", "invalid_path"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.path);
        element e = parsed(start);
        std::string error = error_of([&] { e.erase_path(r.path); });
        EXPECT_EQ(error == "no exception" ? e.to_json() : error, r.result);
    }
}

}  // namespace
