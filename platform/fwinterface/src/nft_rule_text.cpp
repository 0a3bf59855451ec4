#include "nft_rule_text.h"

#include "nft_attributes.h"

#include <arpa/inet.h>
#include <endian.h>
#include <linux/if_arp.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace fwinterface {
namespace {

using Bytes = std::span<const std::uint8_t>;
using Attributes = attributes::Table;
using attributes::u32;
using attributes::u64;

Attributes nested(const nlattr* nest) { return attributes::of_nest(nest); }
Bytes value_of(const nlattr* data) { return attributes::value(data); }
std::string text_of(const nlattr* attribute) { return attributes::text(attribute); }

std::string hex(Bytes bytes) {
    std::string text = "0x";
    for(std::uint8_t byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

enum class Kind : std::uint8_t { raw, ipv4, ipv6, mac, port, protocol, device_type, byte, name };

std::string value_text(Kind kind, Bytes value) {
    char text[INET6_ADDRSTRLEN] = "";
    switch(kind) {
    case Kind::ipv4:
    case Kind::ipv6:
        if(value.size() == (kind == Kind::ipv4 ? 4U : 16U) &&
           inet_ntop(kind == Kind::ipv4 ? AF_INET : AF_INET6, value.data(), text, sizeof text) != nullptr) {
            return text;
        }
        break;
    case Kind::mac:
        if(value.size() == 6) {
            std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", value[0], value[1], value[2], value[3],
                          value[4], value[5]);
            return text;
        }
        break;
    case Kind::port:
        if(value.size() == 2) {
            return std::to_string(value[0] << 8 | value[1]);
        }
        break;
    case Kind::protocol:
        if(value.size() == 1) {
            switch(value[0]) {
            case IPPROTO_TCP: return "tcp";
            case IPPROTO_UDP: return "udp";
            case IPPROTO_ICMP: return "icmp";
            case IPPROTO_ICMPV6: return "icmpv6";
            default: return std::to_string(value[0]);
            }
        }
        break;
    case Kind::device_type:  // compared in host order
        if(value.size() == 2) {
            std::uint16_t type = 0;
            std::memcpy(&type, value.data(), sizeof type);
            return type == ARPHRD_ETHER ? "ether" : std::to_string(type);
        }
        break;
    case Kind::byte:
        if(value.size() == 1) {
            return std::to_string(value[0]);
        }
        break;
    case Kind::name: {
        const auto* name = reinterpret_cast<const char*>(value.data());
        return '"' + std::string(name, strnlen(name, value.size())) + '"';
    }
    case Kind::raw: break;
    }
    return hex(value);
}

// What the last load put into a register: the field and how to write values compared with it.
struct Loaded {
    std::string field;
    Kind kind = Kind::raw;
    int prefix = -1;  // bits kept by a mask of leading ones, -1 without one
};

Loaded payload(const Attributes& a, bool ipv6) {
    const std::uint32_t base = u32(a[NFTA_PAYLOAD_BASE]);
    const std::uint32_t offset = u32(a[NFTA_PAYLOAD_OFFSET]);
    const std::uint32_t length = u32(a[NFTA_PAYLOAD_LEN]);
    const std::string_view ip = ipv6 ? "ip6 " : "ip ";
    const Kind address = ipv6 ? Kind::ipv6 : Kind::ipv4;
    const std::uint32_t source = ipv6 ? 8 : 12;
    const std::uint32_t destination = ipv6 ? 24 : 16;
    if(base == NFT_PAYLOAD_NETWORK_HEADER && length == (ipv6 ? 16U : 4U) && (offset == source || offset == destination)) {
        return {std::string(ip) + (offset == source ? "saddr" : "daddr"), address};
    }
    if(base == NFT_PAYLOAD_TRANSPORT_HEADER && length == 2 && offset <= 2 && offset % 2 == 0) {
        return {offset == 0 ? "th sport" : "th dport", Kind::port};
    }
    if(base == NFT_PAYLOAD_TRANSPORT_HEADER && length == 1 && offset <= 1) {
        return {std::string(ipv6 ? "icmpv6 " : "icmp ") + (offset == 0 ? "type" : "code"), Kind::byte};
    }
    if(base == NFT_PAYLOAD_LL_HEADER && length == 6 && (offset == 0 || offset == 6)) {
        return {offset == 0 ? "ether daddr" : "ether saddr", Kind::mac};
    }
    const char* header = base == NFT_PAYLOAD_LL_HEADER ? "@ll" : base == NFT_PAYLOAD_NETWORK_HEADER ? "@nh" : "@th";
    return {std::string(header) + ',' + std::to_string(offset * 8) + ',' + std::to_string(length * 8), Kind::raw};
}

Loaded meta(const Attributes& a) {
    switch(u32(a[NFTA_META_KEY])) {
    case NFT_META_L4PROTO: return {"meta l4proto", Kind::protocol};
    case NFT_META_IIFTYPE: return {"meta iiftype", Kind::device_type};
    case NFT_META_IIFNAME: return {"iifname", Kind::name};
    case NFT_META_OIFNAME: return {"oifname", Kind::name};
    default: return {"meta key " + std::to_string(u32(a[NFTA_META_KEY])), Kind::raw};
    }
}

// A mask of leading ones becomes a prefix length; any other is written out.
void apply_mask(Loaded& loaded, Bytes mask) {
    int ones = 0;
    bool past_ones = false;
    bool contiguous = true;
    for(std::uint8_t byte : mask) {
        for(int bit = 7; bit >= 0; --bit) {
            const bool set = (byte >> bit & 1U) != 0;
            if(set && past_ones) {
                contiguous = false;
            }
            past_ones = past_ones || !set;
            ones += set && !past_ones ? 1 : 0;
        }
    }
    if(contiguous && (loaded.kind == Kind::ipv4 || loaded.kind == Kind::ipv6)) {
        loaded.prefix = ones;
    } else {
        loaded.field = '(' + loaded.field + " & " + hex(mask) + ')';
        loaded.kind = Kind::raw;
    }
}

std::string comparison(std::uint32_t op) {
    switch(op) {
    case NFT_CMP_EQ: return "";
    case NFT_CMP_NEQ: return "!= ";
    case NFT_CMP_LT: return "< ";
    case NFT_CMP_LTE: return "<= ";
    case NFT_CMP_GT: return "> ";
    default: return ">= ";
    }
}

std::string verdict(const Attributes& immediate) {
    const Attributes v = nested(nested(immediate[NFTA_IMMEDIATE_DATA])[NFTA_DATA_VERDICT]);
    const auto code = static_cast<std::int32_t>(u32(v[NFTA_VERDICT_CODE]));
    switch(code) {
    case NF_ACCEPT: return "accept";
    case NF_DROP: return "drop";
    case NFT_JUMP: return "jump " + text_of(v[NFTA_VERDICT_CHAIN]);
    case NFT_GOTO: return "goto " + text_of(v[NFTA_VERDICT_CHAIN]);
    case NFT_RETURN: return "return";
    case NFT_CONTINUE: return "continue";
    default: return "verdict " + std::to_string(code);
    }
}

// One expression: a load sets `loaded`, a statement returns its words.
std::string expression(std::string_view name, const Attributes& a, bool ipv6, Loaded& loaded) {
    if(name == "payload") {
        loaded = payload(a, ipv6);
    } else if(name == "meta" && a[NFTA_META_DREG] != nullptr) {
        loaded = meta(a);
    } else if(name == "bitwise") {
        apply_mask(loaded, value_of(a[NFTA_BITWISE_MASK]));
    } else if(name == "cmp") {
        std::string text = loaded.field + ' ' + comparison(u32(a[NFTA_CMP_OP])) +
                           value_text(loaded.kind, value_of(a[NFTA_CMP_DATA]));
        return loaded.prefix >= 0 ? text + '/' + std::to_string(loaded.prefix) : text;
    } else if(name == "range") {
        return loaded.field + ' ' + (u32(a[NFTA_RANGE_OP]) == NFT_RANGE_NEQ ? "!= " : "") +
               value_text(loaded.kind, value_of(a[NFTA_RANGE_FROM_DATA])) + '-' +
               value_text(loaded.kind, value_of(a[NFTA_RANGE_TO_DATA]));
    } else if(name == "lookup") {
        const bool inverted = (u32(a[NFTA_LOOKUP_FLAGS]) & NFT_LOOKUP_F_INV) != 0;
        return loaded.field + (inverted ? " != @" : " @") + text_of(a[NFTA_LOOKUP_SET]);
    } else if(name == "immediate") {
        return u32(a[NFTA_IMMEDIATE_DREG]) == NFT_REG_VERDICT ? verdict(a) : "";
    } else if(name == "counter") {
        return "counter packets " + std::to_string(u64(a[NFTA_COUNTER_PACKETS])) + " bytes " +
               std::to_string(u64(a[NFTA_COUNTER_BYTES]));
    } else if(name == "reject") {
        return "reject";
    } else if(name == "masq") {
        return "masquerade";
    } else {
        return '[' + std::string(name) + ']';
    }
    return "";
}

}  // namespace

std::string rule_text(const nlattr* expressions, bool ipv6) {
    std::string text;
    Loaded loaded;
    if(expressions == nullptr) {
        return text;
    }
    attributes::for_each_nested(expressions, [&](const nlattr* element) {
        const Attributes e = nested(element);
        const std::string words = expression(text_of(e[NFTA_EXPR_NAME]), nested(e[NFTA_EXPR_DATA]), ipv6, loaded);
        if(!words.empty()) {
            text += (text.empty() ? "" : " ") + words;
        }
        return true;
    });
    return text;
}

std::string key_text(Bytes key) {
    return value_text(key.size() == 4 ? Kind::ipv4 : key.size() == 16 ? Kind::ipv6 : Kind::raw, key);
}

}  // namespace fwinterface
