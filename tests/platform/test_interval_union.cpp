// The union of source intervals that a compiled kernel rule's set holds: always the fewest
// disjoint, non-adjacent intervals covering what was added and not removed, and each change
// reported exactly (what the kernel set must lose and gain).

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "interval_union.h"

namespace fwinterface {
namespace {

using Merged = std::map<Address128, Address128>;

// Addresses of a small window at the bottom and at the top of the IPv4 space, so that runs
// touch both ends.
Address128 at(std::uint64_t offset, bool top) { return Address128{0, top ? UINT32_MAX - 63 + offset : offset}; }

// The maximal runs of covered addresses, from counts per address of the window.
Merged runs(const std::vector<int>& covered, bool top) {
    Merged merged;
    for(std::size_t i = 0; i < covered.size(); ++i) {
        if(covered[i] > 0 && i > 0 && covered[i - 1] > 0) {
            std::prev(merged.end())->second = at(i, top);
        } else if(covered[i] > 0) {
            merged.emplace(at(i, top), at(i, top));
        }
    }
    return merged;
}

TEST(IntervalUnion, RandomAddsAndRemovesKeepTheFewestIntervalsAndReportEveryChange) {
    for(const bool top : {false, true}) {
        std::mt19937 random(top ? 7 : 3);
        IntervalUnion held;
        std::vector<int> covered(64, 0);
        std::vector<std::pair<std::uint64_t, std::uint64_t>> added;  // offsets, first and last
        for(int step = 0; step < 4000; ++step) {
            const bool add = added.empty() || random() % 3 != 0;
            std::pair<std::uint64_t, std::uint64_t> bounds;
            if(add) {
                const unsigned size_bits = random() % 4 == 0 ? random() % 5 : 0;  // a single address, or a subnet
                const std::uint64_t size = std::uint64_t{1} << size_bits;
                const std::uint64_t first = (random() % 64) / size * size;
                bounds = {first, first + size - 1};
                added.push_back(bounds);
            } else {
                const std::size_t pick = random() % added.size();
                bounds = added[pick];
                added.erase(added.begin() + static_cast<std::ptrdiff_t>(pick));
            }
            const Interval interval{at(bounds.first, top), at(bounds.second, top)};
            Merged before = held.merged();
            const IntervalUnion::Change change = add ? held.add(interval) : held.remove(interval);
            for(std::uint64_t i = bounds.first; i <= bounds.second; ++i) {
                covered[i] += add ? 1 : -1;
            }
            ASSERT_EQ(held.merged(), runs(covered, top)) << "step " << step;
            for(const Interval& gone : change.removed) {
                ASSERT_EQ(before.erase(gone.first), 1U) << "step " << step << ": removed what was not there";
            }
            for(const Interval& come : change.added) {
                ASSERT_TRUE(before.emplace(come.first, come.last).second) << "step " << step;
            }
            ASSERT_EQ(before, held.merged()) << "step " << step << ": the change does not lead to the union";
        }
    }
}

TEST(IntervalUnion, PrefixesCoverTheirWholeSubnetUpToTheEndOfTheSpace) {
    AddressMatch everything;
    everything.prefix = 0;
    EXPECT_EQ(interval_of(everything, false), (Interval{Address128{}, highest_address(false)}));
    EXPECT_EQ(interval_of(everything, true), (Interval{Address128{}, highest_address(true)}));
    AddressMatch subnet;
    subnet.bytes = {10, 1, 2, 0};
    subnet.prefix = 23;
    EXPECT_EQ(interval_of(subnet, false), (Interval{Address128{0, 0x0A010200}, Address128{0, 0x0A0103FF}}));
    AddressMatch v6;
    v6.bytes = {0xfd, 0x99, 0, 1};
    v6.prefix = 72;
    const Interval wide = interval_of(v6, true);
    EXPECT_EQ(wide.first, (Address128{0xfd99000100000000ULL, 0}));
    EXPECT_EQ(wide.last, (Address128{0xfd99000100000000ULL, 0x00FFFFFFFFFFFFFFULL}));
}

}  // namespace
}  // namespace fwinterface
