// Holding back the hand-back of a large change's freed memory, as gwrt's settle timer does,
// and running it when a benchmark says, timed apart from the changes.
#ifndef BENCH_SETTLE_LATER_H
#define BENCH_SETTLE_LATER_H

#include <chrono>

#include <fwinterface/backend.h>

namespace modbench {

// While it lives, the memory large changes free stays for the next instead of going back at the
// end of each turn, as in gwrt while changes come within a second of each other; it goes back
// when this ends.
class SettleLater {
public:
    SettleLater() { fw_backend_release_when_settled(&not_yet, nullptr); }
    ~SettleLater() { fw_backend_release_when_settled(nullptr, nullptr); }
    SettleLater(const SettleLater&) = delete;
    SettleLater& operator=(const SettleLater&) = delete;

private:
    static void not_yet(void* /*priv*/) {}
};

// The settle timer's work, each run timed.
class TimedHandBack {
public:
    void run() {
        const auto start = std::chrono::steady_clock::now();
        fw_backend_release_memory();
        seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ++runs_;
    }
    double us_per_run() const { return runs_ == 0 ? 0 : seconds_ * 1e6 / static_cast<double>(runs_); }

private:
    double seconds_ = 0;
    long runs_ = 0;
};

}  // namespace modbench

#endif  // BENCH_SETTLE_LATER_H
