#include <amxc/amxc_borrowed_tree.h>
#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include <array>
#include <memory_resource>
#include <string>
#include <vector>

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

// A tree that borrows its texts and keys answers every reader as the owned tree it mirrors:
// lookups in a table with buckets (more than a few members) and in one without, iteration
// order, parents, paths, a copy.
TEST(BorrowedTree, ReadsAsTheOwnedTree) {
    std::vector<std::string> keys;
    for(int n = 0; n < 20; ++n) {
        keys.push_back("key" + std::to_string(n));
    }
    Var owned = typed(AMXC_VAR_ID_HTABLE);
    std::array<std::byte, 256> room;  // too small: the rest comes from the heap
    std::pmr::monotonic_buffer_resource memory(room.data(), room.size());
    amxc::BorrowedTree tree(memory);
    amxc_var_t* borrowed = tree.new_var();
    tree.make_table(borrowed, keys.size() + 1);
    for(const std::string& key : keys) {
        amxc_var_add_key(cstring_t, owned.get(), key.c_str(), key.c_str());
        amxc::BorrowedTree::set_text(tree.add_member(borrowed, key.c_str()), AMXC_VAR_ID_CSTRING, key.c_str());
    }
    amxc_var_t* owned_list = amxc_var_add_new_key_list(owned.get(), "list");
    amxc_var_add_key(uint32_t, amxc_var_add_new_htable(owned_list), "k", 7);
    amxc_var_t* list = tree.add_member(borrowed, "list");
    amxc_var_set_type(list, AMXC_VAR_ID_LIST);
    amxc_var_t* inner = tree.add_element(list);
    tree.make_table(inner, 1);
    amxc_var_set_uint32_t(tree.add_member(inner, "k"), 7);

    EXPECT_EQ(dump(borrowed), dump(owned.get()));
    int result = 1;
    ASSERT_EQ(amxc_var_compare(borrowed, owned.get(), &result), 0);
    EXPECT_EQ(result, 0);
    for(const std::string& key : keys) {
        amxc_var_t* member = amxc_var_get_key(borrowed, key.c_str(), AMXC_VAR_FLAG_DEFAULT);
        ASSERT_NE(member, nullptr) << key;
        EXPECT_STREQ(amxc_var_constcast(cstring_t, member), key.c_str());
        EXPECT_EQ(amxc_var_get_parent(member), borrowed);
    }
    EXPECT_EQ(amxc_var_get_key(borrowed, "key20", AMXC_VAR_FLAG_DEFAULT), nullptr);
    EXPECT_EQ(amxc_var_get_uint32_t(amxc_var_get_path(borrowed, "list.0.k", AMXC_VAR_FLAG_DEFAULT)), 7U);
    Var copy;
    ASSERT_EQ(amxc_var_copy(copy.get(), borrowed), 0);
    EXPECT_EQ(dump(copy), dump(owned.get()));
}

}  // namespace
