#ifndef FWINTERFACE_COMPILED_TABLE_H
#define FWINTERFACE_COMPILED_TABLE_H

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "nft_messages.h"
#include "nft_socket.h"
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

// The rules of a positional chain that turn the mark into verdicts. They stand while its
// compiled chain holds rules, so that an empty chain is empty in the kernel too.
class DispatchRules {
public:
    // Writes into `batch` what makes them stand (`wanted`) or go; nothing when they already do.
    void write(NftBatch& batch, const ChainKey& positional, bool wanted, std::uint32_t& next_id);
    // The kernel committed the batch; false when the handle of a new rule is missing.
    bool learn(const BatchResult& result, const NftBatch& batch);
    // The batch did not land.
    void abandon() { pending_ = Pending::none; }
    bool present() const { return handles_[0] != 0; }
    const std::array<std::uint64_t, 3>& handles() const { return handles_; }

private:
    enum class Pending : std::uint8_t { none, add, remove };
    std::array<std::uint64_t, 3> handles_{};
    std::array<std::uint32_t, 3> seqs_{};
    Pending pending_ = Pending::none;
};

}  // namespace fwinterface

#endif  // FWINTERFACE_COMPILED_TABLE_H
