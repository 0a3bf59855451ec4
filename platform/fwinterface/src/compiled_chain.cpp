#include "compiled_chain.h"

#include "slice_points.h"

#include <algorithm>
#include <atomic>
#include <iterator>

namespace fwinterface {
namespace {

void put_address(std::string& key, const std::optional<AddressMatch>& match) {
    key += match ? static_cast<char>(match->prefix) : '\xff';
    if(match) {
        key.append(reinterpret_cast<const char*>(match->bytes.data()), match->bytes.size());
    }
}

void put_number(std::string& key, std::uint16_t number) {
    key += static_cast<char>(number >> 8);
    key += static_cast<char>(number & 0xff);
}

// What a rule is besides its source and destination port: rules with equal keys share kernel
// rules and a set.
// Into `key`, whose room a chain reuses: an insertion of tens of thousands of rules would
// otherwise allocate and free a key per rule only to find the family it already has.
void family_key(const RuleSpec& spec, bool ipv6, std::string& key) {
    key.clear();
    // For any source, or with a source looked up in a hash set (single addresses) or in an
    // interval set (subnets).
    key += !spec.source ? 'A' : spec.source->prefix == (ipv6 ? 128U : 32U) ? 'H' : 'W';
    put_address(key, spec.destination);
    key += static_cast<char>(spec.protocol);
    key += spec.mac ? 'M' : '-';
    if(spec.mac) {
        key.append(reinterpret_cast<const char*>(spec.mac->data()), spec.mac->size());
    }
    put_number(key, spec.source_port.first);
    put_number(key, spec.source_port.last);
    put_number(key, static_cast<std::uint16_t>(spec.icmp_type));
    put_number(key, static_cast<std::uint16_t>(spec.icmp_code));
    key += static_cast<char>(spec.verdict);
}

std::string group_key(const Family& family, const SourcePorts& entry) {
    std::string key;
    key.reserve(family.key.size() + 4 * entry.ports().size());
    key = family.key;
    for(const auto& [port, rules] : entry.ports()) {
        put_number(key, port.first);
        put_number(key, port.last);
    }
    return key;
}

bool single_addresses(const KernelGroup& group) { return group.kind == 'H'; }
bool uses_set(const KernelGroup& group) { return group.kind != 'A'; }

RuleRef reference(const KernelGroup::Rule& rule) { return RuleRef{rule.handle, rule.handle == 0 ? rule.id : 0}; }

}  // namespace

void CompiledTransaction::touched(CompiledChain& chain, KernelGroup& group) {
    if(!group.touched) {
        group.touched = true;
        touched_.emplace_back(&chain, &group);
    }
}

bool CompiledTransaction::learn(const BatchResult& result) {
    bool all = true;
    for(const Added& added : added_) {
        KernelGroup::Rule& rule = added.group->rules[added.rule];
        rule.handle = result.handles[added.seq - batch_.first_seq() - 1];
        rule.id = 0;
        added.group->set_id = 0;
        all = all && rule.handle != 0;
    }
    undo_.clear();
    added_.clear();
    for(auto [family, source] : spread_) {
        source->second.compact();
    }
    for(std::size_t i = 0; i < spread_.size(); ++i) {
        if(i == 0 || spread_[i].first != spread_[i - 1].first) {  // once per run of one family
            spread_[i].first->port_pool->release_if_unused();
        }
    }
    spread_.clear();
    return all;
}

void CompiledTransaction::roll_back() noexcept {
    // Before the journal, which may free the sources.
    for(const Unsettled& source : unsettled_) {
        source.record->second.unsettled = false;
    }
    unsettled_.clear();
    for(auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
        (*it)();
    }
    for(auto [chain, group] : touched_) {
        group->touched = false;
        group->pending.clear();
    }
    undo_.clear();
    added_.clear();
    touched_.clear();
    spread_.clear();
}

std::uint64_t CompiledTransaction::next_serial() {
    static std::atomic<std::uint64_t> serials{0};
    return ++serials;
}

void CompiledChain::begin_change(CompiledTransaction& tx) {
    if(unjournaled_in_ == tx.serial() || !segments_.empty() || members_.size() != 0 || !taken_.empty() ||
       !removed_.empty() || !own_texts_.empty() || !released_texts_.empty()) {
        return;
    }
    unjournaled_in_ = tx.serial();
    // The runs go to the transaction's dead ones, not away: until it ends, its lists of the
    // groups and sources it changed still point into them.
    tx.on_undo([this, &tx] {
        tx.dead_segments.splice(tx.dead_segments.end(), segments_);
        runs_of_ = {};
        members_.clear();
        taken_.clear();
        removed_.clear();
        own_texts_.clear();
        released_texts_.clear();
    });
}

CompiledChain::KernelView CompiledChain::kernel_view() const {
    KernelView view;
    const Address128 highest = highest_address(key_.ipv6);
    for(const Segment& segment : segments_) {
        for(const KernelGroup& group : segment.groups) {
            for(const KernelGroup::Rule& rule : group.rules) {
                view.handles.push_back(rule.handle);
            }
            if(!uses_set(group)) {
                continue;
            }
            // An interval is written as its start and, unless it reaches the end, an end mark.
            std::size_t elements = single_addresses(group) ? group.members : 0;
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
        for(const KernelGroup& group : it->groups) {
            if(group.in_kernel()) {
                return reference(group.rules.front());
            }
        }
    }
    return std::nullopt;
}

void CompiledChain::count_run(Verdict verdict, int step) {
    if(const std::optional<std::size_t> index = dispatch_index(verdict)) {
        runs_of_[*index] += static_cast<std::size_t>(step);
    }
}

CompiledChain::SegmentIt CompiledChain::new_segment(CompiledTransaction& tx, SegmentIt before, Verdict verdict) {
    std::list<Segment> fresh(1);
    fresh.front().verdict = verdict;
    const SegmentIt it = fresh.begin();
    segments_.splice(before, fresh);
    count_run(verdict, 1);
    journal(tx, [this, it, &tx] {
        count_run(it->verdict, -1);
        tx.dead_segments.splice(tx.dead_segments.end(), segments_, it);
    });
    return it;
}

void CompiledChain::drop_segment(CompiledTransaction& tx, SegmentIt segment) {
    const SegmentIt next = std::next(segment);
    count_run(segment->verdict, -1);
    tx.dead_segments.splice(tx.dead_segments.end(), segments_, segment);
    journal(tx, [this, segment, next, &tx] {
        count_run(segment->verdict, 1);
        segments_.splice(next, tx.dead_segments, segment);
    });
}

Family& CompiledChain::family_of(CompiledTransaction& tx, SegmentIt segment, const std::string& key,
                                 const RuleSpec& spec) {
    auto [it, fresh] = segment->families.try_emplace(key);
    if(fresh) {
        it->second.key = key;
        it->second.spec = spec;
        it->second.spec.destination_port = {};
        it->second.matches = text_matches(it->second.spec, key_.ipv6);
        journal(tx, [segment, name = key] { segment->families.erase(name); });
    }
    return it->second;
}

CompiledChain::GroupIt CompiledChain::group_for(CompiledTransaction& tx, SegmentIt segment, Family& family,
                                                const SourcePorts& entry) {
    std::string key = group_key(family, entry);
    if(auto found = segment->by_key.find(key); found != segment->by_key.end()) {
        return found->second;
    }
    std::list<KernelGroup> fresh(1);
    KernelGroup& group = fresh.front();
    group.key = std::move(key);
    group.family = &family;
    group.kind = family.key.front();
    group.segment = segment;
    for(const auto& [port, rules] : entry.ports()) {
        group.ports.push_back(port);
    }
    const GroupIt it = fresh.begin();
    segment->groups.splice(segment->groups.end(), fresh);
    segment->by_key.emplace(it->key, it);
    journal(tx, [segment, it, &tx] {
        segment->by_key.erase(it->key);
        tx.dead_groups.splice(tx.dead_groups.end(), segment->groups, it);
    });
    return it;
}

void CompiledChain::enter_group(CompiledTransaction& tx, GroupIt group, const Interval& source, bool add) {
    group->members += add ? 1 : -1;
    journal(tx, [group, add] { group->members -= add ? 1 : -1; });
    tx.touched(*this, *group);
    if(source == any_source) {
        return;
    }
    auto note = [&group](const Interval& interval, int step) {
        auto [it, fresh] = group->pending.try_emplace(interval, step);
        if(!fresh && (it->second += step) == 0) {
            group->pending.erase(it);
        }
    };
    if(single_addresses(*group)) {
        note(source, add ? +1 : -1);  // the element itself, without a change list to allocate
        return;
    }
    auto apply = [group, source](bool adding) {
        return adding ? group->sources.add(source) : group->sources.remove(source);
    };
    const IntervalUnion::Change change = apply(add);
    journal(tx, [apply, add] { apply(!add); });
    for(const Interval& interval : change.removed) {
        note(interval, -1);
    }
    for(const Interval& interval : change.added) {
        note(interval, +1);
    }
}

void SourcePorts::release() {
    if(capacity_log2_ != 0) {
        memory_->deallocate(many_, capacity() * sizeof(Count), alignof(Count));
    }
}

void SourcePorts::compact() {
    if(!spread()) {
        return;
    }
    const Count kept = size_ == 1 ? many_[0] : Count{};
    release();
    capacity_log2_ = 0;
    one_ = kept;
}

void SourcePorts::count(PortMatch port, int step) {
    Count* first = counts();
    Count* at = std::lower_bound(first, first + size_, port,
                                 [](const Count& counted, const PortMatch& wanted) { return counted.port < wanted; });
    if(at != first + size_ && at->port == port) {
        if((at->rules += static_cast<std::uint32_t>(step)) == 0) {
            std::copy(at + 1, first + size_, at);
            --size_;
        }
        return;
    }
    const auto offset = at - first;
    if(size_ == capacity()) {
        // A source with a second port usually has more (an access control's ports, one rule
        // each): room for four at once, then twice as much each time.
        const std::uint8_t grown = capacity_log2_ == 0 ? 2 : static_cast<std::uint8_t>(capacity_log2_ + 1);
        auto* block = static_cast<Count*>(memory_->allocate((std::size_t{1} << grown) * sizeof(Count), alignof(Count)));
        std::copy_n(first, size_, block);
        release();
        many_ = block;
        capacity_log2_ = grown;
        first = block;
        at = first + offset;
    }
    std::copy_backward(at, first + size_, first + size_ + 1);
    *at = Count{port, 1};
    ++size_;
}

SourceRecord& CompiledChain::record_of(CompiledTransaction& tx, Family& family, const Interval& source, bool& fresh) {
    SourceMap& sources = family.sources;
    // A source's rules come one after another (one per port), and sources mostly in order: the
    // last record, or a new one after it, is found without a descent of the tree.
    if(!sources.empty() && sources.rbegin()->first == source) {
        fresh = false;  // counted and journaled as any other known record
        return *sources.rbegin();
    }
    const std::size_t before = sources.size();
    const auto it = sources.try_emplace(sources.end(), source, family.port_pool.get());
    const bool made = sources.size() != before;
    if(made) {
        journal(tx, [&family, source] { family.sources.erase(source); });
    }
    fresh = made;
    return *it;
}

void CompiledChain::count_port(CompiledTransaction& tx, SegmentIt segment, Family& family, SourceRecord& record,
                               PortMatch port, int step, bool fresh) {
    record.second.count(port, step);
    // A new record goes whole when taken back: its count needs no step of its own (a rebuild
    // journals a few steps per rule, and each is 56 bytes of fresh memory).
    if(!fresh) {
        journal(tx, [&entry = record.second, port, step] { entry.count(port, -step); });
    }
    if(!record.second.unsettled) {
        record.second.unsettled = true;
        tx.unsettled(*this, segment, family, record);
    }
}

void CompiledChain::settle(CompiledTransaction& tx, SegmentIt segment, Family& family, SourceRecord& record) {
    SourcePorts& entry = record.second;
    const Interval& source = record.first;
    entry.unsettled = false;
    const std::optional<GroupIt> before = entry.group();
    const std::optional<GroupIt> after =
        entry.ports().empty() ? std::nullopt : std::optional(group_for(tx, segment, family, entry));
    if(before != after) {
        if(before) {
            enter_group(tx, *before, source, false);
        }
        if(after) {
            enter_group(tx, *after, source, true);
        }
        entry.set_group(after);
        journal(tx, [&entry, before] { entry.set_group(before); });
    }
    if(entry.spread()) {
        tx.spread(family, record);
    }
    if(!entry.ports().empty()) {
        return;
    }
    // Kept, not freed, until the transaction ends, so that the journal can put it back; and
    // the family with it when it was the last.
    auto node = tx.dead_sources.insert(tx.dead_sources.end(), family.sources.extract(source));
    journal(tx, [&family, node] { family.sources.insert(std::move(*node)); });
    if(family.sources.empty()) {
        auto kept = tx.dead_families.insert(tx.dead_families.end(), segment->families.extract(family.key));
        journal(tx, [segment, kept] { segment->families.insert(std::move(*kept)); });
    }
}

void CompiledChain::join(CompiledTransaction& tx, std::size_t index, SegmentIt segment, Family& family,
                         const Interval& source) {
    bool fresh = false;
    SourceRecord& record = record_of(tx, family, source, fresh);
    Member& member = members_[index];
    // By position: the member's node may be another by the time the journal runs (a removal
    // taken back puts its value into a spare node), its position not; what it joined it
    // still holds then.
    journal(tx, [this, index, before_segment = member.segment, before_family = member.family,
                before_record = member.record] {
        Member& taken_back = members_[index];
        --taken_back.segment->members;
        --taken_back.family->members;
        taken_back.segment = before_segment;
        taken_back.family = before_family;
        taken_back.record = before_record;
    });
    member.segment = segment;
    member.family = &family;
    member.record = &record;
    ++segment->members;
    ++family.members;
    count_port(tx, segment, family, record, member.port, +1, fresh);
}

void CompiledChain::leave(CompiledTransaction& tx, std::size_t index) {
    const Member member = members_[index];
    count_port(tx, member.segment, *member.family, *member.record, member.port, -1);
    --member.segment->members;
    --member.family->members;
    journal(tx, [segment = member.segment, family = member.family] {
        ++segment->members;
        ++family->members;
    });
}

void CompiledChain::move_member(CompiledTransaction& tx, std::size_t index, SegmentIt to) {
    const Family& from = *members_[index].family;
    const Interval source = members_[index].record->first;
    Family& family = family_of(tx, to, from.key, from.spec);
    leave(tx, index);
    join(tx, index, to, family, source);
}

void CompiledChain::release_spares() {
    members_.release_spares();
    std::move(taken_.begin(), taken_.end(), std::back_inserter(retired_));
    taken_.clear();
    removed_.clear();
    for(std::uint32_t text : released_texts_) {
        own_texts_.erase(text);
    }
    released_texts_.clear();
}

RuleSpec CompiledChain::spec_of(const Member& member) const {
    RuleSpec spec = member.family->spec;
    if(spec.source) {
        spec.source = match_of(member.record->first, key_.ipv6);
    }
    spec.destination_port = member.port;
    return spec;
}

RuleImage CompiledChain::image_of(const Member& member) const {
    if(member.own_text != 0) {
        return RuleImage::of_text(own_texts_.at(member.own_text));
    }
    if(!member.family->spec.source) {
        return RuleImage::of_parts(member.family->matches, nullptr, member.port);
    }
    const AddressMatch source = match_of(member.record->first, key_.ipv6);
    return RuleImage::of_parts(member.family->matches, &source, member.port);
}

std::string_view CompiledChain::text_of(const Member& member) const { return image_of(member).text(text_room_); }

// Forgotten once the transaction landed: a roll-back puts the member back with its text.
void CompiledChain::release_own_text(CompiledTransaction& tx, const Member& member) {
    if(member.own_text != 0) {
        released_texts_.push_back(member.own_text);
        journal(tx, [this] { released_texts_.pop_back(); });
    }
}

void CompiledChain::insert(CompiledTransaction& tx, std::size_t index, const RuleSpec& spec, std::string_view text) {
    begin_change(tx);
    const std::size_t size = members_.size();
    const std::optional<SegmentIt> left = index > 0 ? std::optional(members_[index - 1].segment) : std::nullopt;
    const std::optional<SegmentIt> right = index < size ? std::optional(members_[index].segment) : std::nullopt;
    SegmentIt segment;
    if(left && (*left)->verdict == spec.verdict) {
        segment = *left;
    } else if(right && (*right)->verdict == spec.verdict) {
        segment = *right;
    } else if(left && right && *left == *right) {
        // A rule of another target inside a run: the part of the run behind it becomes a run
        // of its own, behind the new rule's.
        const SegmentIt tail = new_segment(tx, std::next(*left), (*left)->verdict);
        for(std::size_t j = index; j < size && members_[j].segment == *left; ++j) {
            move_member(tx, j, tail);
        }
        segment = new_segment(tx, tail, spec.verdict);
    } else {
        segment = new_segment(tx, right ? *right : (left ? std::next(*left) : segments_.end()), spec.verdict);
    }
    const Interval source = spec.source ? interval_of(*spec.source, key_.ipv6) : any_source;
    std::uint32_t own_text = 0;
    if(!text.empty() && write_rule_text(spec, key_.ipv6, text_room_) != text) {
        do {  // 0 means none; a number wrapped around may still be in use
            own_text = ++own_text_count_;
        } while(own_text == 0 || own_texts_.contains(own_text));
        own_texts_.emplace(own_text, text);
        journal(tx, [this, own_text] { own_texts_.erase(own_text); });
    }
    members_.insert(members_.begin() + static_cast<std::ptrdiff_t>(index),
                    Member{segment, nullptr, nullptr, spec.destination_port, own_text});
    journal(tx, [this, index] { members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(index)); });
    family_key(spec, key_.ipv6, family_key_);
    join(tx, index, segment, family_of(tx, segment, family_key_, spec), source);
}

void CompiledChain::remove(CompiledTransaction& tx, std::size_t index) {
    const SegmentIt segment = members_[index].segment;
    leave(tx, index);
    release_own_text(tx, members_[index]);
    removed_.push_back(members_[index]);
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(index));
    journal(tx, [this, index, slot = removed_.size() - 1] {
        members_.insert(members_.begin() + static_cast<std::ptrdiff_t>(index), removed_[slot]);
    });
    if(segment->members == 0) {
        emptied(tx, segment, index);
    }
}

