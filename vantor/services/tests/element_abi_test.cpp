#include "vantor/services/element_abi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/services/element.h"
#include "vantor/services/json.h"
#include "vantor/services/tests/element_test_util.h"

using tarvojson::element;
using tarvojson::element_kind;
using vantor_abi::value;
using namespace element_test;

namespace {

element parsed(const std::string& text)
{
    element e;
    tarvojson::parse_text(e, text);
    return e;
}

std::string text_of(const vantor_abi::str_view& view)
{
    return view.handle == nullptr ? "<none>" : view.to_string();
}

TEST(ElementAbiTest, ViewsReadOwnElementsThroughTheTables)
{
    element e = parsed("{\"arr\":[1,\"s\"],\"int\":-4,\"str\":\"text\",\"json\":null}");
    e.make_path("json").as_text() = "[true]";
    e.make_path("blob").as_netbuf().append_string("bytes");
    value v = vantor_abi::value_of(e);
    ASSERT_EQ(v.ops->zero, 0u);
    EXPECT_EQ(v.ops->kind(v.handle), 3);
    EXPECT_EQ(v.ops->kind(nullptr), -1);

    // Views of another kind than the value's have a null handle.
    EXPECT_EQ(v.ops->get_string(v.handle).handle, nullptr);
    EXPECT_EQ(v.ops->get_array(v.handle).handle, nullptr);
    EXPECT_EQ(v.ops->get_int64(v.handle), nullptr);
    EXPECT_EQ(v.ops->get_netbuf(v.handle), nullptr);

    vantor_abi::value_map map = v.ops->get_object(v.handle);
    ASSERT_NE(map.handle, nullptr);
    EXPECT_EQ(map.ops->size(map.handle), 5u);
    std::string arr_name = "arr";
    std::string missing = "nope";
    EXPECT_TRUE(map.ops->has(map.handle, vantor_abi::str_view::of(arr_name)));
    EXPECT_FALSE(map.ops->has(map.handle, vantor_abi::str_view::of(missing)));

    std::vector<std::string> seen;
    map.ops->for_each(
        map.handle,
        [](void* user, vantor_abi::str_view name, value member) {
            static_cast<std::vector<std::string>*>(user)->push_back(
                name.to_string() + "=" + std::to_string(member.ops->kind(member.handle)));
        },
        &seen);
    EXPECT_EQ(seen, (std::vector<std::string>{"arr=2", "blob=6", "int=4", "json=5", "str=1"}));

    element got;
    EXPECT_TRUE(
        map.ops->get(map.handle, vantor_abi::str_view::of(arr_name), vantor_abi::element_receiver(got)));
    EXPECT_EQ(got.to_json(), "[1,\"s\"]");
    EXPECT_FALSE(
        map.ops->get(map.handle, vantor_abi::str_view::of(missing), vantor_abi::element_receiver(got)));

    value arr = vantor_abi::value_of(*e.find_path("arr"));
    vantor_abi::value_list list = arr.ops->get_array(arr.handle);
    EXPECT_EQ(list.ops->size(list.handle), 2u);
    value first = list.ops->item(list.handle, 0);
    EXPECT_EQ(*first.ops->get_int64(first.handle), 1);
    value second = list.ops->item(list.handle, 1);
    EXPECT_EQ(text_of(second.ops->get_string(second.handle)), "s");
    value past = list.ops->item(list.handle, 2);
    EXPECT_EQ(past.ops->kind(past.handle), -1);

    value json = vantor_abi::value_of(*e.find_path("json"));
    EXPECT_EQ(text_of(json.ops->get_json_text(json.handle)), "[true]");
    value blob = vantor_abi::value_of(*e.find_path("blob"));
    EXPECT_EQ(blob.ops->get_netbuf(blob.handle), e.find_path("blob")->netbuf_if()->get());
    EXPECT_EQ(blob.ops->get_json_netbuf(blob.handle), nullptr);
}

TEST(ElementAbiTest, ConversionCopiesTreesAndSharesBlocks)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 100; ++round) {
        element tree;
        fill_random(tree, rng, 4, text_kind::any_bytes);
        element copy;
        tarvojson::element_from_abi_value(copy, vantor_abi::value_of(tree));
        EXPECT_TRUE(same_tree(tree, copy));
    }

    element e;
    e.make_path("text").as_text() = "{'x':1}";
    e.make_path("blob").as_netbuf().append_string("abc");
    e.make_path("json").as_json_netbuf().append_string("[2]");
    element copy;
    tarvojson::pass_element_to_abi(vantor_abi::element_receiver(copy), e);
    EXPECT_EQ(copy.find_path("text")->kind(), element_kind::text);
    EXPECT_EQ(copy.find_path("blob")->kind(), element_kind::netbuf);
    EXPECT_EQ(copy.find_path("json")->kind(), element_kind::json_netbuf);
    EXPECT_EQ(copy.to_json(), e.to_json());
    copy.make_path("blob").as_netbuf().append_string("+");
    EXPECT_EQ(e.get_string("blob", ""), "abc");

    // A value may be a view of its own target.
    element self = parsed("{\"a\":[1,{\"b\":2}]}");
    tarvojson::element_from_abi_value(self, vantor_abi::value_of(*self.find_path("a")));
    EXPECT_EQ(self.to_json(), "[1,{\"b\":2}]");
}

