#ifndef FWINTERFACE_NFTABLES_NAMES_H
#define FWINTERFACE_NFTABLES_NAMES_H

#include <string>
#include <string_view>

#include "nft_messages.h"
#include "ruleset_backend.h"

namespace fwinterface {

// The base chain on the forward hook that jumps to an access-control chain.
inline std::string hook_chain_of(const ChainKey& chain) { return chain.chain.str() + "_hook"; }

inline bool is_access_control(const ChainKey& key) {
    return key == access_control_chain(false) || key == access_control_chain(true);
}

inline TableRef table_of(const ChainKey& key) { return TableRef{key.ipv6, key.table}; }

// As nft names it: "ip filter FORWARD_AccessControl_QK".
inline std::string chain_name(const ChainKey& key) {
    return std::string(key.ipv6 ? "ip6 " : "ip ") + key.table.str() + ' ' + key.chain.str();
}

// Sets named like the ones compiled chains create ("acqk_<n>").
inline bool is_compiled_set(std::string_view name, std::string_view prefix) {
    return name.starts_with(prefix) && name.size() > prefix.size() &&
           name.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos;
}

}  // namespace fwinterface

#endif  // FWINTERFACE_NFTABLES_NAMES_H
