// Refused expressions: each gets its status, message and 0-based position, and none is ever
// evaluated as true. Also hostile input: over-long and over-deep texts.

#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include <amxp/amxp_regex.h>

#include "test_expr_event_data.h"

namespace {

struct Refusal {
    std::string text;
    const char* message;
    std::size_t position;
};

std::string checked_message(const std::string& text, std::size_t* position, amxp_expr_status_t* status) {
    char message[128] = "untouched";
    *status = amxp_expr_check(text.c_str(), message, sizeof(message), position);
    return message;
}

}  // namespace

TEST(ExprErrors, MalformedTextsReportWhatAndWhere) {
    const Refusal refusals[] = {
        {"(a == 'b'", "expected ')' at 9", 9},
        {"((notification == 'x') && contains('a')", "expected ')' at 39", 39},
        {"a == 'b')", "unexpected ')' at 8", 8},
        {"a ==", "expected an operand at 4", 4},
        {"a == 'b' &&", "expected an operand at 11", 11},
        {"&& a", "expected an operand at 0", 0},
        {"()", "expected an operand at 1", 1},
        {"!", "expected an operand at 1", 1},
        {"a = 'b'", "unexpected character '=' at 2", 2},
        {"a & b", "unexpected character '&' at 2", 2},
        {"a == @", "unexpected character '@' at 5", 5},
        {"a == \x01", "unexpected character byte 0x01 at 5", 5},
        {"a == 'abc", "unterminated text at 5", 5},
        {"a == \"abc\\\"", "unterminated text at 5", 5},
        {"a == 'b' c", "unexpected 'c' at 9", 9},
        {"a == 'b' == 'c'", "unexpected '==' at 9", 9},
        {"a in 'b'", "expected '[' after 'in' at 5", 5},
        {"a in ['b' 'c']", "expected ',' or ']' at 10", 10},
        {"a in ['b', c]", "expected a literal at 11", 11},
        {"a in ['b',]", "expected a literal at 10", 10},
        {"a in ['b'", "expected ',' or ']' at 9", 9},
        {"a matches b", "expected a quoted regular expression at 10", 10},
        {"a starts 'b'", "expected 'with' after 'starts' at 9", 9},
        {"foo('x')", "unknown function 'foo' at 0", 0},
        {"contains(x)", "expected a quoted path at 9", 9},
        {"contains('')", "empty path at 9", 9},
        {"contains('a'", "expected ')' at 12", 12},
        {"a. == 1", "expected a name after '.' at 2", 2},
        {".a == 1", "unexpected character '.' at 0", 0},
        {"12abc == 1", "malformed number at 0", 0},
        {"1.5 == 1", "malformed number at 0", 0},
        {"18446744073709551616 == 1", "number out of range at 0", 0},
        {"-9223372036854775809 == 1", "number out of range at 0", 0},
        {"", "empty expression at 0", 0},
        {" \t\n", "empty expression at 0", 0},
    };
    const Event event("dm:object-changed", "Device.X.");
    for (const auto& refusal : refusals) {
        std::size_t position = 12345;
        amxp_expr_status_t status = amxp_expr_status_ok;
        EXPECT_EQ(checked_message(refusal.text, &position, &status), refusal.message) << refusal.text;
        EXPECT_EQ(status, amxp_expr_status_syntax_error) << refusal.text;
        EXPECT_EQ(position, refusal.position) << refusal.text;

        amxp_expr_t* expr = reinterpret_cast<amxp_expr_t*>(&position);  // must be reset to NULL
        EXPECT_EQ(amxp_expr_new(&expr, refusal.text.c_str()), amxp_expr_status_syntax_error) << refusal.text;
        EXPECT_EQ(expr, nullptr);
        EXPECT_FALSE(amxp_expr_matches(refusal.text.c_str(), event));
    }
    // The largest numbers that fit are accepted.
    EXPECT_EQ(amxp_expr_check("18446744073709551615 > -9223372036854775808", nullptr, 0, nullptr),
              amxp_expr_status_ok);
}

