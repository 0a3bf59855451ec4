#ifndef FWINTERFACE_RULESET_BACKEND_H
#define FWINTERFACE_RULESET_BACKEND_H

#include <compare>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "interned_name.h"
#include "inline_text.h"
#include "positional_list.h"
#include "rule_image.h"

namespace fwinterface {

// One chain: its family, table and name. The order (IPv4 first, then table, then chain)
// is the order of the dump.
struct ChainKey {
    bool ipv6 = false;
    InternedName table;
    InternedName chain;

    auto operator<=>(const ChainKey&) const = default;
};

// The chains every backend starts with, empty: the access-control chains of table "filter".
// Made once: a name is a lookup in the table of names, and a commit asks for these per rule.
inline const ChainKey& access_control_chain(bool ipv6) {
    static const ChainKey v4{false, "filter", "FORWARD_AccessControl_QK"};
    static const ChainKey v6{true, "filter", "FORWARD6_AccessControl_QK"};
    return ipv6 ? v6 : v4;
}

// The rules of one chain, first position first, each as its fw_rule_to_text() text, mostly
// in the list's node (a rule in 96 bytes where a std::string and its block took 128).
using Chain = PositionalList<InlineText>;

// Every chain of a ruleset, in dump order.
using Ruleset = std::map<ChainKey, Chain>;

// One step of a transaction. Positions are 1-based and refer to the chain as left by the
// steps before it in the same transaction. A removal names the rule expected at the
// position, so a backend can refuse to remove another one; one with an empty text (no rule
// has one) removes the rule standing there: the net change of operations checked before.
// Such a removal may take `count` rules standing there one after another, as that many
// removals would; an insertion's count is 1. The text is a view: whoever made the operation
// keeps the text until the transaction is applied (a pending batch, in one block for all its
// insertions, where a string each cost an allocation per rule).
struct Operation {
    enum class Kind : std::uint8_t { insert, remove };

    Kind kind = Kind::insert;
    ChainKey chain;
    std::uint32_t position = 0;
    std::uint32_t count = 1;
    std::string_view rule;
    // An insertion's text as fwrules wrote it for an fw_rule_t, which a compiled chain's writer
    // gives back alike (a test holds it to that): it need not be written to be compared.
    bool from_fwrules = false;
};

// The rules a transaction inserts or removes, each counted.
inline std::size_t rules_in(std::span<const Operation> transaction) {
    std::size_t rules = 0;
    for(const Operation& op : transaction) {
        rules += op.count;
    }
    return rules;
}

// Where the running ruleset lives. The rule texts are iptables-restore syntax; a kernel
// backend translates them into its own terms, hands a transaction to the kernel as one
// atomic batch, and keeps a mirror of the positions.
class Backend {
public:
    virtual ~Backend() = default;

    virtual std::string_view name() const = 0;

    // Rules in one running chain; 0 when the chain does not exist.
    virtual std::size_t chain_size(const ChainKey& key) const = 0;

    // Appends the rules at 1-based positions [first, first + count) of a running chain, all
    // there, as their texts or, where the chain keeps no text, their matches (what they borrow,
    // until the next apply or reset).
    virtual void rules_at(const ChainKey& key, std::size_t first, std::size_t count,
                          std::vector<RuleImage>& out) const = 0;

    // Applies every operation or none: false, with the running ruleset unchanged, when one
    // of them is impossible. May throw std::bad_alloc, also with nothing changed.
    virtual bool apply(std::span<const Operation> transaction) = 0;

    // Why the last apply() or reset() failed, in a few English words ("" after a success).
    virtual std::string_view error() const = 0;

    // The running ruleset in the form of fw_dump(), piece after piece.
    using DumpSink = std::function<void(std::string_view)>;
    virtual void write_dump(const DumpSink& put) const = 0;

    // The same whole, measured first: a dump of tens of thousands of rules is megabytes, and
    // one written once into a block of its size needs no more than that while it is made.
    std::string dump() const {
        std::string text;
        text.reserve(dump_size());
        write_dump([&text](std::string_view piece) { text += piece; });
        return text;
    }
    // In a block of malloc, for the C API; nullptr when out of memory.
    char* dump_malloc() const {
        const std::size_t size = dump_size();
        char* text = static_cast<char*>(std::malloc(size + 1));
        if(text != nullptr) {
            std::size_t at = 0;
            write_dump([text, &at](std::string_view piece) {
                std::memcpy(text + at, piece.data(), piece.size());
                at += piece.size();
            });
            text[at] = '\0';
        }
        return text;
    }

    // Back to the start state.
    virtual void reset() = 0;

    // Frees what landed transactions left behind for later (see CompiledChain::release_spares):
    // called when the heap's free pages go back, after a large transaction, and at once after
    // a small one; a backend also frees it when the next transaction comes first.
    virtual void release_retired() {}

private:
    std::size_t dump_size() const {
        std::size_t size = 0;
        write_dump([&size](std::string_view piece) { size += piece.size(); });
        return size;
    }
};

}  // namespace fwinterface

#endif  // FWINTERFACE_RULESET_BACKEND_H
