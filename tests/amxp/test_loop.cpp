// The event loop: file descriptors, deferred work, run and stop, timers, and signals with
// their slots. Every test starts on an empty loop with the manual clock.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_signal.h>
#include <amxp/amxp_slot.h>
#include <amxp/amxp_timer.h>

#include "test_expr_event_data.h"

namespace {

using Strings = std::vector<std::string>;

// What callbacks saw, in order; callbacks are plain functions, so the log is global.
std::vector<std::string> g_log;

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

// A text to pass as a callback's private data.
void* tag(const char* t) {
    return const_cast<char*>(t);
}

struct Pipe {
    int rd = -1;
    int wr = -1;
    Pipe() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        rd = fds[0];
        wr = fds[1];
    }
    ~Pipe() {
        close(wr);
        close(rd);
    }
    void put(const char* text) const { EXPECT_GT(write(wr, text, strlen(text)), 0); }
};

// Logs "<events>:<data read>".
void read_all(int fd, uint32_t events, void*) {
    std::string data;
    char buf[64];
    ssize_t n = 0;
    while((n = read(fd, buf, sizeof(buf))) > 0) {
        data.append(buf, static_cast<std::size_t>(n));
    }
    g_log.push_back(std::to_string(events) + ":" + data);
}

using FdTest = LoopTest;

TEST_F(FdTest, RemovingItselfInsideTheCallbackStopsFurtherCalls) {
    Pipe p;
    amxp_loop_add_fd(p.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        g_log.emplace_back("once");
        EXPECT_EQ(amxp_loop_remove_fd(fd), 0);
    }, nullptr);
    p.put("x"); // never read: still readable afterwards
    amxp_loop_run_once(0);
    amxp_loop_run_once(0);
    EXPECT_EQ(g_log, Strings{"once"});
}

int g_replaced_fd = -1;

TEST_F(FdTest, EventCollectedForAReplacedWatchIsNotGivenToTheNewOne) {
    Pipe a;
    Pipe b;
    g_replaced_fd = b.rd;
    amxp_loop_add_fd(a.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        char c;
        EXPECT_EQ(read(fd, &c, 1), 1);
        amxp_loop_remove_fd(g_replaced_fd);
        amxp_loop_add_fd(g_replaced_fd, AMXP_FD_READ, read_all, nullptr);
    }, nullptr);
    amxp_loop_add_fd(b.rd, AMXP_FD_READ, [](int, uint32_t, void*) { g_log.emplace_back("old"); }, nullptr);
    a.put("1"); // ready first, so reported first: b's event is collected in the same wait
    b.put("2");
    EXPECT_EQ(amxp_loop_run_once(-1), 1);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(amxp_loop_run_once(0), 1); // the new watch takes over from the next wait on
    EXPECT_EQ(g_log, Strings{"1:2"});
    amxp_loop_remove_fd(a.rd);
    amxp_loop_remove_fd(b.rd);
}

using DeferTest = LoopTest;

void log_text(void* priv) {
    g_log.emplace_back(static_cast<const char*>(priv));
}

void defer_again(void*) {
    g_log.emplace_back("again");
    amxp_loop_defer(defer_again, nullptr);
}

TEST_F(DeferTest, QueueAndDrainsAreBounded) {
    amxp_loop_defer(defer_again, nullptr);
    // Two drains per pass, each running its one queued entry plus the extra allowance.
    EXPECT_EQ(amxp_loop_run_pending(), 2 * (1 + AMXP_LOOP_DRAIN_EXTRA_MAX));
    EXPECT_GT(amxp_loop_run_once(-1), 0); // still queued: an unbounded wait returns at once
    EXPECT_EQ(amxp_loop_defer(nullptr, nullptr), -EINVAL);
}

using RunTest = LoopTest;

