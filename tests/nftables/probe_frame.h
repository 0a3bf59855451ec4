#ifndef TESTS_NFTABLES_PROBE_FRAME_H
#define TESTS_NFTABLES_PROBE_FRAME_H

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ip_address.h"

namespace nfttest {

using MacAddress = std::array<std::uint8_t, 6>;

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

// "udp 10.99.1.7:1000 > 10.99.2.2:53 from 02:99:01:00:00:02", for failure messages.
std::string describe(const Probe& probe);

std::string to_text(const MacAddress& mac);

// The Ethernet frame of `probe` to `destination_mac`, checksums filled in, with `tag` at the
// end of its payload so that the frame is recognised wherever it arrives.
std::vector<std::uint8_t> probe_frame(const Probe& probe, const MacAddress& destination_mac, std::uint32_t tag);

// The tag of a frame probe_frame() made (after forwarding too), nullopt for any other frame.
std::optional<std::uint32_t> probe_tag(std::span<const std::uint8_t> frame);

}  // namespace nfttest

#endif  // TESTS_NFTABLES_PROBE_FRAME_H
