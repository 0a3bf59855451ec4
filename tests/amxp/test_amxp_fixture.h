// Every test starts on an empty loop with the manual clock and a clear log of callbacks.
#pragma once

#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// What callbacks saw, in order; callbacks are plain functions, so the log is global.
inline std::vector<std::string> g_log;

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        amxp_loop_reset();
        amxp_clock_set_manual(true);
        g_log.clear();
    }
    void TearDown() override {
        amxp_loop_reset();
        amxp_clock_set_manual(false);
    }
    static void advance_and_run(uint64_t ms) {
        amxp_clock_advance(ms);
        amxp_loop_run_pending();
    }
};
