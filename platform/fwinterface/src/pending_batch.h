#ifndef FWINTERFACE_PENDING_BATCH_H
#define FWINTERFACE_PENDING_BATCH_H

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <span>
#include <string_view>
#include <vector>

#include <fwinterface/interface.h>

#include "growing_array.h"
#include "positional_list.h"
#include "ruleset_backend.h"

namespace fwinterface {

// The operations recorded since the last commit. Each is checked against the view "running
// chains + the operations before it" and refused when it does not fit, so a transaction
// handed to the backend holds only operations that fit.
//
// The view is not a copy of the chains: per chain it is a sequence of pieces, each either a
// stretch of positions of the running chain or one pending insertion, in a positional list.
// Copying would cost the whole chain per commit, and walking the pending operations back
// would cost them all per removal; each operation here costs O(log n) of the pieces.
class PendingBatch {
public:
    // Each returns FW_OK or the fw_error_t of the refusal; a refused operation is not recorded.
    // `from_fwrules`: the text fw_rule_to_text() wrote (Operation::from_fwrules).
    // The batch keeps a copy of `rule`.
    fw_error_t insert(const Backend& running, ChainKey key, std::uint32_t position, std::string_view rule,
                      bool from_fwrules = false);
    fw_error_t remove(const Backend& running, const ChainKey& key, std::uint32_t position, const RuleImage& rule);
    // Records the removal of `count` rules standing at `position`, unchecked: for removals
    // checked before against the same running chains (held ones, replayed alone).
    void remove_standing(const Backend& running, const ChainKey& key, std::uint32_t position, std::uint32_t count);

    // Removals at one place one after another (a group withdrawn from its front) are one
    // operation with their count, and keep no text: they were checked when recorded, and a
    // group of 65,536 rules would otherwise hold as many records and copies of their texts.
    std::span<const Operation> operations() const { return operations_.view(); }
    // Rules inserted or removed, counted one by one.
    std::size_t size() const { return rules_; }
    bool empty() const { return operations_.empty(); }
    bool has_insertion() const { return insertions_ > 0; }
    // Empties the batch; its room stays, for a burst of large batches to fill again without
    // taking fresh memory from the system each time, until release_room().
    void clear();
    // Gives back the room of a large batch once it is empty: kept, it would hold the size of
    // the last rebuild's operations resident for good, tens of bytes per rule.
    void release_room();

    // What the backend has to do to turn the running chains into the view, per chain: the
    // recorded operations less those that cancel out (a rule inserted and removed again, a
    // rule removed and inserted back alike at the same place), insertions first. A group
    // withdrawn and built anew so costs its difference only, and a stretch removed one
    // operation. Valid until the next call or clear(), and its texts are the batch's own.
    std::span<const Operation> net_operations(const Backend& running);

private:
    // Running positions [first, first + count) (1-based), or, when `inserted`, the rules
    // inserted by operations_[first, first + count), in that order.
    struct Piece {
        std::size_t first = 0;
        std::size_t count = 0;
        bool inserted = false;
    };
    struct PieceWeight {
        std::size_t operator()(const Piece& piece) const { return piece.count; }
    };
    using ChainView = PositionalList<Piece, PieceWeight>;
    // Running rules read ahead, from running position `first`: a group is withdrawn rule after
    // rule in running order (or in reverse), and a descent from the chain's root per rule, each
    // a cache miss at its deeper levels, cost as much as the rest of the removal.
    struct ReadAhead {
        std::size_t first = 0;
        std::size_t window = 0;  // rules read at the last miss
        std::vector<RuleImage> rules;
    };
    struct ChainState {
        ChainView view;
        ReadAhead ahead;
    };

    ChainState& state_of(const Backend& running, const ChainKey& key);
    // nullptr past the chain's end.
    static const RuleImage* running_rule(const Backend& running, const ChainKey& key, ReadAhead& ahead,
                                         std::size_t position);
    // A copy of `text` in texts_.
    std::string_view keep(std::string_view text);
    // How many of the running rules [first, first + count) (1-based) have the texts came(0),
    // came(1), ... one after another, from the front on or, `from_back`, from the back on.
    template <typename Came>
    std::size_t alike_running(const Backend& running, const ChainKey& key, std::size_t first, std::size_t count,
                              bool from_back, Came&& came);
    static void cut(ChainView& view, std::size_t boundary);
    bool extends_run(const ChainView& view, std::uint32_t position) const;

    void net_of_chain(const Backend& running, const ChainKey& key, ChainState& chain, std::vector<Operation>& net);
    bool appends_only() const;
    void record_removal(ChainView& view, const ChainKey& key, std::uint32_t position);

    GrowingArray<Operation> operations_;
    std::map<ChainKey, ChainState> chains_;
    std::size_t rules_ = 0;
    std::size_t insertions_ = 0;
    // The inserted rules' texts until clear(), in a block of its own, so that the batch moves
    // with the views.
    std::unique_ptr<std::pmr::monotonic_buffer_resource> texts_ = std::make_unique<std::pmr::monotonic_buffer_resource>();
    std::vector<RuleImage> images_;  // room for alike_running()
    std::vector<Operation> net_;     // room for net_operations(), until clear()
    fwrules::TextRoom room_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_PENDING_BATCH_H
