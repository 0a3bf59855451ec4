#ifndef TESTS_NFTABLES_PACKETS_H
#define TESTS_NFTABLES_PACKETS_H

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "netns.h"
#include "topology.h"

namespace nfttest {

// An IPv4 or IPv6 address in network order; IPv4 uses the first 4 bytes. Arithmetic on it
// is what puts probes on the edges of ranges and subnets.
struct IpAddress {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> bytes{};

    std::size_t size() const { return ipv6 ? 16 : 4; }
    unsigned bits() const { return ipv6 ? 128 : 32; }
    auto operator<=>(const IpAddress&) const = default;
};

// Reads an address of the given family; nullopt for anything else.
std::optional<IpAddress> parse_ip(std::string_view text, bool ipv6);
std::string to_text(const IpAddress& address);
// The address `delta` further on, wrapping around the end of the address space.
IpAddress offset(IpAddress address, std::int64_t delta);
// The first and the last address of the prefix of `length` bits that holds `address`.
IpAddress prefix_first(IpAddress address, unsigned length);
IpAddress prefix_last(IpAddress address, unsigned length);
bool in_prefix(const IpAddress& address, const IpAddress& network, unsigned length);

using MacAddress = std::array<std::uint8_t, 6>;

// The client's MAC on c0 (netns-topology.sh).
inline constexpr MacAddress client_mac{0x02, 0x99, 0x01, 0x00, 0x00, 0x02};

// One packet to send through the router: what a firewall rule can look at.
struct Probe {
    IpAddress source;
    IpAddress destination;  // same family as the source
    MacAddress source_mac{};
    std::uint8_t protocol = 17;     // 6 (tcp), 17 (udp), 1 (icmp) or 58 (ipv6-icmp)
    std::uint16_t source_port = 0;  // tcp and udp
    std::uint16_t destination_port = 0;
    std::uint8_t icmp_type = 0;  // icmp and ipv6-icmp
    std::uint8_t icmp_code = 0;

    bool ipv6() const { return source.ipv6; }
};

// "protocol 17 10.99.1.7 > 10.99.2.2 ports 1000 > 53 from 02:99:01:00:00:02", for failure
// messages.
std::string describe(const Probe& probe);

// Whether the router forwards a packet from `source` once the Prober prepared it: not from
// the router's or the server's side, nor from addresses no host has (unspecified, loopback,
// broadcast, multicast, link-local, subnet anycast).
bool forwardable_source(const IpAddress& source);

// Whether the router sends a packet to `destination` on to the server: the server's address
// or one of the prefixes the Prober routes there (10.99.4.0/24, fd99:4::/64).
bool reachable_destination(const IpAddress& destination);

// Sends crafted frames, tagged at the end of their payload, from the client's c0 to the
// router and sees which of them the router forwards to the server's s0, through packet
// sockets opened in those namespaces.
class Prober {
public:
    explicit Prober(const Topology& net);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // Sends every probe in one burst and tells for each whether it reached the server.
    // Waits until `expected_arrivals` probes arrived and a short grace after, or at most a
    // fixed time after the last one was sent. Empty, with error() set, when sockets fail.
    std::vector<bool> send(std::span<const Probe> probes, std::size_t expected_arrivals);

private:
    int client_ifindex_ = 0;
    Fd sender_;
    Fd capture_;
    std::uint32_t next_tag_ = 1;
    std::string error_;
};

}  // namespace nfttest

#endif  // TESTS_NFTABLES_PACKETS_H
