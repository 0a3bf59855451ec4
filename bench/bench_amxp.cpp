// Event loop costs: restarting many timers (the per-instance commit timers), expiring them,
// and queued versus synchronous signal delivery.
#include <amxp/amxp_clock.h>
#include <amxp/amxp_loop.h>
#include <amxp/amxp_signal.h>
#include <amxp/amxp_slot.h>
#include <amxp/amxp_timer.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

void count_expiry(amxp_timer_t*, void* priv) {
    ++*static_cast<long*>(priv);
}

// N armed timers on the manual clock, deleted on scope exit.
class TimerSet {
public:
    explicit TimerSet(std::size_t count) : timers_(count, nullptr) {
        amxp_loop_reset();
        amxp_clock_set_manual(true);
        for(amxp_timer_t*& timer : timers_) {
            amxp_timer_new(&timer, count_expiry, &expiries_);
        }
    }
    ~TimerSet() {
        for(amxp_timer_t*& timer : timers_) {
            amxp_timer_delete(&timer);
        }
        amxp_clock_set_manual(false);
    }
    TimerSet(const TimerSet&) = delete;
    TimerSet& operator=(const TimerSet&) = delete;

    std::vector<amxp_timer_t*>& timers() { return timers_; }
    long expiries() const { return expiries_; }

private:
    std::vector<amxp_timer_t*> timers_;
    long expiries_ = 0;
};