namespace {

// Beyond this many families in one run, telling its members apart would cost more than
// removing them one by one.
constexpr std::size_t run_families_max = 16;

}  // namespace

// The rules of the run [index, index + count) per family, in `families`; `alike` false when
// they are not all of `segment` or of more than run_families_max families.
void CompiledChain::count_families(std::size_t index, std::size_t count, SegmentIt segment,
                                   std::vector<std::pair<Family*, std::size_t>>& families, bool& alike) const {
    members_.for_each(index, count, [&](const Member& member) {
        alike = alike && member.segment == segment;
        if(!families.empty() && families.back().first == member.family) {
            ++families.back().second;
            return;
        }
        auto found = std::find_if(families.begin(), families.end(),
                                  [&member](const auto& counted) { return counted.first == member.family; });
        if(found != families.end()) {
            ++found->second;
        } else if(families.size() < run_families_max) {
            families.emplace_back(member.family, 1);
        } else {
            alike = false;
        }
    });
}

void CompiledChain::remove_run(CompiledTransaction& tx, std::size_t index, std::size_t count) {
    if(count == 0) {
        return;
    }
    const SegmentIt segment = members_[index].segment;
    std::vector<std::pair<Family*, std::size_t>> families;  // the run's rules per family
    bool alike = true;  // one run of one target, few families
    // A run's members stand together: one that begins with a run and is as long holds all of
    // its families whole, which a deleted access control's is, without a walk of its members.
    if(count == segment->members && (index == 0 || members_[index - 1].segment != segment)) {
        for(auto& [key, family] : segment->families) {
            families.emplace_back(&family, family.members);
        }
    } else {
        count_families(index, count, segment, families, alike);
    }
    if(!alike) {
        for(std::size_t i = 0; i < count; ++i) {
            slice_point();
            remove(tx, index);
        }
        return;
    }
    if(!own_texts_.empty()) {
        members_.for_each(index, count, [&](const Member& member) { release_own_text(tx, member); });
    }
    bool partial = false;
    for(auto [family, members] : families) {
        if(members == family->members) {
            drop_family(tx, segment, *family);
        } else {
            partial = true;
        }
    }
    // The rules of families that keep others leave them one by one.
    for(std::size_t i = 0; partial && i < count; ++i) {
        if(!members_[index + i].family->dropped) {
            slice_point();
            leave(tx, index + i);
        }
    }
    taken_.push_back(members_.cut_out(index, count));
    journal(tx, [this, index, slot = taken_.size() - 1] { members_.splice_in(index, std::move(taken_[slot])); });
    if(segment->members == 0) {
        emptied(tx, segment, index);
    }
}

