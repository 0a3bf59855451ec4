#include <amxc/amxc_variant.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "var_test_util.h"

namespace {

using amxc_test::csv;
using amxc_test::dump;
using amxc_test::text;
using amxc_test::typed;
using amxc_test::Var;

Var i32(int32_t value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_int32_t(v, value); });
}
Var u32(uint32_t value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_uint32_t(v, value); });
}
Var i64(int64_t value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_int64_t(v, value); });
}
Var u64(uint64_t value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_uint64_t(v, value); });
}
Var boolean(bool value) {
    return Var([value](amxc_var_t* v) { amxc_var_set_bool(v, value); });
}

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

struct TextRow {
    const char* input;
    uint32_t target;
    const char* expected;
};

// Readable parameter names (and no raw bytes, which include padding).
void PrintTo(const TextRow& row, std::ostream* os) {
    *os << "'" << row.input << "' to " << row.target;
}

class TextConversion : public ::testing::TestWithParam<TextRow> {};

TEST_P(TextConversion, ConvertsWholeTextOrFails) {
    const TextRow& row = GetParam();
    EXPECT_EQ(conv(text(row.input), row.target), row.expected) << "'" << row.input << "'";
    // Comma-separated text converts exactly like text.
    if(row.target != AMXC_VAR_ID_CSTRING && row.target != AMXC_VAR_ID_CSV_STRING && row.target != AMXC_VAR_ID_ANY) {
        EXPECT_EQ(conv(csv(row.input), row.target), row.expected) << "csv '" << row.input << "'";
    }
}

INSTANTIATE_TEST_SUITE_P(Bool, TextConversion, ::testing::Values(
    TextRow{"true", AMXC_VAR_ID_BOOL, "true"}, TextRow{" YES ", AMXC_VAR_ID_BOOL, "true"},
    TextRow{"On", AMXC_VAR_ID_BOOL, "true"}, TextRow{"1", AMXC_VAR_ID_BOOL, "true"},
    TextRow{"FALSE", AMXC_VAR_ID_BOOL, "false"}, TextRow{"\toff\n", AMXC_VAR_ID_BOOL, "false"},
    TextRow{"no", AMXC_VAR_ID_BOOL, "false"}, TextRow{"0", AMXC_VAR_ID_BOOL, "false"},
    TextRow{"", AMXC_VAR_ID_BOOL, "FAIL"}, TextRow{"2", AMXC_VAR_ID_BOOL, "FAIL"},
    TextRow{"truex", AMXC_VAR_ID_BOOL, "FAIL"}, TextRow{"y", AMXC_VAR_ID_BOOL, "FAIL"},
    TextRow{"tr ue", AMXC_VAR_ID_BOOL, "FAIL"}));

INSTANTIATE_TEST_SUITE_P(Signed, TextConversion, ::testing::Values(
    TextRow{"42", AMXC_VAR_ID_INT32, "i32:42"}, TextRow{" -7 ", AMXC_VAR_ID_INT32, "i32:-7"},
    TextRow{"+5", AMXC_VAR_ID_INT32, "i32:5"}, TextRow{"007", AMXC_VAR_ID_INT32, "i32:7"},
    TextRow{"2147483647", AMXC_VAR_ID_INT32, "i32:2147483647"},
    TextRow{"-2147483648", AMXC_VAR_ID_INT32, "i32:-2147483648"},
    TextRow{"2147483648", AMXC_VAR_ID_INT32, "FAIL"}, TextRow{"-2147483649", AMXC_VAR_ID_INT32, "FAIL"},
    TextRow{"12abc", AMXC_VAR_ID_INT32, "FAIL"}, TextRow{"", AMXC_VAR_ID_INT32, "FAIL"},
    TextRow{"  ", AMXC_VAR_ID_INT32, "FAIL"}, TextRow{"0x10", AMXC_VAR_ID_INT32, "FAIL"},
    TextRow{"1.5", AMXC_VAR_ID_INT32, "FAIL"}, TextRow{"- 1", AMXC_VAR_ID_INT32, "FAIL"},
    TextRow{"+-1", AMXC_VAR_ID_INT32, "FAIL"}, TextRow{"--1", AMXC_VAR_ID_INT32, "FAIL"},
    TextRow{"+", AMXC_VAR_ID_INT32, "FAIL"}, TextRow{"1 2", AMXC_VAR_ID_INT32, "FAIL"},
    TextRow{"-9223372036854775808", AMXC_VAR_ID_INT64, "i64:-9223372036854775808"},
    TextRow{"9223372036854775807", AMXC_VAR_ID_INT64, "i64:9223372036854775807"},
    TextRow{"9223372036854775808", AMXC_VAR_ID_INT64, "FAIL"},
    TextRow{"99999999999999999999999", AMXC_VAR_ID_INT64, "FAIL"}));

