// Guard clauses: they jump only when their condition holds, trace before jumping, and
// evaluate their subject once. Also drives the same macros compiled as C.

#include <string>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace_macros.h>

#include "trace_capture.h"

#define ME "guards"

namespace {

int reads = 0;

template <typename T>
T once(T value) {
    ++reads;
    return value;
}

// Returns 1 past each guard that let it through, so the result tells which guard jumped.
int traced_guards(const char* text, const void* pointer, int code, bool flag) {
    int passed = 0;
    when_null_trace(once(pointer), exit, TRACE_LEVEL_ERROR, "null %s", "pointer");
    ++passed;
    when_failed_trace(once(code), exit, TRACE_LEVEL_WARNING, "failed %d", code);
    ++passed;
    when_str_empty_trace(once(text), exit, TRACE_LEVEL_ERROR, "empty text");
    ++passed;
    when_false_trace(once(flag), exit, TRACE_LEVEL_NOTICE, "false flag");
    ++passed;
    when_true_trace(once(!flag || code == 0), exit, TRACE_LEVEL_INFO, "true flag");
    ++passed;
exit:
    return passed;
}

}  // namespace

using GuardMacros = TraceTest;

TEST_F(GuardMacros, TracedGuardJumpsAndTracesOnlyWhenItsConditionHolds) {
    const int anything = 0;
    const struct {
        const char* text;
        const void* pointer;
        int code;
        bool flag;
        int passed;
        const char* message;  // nullptr: no line expected
    } cases[] = {
        {"t", nullptr, 0, true, 0, "[x]null pointer - "},
        {"t", &anything, -3, true, 1, "[!]failed -3 - "},
        {nullptr, &anything, 0, true, 2, "[x]empty text - "},
        {"", &anything, 0, true, 2, "[x]empty text - "},
        {"t", &anything, 0, false, 3, "[n]false flag - "},
    };
    for (const auto& c : cases) {
        lines.clear();
        reads = 0;
        EXPECT_EQ(traced_guards(c.text, c.pointer, c.code, c.flag), c.passed);
        EXPECT_EQ(reads, c.passed + 1) << "each guard reads its subject once";
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text.rfind("guards  - ", 0), 0u) << lines[0].text;
        EXPECT_NE(lines[0].text.find(c.message), std::string::npos) << lines[0].text;
        EXPECT_NE(lines[0].text.find(" - traced_guards(tests/zebtrace/test_guard_macros.cpp@"), std::string::npos);
    }
}

#ifdef ZEBTRACE_TEST_WITH_FRAMEWORK_MACROS
extern "C" int guards_zebtrace_first(const char* text, int code);
extern "C" int guards_framework_first(const char* text);

// Compiled as C, with the framework's guard header after or before the trace library's.
TEST_F(GuardMacros, WorkFromCBesideTheFrameworkGuards) {
    EXPECT_EQ(guards_zebtrace_first("x", 0), 0);
    EXPECT_EQ(guards_framework_first("x"), 0);
    EXPECT_TRUE(lines.empty());

    EXPECT_EQ(guards_zebtrace_first("", 0), -1);
    EXPECT_EQ(guards_zebtrace_first("x", 5), -2);
    EXPECT_EQ(guards_framework_first(nullptr), -1);
    ASSERT_EQ(lines.size(), 3u);
    const std::string place = " - guards_zebtrace_first(tests/zebtrace/guards_zebtrace_first.c@";
    EXPECT_EQ(lines[0].text.rfind("c_unit  - [x]empty name" + place, 0), 0u) << lines[0].text;
    EXPECT_EQ(lines[1].text.rfind("c_unit  - [!]code 5 for x" + place, 0), 0u) << lines[1].text;
    EXPECT_EQ(lines[2].text.rfind("both    - [x]empty - guards_framework_first(", 0), 0u) << lines[2].text;
}
#endif
