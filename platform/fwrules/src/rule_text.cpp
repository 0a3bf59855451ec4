// The rule in iptables-save syntax. The text doubles as the rule's identity (libfwinterface
// compares rules by it), so every value is written in one canonical form.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

#include <fwrules/fw_rule.h>

#include "rule_fields.h"

namespace fwrules {
namespace {

// Appends into a fixed buffer: writing a rule never allocates, nor clears the buffer first
// (only what was written is read). FW_RULE_TEXT_MAX is above the longest possible text, so
// the buffer never fills up.
class TextBuilder {
public:
    // Pieces are a few characters each: copied in place, where a call to memcpy cost more
    // than the copy (a rule's text is rebuilt at every insertion and removal).
    void add(std::string_view text) {
        const std::size_t n = std::min(text.size(), chars_.size() - size_);
        for(std::size_t i = 0; i < n; ++i) {
            chars_[size_ + i] = text[i];
        }
        size_ += n;
    }
    void add(char c) {
        if(size_ < chars_.size()) {
            chars_[size_++] = c;
        }
    }
    // Written straight into the buffer; a number that does not fit is left out whole.
    void add_number(long value) {
        auto result = std::to_chars(chars_.data() + size_, chars_.data() + chars_.size(), value);
        if(result.ec == std::errc()) {
            size_ = static_cast<std::size_t>(result.ptr - chars_.data());
        }
    }
    // Options are separated by one blank; the text starts without one.
    void separate() {
        if(size_ != 0) {
            add(' ');
        }
    }
    void option(std::string_view text) {
        separate();
        add(text);
    }
    std::string_view view() const { return {chars_.data(), size_}; }

private:
    std::array<char, FW_RULE_TEXT_MAX> chars_;
    std::size_t size_ = 0;
};

// "-s"/"-d" with the address, its host bits under the prefix cleared, and the prefix. A
// zero prefix matches every address, which iptables-save writes as no match at all.
void add_address(TextBuilder& out, std::string_view option, Address address, unsigned prefix) {
    if(prefix == 0) {
        return;
    }
    for(unsigned bit = prefix; bit < address.bits(); ++bit) {
        address.bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80U >> (bit % 8)));
    }
    out.option(option);
    out.separate();
    out.add(address_text(address).view());
    out.add('/');
    out.add_number(prefix);
}

void add_protocol(TextBuilder& out, std::uint32_t protocol) {
    out.option("-p");
    switch(protocol) {
    case 1: out.option("icmp"); break;
    case 6: out.option("tcp"); break;
    case 17: out.option("udp"); break;
    case 58: out.option("ipv6-icmp"); break;
    default: out.separate(); out.add_number(protocol); break;
    }
}

std::string_view port_match_name(std::uint32_t protocol) {
    switch(protocol) {
    case 6: return "tcp";
    case 17: return "udp";
    case 33: return "dccp";
    default: return "sctp";  // the check lets only 132 through here
    }
}

void add_port(TextBuilder& out, std::string_view option, std::uint32_t port, std::uint32_t max) {
    if(port == 0) {
        return;
    }
    out.option(option);
    out.separate();
    out.add_number(port);
    if(max > port) {
        out.add(':');
        out.add_number(max);
    }
}

void add_mac(TextBuilder& out, const Mac& mac) {
    out.option("-m mac --mac-source");
    out.separate();
    out.add(mac_text(mac).view());
}

std::string_view target_name(std::uint8_t policy) {
    switch(policy) {
    case FW_RULE_POLICY_DROP: return "DROP";
    case FW_RULE_POLICY_ACCEPT: return "ACCEPT";
    case FW_RULE_POLICY_REJECT: return "REJECT";
    default: return "MASQUERADE";  // the check lets nothing else through
    }
}

void write(TextBuilder& out, const Fields& rule) {
    if(rule.source) {
        add_address(out, "-s", *rule.source, rule.mask ? rule.mask->prefix : rule.source->bits());
    }
    if(const auto& destination = rule.destination()) {
        add_address(out, "-d", *destination, destination->bits());
    }
    if(rule.protocol != 0) {
        add_protocol(out, rule.protocol);
    }
    if(rule.mac()) {
        add_mac(out, *rule.mac());
    }
    if(rule.source_port != 0 || rule.destination_port != 0) {
        out.option("-m");
        out.option(port_match_name(rule.protocol));
        add_port(out, "--sport", rule.source_port, rule.source_port_max);
        add_port(out, "--dport", rule.destination_port, rule.destination_port_max);
    }
    if(rule.protocol == 1 && rule.icmp_type != -1) {
        out.option("-m icmp --icmp-type");
        out.separate();
        out.add_number(rule.icmp_type);
        if(rule.icmp_code != -1) {
            out.add('/');
            out.add_number(rule.icmp_code);
        }
    }
    out.option("-j");
    out.option(target_name(rule.policy));
}

}  // namespace
}  // namespace fwrules

extern "C" int fw_rule_to_text(const fw_rule_t* rule, char* buf, size_t size) {
    if(buf != nullptr && size > 0) {
        buf[0] = '\0';
    }
    if(fw_rule_check(rule) != FW_RULE_OK) {
        return -1;
    }
    fwrules::TextBuilder out;
    fwrules::write(out, *rule);
    std::string_view text = out.view();
    if(buf != nullptr && size > 0) {
        std::size_t n = std::min(text.size(), size - 1);
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return static_cast<int>(text.size());
}
