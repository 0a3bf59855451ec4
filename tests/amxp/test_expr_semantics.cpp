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

TEST_F(ExprSemantics, EachExpressionHasItsMeaning) {
    const struct {
        const char* text;
        bool holds;
    } cases[] = {
        // Numbers compare by value across widths and signs.
        {"u32 == 80", true},
        {"u32 > -1", true},
        {"i32 < 0 && i32 >= -5 && i32 <= -5 && i32 != 5", true},
        {"i64 == -9223372036854775808", true},
        {"i64 < i32", true},
        {"u64 == 18446744073709551615", true},
        {"u64 > 9223372036854775807", true},
        {"u64 > i64", true},
        {"-0 == 0", true},
        // Texts compare bytewise.
        {"text == 'abc'", true},
        {"text == \"abc\"", true},
        {"text != 'abcd'", true},
        {"text < 'abd' && text > 'ab' && text <= 'abc' && text >= 'abc'", true},
        {"upper < text", true},  // 'Z' sorts before 'a'
        {"high > 'z'", true},    // bytes are unsigned
        {"csv == 'a,b'", true},
        {"'it\\'s' == \"it's\" && '\\\\' == \"\\\\\"", true},
        // Booleans only compare for equality.
        {"yes == true && no == false && yes != no", true},
        {"yes > no", false},
        {"yes >= true", false},
        {"yes", true},
        {"no", false},
        // Contains tests presence whatever the value.
        {"contains('null')", true},
        {"contains('no')", true},
        {"contains('table.k')", true},
        {"contains('list.1')", true},
        {"contains('list.2')", false},
        {"contains('table.v')", false},
        {"contains('tab')", false},
        // A run of them on one table's members: any member, of a table or a list, answers.
        {"contains('table.v') || contains('table.w') || contains('table.k')", true},
        {"contains('table.v') || contains('table.w')", false},
        {"contains('list.5') || contains('list.1')", true},
        {"contains('nothing.k') || contains('nothing.v')", false},
        {"contains('table.v') || contains('list.0') || contains('table.x')", true},
        {"contains('table.v') || yes || contains('table.w')", true},
        {"contains('table..k') || contains('table..w')", false},
        {"contains('table.k.') || contains('table.v')", true},
        {"!(contains('table.v') || contains('table.k')) || no", false},
        {"list.1 == 7 && table.k == 'v'", true},
        // Matches and starts with.
        {"text matches '^a.c$'", true},
        {"text matches 'b'", true},  // unanchored: anywhere in the text
        {"text matches '^b'", false},
        {"csv matches '^a,b$'", true},
        // A backslash other than an escape reaches the pattern as written.
        {"'a.b' matches '^a\\.b$' && !('axb' matches '^a\\.b$')", true},
        {"u32 matches '8'", false},
        // GNU classes are kept; '.' spans a newline and '^' '$' anchor at the ends of the text only.
        {"text matches '^\\w+\\b[[:space:]]*$' && 'a\nb' matches '^a.b$' && !('a\nb' matches '^b')", true},
        {"text starts with 'ab' && text starts with '' && text starts with text", true},
        {"text starts with 'abcd'", false},
        {"u32 starts with '8'", false},
        // Precedence: ! before comparison before && before ||.
        // && binds tighter than ||.
        {"yes || no && no", true},
        {"(yes || no) && no", false},
        {"no && no || yes", true},
        // ! applies to the operand right after it.
        {"!no && yes", true},
        {"!(no || yes)", false},
        {"!missing == missing", false},  // (!missing) == missing: a boolean against nothing
        {"!(missing == missing)", true},
        {"!!yes", true},
        // Word forms mean the same.
        {"not no and yes or no", true},
        {"not (no or yes)", false},
    };
    for(const auto& c : cases) {
        EXPECT_EQ(is(c.text), c.holds) << c.text;
    }
}

TEST_F(ExprSemantics, LongChainsEvaluateWithoutDeepRecursion) {
    std::string many = "no";
    while (many.size() + 10 < AMXP_EXPR_MAX_LENGTH) many += "||no";
    EXPECT_FALSE(is(many.c_str()));
    EXPECT_TRUE(is((many + "||yes").c_str()));
}
