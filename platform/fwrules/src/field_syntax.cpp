#include "field_syntax.h"

#include <arpa/inet.h>

#include <bit>
#include <cstring>

#include <fwrules/fw_rule.h>

namespace fwrules {
namespace {

// Looked up, not compared range by range: every rule a module builds has its table and chain
// name checked, tens of thousands of times in one rebuild.
constexpr std::array<bool, 256> name_chars = [] {
    std::array<bool, 256> table{};
    for(int c = 0; c < 256; ++c) {
        table[static_cast<std::size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                             (c >= '0' && c <= '9') || c == '_' || c == '-';
    }
    return table;
}();

bool is_name_char(char c) { return name_chars[static_cast<unsigned char>(c)]; }

// The value of a hex digit, or -1.
int hex_value(char c) {
    if(c >= '0' && c <= '9') {
        return c - '0';
    }
    if(c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if(c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

template <std::size_t N>
void add_dotted_quad(FixedText<N>& out, const std::uint8_t* bytes) {
    for(std::size_t i = 0; i < 4; ++i) {
        if(i > 0) {
            out.push_back('.');
        }
        out.append_number(bytes[i]);
    }
}

}  // namespace

bool is_name(std::string_view text) {
    if(text.empty() || text.size() > FW_RULE_NAME_MAX || text.front() == '-') {
        return false;
    }
    for(char c : text) {
        if(!is_name_char(c)) {
            return false;
        }
    }
    return true;
}

std::optional<Address> parse_address(std::string_view text) {
    // inet_pton needs a terminated copy; the longest address text is INET6_ADDRSTRLEN - 1.
    char copy[INET6_ADDRSTRLEN];
    if(text.empty() || text.size() >= sizeof(copy)) {
        return std::nullopt;
    }
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';

    Address address;
    if(inet_pton(AF_INET, copy, address.bytes.data()) == 1) {
        address.family = Family::ipv4;
        return address;
    }
    if(inet_pton(AF_INET6, copy, address.bytes.data()) == 1) {
        address.family = Family::ipv6;
        return address;
    }
    return std::nullopt;
}

std::optional<Mask> parse_mask(std::string_view text) {
    if(text.empty()) {
        return std::nullopt;
    }
    if(text.find('.') != std::string_view::npos) {
        auto address = parse_address(text);
        if(!address || address->family != Family::ipv4) {
            return std::nullopt;
        }
        std::uint32_t bits = (std::uint32_t{address->bytes[0]} << 24) | (std::uint32_t{address->bytes[1]} << 16) |
                             (std::uint32_t{address->bytes[2]} << 8) | std::uint32_t{address->bytes[3]};
        // Contiguous: the ones form a prefix, so the complement plus one is a power of two.
        std::uint32_t host = ~bits;
        if((host & (host + 1U)) != 0) {
            return std::nullopt;
        }
        return Mask{static_cast<std::uint8_t>(std::popcount(bits)), true};
    }
    if(text.size() > 3 || (text.size() > 1 && text.front() == '0')) {
        return std::nullopt;
    }
    unsigned prefix = 0;
    for(char c : text) {
        if(c < '0' || c > '9') {
            return std::nullopt;
        }
        prefix = prefix * 10U + static_cast<unsigned>(c - '0');
    }
    if(prefix > 128U) {
        return std::nullopt;
    }
    return Mask{static_cast<std::uint8_t>(prefix), false};
}

std::optional<Mac> parse_mac(std::string_view text) {
    constexpr std::size_t mac_length = 17;  // "xx:xx:xx:xx:xx:xx"
    if(text.size() != mac_length) {
        return std::nullopt;
    }
    Mac mac{};
    for(std::size_t i = 0; i < mac_length; i += 3) {
        const int high = hex_value(text[i]);
        const int low = hex_value(text[i + 1]);
        if(high < 0 || low < 0 || (i + 2 < mac_length && text[i + 2] != ':')) {
            return std::nullopt;
        }
        mac[i / 3] = static_cast<std::uint8_t>((high << 4) | low);
    }
    return mac;
}

FixedText<address_text_max> address_text(const Address& address) {
    if(address.family == Family::ipv4) {
        // By hand: inet_ntop formats an IPv4 address through printf, the main cost of a rule's
        // text when tens of thousands of source rules are written at once.
        FixedText<address_text_max> out;
        add_dotted_quad(out, address.bytes.data());
        return out;
    }
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address.bytes.data(), text, sizeof(text));
    FixedText<address_text_max> result;
    result.assign(text);
    return result;
}

FixedText<mask_text_max> mask_text(const Mask& mask) {
    FixedText<mask_text_max> out;
    if(!mask.dotted) {
        out.append_number(mask.prefix);
        return out;
    }
    const std::uint32_t bits = mask.prefix == 0 ? 0 : ~std::uint32_t{0} << (32U - mask.prefix);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                                   static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
    add_dotted_quad(out, bytes);
    return out;
}

FixedText<mac_text_max> mac_text(const Mac& mac) {
    constexpr char digits[] = "0123456789abcdef";
    FixedText<mac_text_max> out;
    for(std::size_t i = 0; i < mac.size(); ++i) {
        if(i > 0) {
            out.push_back(':');
        }
        out.push_back(digits[mac[i] >> 4]);
        out.push_back(digits[mac[i] & 0xFU]);
    }
    return out;
}

}  // namespace fwrules