TEST_F(RunTest, StopFromACallbackEndsRunAndNestedRunIsRefused) {
    Pipe p;
    amxp_loop_add_fd(p.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        char c;
        EXPECT_EQ(read(fd, &c, 1), 1);
        EXPECT_TRUE(amxp_loop_is_running());
        EXPECT_EQ(amxp_loop_run(), -EBUSY);
        g_log.emplace_back("stop");
        amxp_loop_stop();
    }, nullptr);
    p.put("ab"); // two bytes: the loop must not come back for the second
    EXPECT_EQ(amxp_loop_run(), 0);
    EXPECT_FALSE(amxp_loop_is_running());
    EXPECT_EQ(g_log, Strings{"stop"});
    amxp_loop_remove_fd(p.rd);
}

// ---- long work ------------------------------------------------------------------------------

using SliceTest = LoopTest;

// Calls slice points for `slices` slices of real time (the slices' clock is the real one), or,
// with `until_logged`, until that text is logged (for at most five seconds).
void slice_for(int slices, const char* until_logged = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    const auto span = std::chrono::milliseconds(until_logged == nullptr ? slices * AMXP_LOOP_SLICE_MS : 5000);
    while(std::chrono::steady_clock::now() - start < span &&
          (until_logged == nullptr || std::find(g_log.begin(), g_log.end(), until_logged) == g_log.end())) {
        amxp_loop_slice_point();
    }
}

void long_work(void*) {
    amxp_loop_hold_slices();
    slice_for(3);
    amxp_loop_release_slices();
    g_log.emplace_back("held part done");
    slice_for(0, "read while paused");
    g_log.emplace_back("work done");
}

// Long work pauses at its slice points for the descriptors served while paused, and for nothing
// else: not for other descriptors, queued work or timers, and not within a hold.
TEST_F(SliceTest, LongWorkPausesOnlyForServedDescriptorsAndNotWithinAHold) {
    Pipe reader;
    Pipe other;
    amxp_loop_add_fd(reader.rd, AMXP_FD_READ, [](int fd, uint32_t, void*) {
        char c;
        EXPECT_EQ(read(fd, &c, 1), 1);
        g_log.emplace_back(amxp_loop_is_paused() ? "read while paused" : "read");
        EXPECT_EQ(amxp_loop_run_once(0), amxp_loop_is_paused() ? -EBUSY : 0);
    }, nullptr);
    ASSERT_EQ(amxp_loop_serve_while_paused(reader.rd, true), 0);
    amxp_loop_add_fd(other.rd, AMXP_FD_READ, read_all, nullptr);
    reader.put("r");
    other.put("o");
    amxp_loop_defer(long_work, nullptr);
    amxp_loop_defer(log_text, tag("queued after"));
    EXPECT_EQ(amxp_loop_run_pending(), 2);
    EXPECT_EQ(g_log, (Strings{"held part done", "read while paused", "work done", "queued after"}));
    EXPECT_FALSE(amxp_loop_is_paused());

    // Outside a pause the descriptors are served as any other; unmarked, not while paused.
    EXPECT_EQ(amxp_loop_run_once(0), 1);
    EXPECT_EQ(g_log.back(), "1:o");
    ASSERT_EQ(amxp_loop_serve_while_paused(reader.rd, false), 0);
    reader.put("r");
    amxp_loop_defer([](void*) { slice_for(3); }, nullptr);
    amxp_loop_run_pending();
    EXPECT_EQ(g_log.back(), "1:o");
    EXPECT_EQ(amxp_loop_run_once(0), 1);
    EXPECT_EQ(g_log.back(), "read");
    EXPECT_EQ(amxp_loop_serve_while_paused(-1, true), -ENOENT);
    amxp_loop_remove_fd(reader.rd);
    amxp_loop_remove_fd(other.rd);
}