void CompiledChain::drop_family(CompiledTransaction& tx, SegmentIt segment, Family& family) {
    // Its groups go now, not when the batch is written: a family of the same key that a later
    // operation of the transaction creates must not find them.
    for(auto group = segment->groups.begin(); group != segment->groups.end();) {
        KernelGroup& dying = *group++;
        if(dying.family == &family) {
            journal(tx, [&dying, members = dying.members] { dying.members = members; });
            dying.members = 0;
            retire(tx, dying);
        }
    }
    segment->members -= family.members;
    family.dropped = true;
    journal(tx, [segment, &family] {
        segment->members += family.members;
        family.dropped = false;
    });
    auto kept = tx.dead_families.insert(tx.dead_families.end(), segment->families.extract(family.key));
    journal(tx, [segment, kept] { segment->families.insert(std::move(*kept)); });
}

void CompiledChain::emptied(CompiledTransaction& tx, SegmentIt segment, std::size_t index) {
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
        for(std::size_t j = index; j < members_.size() && members_[j].segment == next; ++j) {
            move_member(tx, j, previous);
        }
        drop_segment(tx, next);
    } else {
        for(std::size_t j = index; j-- > 0 && members_[j].segment == previous;) {
            move_member(tx, j, next);
        }
        drop_segment(tx, previous);
    }
}

