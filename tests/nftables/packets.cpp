#include "packets.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace nfttest {
namespace {

using Clock = std::chrono::steady_clock;

// Forwarding one probe takes microseconds; these only bound how long a step may wait.
constexpr auto wait_after_last_send = std::chrono::milliseconds(300);
constexpr auto grace_after_expected = std::chrono::milliseconds(30);
constexpr int capture_buffer = 4 * 1024 * 1024;

constexpr std::size_t ether_header = 14;
constexpr std::size_t ipv4_header = 20;
constexpr std::size_t ipv6_header = 40;
// Ends every probe's payload, followed by the tag.
constexpr std::array<std::uint8_t, 4> marker{'p', 'r', 'b', 0x5a};
constexpr std::size_t trailer = marker.size() + 4;
// The router's r0 (netns-topology.sh).
constexpr MacAddress router_mac{0x02, 0x99, 0x01, 0x00, 0x00, 0x01};

// The bits of byte `index` that a prefix of `length` bits covers.
std::uint8_t prefix_mask(std::size_t index, unsigned length) {
    const std::size_t first_bit = index * 8;
    if(length >= first_bit + 8) {
        return 0xff;
    }
    return length <= first_bit ? 0 : static_cast<std::uint8_t>(0xff00U >> (length - first_bit));
}

void put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value >> 16);
    put16(out, value & 0xffff);
}
void put(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> data) { out.insert(out.end(), data.begin(), data.end()); }
void set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

// The one's complement sum of 16-bit words (RFC 1071), continued from `sum`.
std::uint32_t add_words(std::uint32_t sum, std::span<const std::uint8_t> data) {
    for(std::size_t i = 0; i < data.size(); i += 2) {
        sum += (unsigned{data[i]} << 8) | (i + 1 < data.size() ? data[i + 1] : 0U);
    }
    return sum;
}

std::uint16_t fold(std::uint32_t sum) {
    while((sum >> 16) != 0) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::span<const std::uint8_t> bytes_of(const IpAddress& address) { return std::span(address.bytes).first(address.size()); }

// The Ethernet frame of `probe` to the router, checksums filled in, with `tag` at the
// end of its payload so that the frame is recognised wherever it arrives.
std::vector<std::uint8_t> probe_frame(const Probe& probe, std::uint32_t tag) {
    // tcp: 20 bytes of header; udp: 8; icmp: type, code, checksum and a 4-byte rest.
    const std::size_t length = (probe.protocol == 6 ? 20 : 8) + trailer;
    std::vector<std::uint8_t> out;
    put(out, router_mac);
    put(out, probe.source_mac);
    put16(out, probe.ipv6() ? 0x86dd : 0x0800);
    if(probe.ipv6()) {
        put32(out, 0x60000000);  // version 6, no traffic class or flow label
        put16(out, static_cast<unsigned>(length));
        out.push_back(probe.protocol);
        out.push_back(64);  // hop limit
    } else {
        put16(out, 0x4500);  // version 4, no options
        put16(out, static_cast<unsigned>(ipv4_header + length));
        put32(out, 0x4000);  // no identification, don't fragment
        out.push_back(64);   // time to live
        out.push_back(probe.protocol);
        put16(out, 0);  // checksum, filled in below
    }
    put(out, bytes_of(probe.source));
    put(out, bytes_of(probe.destination));
    const std::size_t transport = out.size();
    std::size_t checksum_at = transport + 2;
    if(probe.protocol == 6 || probe.protocol == 17) {
        put16(out, probe.source_port);
        put16(out, probe.destination_port);
        if(probe.protocol == 6) {
            put32(out, tag);     // sequence number
            put32(out, 0);       // acknowledgement
            put32(out, 0x5002ffff);  // 5 words of header, SYN, window
            put32(out, 0);       // checksum, urgent pointer
            checksum_at = transport + 16;
        } else {
            put16(out, static_cast<unsigned>(length));
            put16(out, 0);
            checksum_at = transport + 6;
        }
    } else {
        out.push_back(probe.icmp_type);
        out.push_back(probe.icmp_code);
        put16(out, 0);
        put32(out, tag);  // identifier and sequence of an echo; unused by other types
    }
    put(out, marker);
    put32(out, tag);
    if(!probe.ipv6()) {
        set16(out, ether_header + 10, fold(add_words(0, std::span(out).subspan(ether_header, ipv4_header))));
    }
    // ICMP for IPv4 is the one checksum without the pseudo header.
    std::uint32_t sum = 0;
    if(probe.protocol != 1) {
        sum = add_words(add_words(0, bytes_of(probe.source)), bytes_of(probe.destination)) + probe.protocol +
              static_cast<std::uint32_t>(length);
    }
    std::uint16_t checksum = fold(add_words(sum, std::span(out).subspan(transport)));
    if(checksum == 0 && probe.protocol == 17) {
        checksum = 0xffff;  // 0 would mean "no checksum" in UDP
    }
    set16(out, checksum_at, checksum);
    return out;
}

// The tag of a frame probe_frame() made (after forwarding too), nullopt for any other frame.
std::optional<std::uint32_t> probe_tag(std::span<const std::uint8_t> frame) {
    if(frame.size() < ether_header + ipv4_header) {
        return std::nullopt;
    }
    const unsigned ethertype = (frame[12] << 8) | frame[13];
    const std::span<const std::uint8_t> ip = frame.subspan(ether_header);
    std::size_t end = 0;  // the end of the IP packet; Ethernet may pad behind it
    if(ethertype == 0x0800) {
        end = static_cast<std::size_t>((ip[2] << 8) | ip[3]);
    } else if(ethertype == 0x86dd && ip.size() >= ipv6_header) {
        end = ipv6_header + static_cast<std::size_t>((ip[4] << 8) | ip[5]);
    }
    if(end > ip.size() || end < trailer + ipv4_header) {
        return std::nullopt;
    }
    const std::span<const std::uint8_t> tail = ip.subspan(end - trailer);
    if(!std::equal(marker.begin(), marker.end(), tail.begin())) {
        return std::nullopt;
    }
    return (std::uint32_t{tail[4]} << 24) | (std::uint32_t{tail[5]} << 16) | (std::uint32_t{tail[6]} << 8) | tail[7];
}

struct Prefix {
    const char* network;
    unsigned length;
};

bool in_any(const IpAddress& address, std::span<const Prefix> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(), [&address](const Prefix& prefix) {
        std::optional<IpAddress> network = parse_ip(prefix.network, address.ipv6);
        return network && in_prefix(address, *network, prefix.length);
    });
}

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::optional<IpAddress> parse_ip(std::string_view text, bool ipv6) {
    IpAddress address{ipv6, {}};
    if(inet_pton(ipv6 ? AF_INET6 : AF_INET, std::string(text).c_str(), address.bytes.data()) != 1) {
        return std::nullopt;
    }
    return address;
}

