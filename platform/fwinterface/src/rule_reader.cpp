// The rule text is the one form a rule reaches the backend in; reading it back here keeps
// fwrules the only place that knows how fields are canonicalised.

#include "rule_reader.h"

#include <arpa/inet.h>

#include <charconv>

namespace fwinterface {
namespace {

// Where `c` first is in `text`, or its size. The words and fields of a rule text are a few
// characters each: a loop over them is cheaper than a call to memchr, which cost a third of
// reading a text back.
std::size_t position_of(std::string_view text, char c) {
    std::size_t at = 0;
    while(at < text.size() && text[at] != c) {
        ++at;
    }
    return at;
}

// The blank-separated words of a rule text, one at a time.
class Words {
public:
    explicit Words(std::string_view text) : rest_(text) {}

    bool done() const { return rest_.empty(); }

    // The next word, or "" at the end.
    std::string_view next() {
        const std::size_t blank = position_of(rest_, ' ');
        const std::string_view word = rest_.substr(0, blank);
        rest_.remove_prefix(blank == rest_.size() ? blank : blank + 1);
        return word;
    }

private:
    std::string_view rest_;
};

// "a.b.c.d" as inet_pton reads it (each 0 to 255 without leading zeros), in place: inet_pton
// wants a copy ended by a NUL, and it and the copy were a fifth of reading a text back.
bool parse_ipv4(std::string_view text, std::array<std::uint8_t, 16>& bytes) {
    std::size_t at = 0;
    for(std::size_t i = 0; i < 4; ++i) {
        if(i > 0 && (at >= text.size() || text[at++] != '.')) {
            return false;
        }
        const std::size_t first = at;
        unsigned value = 0;
        while(at < text.size() && at - first < 3 && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        }
        if(at == first || value > 255 || (at - first > 1 && text[first] == '0')) {
            return false;
        }
        bytes[i] = static_cast<std::uint8_t>(value);
    }
    return at == text.size();
}

template <typename Number>
bool parse_number(std::string_view text, Number min, Number max, Number& value) {
    Number parsed{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if(ec != std::errc{} || end != text.data() + text.size() || text.empty() || parsed < min || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

// "A/P" of the rule's family, host bits already cleared as fw_rule_to_text() writes it.
bool parse_address(std::string_view text, bool ipv6, AddressMatch& match) {
    const std::size_t slash = position_of(text, '/');
    if(slash == text.size() || slash >= INET6_ADDRSTRLEN) {
        return false;
    }
    const unsigned bits = ipv6 ? 128 : 32;
    bool read = false;
    if(ipv6) {
        char address[INET6_ADDRSTRLEN] = {};
        text.copy(address, slash);
        read = inet_pton(AF_INET6, address, match.bytes.data()) == 1;
    } else {
        read = parse_ipv4(text.substr(0, slash), match.bytes);
    }
    if(!read || !parse_number(text.substr(slash + 1), 1U, bits, match.prefix)) {
        return false;
    }
    for(unsigned bit = match.prefix; bit < bits; ++bit) {
        if((match.bytes[bit / 8] & (0x80U >> (bit % 8))) != 0) {
            return false;
        }
    }
    return true;
}

bool parse_protocol(std::string_view text, std::uint8_t& protocol) {
    if(text == "icmp") {
        protocol = 1;
    } else if(text == "tcp") {
        protocol = 6;
    } else if(text == "udp") {
        protocol = 17;
    } else if(text == "ipv6-icmp") {
        protocol = 58;
    } else {
        return parse_number(text, std::uint8_t{1}, std::uint8_t{255}, protocol);
    }
    return true;
}

bool parse_mac(std::string_view text, std::array<std::uint8_t, 6>& mac) {
    if(text.size() != 17) {
        return false;
    }
    for(std::size_t i = 0; i < mac.size(); ++i) {
        if(i > 0 && text[i * 3 - 1] != ':') {
            return false;
        }
        std::string_view pair = text.substr(i * 3, 2);
        auto [end, ec] = std::from_chars(pair.data(), pair.data() + 2, mac[i], 16);
        if(ec != std::errc{} || end != pair.data() + 2) {
            return false;
        }
    }
    return true;
}

// "P" or "P:E" with 1 <= P < E.
bool parse_ports(std::string_view text, PortMatch& match) {
    std::size_t colon = text.find(':');
    if(!parse_number(text.substr(0, colon), std::uint16_t{1}, std::uint16_t{65535}, match.first)) {
        return false;
    }
    match.last = match.first;
    if(colon == std::string_view::npos) {
        return true;
    }
    return parse_number(text.substr(colon + 1), static_cast<std::uint16_t>(match.first + 1), std::uint16_t{65535},
                        match.last);
}

// "T" or "T/C", each 0 to 255.
bool parse_icmp(std::string_view text, int& type, int& code) {
    std::size_t slash = text.find('/');
    if(!parse_number(text.substr(0, slash), 0, 255, type)) {
        return false;
    }
    return slash == std::string_view::npos || parse_number(text.substr(slash + 1), 0, 255, code);
}

bool parse_verdict(std::string_view text, Verdict& verdict) {
    if(text == "DROP") {
        verdict = Verdict::drop;
    } else if(text == "ACCEPT") {
        verdict = Verdict::accept;
    } else if(text == "REJECT") {
        verdict = Verdict::reject;
    } else if(text == "MASQUERADE") {
        verdict = Verdict::masquerade;
    } else {
        return false;
    }
    return true;
}

bool has_ports(std::uint8_t protocol) { return protocol == 6 || protocol == 17 || protocol == 33 || protocol == 132; }

// "-m <module> ...": the MAC, port or ICMP match.
bool parse_module(Words& words, bool ipv6, RuleSpec& spec, std::string& error) {
    std::string_view module = words.next();
    if(module == "mac") {
        if(words.next() != "--mac-source" || !parse_mac(words.next(), spec.mac.emplace())) {
            error = "bad MAC match";
            return false;
        }
        return true;
    }
    if(module == "icmp") {
        if(ipv6 || spec.protocol != 1 || words.next() != "--icmp-type" ||
           !parse_icmp(words.next(), spec.icmp_type, spec.icmp_code)) {
            error = "bad ICMP match";
            return false;
        }
        return true;
    }
    if(!has_ports(spec.protocol)) {
        error = "ports without a protocol that has ports";
        return false;
    }
    // "--sport" and "--dport" follow in that order, each optional but not both.
    auto optional_ports = [&words](std::string_view name, PortMatch& match) {
        Words peek = words;
        if(peek.next() != name) {
            return true;
        }
        words = peek;
        return parse_ports(words.next(), match);
    };
    if(!optional_ports("--sport", spec.source_port) || !optional_ports("--dport", spec.destination_port)) {
        error = "bad port";
        return false;
    }
    if(spec.source_port.first == 0 && spec.destination_port.first == 0) {
        error = "port match without ports";
        return false;
    }
    return true;
}

}  // namespace

bool parse_rule_text(std::string_view text, bool ipv6, RuleSpec& spec, std::string& error) {
    spec = RuleSpec{};
    Words words(text);
    while(!words.done()) {
        std::string_view option = words.next();
        if(option == "-s" || option == "-d") {
            if(!parse_address(words.next(), ipv6, (option == "-s" ? spec.source : spec.destination).emplace())) {
                error = "bad address";
                return false;
            }
        } else if(option == "-p") {
            if(!parse_protocol(words.next(), spec.protocol)) {
                error = "bad protocol";
                return false;
            }
        } else if(option == "-m") {
            if(!parse_module(words, ipv6, spec, error)) {
                return false;
            }
        } else if(option == "-j") {
            if(!parse_verdict(words.next(), spec.verdict) || !words.done()) {
                error = "bad target";
                return false;
            }
            return true;
        } else {
            error = "unknown option";
            return false;
        }
    }
    error = "no target";
    return false;
}

}  // namespace fwinterface
