// Hostile regular expressions from clients: what one compile and search holds the loop for (the
// wait of every other client) and what it leaves in memory, each pattern against the longest
// text its search cost bound lets through.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include <amxp/amxp_regex.h>

namespace {

struct Attack {
    const char* what;
    std::string pattern;
    amxp::Regex::Case letters;
    std::size_t text;
};

std::string repeated(const char* piece, int times) {
    std::string out;
    for(int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

const Attack attacks[] = {
    {"filter (.*x.*x.*)*y, 100 KB value", "(.*x.*x.*)*y", amxp::Regex::Case::sensitive, 100 * 1024},
    {"query (.?){255}x3(.?){250}z, 2 KB name", "(.?){255}(.?){255}(.?){255}(.?){250}z", amxp::Regex::Case::insensitive, 2000},
    {"host name .? x500 then z, 4 KB name", repeated(".?", 500) + "z", amxp::Regex::Case::insensitive, 4000},
};

long resident_kb() {
    long pages = 0;
    long resident = 0;
    if(FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if(std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * 4;
}

void BM_HostilePattern(benchmark::State& state) {
    const Attack& attack = attacks[state.range(0)];
    const std::string text(attack.text, 'x');
    const long before = resident_kb();
    long held = 0;  // while the compiled pattern lives
    for(auto _ : state) {
        std::string error;
        const auto regex = amxp::Regex::compile(attack.pattern, attack.letters, error);
        const std::optional<bool> found = regex == nullptr ? std::nullopt : regex->search(text);
        if(!found) {
            state.SkipWithError("refused");
            return;
        }
        benchmark::DoNotOptimize(*found);
        held = std::max(held, resident_kb() - before);
    }
    state.counters["rss_held_kb"] = static_cast<double>(held);
    state.counters["rss_kept_kb"] = static_cast<double>(resident_kb() - before);
    state.SetLabel(attack.what);
}
BENCHMARK(BM_HostilePattern)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace
