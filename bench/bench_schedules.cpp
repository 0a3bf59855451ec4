// What a jump of the clock costs the schedules service: 1,000 schedules in four zones, each
// with a school-night and a weekend window, judged again at once (verdict and next change of
// every one) and the next wake-up found. The clock jumps between a weekday evening and a
// Saturday morning, so verdicts change on every jump.
#include <benchmark/benchmark.h>

#include "schedule_book.h"

namespace {

using schedules::ScheduleBook;

ScheduleBook make_book(int count) {
    const char* zones[] = {"Europe/Brussels", "America/New_York", "Asia/Tokyo", "UTC"};
    std::string why;
    ScheduleBook book(schedules::UnsyncedPolicy::inactive);
    for (int i = 0; i < count; ++i) {
        schedules::Timetable table;
        table.zone = schedules::find_zone(zones[i % 4], why);
        table.windows.push_back({*schedules::parse_days("Mon,Tue,Wed,Thu,Sun", why), 21 * 60 + i % 60, 7 * 60});
        table.windows.push_back({*schedules::parse_days("Fri,Sat", why), 22 * 60 + 30, 8 * 60});
        book.set(static_cast<std::uint32_t>(i + 1), schedules::Plan{true, std::move(table), ""});
    }
    return book;
}

void BM_RecomputeAfterClockJump(benchmark::State& state) {
    ScheduleBook book = make_book(static_cast<int>(state.range(0)));
    const schedules::Seconds instants[] = {*schedules::parse_utc("2026-03-25T20:30:00Z"),
                                           *schedules::parse_utc("2026-03-28T06:00:00Z")};
    book.recompute(instants[0], true, true);
    std::size_t jump = 0;
    std::size_t changed = 0;
    for (auto _ : state) {
        changed += book.recompute(instants[++jump % 2], true, true).size();
        benchmark::DoNotOptimize(book.next_due());
    }
    state.counters["changed/jump"] = benchmark::Counter(static_cast<double>(changed) / static_cast<double>(jump));
}
BENCHMARK(BM_RecomputeAfterClockJump)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
