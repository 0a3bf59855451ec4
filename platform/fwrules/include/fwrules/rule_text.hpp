/* C++ only, for the libraries of this project: the writer behind fw_rule_to_text(), over a
 * rule's matches as plain values, for a library that holds them without an fw_rule_t (the
 * kernel firewall backend writes a compiled rule's text from them), and the comparison of two
 * rules' texts without writing them. Header-only but for rule_matches(), the one C++ name
 * libfwrules exports beside its C API. The form is the one its README describes. */
#ifndef FWRULES_RULE_TEXT_HPP
#define FWRULES_RULE_TEXT_HPP

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include <fwrules/fw_rule.h>

namespace fwrules {

// A rule's matches. An address is 4 (IPv4) or 16 bytes in network order; a prefix of 0 is no
// match. Ports and protocol 0: none; ICMP -1: any.
struct TextMatches {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> source{};
    unsigned source_prefix = 0;
    std::array<std::uint8_t, 16> destination{};
    unsigned destination_prefix = 0;
    std::uint8_t protocol = 0;
    std::optional<std::array<std::uint8_t, 6>> mac;
    std::uint16_t source_port = 0;
    std::uint16_t source_port_max = 0;
    std::uint16_t destination_port = 0;
    std::uint16_t destination_port_max = 0;
    int icmp_type = -1;
    int icmp_code = -1;
    fw_rule_policy_t policy = FW_RULE_POLICY_DROP;
};

// Room for the longest text a rule has.
using TextRoom = std::array<char, FW_RULE_TEXT_MAX>;

namespace text_detail {

// Appends into the room, piece by piece; FW_RULE_TEXT_MAX is above the longest text, so
// nothing is ever left out. Pieces are a few characters each: copied in place, where a call to
// memcpy or the bookkeeping of a std::string cost more than the copy (a rule's text is made at
// every insertion and removal, tens of thousands at once).
class TextOut {
public:
    explicit TextOut(TextRoom& room) : begin_(room.data()), at_(room.data()), end_(room.data() + room.size()) {}

    void add(std::string_view text) {
        const std::size_t n = std::min(text.size(), static_cast<std::size_t>(end_ - at_));
        for(std::size_t i = 0; i < n; ++i) {
            at_[i] = text[i];
        }
        at_ += n;
    }
    void add(char c) {
        if(at_ != end_) {
            *at_++ = c;
        }
    }
    // At most 65535: a byte of an address, a prefix, a port, a protocol or an ICMP value.
    void number(unsigned value) {
        if(end_ - at_ < 5) {
            return;
        }
        unsigned scale = value >= 10000 ? 10000 : value >= 1000 ? 1000 : value >= 100 ? 100 : value >= 10 ? 10 : 1;
        for(; scale > 0; scale /= 10) {
            *at_++ = static_cast<char>('0' + value / scale % 10);
        }
    }
    // Options are separated by one blank; the text starts without one.
    void option(std::string_view text) {
        if(at_ != begin_) {
            add(' ');
        }
        add(text);
    }
    std::string_view view() const { return {begin_, static_cast<std::size_t>(at_ - begin_)}; }

private:
    char* begin_;
    char* at_;
    char* end_;
};

// "-s"/"-d" with the address, its host bits under the prefix cleared, and the prefix. IPv4 by
// hand: inet_ntop formats it through printf, several times the cost of the rest of the text.
inline void add_address(TextOut& out, std::string_view option, std::array<std::uint8_t, 16> address, unsigned prefix,
                        bool ipv6) {
    const unsigned bits = ipv6 ? 128 : 32;
    if(prefix == 0) {
        return;
    }
    for(unsigned bit = prefix; bit < bits; ++bit) {
        address[bit / 8] &= static_cast<std::uint8_t>(~(0x80U >> (bit % 8)));
    }
    out.option(option);
    if(ipv6) {
        char text[INET6_ADDRSTRLEN] = {};
        out.add(inet_ntop(AF_INET6, address.data(), text, sizeof(text)));
    } else {
        for(std::size_t i = 0; i < 4; ++i) {
            if(i > 0) {
                out.add('.');
            }
            out.number(address[i]);
        }
    }
    out.add('/');
    out.number(prefix);
}

inline void add_ports(TextOut& out, std::string_view option, unsigned port, unsigned max) {
    if(port == 0) {
        return;
    }
    out.add(option);
    out.number(port);
    if(max > port) {
        out.add(':');
        out.number(max);
    }
}

inline std::string_view protocol_name(std::uint8_t protocol) {
    switch(protocol) {
    case 1: return "icmp";
    case 6: return "tcp";
    case 17: return "udp";
    case 58: return "ipv6-icmp";
    default: return {};
    }
}

inline std::string_view port_match_name(std::uint8_t protocol) {
    switch(protocol) {
    case 6: return "tcp";
    case 17: return "udp";
    case 33: return "dccp";
    default: return "sctp";  // fw_rule_check() lets only 132 through here
    }
}

inline std::string_view target_name(fw_rule_policy_t policy) {
    switch(policy) {
    case FW_RULE_POLICY_DROP: return "DROP";
    case FW_RULE_POLICY_ACCEPT: return "ACCEPT";
    case FW_RULE_POLICY_REJECT: return "REJECT";
    default: return "MASQUERADE";  // fw_rule_check() lets nothing else through
    }
}

// Whether add_address() writes the same for both.
inline bool same_address(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b, unsigned prefix,
                         bool ipv6) {
    const unsigned bits = std::min(prefix, ipv6 ? 128U : 32U);
    if(std::memcmp(a.data(), b.data(), bits / 8) != 0) {
        return false;
    }
    const auto mask = static_cast<std::uint8_t>(0xff00U >> (bits % 8));
    return bits % 8 == 0 || ((a[bits / 8] ^ b[bits / 8]) & mask) == 0;
}

// The end add_ports() writes: none unless above the port.
inline unsigned written_end(unsigned port, unsigned max) { return port != 0 && max > port ? max : 0; }

}  // namespace text_detail

// What `rule` matches, as fw_rule_to_text() writes it; false, with `matches` unchanged, when
// fw_rule_check() finds a problem (fw_rule_to_text() then writes no text). A removal is so
// compared with the rule standing at its place without a text written on either side.
__attribute__((visibility("default"))) bool rule_matches(const fw_rule_t* rule, TextMatches& matches);

// Whether the two rules' texts are the same, without writing them: what a text leaves out
// (host bits under the prefix, a port range's end not above its port, ICMP values without
// protocol 1) is left out here too. For values that fw_rule_check() lets through.
inline bool same_text(const TextMatches& a, const TextMatches& b);

// The rule's text in `room`.
inline std::string_view write_rule_text(const TextMatches& rule, TextRoom& room) {
    using namespace text_detail;
    TextOut out(room);
    add_address(out, "-s ", rule.source, rule.source_prefix, rule.ipv6);
    add_address(out, "-d ", rule.destination, rule.destination_prefix, rule.ipv6);
    if(rule.protocol != 0) {
        out.option("-p ");
        if(const std::string_view name = protocol_name(rule.protocol); !name.empty()) {
            out.add(name);
        } else {
            out.number(rule.protocol);
        }
    }
    if(rule.mac) {
        out.option("-m mac --mac-source ");
        constexpr std::string_view hex = "0123456789abcdef";
        for(std::size_t i = 0; i < rule.mac->size(); ++i) {
            if(i > 0) {
                out.add(':');
            }
            out.add(hex[(*rule.mac)[i] >> 4]);
            out.add(hex[(*rule.mac)[i] & 0xf]);
        }
    }
    if(rule.source_port != 0 || rule.destination_port != 0) {
        out.option("-m ");
        out.add(port_match_name(rule.protocol));
        add_ports(out, " --sport ", rule.source_port, rule.source_port_max);
        add_ports(out, " --dport ", rule.destination_port, rule.destination_port_max);
    }
    if(rule.protocol == 1 && rule.icmp_type != -1) {
        out.option("-m icmp --icmp-type ");
        out.number(static_cast<unsigned>(rule.icmp_type));
        if(rule.icmp_code != -1) {
            out.add('/');
            out.number(static_cast<unsigned>(rule.icmp_code));
        }
    }
    out.option("-j ");
    out.add(target_name(rule.policy));
    return out.view();
}

inline bool same_text(const TextMatches& a, const TextMatches& b) {
    using namespace text_detail;
    // An address written is IPv4 text (dots) or IPv6 text (colons), never both.
    auto same = [&a, &b](const auto& a_address, unsigned a_prefix, const auto& b_address, unsigned b_prefix) {
        return a_prefix == b_prefix &&
               (a_prefix == 0 || (a.ipv6 == b.ipv6 && same_address(a_address, b_address, a_prefix, a.ipv6)));
    };
    return same(a.source, a.source_prefix, b.source, b.source_prefix) &&
           same(a.destination, a.destination_prefix, b.destination, b.destination_prefix) && a.protocol == b.protocol &&
           a.mac == b.mac && a.source_port == b.source_port && a.destination_port == b.destination_port &&
           written_end(a.source_port, a.source_port_max) == written_end(b.source_port, b.source_port_max) &&
           written_end(a.destination_port, a.destination_port_max) ==
               written_end(b.destination_port, b.destination_port_max) &&
           (a.protocol != 1 || (a.icmp_type == b.icmp_type && (a.icmp_type == -1 || a.icmp_code == b.icmp_code))) &&
           target_name(a.policy) == target_name(b.policy);
}

}  // namespace fwrules

#endif  // FWRULES_RULE_TEXT_HPP