// After one step that took a whole slice by itself, a plain slice point may not look at the
// clock yet (it does every few calls); slice_point_now() does, and pauses there. The work queue
// reads it after each callback.
TEST_F(SliceTest, AStepThatTookLongPausesAtOnceWhereAPlainSlicePointMayNot) {
    Pipe reader;
    amxp_loop_add_fd(reader.rd, AMXP_FD_READ, read_all, nullptr);
    ASSERT_EQ(amxp_loop_serve_while_paused(reader.rd, true), 0);
    reader.put("r");
    amxp_loop_defer([](void*) {
        amxp_loop_slice_point_now();  // the count starts anew; the slice has just begun
        std::this_thread::sleep_for(std::chrono::milliseconds(AMXP_LOOP_SLICE_MS + 10));
        amxp_loop_slice_point();
        g_log.emplace_back("after the plain one");
        amxp_loop_slice_point_now();
        g_log.emplace_back("after the one now");
    }, nullptr);
    EXPECT_EQ(amxp_loop_run_pending(), 1);
    EXPECT_EQ(g_log, (Strings{"after the plain one", "1:r", "after the one now"}));

    // Queued callbacks that take a slice each: a reader is served between them, not after all.
    reader.put("s");
    for(const char* name : {"first", "second"}) {
        amxp_loop_defer([](void* priv) {
            std::this_thread::sleep_for(std::chrono::milliseconds(AMXP_LOOP_SLICE_MS + 10));
            g_log.emplace_back(static_cast<const char*>(priv));
        }, const_cast<char*>(name));
    }
    g_log.clear();
    EXPECT_EQ(amxp_loop_run_pending(), 2);
    EXPECT_EQ(g_log, (Strings{"first", "1:s", "second"}));
    amxp_loop_remove_fd(reader.rd);
}

// ---- timers ---------------------------------------------------------------------------------

using TimerTest = LoopTest;

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
    amxp_timer_new(&c.deleted, log_name, tag("deleted"));
    amxp_timer_new(&c.stopped, log_name, tag("stopped"));
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
    amxp_timer_new(&timer, log_name, tag("i"));
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

// ---- signals and slots ----------------------------------------------------------------------

using SignalTest = LoopTest;

// Logs "<priv>/<signal>:<data text or ->".
void log_slot(const char* const name, const amxc_var_t* const data, void* const priv) {
    const char* value = data != nullptr ? amxc_var_get_const_cstring_t(data) : nullptr;
    std::string entry(static_cast<const char*>(priv));
    entry.append("/").append(name).append(":").append(value != nullptr ? value : "-");
    g_log.push_back(std::move(entry));
}

struct Text : amxc::ScopedVar {
    explicit Text(const char* value) { amxc_var_set_cstring_t(get(), value); }
};

struct Mngr {
    amxp_signal_mngr_t* m = nullptr;
    Mngr() { EXPECT_EQ(amxp_sigmngr_new(&m), 0); }
    ~Mngr() { amxp_sigmngr_delete(&m); }
};

TEST_F(SignalTest, EmissionsAreDeliveredOnTheLoopInOrderToSlotsInConnectionOrder) {
    Mngr mngr;
    ASSERT_EQ(amxp_slot_connect(mngr.m, "changed", nullptr, log_slot, tag("b")), 0);
    ASSERT_EQ(amxp_slot_connect(mngr.m, "*", nullptr, log_slot, tag("a")), 0);
    Text one("1");
    Text two("2");
    ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "changed", one.get()), 0);
    ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "other", two.get()), 0);
    ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "changed", nullptr), 0);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(amxp_loop_run_pending(), 3);
    EXPECT_EQ(g_log, (Strings{"b/changed:1", "a/changed:1", "a/other:2", "b/changed:-", "a/changed:-"}));
}

// Emissions and deferred work share the loop's one bounded queue.
TEST_F(SignalTest, FullQueueRefusesEmitsAndDeferredWorkAndKeepsWhatWasQueued) {
    Mngr mngr;
    amxp_slot_connect(mngr.m, "s", nullptr, log_slot, tag("a"));
    Text data("d");
    for(int i = 0; i < AMXP_LOOP_QUEUE_MAX; ++i) {
        ASSERT_EQ(amxp_sigmngr_emit(mngr.m, "s", data.get()), 0);
    }
    EXPECT_EQ(amxp_sigmngr_emit(mngr.m, "s", data.get()), -ENOSPC);
    EXPECT_EQ(amxp_loop_defer(log_text, tag("refused")), -ENOSPC);
    EXPECT_EQ(amxp_loop_run_pending(), AMXP_LOOP_QUEUE_MAX);
    EXPECT_EQ(g_log.size(), static_cast<std::size_t>(AMXP_LOOP_QUEUE_MAX));
}

