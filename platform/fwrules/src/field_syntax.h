#ifndef FWRULES_FIELD_SYNTAX_H
#define FWRULES_FIELD_SYNTAX_H

#include <arpa/inet.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "fixed_text.h"

// Parsers of single rule values, and the canonical text of each parsed value. Each parser
// accepts exactly the documented syntax and nothing else: these texts end up in firewall
// commands, so anything unexpected is refused, not repaired.
namespace fwrules {

enum class Family : std::uint8_t { none, ipv4, ipv6 };

// An address in network byte order; for IPv4 only the first 4 bytes are used.
struct Address {
    Family family = Family::none;
    std::array<std::uint8_t, 16> bytes{};

    unsigned bits() const { return family == Family::ipv4 ? 32U : 128U; }
};

// A source mask as a prefix length; `dotted` remembers that it was written as an IPv4
// netmask, which only an IPv4 rule may carry.
struct Mask {
    std::uint8_t prefix = 0;
    bool dotted = false;
};

using Mac = std::array<std::uint8_t, 6>;

// Longest texts each field accepts.
constexpr std::size_t address_text_max = INET6_ADDRSTRLEN - 1;
constexpr std::size_t mask_text_max = 15;  // "255.255.255.255"
constexpr std::size_t mac_text_max = 17;   // "xx:xx:xx:xx:xx:xx"

// [A-Za-z0-9_-], 1 to FW_RULE_NAME_MAX characters, not starting with '-' (it would read as
// an option on a firewall command line).
bool is_name(std::string_view text);

// One IPv4 or IPv6 address, as inet_pton reads it.
std::optional<Address> parse_address(std::string_view text);

// "0" to "128" without sign or leading zero, or a contiguous dotted IPv4 netmask.
std::optional<Mask> parse_mask(std::string_view text);

// Six pairs of hex digits joined by ':', in either case.
std::optional<Mac> parse_mac(std::string_view text);

// The canonical texts: an address as inet_ntop writes it, a mask as it was written (prefix
// or dotted netmask), a MAC address in lower case. Each parser reads its canonical text back
// as the same value.
FixedText<address_text_max> address_text(const Address& address);
FixedText<mask_text_max> mask_text(const Mask& mask);
FixedText<mac_text_max> mac_text(const Mac& mac);

}  // namespace fwrules

#endif  // FWRULES_FIELD_SYNTAX_H
