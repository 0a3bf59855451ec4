#ifndef FWINTERFACE_COMPILED_TABLE_H
#define FWINTERFACE_COMPILED_TABLE_H

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nft_messages.h"
#include "nft_socket.h"
#include "rule_reader.h"
#include "ruleset_backend.h"

namespace fwinterface {

// Compiled access-control chains live in a table of their own, "AccessControl_QK" of family
// ip and ip6, which iptables-nft neither prints nor restores: iptables-nft cannot read set
// lookups, and a restore of what it prints of them would drop everyone. The table's base chain
// on the forward hook, just before the filter tables' chains, clears the verdict bits of the
// packet mark and jumps to the compiled chain (named like the positional one), whose first
// matching rule writes its verdict into those bits. The positional chain in table filter holds
// one rule per verdict turning those bits into it, which iptables-nft prints and restores as
// it is ("-m mark --mark 0x10000000/0x30000000 -j DROP"). So the chain decides wherever the
// gateway jumps to it, exactly as its rules one by one would, at the cost of a few lookups.
inline constexpr std::string_view compiled_table = "AccessControl_QK";
inline constexpr std::string_view compiled_hook_chain = "forward";
// After mangle (-150), before the filter tables (0), so that the mark is set when they look.
inline constexpr std::int32_t compiled_hook_priority = -1;

inline ChainKey compiled_chain_of(const ChainKey& positional) {
    return ChainKey{positional.ipv6, std::string(compiled_table), positional.chain};
}

// Writes into `batch` the compiled table of the chain's family deleted with all it holds
// (whatever an earlier run left) and, when `present`, created anew with its hook chain and
// the empty compiled chain.
void write_compiled_table(NftBatch& batch, const ChainKey& positional, bool present);

// The verdicts a compiled chain gives through the mark, in the order of their dispatch rules.
inline constexpr std::array<Verdict, 3> dispatched_verdicts = {Verdict::drop, Verdict::reject, Verdict::accept};
using DispatchedVerdicts = std::bitset<dispatched_verdicts.size()>;

// The place of `verdict` in dispatched_verdicts; nothing for a verdict no mark carries.
std::optional<std::size_t> dispatch_index(Verdict verdict);

// The verdicts whose entry in `per_verdict` (counts, handles) is not 0.
template <typename Number>
DispatchedVerdicts verdicts_with(const std::array<Number, dispatched_verdicts.size()>& per_verdict) {
    DispatchedVerdicts verdicts;
    for(std::size_t i = 0; i < per_verdict.size(); ++i) {
        verdicts[i] = per_verdict[i] != 0;
    }
    return verdicts;
}

// The rules of a positional chain that turn the mark into verdicts: one per verdict its compiled
// chain gives, so that an empty chain is empty in the kernel too, and a chain that only drops
// has no REJECT rule: that one goes through nf_tables' xtables compatibility, whose setup in
// the kernel waits for the objects earlier transactions freed to be destroyed (a grace
// period, about 20 ms here) and loads xtables modules a gateway that only drops never needs.
class DispatchRules {
public:
    // Writes into `batch` what makes the rules of the `wanted` verdicts stand, and only those;
    // nothing when they already do. When the verdicts change, the rules are written anew in
    // the order of dispatched_verdicts, in the same transaction: a chain's rules keep one order.
    void write(NftBatch& batch, const ChainKey& positional, DispatchedVerdicts wanted, std::uint32_t& next_id);
    // The kernel committed the batch; false when the handle of a new rule is missing.
    bool learn(const BatchResult& result, const NftBatch& batch);
    // The batch did not land.
    void abandon() { pending_ = false; }
    // The handles of the rules standing, in kernel order.
    std::vector<std::uint64_t> handles() const;

private:
    std::array<std::uint64_t, dispatched_verdicts.size()> handles_{};  // 0: no rule
    std::array<std::uint32_t, dispatched_verdicts.size()> seqs_{};     // of the rules being added
    DispatchedVerdicts adding_;  // the rules the pending batch adds
    bool pending_ = false;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_COMPILED_TABLE_H
