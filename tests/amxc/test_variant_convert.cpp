#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "var_test_util.h"

namespace {

using amxc_test::csv;
using amxc_test::dump;
using amxc_test::of;
using amxc_test::text;
using amxc_test::typed;
using amxc_test::Var;

// The converted value rendered with its type, or "FAIL". A failure must
// leave the destination NULL-typed, whatever it held before.
std::string conv(const Var& src, uint32_t type_id) {
    Var dest = text("previous content");
    if(amxc_var_convert(dest.get(), src.get(), type_id) != 0) {
        EXPECT_TRUE(amxc_var_is_null(dest.get())) << dump(dest);
        return "FAIL";
    }
    return dump(dest);
}

constexpr uint32_t kBool = AMXC_VAR_ID_BOOL, kI32 = AMXC_VAR_ID_INT32, kU32 = AMXC_VAR_ID_UINT32,
                   kI64 = AMXC_VAR_ID_INT64, kU64 = AMXC_VAR_ID_UINT64, kList = AMXC_VAR_ID_LIST;

TEST(VariantConversion, TextConvertsAsAWholeOrFails) {
    const struct {
        const char* input;
        uint32_t target;
        const char* expected;
    } rows[] = {
        {"true", kBool, "true"}, {" YES ", kBool, "true"}, {"On", kBool, "true"}, {"1", kBool, "true"},
        {"FALSE", kBool, "false"}, {"\toff\n", kBool, "false"}, {"no", kBool, "false"}, {"0", kBool, "false"},
        {"", kBool, "FAIL"}, {"2", kBool, "FAIL"}, {"truex", kBool, "FAIL"}, {"tr ue", kBool, "FAIL"},

        {"42", kI32, "i32:42"}, {" -7 ", kI32, "i32:-7"}, {"+5", kI32, "i32:5"}, {"007", kI32, "i32:7"},
        {"2147483647", kI32, "i32:2147483647"}, {"-2147483648", kI32, "i32:-2147483648"},
        {"2147483648", kI32, "FAIL"}, {"-2147483649", kI32, "FAIL"}, {"12abc", kI32, "FAIL"}, {"", kI32, "FAIL"},
        {"  ", kI32, "FAIL"}, {"0x10", kI32, "FAIL"}, {"1.5", kI32, "FAIL"}, {"- 1", kI32, "FAIL"},
        {"+-1", kI32, "FAIL"}, {"--1", kI32, "FAIL"}, {"+", kI32, "FAIL"}, {"1 2", kI32, "FAIL"},
        {"-9223372036854775808", kI64, "i64:-9223372036854775808"},
        {"9223372036854775807", kI64, "i64:9223372036854775807"},
        {"9223372036854775808", kI64, "FAIL"}, {"99999999999999999999999", kI64, "FAIL"},

        {"4294967295", kU32, "u32:4294967295"}, {"+7", kU32, "u32:7"}, {"4294967296", kU32, "FAIL"},
        {"-1", kU32, "FAIL"}, {"-0", kU32, "FAIL"}, {"-1", kU64, "FAIL"},
        {"18446744073709551615", kU64, "u64:18446744073709551615"}, {"18446744073709551616", kU64, "FAIL"},

        {"a, b ,c", kList, "['a', 'b', 'c']"}, {"", kList, "[]"}, {" ", kList, "[]"},
        {"a,,b", kList, "['a', '', 'b']"}, {"80", kList, "['80']"}, {"x", AMXC_VAR_ID_HTABLE, "FAIL"},
        {"x", AMXC_VAR_ID_NULL, "null"}, {"x", 42, "FAIL"},
    };
    for(const auto& row : rows) {
        EXPECT_EQ(conv(text(row.input), row.target), row.expected) << "'" << row.input << "' to " << row.target;
        // Comma-separated text converts exactly like text.
        EXPECT_EQ(conv(csv(row.input), row.target), row.expected) << "csv '" << row.input << "' to " << row.target;
    }
    EXPECT_EQ(conv(text("x"), AMXC_VAR_ID_ANY), "'x'");
    EXPECT_EQ(conv(text("x,y"), AMXC_VAR_ID_CSV_STRING), "csv'x,y'");
}

TEST(VariantConversion, NumbersAndBooleansAreRangeChecked) {
    EXPECT_EQ(conv(of(amxc_var_set_int32_t, -1), kU32), "FAIL");
    EXPECT_EQ(conv(of(amxc_var_set_int32_t, -1), kI64), "i64:-1");
    EXPECT_EQ(conv(of(amxc_var_set_uint32_t, 4294967295U), kI32), "FAIL");
    EXPECT_EQ(conv(of(amxc_var_set_uint32_t, 4294967295U), kI64), "i64:4294967295");
    EXPECT_EQ(conv(of(amxc_var_set_int64_t, INT64_MIN), kI32), "FAIL");
    EXPECT_EQ(conv(of(amxc_var_set_int64_t, INT64_MIN), AMXC_VAR_ID_CSTRING), "'-9223372036854775808'");
    EXPECT_EQ(conv(of(amxc_var_set_int64_t, 5), kU32), "u32:5");
    EXPECT_EQ(conv(of(amxc_var_set_uint64_t, UINT64_MAX), kI64), "FAIL");
    EXPECT_EQ(conv(of(amxc_var_set_uint64_t, UINT64_MAX), AMXC_VAR_ID_CSTRING), "'18446744073709551615'");
    EXPECT_EQ(conv(of(amxc_var_set_int32_t, -12), AMXC_VAR_ID_CSV_STRING), "csv'-12'");
    EXPECT_EQ(conv(of(amxc_var_set_bool, true), kI32), "i32:1");
    EXPECT_EQ(conv(of(amxc_var_set_bool, false), kU64), "u64:0");
    EXPECT_EQ(conv(of(amxc_var_set_bool, false), AMXC_VAR_ID_CSTRING), "'false'");
    EXPECT_EQ(conv(of(amxc_var_set_uint64_t, 1), kBool), "true");
    EXPECT_EQ(conv(of(amxc_var_set_int32_t, 0), kBool), "false");
    EXPECT_EQ(conv(of(amxc_var_set_uint64_t, 2), kBool), "FAIL");
    EXPECT_EQ(conv(of(amxc_var_set_int32_t, -1), kBool), "FAIL");
}

TEST(VariantConversion, Containers) {
    Var list = typed(kList);
    amxc_var_add(cstring_t, list.get(), "a");
    amxc_var_add(int32_t, list.get(), -1);
    amxc_var_add(bool, list.get(), true);
    amxc_var_add_new(list.get());
    EXPECT_EQ(conv(list, AMXC_VAR_ID_CSTRING), "'a,-1,true,'");
    EXPECT_EQ(conv(list, AMXC_VAR_ID_HTABLE), "FAIL");
    EXPECT_EQ(conv(list, kI32), "FAIL");
    EXPECT_EQ(conv(typed(kList), AMXC_VAR_ID_CSTRING), "''");
    amxc_var_add_new_list(list.get());
    EXPECT_EQ(conv(list, AMXC_VAR_ID_CSTRING), "FAIL");  // nested list

    Var table = typed(AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, table.get(), "z", "first");
    amxc_var_add_key(uint32_t, table.get(), "a", 2);
    EXPECT_EQ(conv(table, kList), "['first', u32:2]");
    EXPECT_EQ(conv(table, AMXC_VAR_ID_CSTRING), "FAIL");
    EXPECT_EQ(conv(table, kBool), "FAIL");
    EXPECT_EQ(conv(table, AMXC_VAR_ID_HTABLE), "{z: 'first', a: u32:2}");
    EXPECT_EQ(conv(of(amxc_var_set_int32_t, 5), kList), "[i32:5]");
}

}  // namespace

