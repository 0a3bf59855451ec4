#include "interval_union.h"

#include <algorithm>
#include <bit>

namespace fwinterface {

Address128 highest_address(bool ipv6) { return ipv6 ? Address128{UINT64_MAX, UINT64_MAX} : Address128{0, UINT32_MAX}; }

Interval interval_of(const AddressMatch& match, bool ipv6) {
    Address128 value;
    if(ipv6) {
        for(std::size_t i = 0; i < 8; ++i) {
            value.high = (value.high << 8) | match.bytes[i];
            value.low = (value.low << 8) | match.bytes[i + 8];
        }
    } else {
        for(std::size_t i = 0; i < 4; ++i) {
            value.low = (value.low << 8) | match.bytes[i];
        }
    }
    // Host bits: the low (width - prefix) bits, set in `last`.
    const unsigned host_bits = (ipv6 ? 128U : 32U) - match.prefix;
    Address128 host;
    if(host_bits >= 64) {
        host.low = UINT64_MAX;
        host.high = host_bits >= 128 ? UINT64_MAX : (std::uint64_t{1} << (host_bits - 64)) - 1;
    } else {
        host.low = host_bits == 0 ? 0 : (std::uint64_t{1} << host_bits) - 1;
    }
    const Address128 first{value.high & ~host.high, value.low & ~host.low};
    return Interval{first, Address128{first.high | host.high, first.low | host.low}};
}

std::array<std::uint8_t, 16> bytes_of(const Address128& address) {
    std::array<std::uint8_t, 16> bytes{};
    for(std::size_t i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(address.high >> (56 - 8 * i));
        bytes[i + 8] = static_cast<std::uint8_t>(address.low >> (56 - 8 * i));
    }
    return bytes;
}

AddressMatch match_of(const Interval& interval, bool ipv6) {
    AddressMatch match;
    const std::array<std::uint8_t, 16> bytes = bytes_of(interval.first);
    if(ipv6) {
        match.bytes = bytes;
    } else {
        std::copy_n(bytes.begin() + 12, 4, match.bytes.begin());
    }
    const auto host_bits = static_cast<unsigned>(std::popcount(interval.first.high ^ interval.last.high) +
                                                 std::popcount(interval.first.low ^ interval.last.low));
    match.prefix = (ipv6 ? 128U : 32U) - host_bits;
    return match;
}

std::map<Address128, Address128>::iterator IntervalUnion::holding(const Address128& address) {
    auto it = merged_.upper_bound(address);
    if(it == merged_.begin()) {
        return merged_.end();
    }
    --it;
    return it->second >= address ? it : merged_.end();
}

// Swaps pieces of the union, reporting only what really differs (an interval both removed
// and added is no change).
void IntervalUnion::replace(std::vector<Interval> old_pieces, std::vector<Interval> new_pieces, Change& change) {
    for(const Interval& piece : old_pieces) {
        merged_.erase(piece.first);
    }
    for(const Interval& piece : new_pieces) {
        merged_.emplace(piece.first, piece.last);
    }
    std::sort(old_pieces.begin(), old_pieces.end());
    std::sort(new_pieces.begin(), new_pieces.end());
    std::set_difference(old_pieces.begin(), old_pieces.end(), new_pieces.begin(), new_pieces.end(),
                        std::back_inserter(change.removed));
    std::set_difference(new_pieces.begin(), new_pieces.end(), old_pieces.begin(), old_pieces.end(),
                        std::back_inserter(change.added));
}

IntervalUnion::Change IntervalUnion::add(const Interval& interval) {
    Change change;
    const bool single = interval.first == interval.last;
    const std::uint32_t count = single ? singles_[interval.first]++ : wides_[interval]++;
    if(count > 0) {
        return change;
    }
    // Every piece of the union that overlaps the interval or touches it joins it.
    Interval joined = interval;
    std::vector<Interval> old_pieces;
    auto it = merged_.upper_bound(interval.first);
    if(it != merged_.begin()) {
        auto before = std::prev(it);
        if(before->second >= interval.first || before->second.next() == interval.first) {
            it = before;
        }
    }
    for(; it != merged_.end(); ++it) {
        if(it->first > interval.last && it->first != interval.last.next()) {
            break;
        }
        old_pieces.push_back(Interval{it->first, it->second});
        joined.first = std::min(joined.first, it->first);
        joined.last = std::max(joined.last, it->second);
    }
    replace(std::move(old_pieces), {joined}, change);
    return change;
}

IntervalUnion::Change IntervalUnion::remove(const Interval& interval) {
    Change change;
    const bool single = interval.first == interval.last;
    if(single) {
        auto it = singles_.find(interval.first);
        if(it == singles_.end() || --it->second > 0) {
            return change;
        }
        singles_.erase(it);
    } else {
        auto it = wides_.find(interval);
        if(it == wides_.end() || --it->second > 0) {
            return change;
        }
        wides_.erase(it);
    }
    auto piece = holding(interval.first);
    if(piece == merged_.end()) {
        return change;
    }
    // Outside the interval the piece stays covered (by whatever else made it); inside, only
    // what the remaining singles and wide intervals cover.
    const Interval old{piece->first, piece->second};
    std::vector<Interval> covered;
    if(old.first < interval.first) {
        covered.push_back(Interval{old.first, interval.first.previous()});
    }
    for(auto s = singles_.lower_bound(interval.first); s != singles_.end() && s->first <= interval.last; ++s) {
        covered.push_back(Interval{s->first, s->first});
    }
    for(const auto& [wide, count] : wides_) {
        if(wide.first <= interval.last && wide.last >= interval.first) {
            covered.push_back(Interval{std::max(wide.first, interval.first), std::min(wide.last, interval.last)});
        }
    }
    if(interval.last < old.last) {
        covered.push_back(Interval{interval.last.next(), old.last});
    }
    std::sort(covered.begin(), covered.end());
    std::vector<Interval> pieces;
    for(const Interval& part : covered) {
        if(!pieces.empty() && (part.first <= pieces.back().last || pieces.back().last.next() == part.first)) {
            pieces.back().last = std::max(pieces.back().last, part.last);
        } else {
            pieces.push_back(part);
        }
    }
    replace({old}, std::move(pieces), change);
    return change;
}

}  // namespace fwinterface
