#include "pending_batch.h"

#include "slice_points.h"

#include <algorithm>
#include <cstring>

namespace fwinterface {

namespace {

constexpr std::size_t read_ahead = 64;
constexpr std::size_t kept_room = 1024;  // operations

}  // namespace

PendingBatch::ChainState& PendingBatch::state_of(const Backend& running, const ChainKey& key) {
    auto [it, fresh] = chains_.try_emplace(key);
    if(fresh) {
        try {
            const std::size_t size = running.chain_size(key);
            if(size > 0) {
                it->second.view.insert(it->second.view.end(), Piece{1, size});
            }
        } catch(...) {
            chains_.erase(it);
            throw;
        }
    }
    return it->second;
}

// The running rules stay as they are while operations are pending, so what was read ahead
// stays valid until clear(). The window doubles while the reads go on next to it, in either
// direction, and starts at one rule elsewhere: a compiled chain makes the matches of each rule
// it is asked for, so a lone removal reads one, and a group withdrawn from its back reads each
// rule once. Only the window is kept: a group of 65,536 kept whole was 6 MB of images, which
// the net change would read again only where it compares a rule that came back.
const RuleImage* PendingBatch::running_rule(const Backend& running, const ChainKey& key, ReadAhead& ahead,
                                            std::size_t position) {
    if(position < ahead.first || position - ahead.first >= ahead.rules.size()) {
        const std::size_t size = running.chain_size(key);
        if(position == 0 || position > size) {
            return nullptr;
        }
        const bool after = !ahead.rules.empty() && position == ahead.first + ahead.rules.size();
        const bool before = !ahead.rules.empty() && position + 1 == ahead.first;
        ahead.window = after || before ? std::min(read_ahead, ahead.window * 2) : 1;
        const std::size_t first = before && position > ahead.window ? position + 1 - ahead.window : before ? 1 : position;
        const std::size_t last = before ? position : std::min(size, position + ahead.window - 1);
        ahead.rules.clear();
        ahead.first = first;
        running.rules_at(key, first, last + 1 - first, ahead.rules);
    }
    return &ahead.rules[position - ahead.first];
}

std::string_view PendingBatch::keep(std::string_view text) {
    auto* kept = static_cast<char*>(texts_->allocate(text.size(), 1));
    std::memcpy(kept, text.data(), text.size());
    return {kept, text.size()};
}

// A few images at a time, each compared as it is read: the back of a group whose every rule
// changed is the whole group, and a copy of each text read, kept to be compared afterwards, was
// a rule's worth of fresh memory per rule of a rebuilt group.
template <typename Came>
std::size_t PendingBatch::alike_running(const Backend& running, const ChainKey& key, std::size_t first,
                                        std::size_t count, bool from_back, Came&& came) {
    std::size_t alike = 0;
    while(alike < count) {
        const std::size_t piece = std::min(read_ahead * 4, count - alike);
        images_.clear();
        running.rules_at(key, from_back ? first + count - alike - piece : first + alike, piece, images_);
        for(std::size_t i = 0; i < piece; ++i) {
            if(images_[from_back ? piece - 1 - i : i].text(room_) != came(alike)) {
                return alike;
            }
            ++alike;
        }
    }
    return alike;
}

// Makes `boundary` (0-based, a count of positions) the start of a piece, splitting the piece
// that crosses it. Throws std::bad_alloc with the view unchanged.
void PendingBatch::cut(ChainView& view, std::size_t boundary) {
    if(boundary == 0 || boundary >= view.size()) {
        return;
    }
    auto [piece, offset] = view.locate(boundary);
    if(offset == 0) {
        return;
    }
    const Piece whole = *piece;
    view.reserve_spares(1);  // with the erased node: both halves go in without allocating
    const std::size_t start = boundary - offset;
    view.erase(view.begin() + static_cast<std::ptrdiff_t>(start));
    view.insert(view.begin() + static_cast<std::ptrdiff_t>(start), Piece{whole.first, offset, whole.inserted});
    view.insert(view.begin() + static_cast<std::ptrdiff_t>(boundary),
                Piece{whole.first + offset, whole.count - offset, whole.inserted});
}

// Whether an insertion at `position` (1-based, a piece boundary) follows the previous operation
// at the next place: a group built anew is one such run. Its rules then share one piece, where
// a piece each cost an allocation per rule, and the pieces freed at the commit left holes
// between the blocks the rules keep in the heap.
bool PendingBatch::extends_run(const ChainView& view, std::uint32_t position) const {
    if(position < 2) {
        return false;
    }
    const auto [piece, offset] = view.locate(position - 2);
    return piece->inserted && offset + 1 == piece->count && piece->first + piece->count == operations_.size();
}

fw_error_t PendingBatch::insert(const Backend& running, ChainKey key, std::uint32_t position, std::string_view rule,
                                bool from_fwrules) {
    if(rules_ >= FW_PENDING_MAX) {
        return FW_ERROR_FULL;
    }
    ChainView& view = state_of(running, key).view;
    if(position == 0 || position > view.size() + 1) {
        return FW_ERROR_POSITION;
    }
    if(view.size() >= FW_CHAIN_MAX) {
        return FW_ERROR_FULL;
    }
    cut(view, position - 1);
    const bool extends = extends_run(view, position);
    if(!extends) {
        view.reserve_spares(1);  // its piece then goes in without allocating
    }
    operations_.push_back(Operation{Operation::Kind::insert, std::move(key), position, 1, keep(rule), from_fwrules});
    if(extends) {
        view.reweigh(position - 2, [](Piece& run) { ++run.count; });
    } else {
        view.insert(view.begin() + static_cast<std::ptrdiff_t>(position - 1), Piece{operations_.size() - 1, 1, true});
    }
    ++rules_;
    ++insertions_;
    return FW_OK;
}

fw_error_t PendingBatch::remove(const Backend& running, const ChainKey& key, std::uint32_t position,
                                const RuleImage& rule) {
    if(rules_ >= FW_PENDING_MAX) {
        return FW_ERROR_FULL;
    }
    ChainState& chain = state_of(running, key);
    ChainView& view = chain.view;
    if(position == 0 || position > view.size()) {
        return FW_ERROR_POSITION;
    }
    auto [piece, offset] = view.locate(position - 1);
    if(piece->inserted) {
        if(rule.text(room_) != operations_[piece->first + offset].rule) {
            return FW_ERROR_MISMATCH;
        }
    } else if(const RuleImage* standing = running_rule(running, key, chain.ahead, piece->first + offset);
              standing == nullptr || !rule.same_rule(*standing)) {
        return FW_ERROR_MISMATCH;
    }
    record_removal(view, key, position);
    return FW_OK;
}

void PendingBatch::remove_standing(const Backend& running, const ChainKey& key, std::uint32_t position,
                                   std::uint32_t count) {
    ChainView& view = state_of(running, key).view;
    for(std::uint32_t n = 0; n < count; ++n) {
        record_removal(view, key, position);
    }
}

// `position` holds a rule (checked by the caller). Throws std::bad_alloc with nothing recorded.
void PendingBatch::record_removal(ChainView& view, const ChainKey& key, std::uint32_t position) {
    Operation* run = operations_.empty() ? nullptr : &operations_.back();
    const bool extends = run != nullptr && run->kind == Operation::Kind::remove && run->position == position &&
                         run->chain == key;
    auto [piece, offset] = view.locate(position - 1);
    // A rule at either end of its piece: the piece shrinks in place. A group is withdrawn so,
    // one rule after another from its front.
    if(piece->count > 1 && (offset == 0 || offset + 1 == piece->count)) {
        if(!extends) {
            operations_.push_back(Operation{Operation::Kind::remove, key, position, 1, {}, false});
        }
        view.reweigh(position - 1, [front = offset == 0](Piece& stretch) {
            stretch.first += front ? 1 : 0;
            --stretch.count;
        });
    } else {
        cut(view, position - 1);
        cut(view, position);
        if(!extends) {
            operations_.push_back(Operation{Operation::Kind::remove, key, position, 1, {}, false});
        }
        view.erase(view.begin() + static_cast<std::ptrdiff_t>(position - 1));
    }
    if(extends) {
        ++run->count;
    }
    ++rules_;
}

void PendingBatch::clear() {
    operations_.clear();
    chains_.clear();
    rules_ = 0;
    insertions_ = 0;
    texts_->release();
    net_ = {};
}

void PendingBatch::release_room() {
    if(operations_.empty() && operations_.capacity() > kept_room) {
        operations_.release();
    }
}

// Rules inserted into one chain, each right behind the one before (an install, a restore):
// nothing of them cancels out, and the net change would be the same operations again, a copy
// of tens of bytes per rule in fresh pages.
bool PendingBatch::appends_only() const {
    const std::span<const Operation> all = operations_.view();
    if(chains_.size() != 1 || insertions_ != all.size()) {
        return false;
    }
    for(std::size_t i = 1; i < all.size(); ++i) {
        if(all[i].position != all[i - 1].position + 1) {
            return false;
        }
    }
    return true;
}

std::span<const Operation> PendingBatch::net_operations(const Backend& running) {
    if(appends_only()) {
        return operations_.view();
    }
    net_.clear();
    for(auto& [key, chain] : chains_) {
        net_of_chain(running, key, chain, net_);
    }
    return net_;
}

void PendingBatch::net_of_chain(const Backend& running, const ChainKey& key, ChainState& chain,
                                std::vector<Operation>& net) {
    ChainView& view = chain.view;
    // The chain the operations lead to, against the running one: stretches of running rules
    // the operations left alone, and between them gaps where running rules went and new ones
    // came. Within a gap, rules that went and came back alike at its front or back stay.
    // The rules that came, in order, one segment for each stretch of them: a segment per rule
    // was a megabyte of fresh pages for an install of 40,000.
    struct Segment {
        enum class Kind : std::uint8_t { kept, removed, added };
        Kind kind;
        std::size_t first = 0;  // running position (kept), index in `arrived` (added)
        std::size_t count = 0;
    };
    std::vector<Segment> merged;
    std::vector<Operation*> arrived;  // their texts go into the net operations at the end
    std::size_t came_first = 0;       // where the open gap's rules start in `arrived`
    const auto came = [&](std::size_t i) { return arrived[came_first + i]->rule; };
    auto close_gap = [&](std::size_t went_first, std::size_t went) {
        // Only as many as could come back are read, each end up to its first difference: a
        // group deleted reads none, one rebuilt each rule once.
        const std::size_t coming = arrived.size() - came_first;
        const std::size_t front =
            alike_running(running, key, went_first, std::min(went, coming), false, [&](std::size_t i) { return came(i); });
        const std::size_t facing = std::min(went - front, coming - front);
        const std::size_t back = alike_running(running, key, went_first + went - facing, facing, true,
                                               [&](std::size_t i) { return came(coming - 1 - i); });
        merged.push_back(Segment{Segment::Kind::kept, went_first, front});
        merged.push_back(Segment{Segment::Kind::added, came_first + front, coming - front - back});
        merged.push_back(Segment{Segment::Kind::removed, 0, went - front - back});
        merged.push_back(Segment{Segment::Kind::kept, went_first + went - back, back});
        came_first = arrived.size();
    };
    std::size_t next_running = 1;
    // One walk in order, not a descent per position.
    view.for_each(0, view.size(), [&](const Piece& piece) {
        if(piece.inserted) {
            for(std::size_t op = piece.first; op < piece.first + piece.count; ++op) {
                arrived.push_back(&operations_[op]);
            }
            return;
        }
        close_gap(next_running, piece.first - next_running);
        merged.push_back(Segment{Segment::Kind::kept, piece.first, piece.count});
        next_running = piece.first + piece.count;
    });
    close_gap(next_running, running.chain_size(key) + 1 - next_running);

    // Insertions first, removals after: a compiled chain's group that loses its members to
    // their own new copies never empties on the way, so it changes by the difference only.
    std::size_t changes = 0;
    for(const Segment& segment : merged) {
        changes += segment.kind == Segment::Kind::added ? segment.count
                   : segment.kind == Segment::Kind::removed && segment.count > 0 ? 1 : 0;
    }
    net.reserve(net.size() + changes);
    std::size_t position = 0;
    for(const Segment& segment : merged) {
        for(std::size_t i = 0; segment.kind == Segment::Kind::added && i < segment.count; ++i) {
            slice_point();
            net.push_back(Operation{Operation::Kind::insert, key, static_cast<std::uint32_t>(position + i + 1), 1,
                                    arrived[segment.first + i]->rule, arrived[segment.first + i]->from_fwrules});
        }
        position += segment.count;
    }
    position = 0;
    for(const Segment& segment : merged) {
        if(segment.kind != Segment::Kind::removed) {
            position += segment.count;
        } else if(segment.count > 0) {
            // The running rules' own places: nothing to check them against, nor a copy to make.
            net.push_back(Operation{Operation::Kind::remove, key, static_cast<std::uint32_t>(position + 1),
                                    static_cast<std::uint32_t>(segment.count), {}, false});
        }
    }
}

}  // namespace fwinterface
