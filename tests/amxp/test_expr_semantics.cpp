// What expressions mean: typed comparisons, absent fields, lists, patterns, precedence.

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

TEST_F(ExprSemantics, DifferentKindsAreUnequalAndUnordered) {
    EXPECT_FALSE(is("u32 == '80'"));
    EXPECT_TRUE(is("u32 != '80'"));
    EXPECT_FALSE(is("u32 < 'zzz'"));
    EXPECT_FALSE(is("yes == 1"));
    EXPECT_FALSE(is("text == true"));
}

TEST_F(ExprSemantics, AbsentNullAndContainersEqualNothing) {
    for (const char* field : {"missing", "text.deeper", "null", "list", "table", "parameters.X.to"}) {
        const std::string f = field;
        EXPECT_FALSE(is((f + " == 'abc'").c_str())) << f;
        EXPECT_FALSE(is((f + " == " + f).c_str())) << f;
        EXPECT_TRUE(is((f + " != 'abc'").c_str())) << f;
        EXPECT_FALSE(is((f + " < 1 || " + f + " >= 1").c_str())) << f;
        EXPECT_FALSE(is((f + " in ['abc', 1, true]").c_str())) << f;
        EXPECT_FALSE(is((f + " matches '.*'").c_str())) << f;
        EXPECT_FALSE(is((f + " starts with ''").c_str())) << f;
        EXPECT_FALSE(is(f.c_str())) << f;
        EXPECT_TRUE(is(("!" + f).c_str())) << f;
    }
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

TEST_F(ExprSemantics, InListMatchesAnyElementOfTheSameKind) {
    EXPECT_TRUE(is("text in ['x', 'abc']"));
    EXPECT_TRUE(is("u32 in [1, 80, 'abc']"));
    EXPECT_FALSE(is("u32 in ['80']"));
    EXPECT_TRUE(is("yes in [false, true]"));
    EXPECT_FALSE(is("text in []"));
    EXPECT_TRUE(is("not (text in ['abd'])"));
    EXPECT_FALSE(is("not text in ['abd']"));  // (not text) in [...]: a boolean among texts
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

TEST_F(ExprSemantics, BlanksOfEveryKindSeparateTokens) {
    EXPECT_TRUE(is("\t(\ntext\r\n==\f'abc'\v)  &&yes"));
    EXPECT_TRUE(is("text=='abc'&&u32>=80&&!no"));
}

TEST_F(ExprSemantics, LongChainsEvaluateWithoutDeepRecursion) {
    std::string many = "no";
    while (many.size() + 10 < AMXP_EXPR_MAX_LENGTH) many += "||no";
    EXPECT_FALSE(is(many.c_str()));
    EXPECT_TRUE(is((many + "||yes").c_str()));
}

TEST_F(ExprSemantics, DeepestAllowedNestingEvaluates) {
    const std::string open(AMXP_EXPR_MAX_DEPTH, '(');
    const std::string close(AMXP_EXPR_MAX_DEPTH, ')');
    EXPECT_TRUE(is((open + "yes" + close).c_str()));
    const std::string nots(AMXP_EXPR_MAX_DEPTH, '!');
    EXPECT_FALSE(is((nots + "no").c_str()));  // an even number of negations
}

TEST(ExprApi, CompiledExpressionKeepsItsTextAndIsReusable) {
    amxp_expr_t* expr = nullptr;
    ASSERT_EQ(amxp_expr_new(&expr, "path starts with 'Hosts.'"), amxp_expr_status_ok);
    EXPECT_STREQ(amxp_expr_get_string(expr), "path starts with 'Hosts.'");
    EXPECT_TRUE(amxp_expr_eval_var(expr, Event("dm:object-changed", "Hosts.Host.1."), nullptr));
    EXPECT_FALSE(amxp_expr_eval_var(expr, Event("dm:object-changed", "Device.X."), nullptr));
    amxp_expr_delete(&expr);
    EXPECT_EQ(expr, nullptr);
    amxp_expr_delete(&expr);
    amxp_expr_delete(nullptr);
}

TEST(ExprApi, MatchesCompilesAndEvaluatesInOneCall) {
    const Event event("dm:object-changed", "Device.X.");
    EXPECT_TRUE(amxp_expr_matches("notification == 'dm:object-changed'", event));
    EXPECT_FALSE(amxp_expr_matches("notification == 'dm:instance-added'", event));
    EXPECT_FALSE(amxp_expr_matches("notification == ", event));
    EXPECT_FALSE(amxp_expr_matches(nullptr, event));
}

TEST(ExprApi, NullExpressionEvaluatesToFalseWithAnError) {
    amxp_expr_status_t status = amxp_expr_status_ok;
    EXPECT_FALSE(amxp_expr_eval_var(nullptr, nullptr, &status));
    EXPECT_EQ(status, amxp_expr_status_unknown_error);
    EXPECT_EQ(amxp_expr_get_string(nullptr), nullptr);
    EXPECT_EQ(amxp_expr_new(nullptr, "true"), amxp_expr_status_unknown_error);
}
