#ifndef FWINTERFACE_FLOW_COVER_H
#define FWINTERFACE_FLOW_COVER_H

// Which tracked flows the stopping rules of one commit cover. A dump holds every flow of the
// namespace (tens of thousands on a busy gateway) and a large install as many rules: a flow
// checked against every rule made the cut quadratic, seconds with the loop held. Indexed by
// their source prefix, a flow meets only the rules whose source holds its address, besides
// the rules without a source.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "conntrack_cutter.h"

namespace fwinterface {

class FlowCover {
public:
    // Borrows `rules`, which outlive it.
    explicit FlowCover(std::span<const RuleSpec> rules);

    // Whether one of the rules covers `flow`, as rule_covers() tells.
    bool covers(const FlowTuple& flow) const;

private:
    using Bytes = std::array<std::uint8_t, 16>;
    struct Keyed {
        Bytes network;  // the rule's source with the bits past its prefix cleared
        const RuleSpec* rule;
    };
    // The rules whose source has one prefix length, sorted by network.
    struct Run {
        unsigned prefix;
        std::vector<Keyed> rules;
    };

    std::vector<Run> runs_;
    std::vector<const RuleSpec*> without_source_;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_FLOW_COVER_H
