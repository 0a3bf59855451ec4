// Per-zone levels, the default level, the configuration text that sets them, and that a dropped
// line costs no argument evaluation.

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <zebtrace/zebtrace.h>

#include "trace_capture.h"

namespace {

int evaluations = 0;

const char* counted(const char* text) {
    ++evaluations;
    return text;
}

}  // namespace

using Filtering = TraceTest;

TEST_F(Filtering, ZoneLevelsOverrideTheDefaultUntilCleared) {
    ASSERT_EQ(zebtrace_configure("firewall_rule=500,networksettings=300"), 0);
    zebTraceZ(TRACE_LEVEL_DEBUG, "firewall_rule", "fw debug");
    zebTraceZ(TRACE_LEVEL_DEBUG, "other", "other debug");
    zebTraceZ(TRACE_LEVEL_INFO, "networksettings", "ns info");
    zebTraceZ(TRACE_LEVEL_NOTICE, "networksettings", "ns notice");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].zone, "firewall_rule");
    EXPECT_EQ(lines[1].level, TRACE_LEVEL_NOTICE);

    // A zone whose name extends another's is a different zone.
    EXPECT_EQ(zebtrace_get_level("firewall_rule2"), TRACE_LEVEL_INFO);
    EXPECT_EQ(zebtrace_get_level("firewall"), TRACE_LEVEL_INFO);

    // A later text keeps the zones it does not name.
    ASSERT_EQ(zebtrace_configure("default=300,portmapping=100"), 0);
    EXPECT_EQ(zebtrace_get_level(nullptr), 300);
    EXPECT_EQ(zebtrace_get_level("other"), 300);
    EXPECT_EQ(zebtrace_get_level("portmapping"), 100);
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), 500);

    zebtrace_clear_level("firewall_rule");
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), 300);
    EXPECT_FALSE(zebtrace_is_enabled(TRACE_LEVEL_DEBUG, "firewall_rule"));
    zebtrace_clear_level("never-set");
    zebtrace_clear_level(nullptr);
}

TEST_F(Filtering, MalformedConfigurationIsRefusedAndChangesNothing) {
    ASSERT_EQ(zebtrace_configure("kept=123,default=450"), 0);
    const char* const refused[] = {
        "default",             // no '='
        "a=",                  // no level
        "=5",                  // no name
        "a=5,",                // empty item at the end
        ",a=5",                // empty item at the start
        "a=5,,b=6",            // empty item inside
        "a=5,a=6",             // name given twice
        "default=1,default=2", // default given twice
        "a b=5",               // blank inside a name
        "a=5x",                // trailing garbage
        "a=+5",                // only '-' is a sign
        "a=0x10",              // decimal only
        "a=99999999999",       // out of int range
        "a=5;b=6",             // wrong separator
        "z\xc3\xa9=1",         // non-ASCII name
        "kept=1,bad",          // a good item before a bad one must not be applied
    };
    for (const char* text : refused) {
        EXPECT_EQ(zebtrace_configure(text), -1) << text;
    }
    EXPECT_EQ(zebtrace_configure((std::string(65, 'z') + "=1").c_str()), -1);
    EXPECT_EQ(zebtrace_configure((std::string(64, 'z') + "=1").c_str()), 0);
    EXPECT_EQ(zebtrace_configure(nullptr), -1);

    EXPECT_EQ(zebtrace_get_level("kept"), 123);
    EXPECT_EQ(zebtrace_get_level(nullptr), 450);
    EXPECT_EQ(zebtrace_get_level("a"), 450);
}

TEST_F(Filtering, DroppedLineDoesNotEvaluateItsArguments) {
    evaluations = 0;
    zebTraceZ(TRACE_LEVEL_DEBUG, "z", "%s", counted("x"));
    zebTraceZIn(counted("z"));  // zone of an arrow line is the filter key: it must be evaluated once
    EXPECT_EQ(evaluations, 1);
    zebTraceZ(TRACE_LEVEL_INFO, "z", "%s", counted("x"));
    EXPECT_EQ(evaluations, 2);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(Filtering, TwoThreadsTracingAtOnceLoseNoLine) {
    std::atomic<bool> go{false};
    const auto writer = [&](const char* zone) {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 500; ++i) {
            zebTraceZ(TRACE_LEVEL_ERROR, zone, "line %d", i);
            if (i % 100 == 0) zebtrace_set_level(zone, TRACE_LEVEL_INFO + i);
        }
    };
    std::thread first(writer, "first");
    std::thread second(writer, "second");
    go = true;
    first.join();
    second.join();
    ASSERT_EQ(lines.size(), 1000u);
    for (const auto& line : lines) {
        EXPECT_TRUE(line.text.rfind("first   - [x]line ", 0) == 0 || line.text.rfind("second  - [x]line ", 0) == 0)
            << line.text;
    }
}
