#ifndef TESTS_NFTABLES_KERNEL_VIEW_H
#define TESTS_NFTABLES_KERNEL_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "netns.h"

namespace nfttest {

// A chain of table "filter" of family ip or ip6.
struct ChainName {
    bool ipv6 = false;
    std::string chain;
};

inline const ChainName access_control_v4{false, "FORWARD_AccessControl_QK"};
inline const ChainName access_control_v6{true, "FORWARD6_AccessControl_QK"};

// A chain as the kernel holds it, read with `nft -n -a list chain` inside a namespace: nft
// decodes the kernel's expressions independently of the backend that encoded them, and each
// rule is translated back into the text fw_rule_to_text() would give it.
struct KernelChain {
    bool exists = false;
    std::vector<std::uint64_t> handles;
    std::vector<std::string> rules;
    std::string error;  // what could not be read or translated ("" when all went well)
};

KernelChain read_chain(const std::string& namespace_name, const ChainName& chain);

// The chains as the kernel holds them, in the form of fw_dump() (chains that do not exist
// are left out), or "error: ..." when one cannot be read.
std::string kernel_dump(const std::string& namespace_name, const std::vector<ChainName>& chains);

// How many jumps the forward-hook chain of a family holds; 0 when it does not exist.
std::size_t hook_jumps(const std::string& namespace_name, bool ipv6);

}  // namespace nfttest

#endif  // TESTS_NFTABLES_KERNEL_VIEW_H
