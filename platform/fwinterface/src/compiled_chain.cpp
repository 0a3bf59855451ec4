#include "compiled_chain.h"

#include <algorithm>

namespace fwinterface {
namespace {

// Largest number of intervals in one element message: the element list is one netlink
// attribute, whose length must fit in 16 bits.
constexpr std::size_t intervals_per_message = 500;

void put_address(std::string& key, const std::optional<AddressMatch>& match) {
    key += match ? static_cast<char>(match->prefix) : '\xff';
    if(match) {
        key.append(reinterpret_cast<const char*>(match->bytes.data()), match->bytes.size());
    }
}

// What a rule is besides its source: rules with equal keys share a kernel rule.
std::string group_key(const RuleSpec& spec, bool ipv6) {
    std::string key;
    // For any source, or with a source looked up in a hash set (single addresses) or in an
    // interval set (subnets).
    key += !spec.source ? 'A' : spec.source->prefix == (ipv6 ? 128U : 32U) ? 'H' : 'W';
    put_address(key, spec.destination);
    key += static_cast<char>(spec.protocol);
    key += spec.mac ? 'M' : '-';
    if(spec.mac) {
        key.append(reinterpret_cast<const char*>(spec.mac->data()), spec.mac->size());
    }
    for(const PortMatch& port : {spec.source_port, spec.destination_port}) {
        key += std::to_string(port.first) + '-' + std::to_string(port.last) + ',';
    }
    key += std::to_string(spec.icmp_type) + '/' + std::to_string(spec.icmp_code) + ',';
    key += static_cast<char>(spec.verdict);
    return key;
}

RuleRef reference(const KernelGroup& group) { return RuleRef{group.handle, group.handle == 0 ? group.rule_id : 0}; }

}  // namespace

bool CompiledTransaction::learn(const BatchResult& result) {
    bool all = true;
    for(auto [group, seq] : added_) {
        if(group->alive) {  // a rule added and removed again in the batch is gone
            group->handle = result.handles[seq - batch_.first_seq() - 1];
            all = all && group->handle != 0;
        }
    }
    for(auto [group, seq] : added_) {
        group->rule_id = 0;
        group->set_id = 0;
    }
    undo_.clear();
    added_.clear();
    return all;
}

void CompiledTransaction::roll_back() noexcept {
    for(auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        (*it)();
    }
    undo_.clear();
    added_.clear();
}

CompiledChain::KernelView CompiledChain::kernel_view() const {
    KernelView view;
    const Address128 highest = highest_address(key_.ipv6);
    for(const Segment& segment : segments_) {
        for(const KernelGroup& group : segment.groups) {
            view.handles.push_back(group.handle);
            if(!group.uses_set) {
                continue;
            }
            // An interval is written as its start and, unless it reaches the end, an end mark.
            std::size_t elements = group.addresses.size();
            for(const auto& [first, last] : group.sources.merged()) {
                elements += last == highest ? 1 : 2;
            }
            view.sets.emplace_back(group.set_name, elements);
        }
    }
    return view;
}

std::optional<RuleRef> CompiledChain::first_rule_after(SegmentIt segment) {
    for(auto it = std::next(segment); it != segments_.end(); ++it) {
        if(!it->groups.empty()) {
            return reference(it->groups.front());
        }
    }
    return std::nullopt;
}

CompiledChain::SegmentIt CompiledChain::new_segment(CompiledTransaction& tx, SegmentIt before, Verdict verdict) {
    std::list<Segment> fresh(1);
    fresh.front().verdict = verdict;
    const SegmentIt it = fresh.begin();
    segments_.splice(before, fresh);
    tx.on_undo([this, it, &tx] { tx.dead_segments.splice(tx.dead_segments.end(), segments_, it); });
    return it;
}

void CompiledChain::drop_segment(CompiledTransaction& tx, SegmentIt segment) {
    const SegmentIt next = std::next(segment);
    tx.dead_segments.splice(tx.dead_segments.end(), segments_, segment);
    tx.on_undo([this, segment, next, &tx] { segments_.splice(next, tx.dead_segments, segment); });
}

CompiledChain::GroupIt CompiledChain::new_group(CompiledTransaction& tx, SegmentIt segment, const std::string& key,
                                                const RuleSpec& spec) {
    std::list<KernelGroup> fresh(1);
    KernelGroup& group = fresh.front();
    group.key = key;
    group.spec = spec;
    group.spec.source.reset();
    group.uses_set = spec.source.has_value();
    group.single_addresses = key.front() == 'H';
    group.rule_id = tx.take_id();
    const std::optional<RuleRef> before = first_rule_after(segment);
    std::uint32_t seq = 0;
    if(group.uses_set) {
        group.set_name = std::string(compiled_set_prefix) + std::to_string(++set_counter_);
        group.set_id = tx.take_id();
        tx.batch().add_address_set(table(), group.set_name, group.set_id, !group.single_addresses);
        const SetRef set{group.set_name, group.set_id};
        seq = tx.batch().add_marking_rule(table(), key_.chain, group.rule_id, before, group.spec, &set);
    } else {
        seq = tx.batch().add_marking_rule(table(), key_.chain, group.rule_id, before, group.spec, nullptr);
    }
    const GroupIt it = fresh.begin();
    segment->groups.splice(segment->groups.end(), fresh);
    segment->by_key.emplace(key, it);
    tx.added_rule(*it, seq);
    tx.on_undo([segment, it, &tx] {
        segment->by_key.erase(it->key);
        tx.dead_groups.splice(tx.dead_groups.end(), segment->groups, it);
    });
    return it;
}

void CompiledChain::drop_group(CompiledTransaction& tx, SegmentIt segment, GroupIt group) {
    tx.batch().delete_rule(table(), key_.chain, reference(*group));
    if(group->uses_set) {
        tx.batch().delete_set(table(), group->set_name);
    }
    group->alive = false;
    const GroupIt next = std::next(group);
    segment->by_key.erase(group->key);
    tx.dead_groups.splice(tx.dead_groups.end(), segment->groups, group);
    tx.on_undo([segment, group, next, &tx] {
        segment->groups.splice(next, tx.dead_groups, group);
        segment->by_key.emplace(group->key, group);
        group->alive = true;
    });
}

// Counts a single address in or out of a hash set: the set changes only for the first and
// the last rule holding it.
IntervalUnion::Change count_address(std::map<Address128, std::uint32_t>& addresses, const Interval& source, bool add) {
    IntervalUnion::Change change;
    if(add) {
        if(addresses[source.first]++ == 0) {
            change.added.push_back(source);
        }
    } else if(auto it = addresses.find(source.first); it != addresses.end() && --it->second == 0) {
        addresses.erase(it);
        change.removed.push_back(source);
    }
    return change;
}

void CompiledChain::change_sources(CompiledTransaction& tx, KernelGroup& group, const Interval& source, bool add) {
    auto apply = [&group, source](bool adding) {
        if(group.single_addresses) {
            return count_address(group.addresses, source, adding);
        }
        return adding ? group.sources.add(source) : group.sources.remove(source);
    };
    const IntervalUnion::Change change = apply(add);
    tx.on_undo([apply, add] { apply(!add); });
    if(change.removed.empty() && change.added.empty()) {
        return;
    }
    if(group.pending.empty()) {
        tx.touched(group, table());
    }
    auto note = [&group](const Interval& interval, int step) {
        auto [it, fresh] = group.pending.try_emplace(interval, step);
        if(!fresh && (it->second += step) == 0) {
            group.pending.erase(it);
        }
    };
    for(const Interval& interval : change.removed) {
        note(interval, -1);
    }
    for(const Interval& interval : change.added) {
        note(interval, +1);
    }
}

void CompiledChain::join(CompiledTransaction& tx, std::size_t index, SegmentIt segment, const std::string& key,
                         const RuleSpec& spec) {
    auto found = segment->by_key.find(key);
    const GroupIt group = found != segment->by_key.end() ? found->second : new_group(tx, segment, key, spec);
    Member& member = *members_[index];
    const Member before = member;
    member.segment = segment;
    member.group = group;
    ++group->members;
    ++segment->members;
    tx.on_undo([this, index, before, segment, group] {
        --group->members;
        --segment->members;
        *members_[index] = before;
    });
    if(member.source) {
        change_sources(tx, *group, *member.source, true);
    }
}

void CompiledChain::leave(CompiledTransaction& tx, std::size_t index) {
    const Member member = *members_[index];
    if(member.source) {
        change_sources(tx, *member.group, *member.source, false);
    }
    --member.group->members;
    --member.segment->members;
    tx.on_undo([member] {
        ++member.group->members;
        ++member.segment->members;
    });
    if(member.group->members == 0) {
        drop_group(tx, member.segment, member.group);
    }
}

void CompiledChain::move_member(CompiledTransaction& tx, std::size_t index, SegmentIt to) {
    const std::string key = members_[index]->group->key;
    RuleSpec spec = members_[index]->group->spec;
    if(members_[index]->source) {
        spec.source = AddressMatch{};  // only its presence matters to a new group
    }
    leave(tx, index);
    join(tx, index, to, key, spec);
}

void CompiledChain::insert(CompiledTransaction& tx, std::size_t index, const RuleSpec& spec) {
    const std::size_t size = members_.size();
    const std::optional<SegmentIt> left = index > 0 ? std::optional(members_[index - 1]->segment) : std::nullopt;
    const std::optional<SegmentIt> right = index < size ? std::optional(members_[index]->segment) : std::nullopt;
    SegmentIt segment;
    if(left && (*left)->verdict == spec.verdict) {
        segment = *left;
    } else if(right && (*right)->verdict == spec.verdict) {
        segment = *right;
    } else if(left && right && *left == *right) {
        // A rule of another target inside a run: the part of the run behind it becomes a run
        // of its own, behind the new rule's.
        const SegmentIt tail = new_segment(tx, std::next(*left), (*left)->verdict);
        for(std::size_t j = index; j < size && members_[j]->segment == *left; ++j) {
            move_member(tx, j, tail);
        }
        segment = new_segment(tx, tail, spec.verdict);
    } else {
        segment = new_segment(tx, right ? *right : (left ? std::next(*left) : segments_.end()), spec.verdict);
    }
    std::optional<Interval> source;
    if(spec.source) {
        source = interval_of(*spec.source, key_.ipv6);
    }
    members_.insert(members_.begin() + static_cast<std::ptrdiff_t>(index),
                    std::make_shared<Member>(Member{segment, GroupIt{}, source}));
    tx.on_undo([this, index] { members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(index)); });
    join(tx, index, segment, group_key(spec, key_.ipv6), spec);
}

