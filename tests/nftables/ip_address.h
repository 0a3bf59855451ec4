#ifndef TESTS_NFTABLES_IP_ADDRESS_H
#define TESTS_NFTABLES_IP_ADDRESS_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nfttest {

// An IPv4 or IPv6 address in network order; IPv4 uses the first 4 bytes. Arithmetic on it
// is what puts probes on the edges of ranges and subnets.
struct IpAddress {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> bytes{};

    std::size_t size() const { return ipv6 ? 16 : 4; }
    unsigned bits() const { return ipv6 ? 128 : 32; }

    bool operator==(const IpAddress&) const = default;
    auto operator<=>(const IpAddress&) const = default;
};

// Reads an address of the given family; nullopt for anything else.
std::optional<IpAddress> parse_ip(std::string_view text, bool ipv6);

// Canonical text (inet_ntop).
std::string to_text(const IpAddress& address);

// The address `delta` further on, wrapping around the end of the address space.
IpAddress offset(IpAddress address, std::int64_t delta);

// The first and the last address of the prefix of `length` bits that holds `address`.
IpAddress prefix_first(IpAddress address, unsigned length);
IpAddress prefix_last(IpAddress address, unsigned length);

// Whether `address` lies in the prefix of `length` bits at `network` (same family).
bool in_prefix(const IpAddress& address, const IpAddress& network, unsigned length);

}  // namespace nfttest

#endif  // TESTS_NFTABLES_IP_ADDRESS_H
