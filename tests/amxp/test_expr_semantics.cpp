// What expressions mean: typed comparisons, presence, patterns, precedence.

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "test_expr_event_data.h"

namespace {

// {"text": "abc", "upper": "Zed", "high": "\xc3\xa9", "i32": -5, "u32": 80, "i64": INT64_MIN,
//  "u64": UINT64_MAX, "yes": true, "no": false, "null": NULL, "list": ["x", 7], "table": {"k": "v"},
//  "csv": "a,b"}
class ExprSemantics : public ::testing::Test {
protected:
    ExprSemantics() {
        amxc_var_t* const d = data.get();
        amxc_var_add_key(cstring_t, d, "text", "abc");
        amxc_var_add_key(cstring_t, d, "upper", "Zed");
        amxc_var_add_key(cstring_t, d, "high", "\xc3\xa9");
        amxc_var_add_key(int32_t, d, "i32", -5);
        amxc_var_add_key(uint32_t, d, "u32", 80);
        amxc_var_add_key(int64_t, d, "i64", std::numeric_limits<std::int64_t>::min());
        amxc_var_add_key(uint64_t, d, "u64", std::numeric_limits<std::uint64_t>::max());
        amxc_var_add_key(bool, d, "yes", true);
        amxc_var_add_key(bool, d, "no", false);
        amxc_var_add_new_key(d, "null");
        amxc_var_t* const list = amxc_var_add_new_key_list(d, "list");
        amxc_var_add(cstring_t, list, "x");
        amxc_var_add(int32_t, list, 7);
        amxc_var_add_key(cstring_t, amxc_var_add_new_key_htable(d, "table"), "k", "v");
        amxc_var_add_key(csv_string_t, d, "csv", "a,b");
    }
    bool is(const char* text) { return eval(text, data); }

    Table data;
};

}  // namespace

TEST_F(ExprSemantics, NumbersCompareByValueAcrossWidthsAndSigns) {
    EXPECT_TRUE(is("u32 == 80"));
    EXPECT_TRUE(is("u32 > -1"));
    EXPECT_TRUE(is("i32 < 0 && i32 >= -5 && i32 <= -5 && i32 != 5"));
    EXPECT_TRUE(is("i64 == -9223372036854775808"));
    EXPECT_TRUE(is("i64 < i32"));
    EXPECT_TRUE(is("u64 == 18446744073709551615"));
    EXPECT_TRUE(is("u64 > 9223372036854775807"));
    EXPECT_TRUE(is("u64 > i64"));
    EXPECT_TRUE(is("-0 == 0"));
}

TEST_F(ExprSemantics, TextsCompareBytewise) {
    EXPECT_TRUE(is("text == 'abc'"));
    EXPECT_TRUE(is("text == \"abc\""));
    EXPECT_TRUE(is("text != 'abcd'"));
    EXPECT_TRUE(is("text < 'abd' && text > 'ab' && text <= 'abc' && text >= 'abc'"));
    EXPECT_TRUE(is("upper < text"));  // 'Z' sorts before 'a'
    EXPECT_TRUE(is("high > 'z'"));    // bytes are unsigned
    EXPECT_TRUE(is("csv == 'a,b'"));
    EXPECT_TRUE(is("'it\\'s' == \"it's\" && '\\\\' == \"\\\\\""));
}

TEST_F(ExprSemantics, BooleansOnlyCompareForEquality) {
    EXPECT_TRUE(is("yes == true && no == false && yes != no"));
    EXPECT_FALSE(is("yes > no"));
    EXPECT_FALSE(is("yes >= true"));
    EXPECT_TRUE(is("yes"));
    EXPECT_FALSE(is("no"));
}

TEST_F(ExprSemantics, ContainsTestsPresenceWhateverTheValue) {
    EXPECT_TRUE(is("contains('null')"));
    EXPECT_TRUE(is("contains('no')"));
    EXPECT_TRUE(is("contains('table.k')"));
    EXPECT_TRUE(is("contains('list.1')"));
    EXPECT_FALSE(is("contains('list.2')"));
    EXPECT_FALSE(is("contains('table.v')"));
    EXPECT_FALSE(is("contains('tab')"));
    EXPECT_TRUE(is("list.1 == 7 && table.k == 'v'"));
}

TEST_F(ExprSemantics, MatchesAndStartsWith) {
    EXPECT_TRUE(is("text matches '^a.c$'"));
    EXPECT_TRUE(is("text matches 'b'"));  // unanchored: anywhere in the text
    EXPECT_FALSE(is("text matches '^b'"));
    EXPECT_TRUE(is("csv matches '^a,b$'"));
    // A backslash other than an escape reaches the pattern as written.
    EXPECT_TRUE(is("'a.b' matches '^a\\.b$' && !('axb' matches '^a\\.b$')"));
    EXPECT_FALSE(is("u32 matches '8'"));
    // GNU classes are kept; '.' spans a newline and '^' '$' anchor at the ends of the text only.
    EXPECT_TRUE(is("text matches '^\\w+\\b[[:space:]]*$' && 'a\nb' matches '^a.b$' && !('a\nb' matches '^b')"));
    EXPECT_TRUE(is("text starts with 'ab' && text starts with '' && text starts with text"));
    EXPECT_FALSE(is("text starts with 'abcd'"));
    EXPECT_FALSE(is("u32 starts with '8'"));
}

TEST_F(ExprSemantics, PrecedenceNotThenComparisonThenAndThenOr) {
    // && binds tighter than ||.
    EXPECT_TRUE(is("yes || no && no"));
    EXPECT_FALSE(is("(yes || no) && no"));
    EXPECT_TRUE(is("no && no || yes"));
    // ! applies to the operand right after it.
    EXPECT_TRUE(is("!no && yes"));
    EXPECT_FALSE(is("!(no || yes)"));
    EXPECT_FALSE(is("!missing == missing"));  // (!missing) == missing: a boolean against nothing
    EXPECT_TRUE(is("!(missing == missing)"));
    EXPECT_TRUE(is("!!yes"));
    // Word forms mean the same.
    EXPECT_TRUE(is("not no and yes or no"));
    EXPECT_FALSE(is("not (no or yes)"));
}

TEST_F(ExprSemantics, LongChainsEvaluateWithoutDeepRecursion) {
    std::string many = "no";
    while (many.size() + 10 < AMXP_EXPR_MAX_LENGTH) many += "||no";
    EXPECT_FALSE(is(many.c_str()));
    EXPECT_TRUE(is((many + "||yes").c_str()));
}
