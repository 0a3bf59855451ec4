#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include "var_test_util.h"

namespace {

using amxc_test::text;
using amxc_test::typed;
using amxc_test::Var;

Var i64(int64_t value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_int64_t(v, value); });
}
Var u64(uint64_t value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_uint64_t(v, value); });
}
Var boolean(bool value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_bool(v, value); });
}

// The comparison result, or 99 when the values do not compare.
int cmp(const Var& a, const Var& b) {
    int result = 42;
    if(amxc_var_compare(a.get(), b.get(), &result) != 0) {
        EXPECT_EQ(result, 42);  // untouched on failure
        return 99;
    }
    return result;
}

TEST(VariantCompare, NumbersByValueAcrossWidthsAndSigns) {
    EXPECT_EQ(cmp(i64(-1), u64(UINT64_MAX)), -1);
    EXPECT_EQ(cmp(u64(UINT64_MAX), i64(INT64_MAX)), 1);
    EXPECT_EQ(cmp(i64(INT64_MIN), i64(INT64_MIN + 1)), -1);
    EXPECT_EQ(cmp(i64(7), u64(7)), 0);
    EXPECT_EQ(cmp(boolean(true), u64(1)), 0);
    EXPECT_EQ(cmp(boolean(false), i64(-1)), 1);
}

TEST(VariantCompare, TextAgainstNumbersAndTexts) {
    EXPECT_EQ(cmp(text("10"), i64(9)), 1);    // by value, not "10" < "9"
    EXPECT_EQ(cmp(text(" 10 "), i64(10)), 0);
    EXPECT_EQ(cmp(text("10"), text("9")), -1);  // two texts: bytes
    EXPECT_EQ(cmp(text("abc"), i64(1)), 1);    // not a number: as texts
    EXPECT_EQ(cmp(text("yes"), boolean(true)), 0);
    EXPECT_EQ(cmp(text("b"), amxc_test::csv("a")), 1);
    EXPECT_EQ(cmp(Var(), text("")), -1);
    EXPECT_EQ(cmp(Var(), Var()), 0);
}

TEST(VariantCompare, Containers) {
    Var a = typed(AMXC_VAR_ID_HTABLE);
    Var b = typed(AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, a.get(), "x", "1");
    amxc_var_add_key(uint32_t, a.get(), "y", 2);
    amxc_var_add_key(int64_t, b.get(), "y", 2);
    amxc_var_add_key(cstring_t, b.get(), "x", "1");
    EXPECT_EQ(cmp(a, b), 0);  // insertion order does not matter
    amxc_var_add_key(cstring_t, b.get(), "x", "2");
    EXPECT_NE(cmp(a, b), 0);
    amxc_var_add_key(cstring_t, b.get(), "z", "");
    EXPECT_EQ(cmp(a, b), -1);

    Var l1 = typed(AMXC_VAR_ID_LIST);
    Var l2 = typed(AMXC_VAR_ID_LIST);
    amxc_var_add(cstring_t, l1.get(), "a");
    amxc_var_add(cstring_t, l2.get(), "a");
    amxc_var_add(cstring_t, l2.get(), "b");
    EXPECT_EQ(cmp(l1, l2), -1);
    amxc_var_add(cstring_t, l1.get(), "c");
    EXPECT_EQ(cmp(l1, l2), 1);

    EXPECT_EQ(cmp(l1, a), 99);
    EXPECT_EQ(cmp(l1, text("a,c")), 99);
    EXPECT_NE(amxc_var_compare(l1.get(), nullptr, nullptr), 0);
}

}  // namespace
