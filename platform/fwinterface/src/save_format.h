#ifndef FWINTERFACE_SAVE_FORMAT_H
#define FWINTERFACE_SAVE_FORMAT_H

#include <string>
#include <string_view>

#include "ruleset_backend.h"

namespace fwinterface {

// The chains as fw_dump() writes them (iptables-save style, IPv4 then IPv6), piece after piece
// through `put(std::string_view)`. `chains` maps ChainKey to the chains in dump order;
// `texts_of(chain, emit)` calls `emit(std::string_view)` with the text of each rule of an entry
// of `chains`, in chain order. Both backends write through this one function, so that their
// dumps compare byte for byte.
template <typename Chains, typename TextsOf, typename Put>
void write_save(const Chains& chains, TextsOf texts_of, const Put& put) {
    // One "*table ... COMMIT" block for the chains in [first, last), which share table and
    // family: headers of all chains first, then their rules, as iptables-save does.
    auto table_block = [&](auto first, auto last) {
        put("*");
        put(first->first.table);
        put("\n");
        for(auto it = first; it != last; ++it) {
            put(":");
            put(it->first.chain);
            put(" - [0:0]\n");
        }
        for(auto it = first; it != last; ++it) {
            texts_of(*it, [&put, &it](std::string_view text) {
                put("-A ");
                put(it->first.chain);
                put(" ");
                put(text);
                put("\n");
            });
        }
        put("COMMIT\n");
    };
    for(bool ipv6 : {false, true}) {
        put(ipv6 ? "# ipv6\n" : "# ipv4\n");
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
}

}  // namespace fwinterface

#endif  // FWINTERFACE_SAVE_FORMAT_H
