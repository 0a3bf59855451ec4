#include "rule_writer.h"

#include <arpa/inet.h>

#include <algorithm>

namespace fwinterface {
namespace {

// Appends into the room, piece by piece; what would not fit is left out (nothing a rule holds
// comes near it). Pieces are a few characters each: copied in place, where a call to memcpy
// or the bookkeeping of a std::string cost more than the copy. A compiled chain writes a text
// per rule it takes in and per rule it is asked for.
class TextOut {
public:
    explicit TextOut(RuleTextRoom& room) : begin_(room.data()), at_(room.data()), end_(room.data() + room.size()) {}

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
    // Every option but the first is preceded by a blank.
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

// IPv4 by hand: inet_ntop() formats through the stdio machinery, several times the cost of
// the rest of a rule's text.
void add_address(TextOut& out, std::string_view option, const AddressMatch& match, bool ipv6) {
    out.option(option);
    if(ipv6) {
        char text[INET6_ADDRSTRLEN];
        out.add(inet_ntop(AF_INET6, match.bytes.data(), text, sizeof(text)));
    } else {
        for(std::size_t i = 0; i < 4; ++i) {
            if(i > 0) {
                out.add('.');
            }
            out.number(match.bytes[i]);
        }
    }
    out.add('/');
    out.number(match.prefix);
}

void add_ports(TextOut& out, std::string_view option, const PortMatch& ports) {
    if(ports.first == 0) {
        return;
    }
    out.add(option);
    out.number(ports.first);
    if(ports.last > ports.first) {
        out.add(':');
        out.number(ports.last);
    }
}

std::string_view protocol_name(std::uint8_t protocol) {
    switch(protocol) {
    case 1: return "icmp";
    case 6: return "tcp";
    case 17: return "udp";
    case 58: return "ipv6-icmp";
    default: return {};
    }
}

std::string_view port_module(std::uint8_t protocol) {
    switch(protocol) {
    case 6: return "tcp";
    case 17: return "udp";
    case 33: return "dccp";
    default: return "sctp";
    }
}

std::string_view target_name(Verdict verdict) {
    switch(verdict) {
    case Verdict::drop: return "DROP";
    case Verdict::accept: return "ACCEPT";
    case Verdict::reject: return "REJECT";
    case Verdict::masquerade: return "MASQUERADE";
    }
    return {};
}

}  // namespace

std::string_view write_rule_text(const RuleSpec& spec, bool ipv6, RuleTextRoom& room) {
    TextOut out(room);
    if(spec.source) {
        add_address(out, "-s ", *spec.source, ipv6);
    }
    if(spec.destination) {
        add_address(out, "-d ", *spec.destination, ipv6);
    }
    if(spec.protocol != 0) {
        out.option("-p ");
        if(const std::string_view name = protocol_name(spec.protocol); !name.empty()) {
            out.add(name);
        } else {
            out.number(spec.protocol);
        }
    }
    if(spec.mac) {
        out.option("-m mac --mac-source ");
        constexpr std::string_view hex = "0123456789abcdef";
        for(std::size_t i = 0; i < spec.mac->size(); ++i) {
            if(i > 0) {
                out.add(':');
            }
            out.add(hex[(*spec.mac)[i] >> 4]);
            out.add(hex[(*spec.mac)[i] & 0xf]);
        }
    }
    if(spec.source_port.first != 0 || spec.destination_port.first != 0) {
        out.option("-m ");
        out.add(port_module(spec.protocol));
        add_ports(out, " --sport ", spec.source_port);
        add_ports(out, " --dport ", spec.destination_port);
    }
    if(spec.protocol == 1 && spec.icmp_type != -1) {
        out.option("-m icmp --icmp-type ");
        out.number(static_cast<unsigned>(spec.icmp_type));
        if(spec.icmp_code != -1) {
            out.add('/');
            out.number(static_cast<unsigned>(spec.icmp_code));
        }
    }
    out.option("-j ");
    out.add(target_name(spec.verdict));
    return out.view();
}

}  // namespace fwinterface
