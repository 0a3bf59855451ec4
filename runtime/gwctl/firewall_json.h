// The firewall dump (iptables-save style: "# ipv4", "*filter", ":CHAIN - [0:0]", "-A CHAIN
// rule", "COMMIT") as data, for scripts that would otherwise parse rule texts themselves.
#pragma once

#include <amxc/amxc_variant.h>

#include <string_view>

namespace gwctl {

// Fills `out` with a list of chains in dump order: {"family": "ipv4"|"ipv6", "table",
// "chain", "rules": [...]}; each rule holds its 1-based "position", its "rule" text, and the
// fields read from that text: "source", "destination" (address/prefix), "protocol",
// "source_mac", "source_port", "destination_port" ("N" or "N:M"), "icmp_type" ("T" or
// "T/C"), "target". False for a line that is none of the dump's forms.
bool firewall_chains(std::string_view dump, amxc_var_t* out);

}  // namespace gwctl