// Restarts every timer of an armed set once per iteration, in random order and with random
// delays, as a burst of events restarting the commit timers of many instances would.
void BM_TimerRestart(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    TimerSet set(count);
    std::mt19937 rng(7);
    std::uniform_int_distribution<unsigned> delay(500, 1500);
    std::vector<unsigned> delays(count);
    for(amxp_timer_t* timer : set.timers()) {
        amxp_timer_start(timer, delay(rng));
    }
    std::shuffle(set.timers().begin(), set.timers().end(), rng);
    std::generate(delays.begin(), delays.end(), [&] { return delay(rng); });
    for(auto _ : state) {
        for(std::size_t i = 0; i < count; ++i) {
            amxp_timer_start(set.timers()[i], delays[i]);
        }
        // The manual clock stands still, so the same delays keep moving timers around.
        std::rotate(delays.begin(), delays.begin() + 1, delays.end());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
}
BENCHMARK(BM_TimerRestart)->Arg(1000)->Arg(10000)->Arg(100000);

// Arms N timers with spread due times and expires them all in one pass.
void BM_TimerExpire(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    TimerSet set(count);
    std::mt19937 rng(11);
    std::uniform_int_distribution<unsigned> delay(1, 1000);
    for(auto _ : state) {
        state.PauseTiming();
        for(amxp_timer_t* timer : set.timers()) {
            amxp_timer_start(timer, delay(rng));
        }
        amxp_clock_advance(1000);
        state.ResumeTiming();
        benchmark::DoNotOptimize(amxp_loop_run_pending());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(count));
    state.counters["expired"] = static_cast<double>(set.expiries());
}
BENCHMARK(BM_TimerExpire)->Arg(10000);

void count_slot(const char* const, const amxc_var_t* const, void* const priv) {
    ++*static_cast<long*>(priv);
}

// An object-changed event as the data model sends it.
void make_event(amxc_var_t* event) {
    amxc_var_init(event);
    amxc_var_set_type(event, AMXC_VAR_ID_HTABLE);
    amxc_var_add_key(cstring_t, event, "notification", "dm:object-changed");
    amxc_var_add_key(cstring_t, event, "path", "Device.NetworkSettings.AccessControl.1.");
    amxc_var_t* params = amxc_var_add_new_key_htable(event, "parameters");
    amxc_var_t* enable = amxc_var_add_new_key_htable(params, "Enable");
    amxc_var_add_key(bool, enable, "from", false);
    amxc_var_add_key(bool, enable, "to", true);
}

// A manager with `slots` subscribers, each filtering on its own instance path, as the data
// model's manager holds one per subscribed object; exactly one matches the event.
class Subscribers {
public:
    explicit Subscribers(int slots) {
        amxp_loop_reset();
        amxp_sigmngr_new(&mngr_);
        for(int i = 1; i <= slots; ++i) {
            const std::string filter = "path == 'Device.NetworkSettings.AccessControl." + std::to_string(i) + ".'";
            amxp_slot_connect(mngr_, "dm:object-changed", slots == 1 ? nullptr : filter.c_str(), count_slot, &calls_);
        }
        make_event(&event_);
    }
    ~Subscribers() {
        amxc_var_clean(&event_);
        amxp_sigmngr_delete(&mngr_);
    }
    Subscribers(const Subscribers&) = delete;
    Subscribers& operator=(const Subscribers&) = delete;

    amxp_signal_mngr_t* mngr() const { return mngr_; }
    const amxc_var_t* event() const { return &event_; }
    long calls() const { return calls_; }

private:
    amxp_signal_mngr_t* mngr_ = nullptr;
    amxc_var_t event_;
    long calls_ = 0;
};

constexpr int signals_per_iteration = 10000;

// Baseline: synchronous delivery, no copy, no queue.
void BM_SignalTrigger(benchmark::State& state) {
    Subscribers subs(static_cast<int>(state.range(0)));
    for(auto _ : state) {
        for(int i = 0; i < signals_per_iteration; ++i) {
            amxp_sigmngr_trigger(subs.mngr(), "dm:object-changed", subs.event());
        }
    }
    state.SetItemsProcessed(state.iterations() * signals_per_iteration);
    state.counters["slot_calls"] = static_cast<double>(subs.calls());
}
BENCHMARK(BM_SignalTrigger)->Arg(1)->Arg(100);

// Baseline: what an emission must do anyway, copying its event data.
void BM_EventCopy(benchmark::State& state) {
    amxc_var_t event;
    make_event(&event);
    for(auto _ : state) {
        for(int i = 0; i < signals_per_iteration; ++i) {
            amxc_var_t* copy = nullptr;
            amxc_var_new(&copy);
            amxc_var_copy(copy, &event);
            amxc_var_delete(&copy);
        }
    }
    amxc_var_clean(&event);
    state.SetItemsProcessed(state.iterations() * signals_per_iteration);
}
BENCHMARK(BM_EventCopy);

// 10,000 emissions queued (each copying its data), then delivered by one pass of the loop.
void BM_SignalEmitDeliver(benchmark::State& state) {
    Subscribers subs(static_cast<int>(state.range(0)));
    for(auto _ : state) {
        for(int i = 0; i < signals_per_iteration; ++i) {
            amxp_sigmngr_emit(subs.mngr(), "dm:object-changed", subs.event());
        }
        benchmark::DoNotOptimize(amxp_loop_run_pending());
    }
    state.SetItemsProcessed(state.iterations() * signals_per_iteration);
    state.counters["slot_calls"] = static_cast<double>(subs.calls());
}
BENCHMARK(BM_SignalEmitDeliver)->Arg(1)->Arg(100);

// The queue's own cost: the same without data to copy.
void BM_SignalEmitDeliverNoData(benchmark::State& state) {
    Subscribers subs(1);
    for(auto _ : state) {
        for(int i = 0; i < signals_per_iteration; ++i) {
            amxp_sigmngr_emit(subs.mngr(), "dm:object-changed", nullptr);
        }
        benchmark::DoNotOptimize(amxp_loop_run_pending());
    }
    state.SetItemsProcessed(state.iterations() * signals_per_iteration);
}
BENCHMARK(BM_SignalEmitDeliverNoData);

void count_call(void* priv) {
    ++*static_cast<long*>(priv);
}

void BM_DeferredCalls(benchmark::State& state) {
    amxp_loop_reset();
    long calls = 0;
    for(auto _ : state) {
        for(int i = 0; i < signals_per_iteration; ++i) {
            amxp_loop_defer(count_call, &calls);
        }
        benchmark::DoNotOptimize(amxp_loop_run_pending());
    }
    state.SetItemsProcessed(state.iterations() * signals_per_iteration);
}
BENCHMARK(BM_DeferredCalls);

} // namespace