std::string to_text(const IpAddress& address) {
    char buffer[INET6_ADDRSTRLEN] = {};
    inet_ntop(address.ipv6 ? AF_INET6 : AF_INET, address.bytes.data(), buffer, sizeof(buffer));
    return buffer;
}

IpAddress offset(IpAddress address, std::int64_t delta) {
    // Two's complement: adding the 128-bit sign extension of a negative delta subtracts it.
    const std::uint8_t extension = delta < 0 ? 0xff : 0;
    auto magnitude = static_cast<std::uint64_t>(delta);
    unsigned carry = 0;
    for(std::size_t i = address.size(); i-- > 0;) {
        const std::size_t from_end = address.size() - 1 - i;
        const unsigned add = from_end < 8 ? static_cast<unsigned>((magnitude >> (8 * from_end)) & 0xff) : extension;
        const unsigned sum = address.bytes[i] + add + carry;
        address.bytes[i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
    return address;
}

IpAddress prefix_first(IpAddress address, unsigned length) {
    for(std::size_t i = 0; i < address.size(); ++i) {
        address.bytes[i] &= prefix_mask(i, length);
    }
    return address;
}

IpAddress prefix_last(IpAddress address, unsigned length) {
    for(std::size_t i = 0; i < address.size(); ++i) {
        address.bytes[i] |= static_cast<std::uint8_t>(~prefix_mask(i, length));
    }
    return address;
}

bool in_prefix(const IpAddress& address, const IpAddress& network, unsigned length) {
    return address.ipv6 == network.ipv6 && prefix_first(address, length) == prefix_first(network, length);
}

std::string describe(const Probe& probe) {
    const MacAddress& m = probe.source_mac;
    char mac[18];
    std::snprintf(mac, sizeof(mac), "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    const bool ports = probe.protocol == 6 || probe.protocol == 17;
    return "protocol " + std::to_string(probe.protocol) + " " + to_text(probe.source) + " > " +
           to_text(probe.destination) +
           (ports ? " ports " + std::to_string(probe.source_port) + " > " + std::to_string(probe.destination_port)
                  : " type " + std::to_string(probe.icmp_type) + "/" + std::to_string(probe.icmp_code)) +
           " from " + mac;
}

bool forwardable_source(const IpAddress& source) {
    static constexpr Prefix refused_v4[] = {
        {"0.0.0.0", 8},     {"127.0.0.0", 8},    {"169.254.0.0", 16}, {"224.0.0.0", 3},
        {"10.99.1.0", 32},  {"10.99.1.1", 32},   {"10.99.1.255", 32},  // the router's side
        {"10.99.2.0", 24},  {"10.99.4.0", 24},                         // the server's side
    };
    static constexpr Prefix refused_v6[] = {
        {"::", 96},          {"::ffff:0.0.0.0", 96}, {"fe80::", 10},     {"ff00::", 8},
        {"fd99:1::", 128},   {"fd99:1::1", 128},     {"fd99:2::", 64},   {"fd99:4::", 64},
    };
    return source.ipv6 ? !in_any(source, refused_v6) : !in_any(source, refused_v4);
}

bool reachable_destination(const IpAddress& destination) {
    static constexpr Prefix reachable_v4[] = {{"10.99.2.2", 32}, {"10.99.4.0", 24}};
    static constexpr Prefix reachable_v6[] = {{"fd99:2::2", 128}, {"fd99:4::", 64}};
    return destination.ipv6 ? in_any(destination, reachable_v6) : in_any(destination, reachable_v4);
}

Prober::Prober(const Topology& net) {
    {
        Inside inside(net.client());
        sender_.fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
        client_ifindex_ = static_cast<int>(if_nametoindex("c0"));
        if(!inside.ok() || sender_.fd < 0 || client_ifindex_ == 0) {
            error_ = errno_text("cannot open a packet socket on c0");
            return;
        }
    }
    Inside inside(net.server());
    capture_.fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = static_cast<int>(if_nametoindex("s0"));
    if(!inside.ok() || capture_.fd < 0 || address.sll_ifindex == 0 ||
       bind(capture_.fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        error_ = errno_text("cannot capture on s0");
    } else if(setsockopt(capture_.fd, SOL_SOCKET, SO_RCVBUFFORCE, &capture_buffer, sizeof(capture_buffer)) != 0) {
        error_ = errno_text("cannot enlarge the capture buffer");  // a burst must fit in its queue
    }
}

std::vector<bool> Prober::send(std::span<const Probe> probes, std::size_t expected_arrivals) {
    std::uint8_t frame[2048];
    while(ok() && recv(capture_.fd, frame, sizeof(frame), 0) >= 0) {
        // what an earlier burst left
    }
    const std::uint32_t first_tag = next_tag_;
    next_tag_ += static_cast<std::uint32_t>(probes.size());
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = client_ifindex_;
    to.sll_halen = static_cast<unsigned char>(router_mac.size());
    std::memcpy(to.sll_addr, router_mac.data(), router_mac.size());
    for(std::size_t i = 0; ok() && i < probes.size(); ++i) {
        const std::vector<std::uint8_t> sent = probe_frame(probes[i], first_tag + static_cast<std::uint32_t>(i));
        ssize_t size = -1;
        for(int attempt = 0; attempt < 100 && size < 0 && (attempt == 0 || errno == ENOBUFS || errno == EAGAIN); ++attempt) {
            if(attempt > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the device queue is full
            }
            size = sendto(sender_.fd, sent.data(), sent.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        }
        if(size != static_cast<ssize_t>(sent.size())) {
            error_ = errno_text("cannot send probe " + std::to_string(i));
        }
    }
    if(!ok()) {
        return {};
    }
    std::vector<bool> arrived(probes.size(), false);
    std::size_t arrivals = 0;
    Clock::time_point deadline = Clock::now() + wait_after_last_send;
    for(bool graced = false;;) {
        if(!graced && arrivals >= expected_arrivals) {
            deadline = std::min(deadline, Clock::now() + grace_after_expected);
            graced = true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if(left.count() <= 0) {
            return arrived;
        }
        pollfd poller{capture_.fd, POLLIN, 0};
        if(poll(&poller, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        sockaddr_ll from{};
        socklen_t from_size = sizeof(from);
        for(ssize_t size; (size = recvfrom(capture_.fd, frame, sizeof(frame), 0, reinterpret_cast<sockaddr*>(&from),
                                           &from_size)) >= 0;
            from_size = sizeof(from)) {
            // Leaves out the server's own answers.
            const auto tag = from.sll_pkttype == PACKET_OUTGOING ? std::nullopt
                                                                 : probe_tag(std::span(frame, static_cast<std::size_t>(size)));
            if(tag && *tag - first_tag < probes.size() && !arrived[*tag - first_tag]) {
                arrived[*tag - first_tag] = true;
                ++arrivals;
            }
        }
    }
}

}  // namespace nfttest
