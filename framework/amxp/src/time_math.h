// Due-time arithmetic that saturates instead of wrapping, so a far-off (or far-advanced
// manual) time can never turn into a time in the past.
#pragma once

#include <cstdint>
#include <limits>

namespace amxp {

inline uint64_t saturating_add(uint64_t a, uint64_t b) {
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max() : a + b;
}

} // namespace amxp
