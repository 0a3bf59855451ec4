#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include "var_test_util.h"

namespace {

using amxc_test::dump;
using amxc_test::typed;
using amxc_test::Var;

amxc_var_t* heap_text(const char* value) {
    amxc_var_t* var = nullptr;
    EXPECT_EQ(amxc_var_new(&var), 0);
    amxc_var_set(cstring_t, var, value);
    return var;
}

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        amxc_var_add_key(cstring_t, table.get(), "a", "A");
        amxc_var_add_key(cstring_t, table.get(), "b", "B");
        amxc_var_add_key(cstring_t, table.get(), "c", "C");
    }
    Var table = typed(AMXC_VAR_ID_HTABLE);
};

TEST_F(TableTest, SetKeyTakesOwnershipOfNewKey) {
    amxc_var_t* data = heap_text("D");
    ASSERT_EQ(amxc_var_set_key(table.get(), "d", data, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_EQ(amxc_var_get_key(table.get(), "d", AMXC_VAR_FLAG_DEFAULT), data);
    EXPECT_EQ(amxc_var_get_parent(data), table.get());
    EXPECT_STREQ(amxc_var_key(data), "d");
    EXPECT_EQ(dump(table), "{a: 'A', b: 'B', c: 'C', d: 'D'}");
}

TEST_F(TableTest, ExistingKeyWithoutUpdateFailsAndChangesNothing) {
    amxc_var_t* data = heap_text("X");
    EXPECT_NE(amxc_var_set_key(table.get(), "b", data, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_NE(amxc_var_set_key(table.get(), "b", data, AMXC_VAR_FLAG_COPY), 0);
    EXPECT_EQ(amxc_var_get_parent(data), nullptr);
    EXPECT_EQ(dump(table), "{a: 'A', b: 'B', c: 'C'}");
    amxc_var_delete(&data);
}

TEST_F(TableTest, UpdateReplacesInPlace) {
    amxc_var_t* data = heap_text("B2");
    ASSERT_EQ(amxc_var_set_key(table.get(), "b", data, AMXC_VAR_FLAG_UPDATE), 0);
    EXPECT_EQ(amxc_var_get_key(table.get(), "b", AMXC_VAR_FLAG_DEFAULT), data);
    EXPECT_EQ(dump(table), "{a: 'A', b: 'B2', c: 'C'}");

    // With COPY the member stays the same variant and the data stays ours.
    amxc_var_t* member = amxc_var_get_key(table.get(), "a", AMXC_VAR_FLAG_DEFAULT);
    Var copied = typed(AMXC_VAR_ID_LIST);
    amxc_var_add(uint32_t, copied.get(), 1);
    ASSERT_EQ(amxc_var_set_key(table.get(), "a", copied.get(), AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE), 0);
    EXPECT_EQ(amxc_var_get_key(table.get(), "a", AMXC_VAR_FLAG_DEFAULT), member);
    EXPECT_EQ(dump(table), "{a: [u32:1], b: 'B2', c: 'C'}");
    EXPECT_EQ(dump(copied), "[u32:1]");

    // add_key overwrites the value and keeps the member.
    member = amxc_var_get_key(table.get(), "c", AMXC_VAR_FLAG_DEFAULT);
    EXPECT_EQ(amxc_var_add_key(bool, table.get(), "c", true), member);
    EXPECT_EQ(dump(table), "{a: [u32:1], b: 'B2', c: true}");
}

TEST_F(TableTest, IterationOrderAfterReplaceAndDelete) {
    ASSERT_EQ(amxc_var_set_key(table.get(), "b", heap_text("B2"), AMXC_VAR_FLAG_UPDATE), 0);
    amxc_var_t* a = amxc_var_get_key(table.get(), "a", AMXC_VAR_FLAG_DEFAULT);
    amxc_var_delete(&a);
    amxc_var_add_key(cstring_t, table.get(), "d", "D");
    amxc_var_add_key(cstring_t, table.get(), "a", "A2");
    EXPECT_EQ(dump(table), "{b: 'B2', c: 'C', d: 'D', a: 'A2'}");
    EXPECT_EQ(amxc_var_size(table.get()), 4U);
    amxc_var_for_each(member, table.get()) {
        if(amxc_var_key(member)[0] != 'd') {
            amxc_var_delete(&member);
        }
    }
    EXPECT_EQ(dump(table), "{d: 'D'}");
}

TEST_F(TableTest, MovingMembersBetweenContainers) {
    Var other = typed(AMXC_VAR_ID_HTABLE);
    Var list = typed(AMXC_VAR_ID_LIST);
    amxc_var_t* b = amxc_var_get_key(table.get(), "b", AMXC_VAR_FLAG_DEFAULT);
    ASSERT_EQ(amxc_var_set_key(other.get(), "moved", b, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_EQ(dump(table), "{a: 'A', c: 'C'}");
    EXPECT_EQ(dump(other), "{moved: 'B'}");
    EXPECT_FALSE(amxc_var_get_key(table.get(), "b", AMXC_VAR_FLAG_DEFAULT));

    ASSERT_EQ(amxc_var_set_index(list.get(), 0, b, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_EQ(amxc_var_key(b), nullptr);
    EXPECT_EQ(dump(other), "{}");
    ASSERT_EQ(amxc_var_set_key(table.get(), "b", b, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_EQ(dump(list), "[]");
    EXPECT_EQ(dump(table), "{a: 'A', c: 'C', b: 'B'}");

    amxc_var_t* taken = amxc_var_take_it(amxc_var_get_key(table.get(), "a", AMXC_VAR_FLAG_DEFAULT));
    EXPECT_EQ(amxc_var_get_parent(taken), nullptr);
    EXPECT_EQ(amxc_var_key(taken), nullptr);
    EXPECT_EQ(dump(table), "{c: 'C', b: 'B'}");
    amxc_var_delete(&taken);
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

TEST_F(TableTest, GetKeyCopyIsIndependent) {
    amxc_var_t* copy = amxc_var_get_key(table.get(), "a", AMXC_VAR_FLAG_COPY);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(amxc_var_get_parent(copy), nullptr);
    amxc_var_set(cstring_t, copy, "changed");
    EXPECT_EQ(dump(table), "{a: 'A', b: 'B', c: 'C'}");
    amxc_var_delete(&copy);
    EXPECT_EQ(amxc_var_get_key(table.get(), "zz", AMXC_VAR_FLAG_COPY), nullptr);
    EXPECT_EQ(amxc_var_get_key(typed(AMXC_VAR_ID_LIST).get(), "a", AMXC_VAR_FLAG_DEFAULT), nullptr);
}

TEST_F(TableTest, MoveAndCopyFixParentLinks) {
    Var moved;
    ASSERT_EQ(amxc_var_move(moved.get(), table.get()), 0);
    EXPECT_TRUE(amxc_var_is_null(table.get()));
    amxc_var_for_each(member, moved.get()) {
        EXPECT_EQ(amxc_var_get_parent(member), moved.get());
    }
    amxc_var_add_key(cstring_t, moved.get(), "d", "D");
    amxc_var_t* b = amxc_var_get_key(moved.get(), "b", AMXC_VAR_FLAG_DEFAULT);
    amxc_var_delete(&b);
    EXPECT_EQ(dump(moved), "{a: 'A', c: 'C', d: 'D'}");

    // Copying or moving a member over its own container.
    ASSERT_EQ(amxc_var_copy(moved.get(), amxc_var_get_key(moved.get(), "c", AMXC_VAR_FLAG_DEFAULT)), 0);
    EXPECT_EQ(dump(moved), "'C'");
    Var list = typed(AMXC_VAR_ID_LIST);
    amxc_var_t* inner = amxc_var_add_new_list(list.get());
    amxc_var_add(int32_t, inner, 9);
    ASSERT_EQ(amxc_var_move(list.get(), inner), 0);
    EXPECT_EQ(dump(list), "[i32:9]");
    EXPECT_EQ(amxc_var_get_parent(amxc_var_get_first(list.get())), list.get());
    ASSERT_EQ(amxc_var_copy(amxc_var_get_first(list.get()), list.get()), 0);
    EXPECT_EQ(dump(list), "[[i32:9]]");
}

TEST(VariantList, IndexAccess) {
    Var list = typed(AMXC_VAR_ID_LIST);
    for(int32_t i = 0; i < 4; ++i) {
        amxc_var_add(int32_t, list.get(), i);
    }
    EXPECT_EQ(dump(amxc_var_get_index(list.get(), -1, AMXC_VAR_FLAG_DEFAULT)), "i32:3");
    EXPECT_EQ(dump(amxc_var_get_index(list.get(), -4, AMXC_VAR_FLAG_DEFAULT)), "i32:0");
    EXPECT_EQ(amxc_var_get_index(list.get(), -5, AMXC_VAR_FLAG_DEFAULT), nullptr);
    EXPECT_EQ(amxc_var_get_index(list.get(), 4, AMXC_VAR_FLAG_DEFAULT), nullptr);

    amxc_var_t* data = heap_text("x");
    ASSERT_EQ(amxc_var_set_index(list.get(), 1, data, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_EQ(dump(list), "[i32:0, 'x', i32:1, i32:2, i32:3]");
    ASSERT_EQ(amxc_var_set_index(list.get(), 5, heap_text("end"), AMXC_VAR_FLAG_DEFAULT), 0);
    ASSERT_EQ(amxc_var_set_index(list.get(), -1, heap_text("last"), AMXC_VAR_FLAG_UPDATE), 0);
    ASSERT_EQ(amxc_var_set_index(list.get(), 0, data, AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE), 0);
    EXPECT_EQ(dump(list), "['x', 'x', i32:1, i32:2, i32:3, 'last']");

    amxc_var_t* refused = heap_text("r");
    EXPECT_NE(amxc_var_set_index(list.get(), 7, refused, AMXC_VAR_FLAG_DEFAULT), 0);
    EXPECT_NE(amxc_var_set_index(list.get(), 6, refused, AMXC_VAR_FLAG_UPDATE), 0);
    EXPECT_EQ(amxc_var_get_parent(refused), nullptr);
    amxc_var_delete(&refused);
    EXPECT_EQ(amxc_var_size(list.get()), 6U);

    // Tables are indexed in insertion order too.
    Var table = typed(AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(int32_t, table.get(), "k", 1);
    amxc_var_add_key(int32_t, table.get(), "j", 2);
    EXPECT_STREQ(amxc_var_key(amxc_var_get_index(table.get(), -1, AMXC_VAR_FLAG_DEFAULT)), "j");
}

TEST(VariantList, ForEachInBothDirectionsWithDeletion) {
    Var list = typed(AMXC_VAR_ID_LIST);
    for(int32_t i = 0; i < 6; ++i) {
        amxc_var_add(int32_t, list.get(), i);
    }
    std::string seen;
    amxc_var_for_each_reverse(element, list.get()) {
        seen += std::to_string(amxc_var_constcast(int32_t, element));
        if(amxc_var_constcast(int32_t, element) % 2 == 0) {
            amxc_var_delete(&element);
        }
    }
    EXPECT_EQ(seen, "543210");
    EXPECT_EQ(dump(list), "[i32:1, i32:3, i32:5]");
    EXPECT_EQ(amxc_var_get_first(typed(AMXC_VAR_ID_BOOL).get()), nullptr);
    EXPECT_EQ(amxc_var_add_new(typed(AMXC_VAR_ID_HTABLE).get()), nullptr);
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
