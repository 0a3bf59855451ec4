#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include "var_test_util.h"

namespace {

using amxc_test::dump;
using amxc_test::typed;
using amxc_test::Var;

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        amxc_var_add_key(cstring_t, table.get(), "a", "A");
        amxc_var_add_key(cstring_t, table.get(), "b", "B");
        amxc_var_add_key(cstring_t, table.get(), "c", "C");
    }
    Var table = typed(AMXC_VAR_ID_HTABLE);
};

TEST_F(TableTest, ExistingKeyIsReplacedOnlyWithUpdate) {
    amxc_var_t* data = nullptr;
    ASSERT_EQ(amxc_var_new(&data), 0);
    amxc_var_set(cstring_t, data, "X");
    EXPECT_NE(amxc_var_set_key(table.get(), "b", data, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_NE(amxc_var_set_key(table.get(), "b", data, AMXC_VAR_FLAG_COPY), 0);
    EXPECT_EQ(amxc_var_get_parent(data), nullptr);
    EXPECT_EQ(dump(table), "{a: 'A', b: 'B', c: 'C'}");
    ASSERT_EQ(amxc_var_set_key(table.get(), "b", data, AMXC_VAR_FLAG_UPDATE), 0);
    EXPECT_EQ(amxc_var_get_key(table.get(), "b", AMXC_VAR_FLAG_DEFAULT), data);
    // add_key overwrites the value and keeps the member.
    amxc_var_t* member = amxc_var_get_key(table.get(), "c", AMXC_VAR_FLAG_DEFAULT);
    EXPECT_EQ(amxc_var_add_key(bool, table.get(), "c", true), member);
    EXPECT_EQ(dump(table), "{a: 'A', b: 'X', c: true}");
}

TEST_F(TableTest, ContainerCannotBeStoredInsideItself) {
    amxc_var_t* inner = amxc_var_add_new_key_htable(table.get(), "inner");
    amxc_var_t* deeper = amxc_var_add_new_key_list(inner, "deeper");
    EXPECT_NE(amxc_var_set_key(inner, "self", inner, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_NE(amxc_var_set_index(deeper, 0, inner, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_NE(amxc_var_move(deeper, inner), 0);
    // As a copy it is fine.
    ASSERT_EQ(amxc_var_set_index(deeper, 0, inner, AMXC_VAR_FLAG_COPY), 0);
    EXPECT_EQ(dump(inner), "{deeper: [{deeper: []}]}");
}

TEST_F(TableTest, ChildMayReplaceItsOwnAncestorMember) {
    amxc_var_t* outer = amxc_var_add_new_key_htable(table.get(), "x");
    amxc_var_t* grandchild = amxc_var_add_key(cstring_t, amxc_var_add_new_key_list(outer, "l"), "ignored", "v");
    EXPECT_EQ(grandchild, nullptr);  // a list has no keys
    amxc_var_t* list = amxc_var_get_key(outer, "l", AMXC_VAR_FLAG_DEFAULT);
    grandchild = amxc_var_add(cstring_t, list, "v");
    ASSERT_EQ(amxc_var_set_key(table.get(), "x", grandchild, AMXC_VAR_FLAG_UPDATE), 0);
    EXPECT_EQ(dump(table), "{a: 'A', b: 'B', c: 'C', x: 'v'}");
}

// Deleting is not recursive, so a hostile depth cannot exhaust the stack;
// recursive walks refuse beyond their depth limit instead of crashing.
TEST(VariantDepth, VeryDeepTreesAreHandled) {
    Var root = typed(AMXC_VAR_ID_LIST);
    amxc_var_t* at = root.get();
    for(int i = 0; i < 200000; ++i) {
        at = (i % 2 == 0) ? amxc_var_add_new_list(at) : amxc_var_add_new_key_list(amxc_var_add_new_htable(at), "k");
        ASSERT_NE(at, nullptr);
    }
    Var copy;
    EXPECT_NE(amxc_var_copy(copy.get(), root.get()), 0);
    EXPECT_TRUE(amxc_var_is_null(copy.get()));
    int result = 0;
    EXPECT_NE(amxc_var_compare(root.get(), root.get(), &result), 0);
    EXPECT_EQ(amxc_var_get_cstring_t(root.get()), nullptr);
}

}  // namespace