void CompiledChain::retire(CompiledTransaction& tx, KernelGroup& group) {
    for(const KernelGroup::Rule& rule : group.rules) {
        tx.batch().delete_rule(table(), key_.chain, reference(rule));
    }
    if(group.in_kernel() && uses_set(group)) {
        tx.batch().delete_set(table(), group.set_name);
    }
    const SegmentIt segment = group.segment;
    const GroupIt it = segment->by_key.at(group.key);
    const GroupIt next = std::next(it);
    segment->by_key.erase(group.key);
    tx.dead_groups.splice(tx.dead_groups.end(), segment->groups, it);
    group.alive = false;
    journal(tx, [segment, it, next, &tx] {
        segment->groups.splice(next, tx.dead_groups, it);
        segment->by_key.emplace(it->key, it);
        it->alive = true;
    });
}

void CompiledChain::materialise(CompiledTransaction& tx, KernelGroup& group) {
    const std::optional<RuleRef> before = first_rule_after(group.segment);
    if(uses_set(group)) {
        group.set_name = std::string(compiled_set_prefix) + std::to_string(++set_counter_);
        if(tx.fill_from() > 0 && group.pending.size() >= tx.fill_from() &&
           std::all_of(group.pending.begin(), group.pending.end(), [](const auto& change) { return change.second > 0; })) {
            // Made and filled before the batch goes; its rules name it.
            SetFill& fill = tx.fills().emplace_back(SetFill{table(), group.set_name, !single_addresses(group), {}});
            fill.elements.reserve(group.pending.size());
            for(const auto& [interval, step] : group.pending) {
                fill.elements.push_back(interval);
            }
            group.pending.clear();
        } else {
            group.set_id = tx.take_id();
            tx.batch().add_address_set(table(), group.set_name, group.set_id, !single_addresses(group));
        }
    }
    const SetRef set{group.set_name, group.set_id};
    RuleSpec spec = group.family->spec;
    spec.source.reset();
    for(const PortMatch& port : group.ports) {
        spec.destination_port = port;
        const std::uint32_t id = tx.take_id();
        const std::uint32_t seq =
            tx.batch().add_marking_rule(table(), key_.chain, id, before, spec, uses_set(group) ? &set : nullptr);
        group.rules.push_back({0, id});
        tx.added_rule(group, group.rules.size() - 1, seq);
    }
    journal(tx, [&group] {
        group.rules.clear();
        group.set_name.clear();
        group.set_id = 0;
    });
}

