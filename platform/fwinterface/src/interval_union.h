#ifndef FWINTERFACE_INTERVAL_UNION_H
#define FWINTERFACE_INTERVAL_UNION_H

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <vector>

#include "rule_reader.h"

namespace fwinterface {

// An IPv4 or IPv6 address as a 128-bit number (IPv4 in the low 32 bits), so that intervals
// of both families share one arithmetic.
struct Address128 {
    std::uint64_t high = 0;
    std::uint64_t low = 0;

    auto operator<=>(const Address128&) const = default;

    Address128 next() const { return low == UINT64_MAX ? Address128{high + 1, 0} : Address128{high, low + 1}; }
    Address128 previous() const { return low == 0 ? Address128{high - 1, UINT64_MAX} : Address128{high, low - 1}; }
};

// Inclusive bounds.
struct Interval {
    Address128 first;
    Address128 last;

    auto operator<=>(const Interval&) const = default;
};

// The addresses an address match covers.
Interval interval_of(const AddressMatch& match, bool ipv6);
// The address match covering `interval`, which interval_of() made: its inverse.
AddressMatch match_of(const Interval& interval, bool ipv6);

// The highest address of a family.
Address128 highest_address(bool ipv6);
// The address in network order, an IPv4 one in the last 4 bytes.
std::array<std::uint8_t, 16> bytes_of(const Address128& address);

// A multiset of address intervals (single addresses, subnets) and its union as the fewest
// intervals: disjoint and not adjacent, which is what a kernel interval set accepts. Adding
// or removing one interval reports how the union changed; the work is that of the change
// (plus a scan of the wide intervals, which are few), not of the number of addresses held.
class IntervalUnion {
public:
    struct Change {
        std::vector<Interval> removed;  // intervals of the union before that are gone
        std::vector<Interval> added;    // intervals of the union after that are new
    };

    Change add(const Interval& interval);
    // `interval` must have been added and not removed since.
    Change remove(const Interval& interval);

    // The union, first address to last.
    const std::map<Address128, Address128>& merged() const { return merged_; }
    bool empty() const { return merged_.empty(); }

private:
    // The merged interval holding `address`, or merged_.end().
    std::map<Address128, Address128>::iterator holding(const Address128& address);
    void replace(std::vector<Interval> old_pieces, std::vector<Interval> new_pieces, Change& change);

    std::map<Address128, std::uint32_t> singles_;  // single addresses, with their count
    std::map<Interval, std::uint32_t> wides_;      // everything wider, with their count
    std::map<Address128, Address128> merged_;      // first -> last
};

}  // namespace fwinterface

#endif  // FWINTERFACE_INTERVAL_UNION_H
