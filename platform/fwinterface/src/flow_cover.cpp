#include "flow_cover.h"

#include <algorithm>
#include <map>

namespace fwinterface {

FlowCover::FlowCover(std::span<const RuleSpec> rules) {
    std::map<unsigned, std::vector<Keyed>> by_prefix;
    for(const RuleSpec& rule : rules) {
        if(rule.source) {
            by_prefix[rule.source->prefix].push_back({network_of(rule.source->bytes, rule.source->prefix), &rule});
        } else {
            without_source_.push_back(&rule);
        }
    }
    runs_.reserve(by_prefix.size());
    for(auto& [prefix, keyed] : by_prefix) {
        std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) { return a.network < b.network; });
        runs_.push_back({prefix, std::move(keyed)});
    }
}

bool FlowCover::covers(const FlowTuple& flow) const {
    auto covered = [&flow](const RuleSpec* rule) { return rule_covers(*rule, flow); };
    if(std::any_of(without_source_.begin(), without_source_.end(), covered)) {
        return true;
    }
    // A rule covers the flow only if its source holds the flow's source, that is if both
    // have the same network at the rule's prefix: those rules are one stretch of the run.
    struct ByNetwork {
        bool operator()(const Keyed& keyed, const Bytes& network) const { return keyed.network < network; }
        bool operator()(const Bytes& network, const Keyed& keyed) const { return network < keyed.network; }
    };
    return std::any_of(runs_.begin(), runs_.end(), [&](const Run& run) {
        const auto [first, last] =
            std::equal_range(run.rules.begin(), run.rules.end(), network_of(flow.source, run.prefix), ByNetwork{});
        return std::any_of(first, last, [&covered](const Keyed& keyed) { return covered(keyed.rule); });
    });
}

}  // namespace fwinterface
