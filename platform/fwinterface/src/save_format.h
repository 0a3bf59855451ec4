#ifndef FWINTERFACE_SAVE_FORMAT_H
#define FWINTERFACE_SAVE_FORMAT_H

#include <string>

#include "ruleset_backend.h"

namespace fwinterface {

// The chains as fw_dump() writes them (iptables-save style, IPv4 then IPv6). `chains` maps
// ChainKey to a sequence of rules in dump order; `text_of(rule)` gives a rule's text. Both
// backends write through this one function, so that their dumps compare byte for byte.
template <typename Chains, typename TextOf>
std::string format_save(const Chains& chains, TextOf text_of) {
    std::string out;
    // One "*table ... COMMIT" block for the chains in [first, last), which share table and
    // family: headers of all chains first, then their rules, as iptables-save does.
    auto table_block = [&](auto first, auto last) {
        out += '*';
        out += first->first.table;
        out += '\n';
        for(auto it = first; it != last; ++it) {
            out += ':';
            out += it->first.chain;
            out += " - [0:0]\n";
        }
        for(auto it = first; it != last; ++it) {
            for(const auto& rule : it->second) {
                out += "-A ";
                out += it->first.chain;
                out += ' ';
                out += text_of(rule);
                out += '\n';
            }
        }
        out += "COMMIT\n";
    };
    for(bool ipv6 : {false, true}) {
        out += ipv6 ? "# ipv6\n" : "# ipv4\n";
        auto it = chains.lower_bound(ChainKey{ipv6, {}, {}});
        while(it != chains.end() && it->first.ipv6 == ipv6) {
            auto table_end = it;
            while(table_end != chains.end() && table_end->first.ipv6 == ipv6 &&
                  table_end->first.table == it->first.table) {
                ++table_end;
            }
            table_block(it, table_end);
            it = table_end;
        }
    }
    return out;
}

}  // namespace fwinterface

#endif  // FWINTERFACE_SAVE_FORMAT_H