// A value table of another side, as the host would offer one: kinds it reports and members it
// visits come from the test.
struct foreign {
    std::int32_t kind;
    std::vector<foreign> members;
};

std::int32_t __cdecl foreign_kind(const void* handle)
{
    return static_cast<const foreign*>(handle)->kind;
}

extern const vantor_abi::value_ops foreign_ops;
extern const vantor_abi::value_map_ops foreign_map_ops;

vantor_abi::value_map __cdecl foreign_object(const void* handle)
{
    return {&foreign_map_ops, handle};
}

void __cdecl foreign_for_each(const void* handle, vantor_abi::value_map_visit visit, void* user)
{
    static const std::string names[] = {"m0", "m1", "m2"};
    const auto& self = *static_cast<const foreign*>(handle);
    for (std::size_t k = 0; k < self.members.size(); ++k) {
        visit(user, vantor_abi::str_view::of(names[k]), {&foreign_ops, &self.members[k]});
    }
}

const vantor_abi::value_ops foreign_ops{0,       &foreign_kind, nullptr,         nullptr, nullptr,
                                        nullptr, nullptr,       &foreign_object, nullptr};
const vantor_abi::value_map_ops foreign_map_ops{0, nullptr, nullptr, nullptr, &foreign_for_each};

TEST(ElementAbiTest, UnknownKindsAreRefusedAfterTheHostsWalkEnds)
{
    foreign bad_kind{8, {}};
    element target;
    EXPECT_EQ(error_of([&] {
                  tarvojson::element_from_abi_value(target, {&foreign_ops, &bad_kind});
              }),
              internal_error_text(113));

    // The failing member does not unwind through the host's for_each; the error comes after it.
    foreign object{3, {foreign{0, {}}, foreign{-1, {}}, foreign{0, {}}}};
    EXPECT_EQ(error_of([&] {
                  tarvojson::element_from_abi_value(target, {&foreign_ops, &object});
              }),
              internal_error_text(113));
    EXPECT_EQ(target.to_json(), "{\"m0\":null,\"m1\":null}");

    // The element receiver, called by the host, lets nothing out.
    element received = parsed("1");
    vantor_abi::value_receiver r = vantor_abi::element_receiver(received);
    EXPECT_NO_THROW(r.ops->receive(r.target, {&foreign_ops, &bad_kind}));
}

TEST(ElementAbiTest, IntegerReceiversStoreAndReport)
{
    std::int32_t stored = 0;
    vantor_abi::int32_out out = vantor_abi::int32_out::into(stored);
    out.ops->set(out.target, -17);
    EXPECT_EQ(stored, -17);
    vantor_abi::int32_view view = vantor_abi::int32_view::of(stored);
    EXPECT_EQ(view.ops->get(view.target), -17);
    EXPECT_EQ(out.ops->zero, 0u);
    EXPECT_EQ(view.ops->zero, 0u);
}

}  // namespace