INSTANTIATE_TEST_SUITE_P(Unsigned, TextConversion, ::testing::Values(
    TextRow{"4294967295", AMXC_VAR_ID_UINT32, "u32:4294967295"},
    TextRow{"+7", AMXC_VAR_ID_UINT32, "u32:7"}, TextRow{"4294967296", AMXC_VAR_ID_UINT32, "FAIL"},
    TextRow{"-1", AMXC_VAR_ID_UINT32, "FAIL"}, TextRow{"-0", AMXC_VAR_ID_UINT32, "FAIL"},
    TextRow{"18446744073709551615", AMXC_VAR_ID_UINT64, "u64:18446744073709551615"},
    TextRow{"18446744073709551616", AMXC_VAR_ID_UINT64, "FAIL"},
    TextRow{"-1", AMXC_VAR_ID_UINT64, "FAIL"}));

INSTANTIATE_TEST_SUITE_P(ListAndText, TextConversion, ::testing::Values(
    TextRow{"a, b ,c", AMXC_VAR_ID_LIST, "['a', 'b', 'c']"}, TextRow{"", AMXC_VAR_ID_LIST, "[]"},
    TextRow{" ", AMXC_VAR_ID_LIST, "[]"}, TextRow{"a,,b", AMXC_VAR_ID_LIST, "['a', '', 'b']"},
    TextRow{"80", AMXC_VAR_ID_LIST, "['80']"}, TextRow{"x", AMXC_VAR_ID_HTABLE, "FAIL"},
    TextRow{"x", AMXC_VAR_ID_NULL, "null"}, TextRow{"x", AMXC_VAR_ID_ANY, "'x'"},
    TextRow{"x,y", AMXC_VAR_ID_CSV_STRING, "csv'x,y'"}, TextRow{"x", 42, "FAIL"}));

TEST(VariantConversion, NumbersAreRangeChecked) {
    EXPECT_EQ(conv(i32(-1), AMXC_VAR_ID_UINT32), "FAIL");
    EXPECT_EQ(conv(i32(-1), AMXC_VAR_ID_INT64), "i64:-1");
    EXPECT_EQ(conv(u32(4294967295U), AMXC_VAR_ID_INT32), "FAIL");
    EXPECT_EQ(conv(u32(4294967295U), AMXC_VAR_ID_INT64), "i64:4294967295");
    EXPECT_EQ(conv(i64(INT64_MIN), AMXC_VAR_ID_INT32), "FAIL");
    EXPECT_EQ(conv(i64(INT64_MIN), AMXC_VAR_ID_CSTRING), "'-9223372036854775808'");
    EXPECT_EQ(conv(i64(5), AMXC_VAR_ID_UINT32), "u32:5");
    EXPECT_EQ(conv(u64(UINT64_MAX), AMXC_VAR_ID_INT64), "FAIL");
    EXPECT_EQ(conv(u64(UINT64_MAX), AMXC_VAR_ID_CSTRING), "'18446744073709551615'");
    EXPECT_EQ(conv(i32(-12), AMXC_VAR_ID_CSV_STRING), "csv'-12'");
}

TEST(VariantConversion, BooleansAndNumbers) {
    EXPECT_EQ(conv(boolean(true), AMXC_VAR_ID_INT32), "i32:1");
    EXPECT_EQ(conv(boolean(false), AMXC_VAR_ID_UINT64), "u64:0");
    EXPECT_EQ(conv(boolean(false), AMXC_VAR_ID_CSTRING), "'false'");
    EXPECT_EQ(conv(u64(1), AMXC_VAR_ID_BOOL), "true");
    EXPECT_EQ(conv(i32(0), AMXC_VAR_ID_BOOL), "false");
    EXPECT_EQ(conv(u64(2), AMXC_VAR_ID_BOOL), "FAIL");
    EXPECT_EQ(conv(i32(-1), AMXC_VAR_ID_BOOL), "FAIL");
}

TEST(VariantConversion, Containers) {
    Var list = typed(AMXC_VAR_ID_LIST);
    amxc_var_add(cstring_t, list.get(), "a");
    amxc_var_add(int32_t, list.get(), -1);
    amxc_var_add(bool, list.get(), true);
    amxc_var_add_new(list.get());
    EXPECT_EQ(conv(list, AMXC_VAR_ID_CSTRING), "'a,-1,true,'");
    EXPECT_EQ(conv(list, AMXC_VAR_ID_HTABLE), "FAIL");
    EXPECT_EQ(conv(list, AMXC_VAR_ID_INT32), "FAIL");
    EXPECT_EQ(conv(typed(AMXC_VAR_ID_LIST), AMXC_VAR_ID_CSTRING), "''");
    amxc_var_add_new_list(list.get());
    EXPECT_EQ(conv(list, AMXC_VAR_ID_CSTRING), "FAIL");  // nested list

    Var table = typed(AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, table.get(), "z", "first");
    amxc_var_add_key(uint32_t, table.get(), "a", 2);
    EXPECT_EQ(conv(table, AMXC_VAR_ID_LIST), "['first', u32:2]");
    EXPECT_EQ(conv(table, AMXC_VAR_ID_CSTRING), "FAIL");
    EXPECT_EQ(conv(table, AMXC_VAR_ID_BOOL), "FAIL");
    EXPECT_EQ(conv(table, AMXC_VAR_ID_HTABLE), "{z: 'first', a: u32:2}");
    EXPECT_EQ(conv(i32(5), AMXC_VAR_ID_LIST), "[i32:5]");
}

}  // namespace