void CompiledChain::remove(CompiledTransaction& tx, std::size_t index) {
    const SegmentIt segment = members_[index]->segment;
    leave(tx, index);
    std::shared_ptr<Member> member = members_[index];
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(index));
    tx.on_undo([this, index, member] { members_.insert(members_.begin() + static_cast<std::ptrdiff_t>(index), member); });
    if(segment->members > 0) {
        return;
    }
    // A plain iterator and a flag, not an optional: GCC 12 at -Os reads the optional's
    // iterator as maybe uninitialised.
    const bool first = segment == segments_.begin();
    const SegmentIt previous = first ? segment : std::prev(segment);
    const SegmentIt next = std::next(segment);
    drop_segment(tx, segment);
    if(first || next == segments_.end() || previous->verdict != next->verdict) {
        return;
    }
    // The two runs around the removed one have the same target now: the smaller joins the
    // larger.
    if(next->members <= previous->members) {
        for(std::size_t j = index; j < members_.size() && members_[j]->segment == next; ++j) {
            move_member(tx, j, previous);
        }
        drop_segment(tx, next);
    } else {
        for(std::size_t j = index; j-- > 0 && members_[j]->segment == previous;) {
            move_member(tx, j, next);
        }
        drop_segment(tx, previous);
    }
}

void CompiledTransaction::write_elements() {
    std::vector<Interval> gone;
    std::vector<Interval> come;
    for(auto [group, table] : touched_) {
        if(group->pending.empty()) {
            continue;
        }
        if(group->alive) {
            gone.clear();
            come.clear();
            for(const auto& [interval, step] : group->pending) {
                (step < 0 ? gone : come).push_back(interval);
            }
            const SetRef set{group->set_name, group->set_id};
            for(std::size_t i = 0; i < gone.size(); i += intervals_per_message) {
                const std::size_t count = std::min(intervals_per_message, gone.size() - i);
                batch_.delete_set_elements(table, set, !group->single_addresses, std::span(gone).subspan(i, count));
            }
            for(std::size_t i = 0; i < come.size(); i += intervals_per_message) {
                const std::size_t count = std::min(intervals_per_message, come.size() - i);
                batch_.add_set_elements(table, set, !group->single_addresses, std::span(come).subspan(i, count));
            }
        }
        group->pending.clear();
    }
    touched_.clear();
}

}  // namespace fwinterface
