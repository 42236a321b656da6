#include "vantor/services/element_fut.h"

#include <gtest/gtest.h>

#include "vantor/core/fut_abi_table.h"
#include "vantor/services/json.h"
#include "vantor/services/tests/element_test_util.h"

using tarvojson::element;

namespace {

TEST(ElementFutTest, TheHostSetsAndReadsElementsThroughTheFutureTable)
{
    element tree;
    tarvojson::parse_text(tree, "{\"a\":[1,\"x\",{\"b\":null}],\"c\":\"\\u00e9\"}");

    vantor::fut<element> f;
    auto x = vantor::make_xapi_fut(f);
    x.ops->set_value(x.handle, vantor_abi::value_of(tree));
    ASSERT_TRUE(f.is_done());
    EXPECT_EQ(f.get().to_json(), tree.to_json());

    element out;
    EXPECT_EQ(x.ops->get(x.handle, vantor_abi::element_receiver(out)), nullptr);
    EXPECT_EQ(out.to_json(), tree.to_json());
    x.ops->free(x.handle);

    // A value the element cannot take leaves the future pending.
    vantor::fut<element> g;
    auto y = vantor::make_xapi_fut(g);
    y.ops->set_value(y.handle, vantor_abi::value{vantor_abi::value_of(tree).ops, nullptr});
    EXPECT_TRUE(g.is_pending());
    y.ops->free(y.handle);
}

}  // namespace
