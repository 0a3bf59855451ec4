#ifndef FWINTERFACE_NFT_RULE_TEXT_H
#define FWINTERFACE_NFT_RULE_TEXT_H

#include <cstdint>
#include <span>
#include <string>

struct nlattr;

namespace fwinterface {

// Rules and set elements as the kernel lists them, written in nft's syntax for people (the
// kernel listing, the names of foreign rules in warnings and in the check). What this backend
// writes reads as nft would print it ("ip saddr 10.0.0.0/8 meta l4proto tcp th dport 80
// drop"); an expression it does not know is named by its type ("[xt match]"), so a foreign
// rule still shows.

// NFTA_RULE_EXPRESSIONS of a rule in a table of family ip (`ipv6` false) or ip6.
std::string rule_text(const nlattr* expressions, bool ipv6);

// A set key: an address for keys of 4 or 16 bytes, hexadecimal otherwise.
std::string key_text(std::span<const std::uint8_t> key);

}  // namespace fwinterface

#endif  // FWINTERFACE_NFT_RULE_TEXT_H
