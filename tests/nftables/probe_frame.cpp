#include "probe_frame.h"

#include <algorithm>
#include <cstdio>

namespace nfttest {
namespace {

constexpr std::size_t ether_header = 14;
constexpr std::size_t ipv4_header = 20;
constexpr std::size_t ipv6_header = 40;
constexpr std::uint16_t ethertype_ipv4 = 0x0800;
constexpr std::uint16_t ethertype_ipv6 = 0x86dd;
constexpr std::uint8_t hop_limit = 64;

// Ends every probe's payload, followed by the tag.
constexpr std::array<std::uint8_t, 4> marker{'p', 'r', 'b', 0x5a};
constexpr std::size_t trailer = marker.size() + 4;

class FrameWriter {
public:
    void u8(std::uint8_t value) { bytes_.push_back(value); }
    void u16(std::uint16_t value) {
        u8(static_cast<std::uint8_t>(value >> 8));
        u8(static_cast<std::uint8_t>(value));
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value >> 16));
        u16(static_cast<std::uint16_t>(value));
    }
    void put(std::span<const std::uint8_t> data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void set_u16(std::size_t at, std::uint16_t value) {
        bytes_[at] = static_cast<std::uint8_t>(value >> 8);
        bytes_[at + 1] = static_cast<std::uint8_t>(value);
    }
    std::size_t size() const { return bytes_.size(); }
    std::span<const std::uint8_t> from(std::size_t at) const { return std::span(bytes_).subspan(at); }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

// The one's complement sum of 16-bit words (RFC 1071), continued from `sum`.
std::uint32_t add_words(std::uint32_t sum, std::span<const std::uint8_t> data) {
    for(std::size_t i = 0; i < data.size(); i += 2) {
        const unsigned high = data[i];
        const unsigned low = i + 1 < data.size() ? data[i + 1] : 0;
        sum += (high << 8) | low;
    }
    return sum;
}

std::uint16_t fold(std::uint32_t sum) {
    while((sum >> 16) != 0) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

// The sum over the pseudo header that TCP, UDP and ICMPv6 checksums cover.
std::uint32_t pseudo_header_sum(const Probe& probe, std::size_t length) {
    std::uint32_t sum = add_words(0, std::span(probe.source.bytes).first(probe.source.size()));
    sum = add_words(sum, std::span(probe.destination.bytes).first(probe.destination.size()));
    sum += probe.protocol;
    sum += static_cast<std::uint32_t>(length & 0xffff);
    sum += static_cast<std::uint32_t>(length >> 16);
    return sum;
}

std::size_t transport_header_size(std::uint8_t protocol) {
    switch(protocol) {
    case 6: return 20;
    case 17: return 8;
    default: return 8;  // icmp and ipv6-icmp: type, code, checksum and a 4-byte rest
    }
}

void write_network_header(FrameWriter& out, const Probe& probe, std::size_t transport_length) {
    if(probe.ipv6()) {
        out.u32(0x60000000);  // version 6, no traffic class or flow label
        out.u16(static_cast<std::uint16_t>(transport_length));
        out.u8(probe.protocol);
        out.u8(hop_limit);
    } else {
        out.u8(0x45);  // version 4, no options
        out.u8(0);
        out.u16(static_cast<std::uint16_t>(ipv4_header + transport_length));
        out.u16(0);       // identification
        out.u16(0x4000);  // don't fragment
        out.u8(hop_limit);
        out.u8(probe.protocol);
        out.u16(0);  // checksum, filled in below
    }
    out.put(std::span(probe.source.bytes).first(probe.source.size()));
    out.put(std::span(probe.destination.bytes).first(probe.destination.size()));
}

void write_transport_header(FrameWriter& out, const Probe& probe, std::size_t transport_length, std::uint32_t tag) {
    switch(probe.protocol) {
    case 6:
        out.u16(probe.source_port);
        out.u16(probe.destination_port);
        out.u32(tag);         // sequence number
        out.u32(0);           // acknowledgement
        out.u16(0x5002);      // 5 words of header, SYN
        out.u16(0xffff);      // window
        out.u32(0);           // checksum, urgent pointer
        break;
    case 17:
        out.u16(probe.source_port);
        out.u16(probe.destination_port);
        out.u16(static_cast<std::uint16_t>(transport_length));
        out.u16(0);
        break;
    default:
        out.u8(probe.icmp_type);
        out.u8(probe.icmp_code);
        out.u16(0);
        out.u32(tag);  // identifier and sequence of an echo; unused by other types
        break;
    }
}

std::size_t checksum_offset(std::uint8_t protocol) {
    switch(protocol) {
    case 6: return 16;
    case 17: return 6;
    default: return 2;
    }
}

}  // namespace

std::string to_text(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

std::string describe(const Probe& probe) {
    auto endpoint = [&probe](const IpAddress& address, std::uint16_t port) {
        std::string text = to_text(address);
        if(probe.protocol == 6 || probe.protocol == 17) {
            text = (probe.ipv6() ? "[" + text + "]" : text) + ":" + std::to_string(port);
        }
        return text;
    };
    const char* name = probe.protocol == 6    ? "tcp"
                       : probe.protocol == 17 ? "udp"
                       : probe.protocol == 1  ? "icmp"
                                              : "ipv6-icmp";
    std::string text = std::string(name) + " " + endpoint(probe.source, probe.source_port) + " > " +
                       endpoint(probe.destination, probe.destination_port);
    if(probe.protocol == 1 || probe.protocol == 58) {
        text += " type " + std::to_string(probe.icmp_type) + "/" + std::to_string(probe.icmp_code);
    }
    return text + " from " + to_text(probe.source_mac);
}

std::vector<std::uint8_t> probe_frame(const Probe& probe, const MacAddress& destination_mac, std::uint32_t tag) {
    const std::size_t transport_length = transport_header_size(probe.protocol) + trailer;
    FrameWriter out;
    out.put(destination_mac);
    out.put(probe.source_mac);
    out.u16(probe.ipv6() ? ethertype_ipv6 : ethertype_ipv4);
    write_network_header(out, probe, transport_length);
    const std::size_t transport = out.size();
    write_transport_header(out, probe, transport_length, tag);
    out.put(marker);
    out.u32(tag);

    if(!probe.ipv6()) {
        out.set_u16(ether_header + 10, fold(add_words(0, out.from(ether_header).first(ipv4_header))));
    }
    // ICMP for IPv4 is the one checksum without a pseudo header.
    const std::uint32_t start = probe.protocol == 1 ? 0 : pseudo_header_sum(probe, transport_length);
    std::uint16_t checksum = fold(add_words(start, out.from(transport)));
    if(checksum == 0 && probe.protocol == 17) {
        checksum = 0xffff;  // 0 would mean "no checksum" in UDP
    }
    out.set_u16(transport + checksum_offset(probe.protocol), checksum);
    return out.take();
}

std::optional<std::uint32_t> probe_tag(std::span<const std::uint8_t> frame) {
    if(frame.size() < ether_header + ipv4_header) {
        return std::nullopt;
    }
    const unsigned ethertype = (frame[12] << 8) | frame[13];
    const std::span<const std::uint8_t> ip = frame.subspan(ether_header);
    std::size_t end = 0;  // the end of the IP packet; Ethernet may pad behind it
    if(ethertype == ethertype_ipv4) {
        end = static_cast<std::size_t>((ip[2] << 8) | ip[3]);
    } else if(ethertype == ethertype_ipv6 && ip.size() >= ipv6_header) {
        end = ipv6_header + static_cast<std::size_t>((ip[4] << 8) | ip[5]);
    } else {
        return std::nullopt;
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

}  // namespace nfttest