// A pushed text is taken, not copied (the sanitizers see a double free or a leak), also over
// the variant's own text or a container, and a NULL one is refused, the variant unchanged.
namespace {
TEST(VariantText, APushedTextIsTakenWhole) {
    Var var = csv("a,b");
    char* own = const_cast<char*>(amxc_var_constcast(cstring_t, var.get()));
    ASSERT_EQ(amxc_var_push_cstring_t(var.get(), own), 0);
    EXPECT_EQ(dump(var), "'a,b'");
    char* taken = strdup("3.5 MB of rules");
    ASSERT_EQ(amxc_var_push_cstring_t(var.get(), taken), 0);
    EXPECT_EQ(amxc_var_constcast(cstring_t, var.get()), taken);
    EXPECT_NE(amxc_var_push_cstring_t(var.get(), nullptr), 0);
    EXPECT_EQ(dump(var), "'3.5 MB of rules'");
    Var list = typed(kList);
    ASSERT_EQ(amxc_var_push_cstring_t(list.get(), strdup("x")), 0);
    EXPECT_EQ(dump(list), "'x'");
}
}  // namespace

// Order of two variants: texts by their bytes (an empty text set, one never set and a csv text
// alike), a text against a number by value when it holds one.
namespace {
int order_of(const Var& a, const Var& b) {
    int result = 2;
    EXPECT_EQ(amxc_var_compare(a.get(), b.get(), &result), 0);
    return result;
}

TEST(VariantOrder, TextsByTheirBytesNumbersByValue) {
    EXPECT_EQ(order_of(text("abc"), text("abd")), -1);
    EXPECT_EQ(order_of(text("abd"), text("abc")), 1);
    EXPECT_EQ(order_of(text("ab"), text("abc")), -1);
    EXPECT_EQ(order_of(text(""), typed(AMXC_VAR_ID_CSTRING)), 0);
    EXPECT_EQ(order_of(csv("a,b"), text("a,b")), 0);
    EXPECT_EQ(order_of(text("10"), of(amxc_var_set_uint32_t, 9)), 1);
}
}  // namespace
