// Per-zone levels, the default level, and that a dropped line costs no argument evaluation.

#include <atomic>
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

TEST_F(Filtering, ZoneLevelOverridesDefaultUntilCleared) {
    ASSERT_EQ(zebtrace_set_level("firewall_rule", TRACE_LEVEL_DEBUG), 0);
    ASSERT_EQ(zebtrace_set_level("networksettings", TRACE_LEVEL_NOTICE), 0);

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

    zebtrace_clear_level("firewall_rule");
    EXPECT_EQ(zebtrace_get_level("firewall_rule"), TRACE_LEVEL_INFO);
    EXPECT_FALSE(zebtrace_is_enabled(TRACE_LEVEL_DEBUG, "firewall_rule"));
    zebtrace_clear_level("never-set");
    zebtrace_clear_level(nullptr);
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