// A client's filter must not stall the loop: a bad pattern, or one the engine cannot match in
// one pass over the text, is refused when compiled; patterns a backtracking engine spends
// minutes on are matched like any other.
TEST(ExprErrors, PatternsAreCheckedBoundedAndMatchedInOnePass) {
    for (const std::string& pattern : {std::string("a(b"), std::string("["), std::string("(a)\\1"),
                                       std::string("a{1001}"), std::string("(a{1,100}){1,100}"),
                                       std::string(amxp::kRegexMaxPattern + 1, 'a')}) {
        const std::string text = "path matches '" + pattern + "'";
        std::size_t position = 0;
        amxp_expr_status_t status = amxp_expr_status_ok;
        const std::string message = checked_message(text, &position, &status);
        EXPECT_EQ(status, amxp_expr_status_invalid_regexp) << text;
        EXPECT_EQ(position, 13u) << text;
        EXPECT_EQ(message.rfind("invalid regular expression (", 0), 0u) << message;
        amxp_expr_t* expr = nullptr;
        EXPECT_EQ(amxp_expr_new(&expr, text.c_str()), amxp_expr_status_invalid_regexp) << text;
        EXPECT_EQ(expr, nullptr);
    }
    std::size_t position = 0;
    amxp_expr_status_t status = amxp_expr_status_ok;
    EXPECT_EQ(checked_message("path matches '(a)\\1'", &position, &status),
              "invalid regular expression (back-references are not supported) at 13");
    amxp_expr_t* expr = nullptr;
    ASSERT_EQ(amxp_expr_new(&expr, "parameters.Name.to matches '(.*x.*x.*)*y' || parameters.Name.to matches '[[:digit:]]$'"),
              amxp_expr_status_ok);
    const std::string hostile(60000, 'x');
    EXPECT_FALSE(amxp_expr_eval_var(expr, Event("dm:object-changed", "X.").changed("Name", "", hostile.c_str()), &status));
    EXPECT_EQ(status, amxp_expr_status_ok);
    EXPECT_TRUE(amxp_expr_eval_var(expr, Event("dm:object-changed", "X.").changed("Name", "", (hostile + "1").c_str()), &status));
    // A search that would cost too much is an error of the evaluation, never a match.
    EXPECT_FALSE(amxp_expr_eval_var(expr, Event("dm:object-changed", "X.").changed("Name", "", std::string(amxp::kRegexMaxSteps, 'x').c_str()), &status));
    EXPECT_EQ(status, amxp_expr_status_unknown_error);
    amxp_expr_delete(&expr);
}

TEST(ExprErrors, NestingBeyondTheBoundIsRefused) {
    const std::size_t too_deep = AMXP_EXPR_MAX_DEPTH + 1;
    std::size_t position = 0;
    amxp_expr_status_t status = amxp_expr_status_ok;
    const std::string parens = std::string(too_deep, '(') + "true" + std::string(too_deep, ')');
    EXPECT_EQ(checked_message(parens, &position, &status), "nesting deeper than 64 at 64");
    EXPECT_EQ(status, amxp_expr_status_syntax_error);
    const std::string nots = std::string(too_deep, '!') + "true";
    EXPECT_EQ(checked_message(nots, &position, &status), "nesting deeper than 64 at 64");
    // Mixed, with blanks: the position is that of the opener that goes too deep.
    std::string mixed;
    for (std::size_t i = 0; i < too_deep; ++i) mixed += i % 2 ? "not " : "( ";
    EXPECT_EQ(checked_message(mixed + "x", &position, &status), "nesting deeper than 64 at 192");
    // A hostile depth far beyond the bound is refused just the same, without exhausting the stack.
    EXPECT_EQ(checked_message(std::string(60000, '('), &position, &status), "nesting deeper than 64 at 64");
}

TEST(ExprErrors, TextBeyondTheLengthBoundIsRefused) {
    std::string text = "true";
    text.resize(AMXP_EXPR_MAX_LENGTH, ' ');
    EXPECT_EQ(amxp_expr_check(text.c_str(), nullptr, 0, nullptr), amxp_expr_status_ok);
    text.push_back(' ');
    std::size_t position = 0;
    amxp_expr_status_t status = amxp_expr_status_ok;
    EXPECT_EQ(checked_message(text, &position, &status), "expression longer than 65536 bytes at 65536");
    EXPECT_EQ(status, amxp_expr_status_syntax_error);
}
