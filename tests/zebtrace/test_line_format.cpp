// Exact text of trace lines: marks, zone width, the source place.

#include <string>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace.h>

#include "trace_capture.h"

#define ME "networksettings"

namespace {

const std::string this_file = "tests/zebtrace/test_line_format.cpp";

std::string place(const char* function, int line) {
    return " - " + std::string(function) + "(" + this_file + "@" + std::to_string(line) + ")";
}

}  // namespace

using LineFormat = TraceTest;

TEST_F(LineFormat, EachLevelShowsItsMarkAndBetweenLevelsTakeTheLowerOne) {
    zebtrace_set_level(nullptr, 1000);
    const struct {
        int level;
        const char* mark;
    } cases[] = {{-7, "X"},  {0, "X"},   {99, "X"},  {100, "x"}, {199, "x"}, {200, "!"}, {300, "n"},
                 {349, "n"}, {350, "I"}, {399, "I"}, {400, "i"}, {499, "i"}, {500, "d"}, {900, "d"}};
    for (const auto& c : cases) {
        lines.clear();
        const int line = __LINE__ + 1;
        zebTrace(c.level, "value %d of %s", 42, "x");
        ASSERT_EQ(lines.size(), 1u) << c.level;
        EXPECT_EQ(lines[0].text, std::string("network - [") + c.mark + "]value 42 of x" + place("TestBody", line))
            << c.level;
    }
}

TEST_F(LineFormat, ZoneIsCutOrPaddedToSevenCharacters) {
    const struct {
        const char* zone;
        const char* shown;
    } cases[] = {{"portmapping", "portmap"}, {"firewall_rule", "firewal"}, {"sevenzz", "sevenzz"},
                 {"fw", "fw     "},           {"", "       "},             {nullptr, "       "}};
    for (const auto& c : cases) {
        lines.clear();
        const int line = __LINE__ + 1;
        zebTraceZ(TRACE_LEVEL_WARNING, c.zone, "m");
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].text, std::string(c.shown) + " - [!]m" + place("TestBody", line));
    }
}

TEST_F(LineFormat, MessageIsAlwaysOneLine) {
    zebTrace(TRACE_LEVEL_ERROR, "bad name '%s'", "a\nnetwork - [X]forged\r\x7f");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text.find('\n'), std::string::npos);
    EXPECT_NE(lines[0].text.find("bad name 'a\\x0anetwork - [X]forged\\x0d\\x7f'"), std::string::npos) << lines[0].text;
    lines.clear();
    zebTrace(TRACE_LEVEL_ERROR, "tab\tkept");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("]tab\tkept - "), std::string::npos);
}

TEST_F(LineFormat, OverlongMessageIsCut) {
    const std::string huge(ZEBTRACE_MESSAGE_MAX * 2, 'a');
    zebTrace(TRACE_LEVEL_ERROR, "%s", huge.c_str());
    ASSERT_EQ(lines.size(), 1u);
    const std::string expected_message = std::string(ZEBTRACE_MESSAGE_MAX - 3, 'a') + "...";
    EXPECT_EQ(lines[0].text.find("[x]" + expected_message + " - TestBody("), 10u);

    // Exactly at the bound nothing is cut.
    lines.clear();
    const std::string fits(ZEBTRACE_MESSAGE_MAX, 'b');
    zebTrace(TRACE_LEVEL_ERROR, "%s", fits.c_str());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("[x]" + fits + " - "), std::string::npos);
}
