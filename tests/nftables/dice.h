#ifndef TESTS_NFTABLES_DICE_H
#define TESTS_NFTABLES_DICE_H

#include <cstdint>
#include <random>
#include <iterator>

namespace nfttest {

// Seeded choices: the same seed gives the same sequence, so a failure can be replayed.
class Dice {
public:
    explicit Dice(std::uint32_t seed) : engine_(seed) {}

    // A whole number in [low, high].
    template <typename Number>
    Number between(Number low, Number high) {
        return static_cast<Number>(std::uniform_int_distribution<long long>(low, high)(engine_));
    }

    // true with probability `p`.
    bool chance(double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_) < p; }

    // One of the items of a non-empty array or vector.
    template <typename Items>
    const auto& pick(const Items& items) {
        return items[between<std::size_t>(0, std::size(items) - 1)];
    }

private:
    std::mt19937 engine_;
};

}  // namespace nfttest

#endif  // TESTS_NFTABLES_DICE_H
