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

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

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
        return Mask{static_cast<unsigned>(std::popcount(bits)), true};
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
    return Mask{prefix, false};
}

bool is_mac(std::string_view text) {
    constexpr std::size_t mac_length = 17;  // "xx:xx:xx:xx:xx:xx"
    if(text.size() != mac_length) {
        return false;
    }
    for(std::size_t i = 0; i < mac_length; ++i) {
        bool separator = (i % 3) == 2;
        if(separator ? text[i] != ':' : !is_hex(text[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace fwrules