amxp_signal_mngr_t* g_mngr = nullptr;

TEST_F(SignalTest, DeletedManagerCallsNoFurtherSlotsAndDropsItsPendingEmissions) {
    Mngr survivor;
    amxp_sigmngr_new(&g_mngr);
    amxp_slot_connect(g_mngr, "s", nullptr, [](const char* const, const amxc_var_t* const, void* const) {
        g_log.emplace_back("deleting");
        amxp_sigmngr_delete(&g_mngr);
    }, nullptr);
    amxp_slot_connect(g_mngr, "s", nullptr, log_slot, tag("after-delete"));
    amxp_slot_connect(survivor.m, "s", nullptr, log_slot, tag("survivor"));
    amxp_sigmngr_emit(g_mngr, "s", nullptr);
    amxp_sigmngr_emit(g_mngr, "s", nullptr); // pending when the manager goes
    amxp_sigmngr_emit(survivor.m, "s", nullptr);
    amxp_loop_run_pending();
    EXPECT_EQ(g_log, (Strings{"deleting", "survivor/s:-"}));
    EXPECT_EQ(g_mngr, nullptr);

    // Deleted outside any delivery, and after a loop reset: the same.
    Text data("x");
    amxp_sigmngr_new(&g_mngr);
    amxp_slot_connect(g_mngr, "s", nullptr, log_slot, tag("gone"));
    amxp_sigmngr_emit(g_mngr, "s", data.get());
    amxp_sigmngr_emit(survivor.m, "s", data.get());
    amxp_loop_reset(); // drops both, frees the copies
    amxp_sigmngr_emit(g_mngr, "s", data.get());
    amxp_sigmngr_delete(&g_mngr);
    EXPECT_EQ(amxp_loop_run_pending(), 0);
    EXPECT_EQ(g_log.size(), 2u);
}

TEST_F(SignalTest, FilteredSlotGetsOnlyMatchingDataAndAMalformedFilterIsRefused) {
    Mngr mngr;
    ASSERT_EQ(amxp_slot_connect(mngr.m, "dm:object-changed",
                                "(notification == 'dm:object-changed') && contains('parameters.NetworkObjectIPList')",
                                log_slot, tag("filtered")),
              0);
    for(const char* bad : {"(notification == 'x'", "", "path matches '('"}) {
        EXPECT_EQ(amxp_slot_connect(mngr.m, "dm:object-changed", bad, log_slot, tag("bad")), -EINVAL) << bad;
    }
    EXPECT_EQ(amxp_slot_connect(mngr.m, "s", nullptr, nullptr, nullptr), -EINVAL);
    EXPECT_EQ(amxp_slot_connect(mngr.m, "", nullptr, log_slot, tag("bad")), -EINVAL);

    Event matching("dm:object-changed", "Device.X.NetworkObject.1.");
    Event other_parameter("dm:object-changed", "Device.X.NetworkObject.1.");
    matching.changed("NetworkObjectIPList", "", "new");
    other_parameter.changed("Alias", "", "new");
    amxp_sigmngr_emit(mngr.m, "dm:object-changed", matching);
    amxp_sigmngr_emit(mngr.m, "dm:object-changed", other_parameter);
    amxp_sigmngr_emit(mngr.m, "dm:object-changed", nullptr); // no fields: the filter fails
    EXPECT_EQ(amxp_loop_run_pending(), 3);
    EXPECT_EQ(g_log, Strings{"filtered/dm:object-changed:-"});
}

} // namespace