void CompiledTransaction::write() {
    for(const Unsettled& source : unsettled_) {
        slice_point();
        if(source.family->dropped) {
            source.record->second.unsettled = false;
            continue;
        }
        source.chain->settle(*this, source.segment, *source.family, *source.record);
    }
    unsettled_.clear();
    // Rules that go are deleted first, so that no new rule is placed in front of one of them.
    for(auto [chain, group] : touched_) {
        if(group->alive && group->members == 0) {
            chain->retire(*this, *group);
        }
    }
    for(auto [chain, group] : touched_) {
        if(group->alive && !group->in_kernel()) {
            chain->materialise(*this, *group);
        }
    }
    std::vector<Interval> gone;
    std::vector<Interval> come;
    for(auto [chain, group] : touched_) {
        group->touched = false;
        if(group->alive && !group->pending.empty()) {
            gone.clear();
            come.clear();
            for(const auto& [interval, step] : group->pending) {
                slice_point();
                (step < 0 ? gone : come).push_back(interval);
            }
            const SetRef set{group->set_name, group->set_id};
            const bool intervals = !single_addresses(*group);
            for(std::size_t i = 0; i < gone.size(); i += set_elements_per_message) {
                slice_point();
                const std::size_t count = std::min(set_elements_per_message, gone.size() - i);
                batch_.delete_set_elements(chain->table(), set, intervals, std::span(gone).subspan(i, count));
            }
            for(std::size_t i = 0; i < come.size(); i += set_elements_per_message) {
                slice_point();
                const std::size_t count = std::min(set_elements_per_message, come.size() - i);
                batch_.add_set_elements(chain->table(), set, intervals, std::span(come).subspan(i, count));
            }
        }
        group->pending.clear();
    }
    touched_.clear();
}

}  // namespace fwinterface
