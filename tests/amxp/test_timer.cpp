#include "test_amxp_fixture.h"

#include <amxp/amxp_timer.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <tuple>

namespace {

using TimerTest = LoopTest;
using Strings = std::vector<std::string>;

// Logs the name given as private data.
void log_name(amxp_timer_t*, void* priv) {
    g_log.emplace_back(static_cast<const char*>(priv));
}

// Timers that act on themselves or on the others from their callbacks.
struct Crowd {
    amxp_timer_t* self_deleting = nullptr;
    amxp_timer_t* deleter = nullptr;
    amxp_timer_t* deleted = nullptr;
    amxp_timer_t* stopped = nullptr;
    amxp_timer_t* rearming = nullptr;
};
Crowd g_crowd;

TEST_F(TimerTest, CallbacksMayDeleteStopAndRestartTimersIncludingTheirOwn) {
    Crowd& c = g_crowd;
    amxp_timer_new(&c.self_deleting, [](amxp_timer_t* timer, void*) {
        g_log.emplace_back("self");
        amxp_timer_delete(&g_crowd.self_deleting);
        // Still readable inside the callback: freed only when it returns.
        EXPECT_EQ(amxp_timer_get_state(timer), amxp_timer_deleted);
        EXPECT_EQ(amxp_timer_start(timer, 1), -EINVAL);
    }, nullptr);
    amxp_timer_set_interval(c.self_deleting, 10); // re-armed before its callback: delete disarms
    amxp_timer_new(&c.deleter, [](amxp_timer_t*, void*) {
        g_log.emplace_back("deleter");
        amxp_timer_delete(&g_crowd.deleted);
        amxp_timer_stop(g_crowd.stopped);
    }, nullptr);
    amxp_timer_new(&c.deleted, log_name, const_cast<char*>("deleted"));
    amxp_timer_new(&c.stopped, log_name, const_cast<char*>("stopped"));
    amxp_timer_new(&c.rearming, [](amxp_timer_t* timer, void*) {
        g_log.emplace_back("rearm");
        amxp_timer_start(timer, 0); // due again at once, but not within this pass
    }, nullptr);
    for(amxp_timer_t* timer : {c.self_deleting, c.deleter, c.deleted, c.stopped, c.rearming}) {
        amxp_timer_start(timer, 10);
    }
    advance_and_run(10);
    EXPECT_EQ(g_log, (Strings{"self", "deleter", "rearm"}));
    EXPECT_EQ(c.self_deleting, nullptr);
    EXPECT_EQ(c.deleted, nullptr);
    EXPECT_EQ(amxp_timer_get_state(c.stopped), amxp_timer_off);
    EXPECT_EQ(amxp_loop_run_pending(), 1); // only the re-armed one, once
    EXPECT_EQ(g_log.back(), "rearm");
    amxp_timer_delete(&c.deleter);
    amxp_timer_delete(&c.stopped);
    amxp_timer_delete(&c.rearming);
}

TEST_F(TimerTest, IntervalTimerRepeatsAndDoesNotCatchUpMissedExpiries) {
    amxp_timer_t* timer = nullptr;
    amxp_timer_new(&timer, log_name, const_cast<char*>("i"));
    amxp_timer_set_interval(timer, 300);
    amxp_timer_start(timer, 1000);
    advance_and_run(1000);
    EXPECT_EQ(amxp_timer_get_state(timer), amxp_timer_running);
    advance_and_run(300);
    advance_and_run(300);
    EXPECT_EQ(g_log.size(), 3u);
    advance_and_run(1300); // 1000 ms late: one expiry, the period restarts from now
    EXPECT_EQ(g_log.size(), 4u);
    EXPECT_EQ(amxp_timer_remaining_time(timer), 300u);
    advance_and_run(600); // exactly one period late: still one expiry
    EXPECT_EQ(g_log.size(), 5u);
    EXPECT_EQ(amxp_timer_remaining_time(timer), 300u);
    amxp_timer_set_interval(timer, 0);
    advance_and_run(300);
    advance_and_run(1000);
    EXPECT_EQ(g_log.size(), 6u);
    EXPECT_EQ(amxp_timer_get_state(timer), amxp_timer_expired);
    amxp_timer_delete(&timer);
}

TEST_F(TimerTest, ManyTimersWithRandomRestartsAndStopsExpireOnceInDueOrder) {
    constexpr int count = 2000;
    std::mt19937 rng(12345);
    std::vector<amxp_timer_t*> timers(count, nullptr);
    std::vector<std::string> names(count);
    std::vector<std::tuple<unsigned, int, std::string>> expected(count); // (due, start order, name)
    int seq = 0;
    for(int round = 0; round < 3; ++round) {
        for(int i = 0; i < count; ++i) {
            if(round == 0) {
                names[i] = std::to_string(i);
                amxp_timer_new(&timers[i], log_name, names[i].data());
            }
            if(round == 0 || rng() % 2 == 0) {
                const unsigned delay = rng() % 5001;
                amxp_timer_start(timers[i], delay);
                expected[i] = {delay, seq++, names[i]};
            }
        }
    }
    for(int i = 0; i < count; i += 4) {
        amxp_timer_stop(timers[i]);
        std::get<2>(expected[i]).clear();
    }
    std::erase_if(expected, [](const auto& e) { return std::get<2>(e).empty(); });
    std::sort(expected.begin(), expected.end());
    for(int step = 0; step <= 5000; step += 7) {
        advance_and_run(7);
    }
    ASSERT_EQ(g_log.size(), expected.size());
    for(std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(g_log[i], std::get<2>(expected[i])) << "at " << i;
    }
    for(amxp_timer_t*& timer : timers) {
        amxp_timer_delete(&timer);
    }
}

} // namespace
