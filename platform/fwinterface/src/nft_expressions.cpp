#include "nft_expressions.h"

#include <endian.h>
#include <linux/if_arp.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nf_tables_compat.h>
#include <linux/netfilter_ipv4/ipt_REJECT.h>
#include <linux/netfilter_ipv6/ip6t_REJECT.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

namespace fwinterface {
namespace {

using Bytes = std::span<const std::uint8_t>;

// Offsets of the fields in their headers.
constexpr std::uint32_t ipv4_source = 12;
constexpr std::uint32_t ipv4_destination = 16;
constexpr std::uint32_t ipv6_source = 8;
constexpr std::uint32_t ipv6_destination = 24;
constexpr std::uint32_t ether_source = 6;
constexpr std::uint32_t source_port = 0;  // the same for tcp, udp, dccp and sctp
constexpr std::uint32_t destination_port = 2;
constexpr std::uint32_t icmp_type = 0;
constexpr std::uint32_t icmp_code = 1;

// Port unreachable, what REJECT answers by default.
constexpr std::uint8_t icmp_port_unreachable = 3;
constexpr std::uint8_t icmpv6_port_unreachable = 4;

// One expression after the other into NFTA_RULE_EXPRESSIONS, opened here and closed by
// close(); every load goes to register 1, which the next comparison reads.
class Expressions {
public:
    explicit Expressions(NetlinkWriter& out) : out_(out) { out_.begin_nest(NFTA_RULE_EXPRESSIONS); }
    void close() { out_.end_nest(); }

    void payload(std::uint32_t base, std::uint32_t offset, std::uint32_t length) {
        begin("payload");
        out_.put_u32(NFTA_PAYLOAD_DREG, NFT_REG_1);
        out_.put_u32(NFTA_PAYLOAD_BASE, base);
        out_.put_u32(NFTA_PAYLOAD_OFFSET, offset);
        out_.put_u32(NFTA_PAYLOAD_LEN, length);
        end();
    }
    void set_meta(std::uint32_t key) {
        begin("meta");
        out_.put_u32(NFTA_META_SREG, NFT_REG_1);
        out_.put_u32(NFTA_META_KEY, key);
        end();
    }
    // Register 1 becomes (register 1 & and_mask) ^ xor_bits, in host order like the mark.
    void bits(std::uint32_t and_mask, std::uint32_t xor_bits) {
        begin("bitwise");
        out_.put_u32(NFTA_BITWISE_SREG, NFT_REG_1);
        out_.put_u32(NFTA_BITWISE_DREG, NFT_REG_1);
        out_.put_u32(NFTA_BITWISE_LEN, sizeof(and_mask));
        data(NFTA_BITWISE_MASK, host_bytes(and_mask));
        data(NFTA_BITWISE_XOR, host_bytes(xor_bits));
        end();
    }
    // The xtables REJECT target through nf_tables' compatibility layer, as iptables-nft writes it.
    void compat_reject(bool ipv6) {
        // Padded as the kernel aligns target data.
        std::array<std::uint8_t, 8> info{};
        if(ipv6) {
            const ip6t_reject_info reject{IP6T_ICMP6_PORT_UNREACH};
            std::memcpy(info.data(), &reject, sizeof(reject));
        } else {
            const ipt_reject_info reject{IPT_ICMP_PORT_UNREACHABLE};
            std::memcpy(info.data(), &reject, sizeof(reject));
        }
        begin("target");
        out_.put_string(NFTA_TARGET_NAME, "REJECT");
        out_.put_u32(NFTA_TARGET_REV, 0);
        out_.put(NFTA_TARGET_INFO, Bytes(info));
        end();
    }
    static std::array<std::uint8_t, 4> host_bytes_of(std::uint32_t value) {
        std::array<std::uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), &value, sizeof(value));
        return bytes;
    }
    void meta(std::uint32_t key) {
        begin("meta");
        out_.put_u32(NFTA_META_DREG, NFT_REG_1);
        out_.put_u32(NFTA_META_KEY, key);
        end();
    }
    void equals(Bytes value) {
        begin("cmp");
        out_.put_u32(NFTA_CMP_SREG, NFT_REG_1);
        out_.put_u32(NFTA_CMP_OP, NFT_CMP_EQ);
        data(NFTA_CMP_DATA, value);
        end();
    }
    void mask(Bytes mask) {
        static constexpr std::array<std::uint8_t, 16> zeros{};
        begin("bitwise");
        out_.put_u32(NFTA_BITWISE_SREG, NFT_REG_1);
        out_.put_u32(NFTA_BITWISE_DREG, NFT_REG_1);
        out_.put_u32(NFTA_BITWISE_LEN, static_cast<std::uint32_t>(mask.size()));
        data(NFTA_BITWISE_MASK, mask);
        data(NFTA_BITWISE_XOR, Bytes(zeros).first(mask.size()));
        end();
    }
    void within(Bytes from, Bytes to) {
        begin("range");
        out_.put_u32(NFTA_RANGE_SREG, NFT_REG_1);
        out_.put_u32(NFTA_RANGE_OP, NFT_RANGE_EQ);
        data(NFTA_RANGE_FROM_DATA, from);
        data(NFTA_RANGE_TO_DATA, to);
        end();
    }
    void lookup(const SetRef& set) {
        begin("lookup");
        out_.put_u32(NFTA_LOOKUP_SREG, NFT_REG_1);
        out_.put_string(NFTA_LOOKUP_SET, set.name);
        if(set.id != 0) {
            out_.put_u32(NFTA_LOOKUP_SET_ID, set.id);
        }
        end();
    }
    void verdict(std::int32_t code, std::string_view chain = {}) {
        begin("immediate");
        out_.put_u32(NFTA_IMMEDIATE_DREG, NFT_REG_VERDICT);
        out_.begin_nest(NFTA_IMMEDIATE_DATA);
        out_.begin_nest(NFTA_DATA_VERDICT);
        out_.put_u32(NFTA_VERDICT_CODE, static_cast<std::uint32_t>(code));
        if(!chain.empty()) {
            out_.put_string(NFTA_VERDICT_CHAIN, chain);
        }
        out_.end_nest();
        out_.end_nest();
        end();
    }
    void reject(bool ipv6) {
        begin("reject");
        out_.put_u32(NFTA_REJECT_TYPE, NFT_REJECT_ICMP_UNREACH);
        out_.put_u8(NFTA_REJECT_ICMP_CODE, ipv6 ? icmpv6_port_unreachable : icmp_port_unreachable);
        end();
    }
    void masquerade() {
        begin("masq");
        end();
    }

private:
    Bytes host_bytes(std::uint32_t value) {
        scratch_ = host_bytes_of(value);
        return Bytes(scratch_);
    }
    void begin(std::string_view name) {
        out_.begin_nest(NFTA_LIST_ELEM);
        out_.put_string(NFTA_EXPR_NAME, name);
        out_.begin_nest(NFTA_EXPR_DATA);
    }
    void end() {
        out_.end_nest();
        out_.end_nest();
    }
    void data(std::uint16_t type, Bytes value) {
        out_.begin_nest(type);
        out_.put(NFTA_DATA_VALUE, value);
        out_.end_nest();
    }

    NetlinkWriter& out_;
    std::array<std::uint8_t, 4> scratch_{};
};

// Loads the address field and compares it, through a mask when the prefix is shorter than
// the address.
void match_address(Expressions& e, const AddressMatch& match, std::uint32_t offset, bool ipv6) {
    const std::size_t length = ipv6 ? 16 : 4;
    e.payload(NFT_PAYLOAD_NETWORK_HEADER, offset, static_cast<std::uint32_t>(length));
    if(match.prefix < length * 8) {
        std::array<std::uint8_t, 16> mask{};
        for(unsigned bit = 0; bit < match.prefix; ++bit) {
            mask[bit / 8] |= static_cast<std::uint8_t>(0x80U >> (bit % 8));
        }
        e.mask(Bytes(mask).first(length));
    }
    e.equals(Bytes(match.bytes).first(length));
}

void match_port(Expressions& e, const PortMatch& match, std::uint32_t offset) {
    if(match.first == 0) {
        return;
    }
    const std::uint16_t first = htobe16(match.first);
    const std::uint16_t last = htobe16(match.last);
    e.payload(NFT_PAYLOAD_TRANSPORT_HEADER, offset, sizeof(first));
    auto bytes = [](const std::uint16_t& value) { return Bytes(reinterpret_cast<const std::uint8_t*>(&value), 2); };
    if(match.last == match.first) {
        e.equals(bytes(first));
    } else {
        e.within(bytes(first), bytes(last));
    }
}

// The link-layer header is only an Ethernet one on Ethernet devices, so the source MAC is
// matched behind a check of the input device's type.
void match_mac(Expressions& e, const std::array<std::uint8_t, 6>& mac) {
    const std::uint16_t ether = ARPHRD_ETHER;  // the device type is compared in host order
    e.meta(NFT_META_IIFTYPE);
    e.equals(Bytes(reinterpret_cast<const std::uint8_t*>(&ether), sizeof(ether)));
    e.payload(NFT_PAYLOAD_LL_HEADER, ether_source, static_cast<std::uint32_t>(mac.size()));
    e.equals(mac);
}

void match_icmp(Expressions& e, int type, int code) {
    if(type < 0) {
        return;
    }
    const auto type_byte = static_cast<std::uint8_t>(type);
    e.payload(NFT_PAYLOAD_TRANSPORT_HEADER, icmp_type, 1);
    e.equals(Bytes(&type_byte, 1));
    if(code >= 0) {
        const auto code_byte = static_cast<std::uint8_t>(code);
        e.payload(NFT_PAYLOAD_TRANSPORT_HEADER, icmp_code, 1);
        e.equals(Bytes(&code_byte, 1));
    }
}

void target(Expressions& e, Verdict verdict, bool ipv6) {
    switch(verdict) {
    case Verdict::drop: e.verdict(NF_DROP); break;
    case Verdict::accept: e.verdict(NF_ACCEPT); break;
    case Verdict::reject: e.reject(ipv6); break;
    case Verdict::masquerade: e.masquerade(); break;
    }
}

}  // namespace

std::uint32_t verdict_mark(Verdict verdict) {
    switch(verdict) {
    case Verdict::drop: return 0x10000000;
    case Verdict::reject: return 0x20000000;
    case Verdict::accept: return 0x30000000;
    case Verdict::masquerade: break;
    }
    return 0;
}

void put_rule_expressions(NetlinkWriter& out, const RuleSpec& spec, bool ipv6, const SetRef* source_set,
                          std::uint32_t verdict_mark) {
    Expressions e(out);
    if(source_set != nullptr) {
        e.payload(NFT_PAYLOAD_NETWORK_HEADER, ipv6 ? ipv6_source : ipv4_source, ipv6 ? 16 : 4);
        e.lookup(*source_set);
    } else if(spec.source) {
        match_address(e, *spec.source, ipv6 ? ipv6_source : ipv4_source, ipv6);
    }
    if(spec.destination) {
        match_address(e, *spec.destination, ipv6 ? ipv6_destination : ipv4_destination, ipv6);
    }
    if(spec.protocol != 0) {
        e.meta(NFT_META_L4PROTO);
        e.equals(Bytes(&spec.protocol, 1));
    }
    if(spec.mac) {
        match_mac(e, *spec.mac);
    }
    match_port(e, spec.source_port, source_port);
    match_port(e, spec.destination_port, destination_port);
    match_icmp(e, spec.icmp_type, spec.icmp_code);
    if(verdict_mark != 0) {
        e.meta(NFT_META_MARK);
        e.bits(~verdict_mark_mask, verdict_mark);
        e.set_meta(NFT_META_MARK);
        e.verdict(NFT_RETURN);
    } else {
        target(e, spec.verdict, ipv6);
    }
    e.close();
}

void put_mark_clear_expressions(NetlinkWriter& out) {
    Expressions e(out);
    e.meta(NFT_META_MARK);
    e.bits(~verdict_mark_mask, 0);
    e.set_meta(NFT_META_MARK);
    e.close();
}

void put_mark_dispatch_expressions(NetlinkWriter& out, Verdict verdict, bool ipv6) {
    Expressions e(out);
    e.meta(NFT_META_MARK);
    e.bits(verdict_mark_mask, 0);
    const auto bits = Expressions::host_bytes_of(verdict_mark(verdict));
    e.equals(Bytes(bits));
    if(verdict == Verdict::reject) {
        e.compat_reject(ipv6);
    } else {
        target(e, verdict, ipv6);
    }
    e.close();
}

void put_jump_expressions(NetlinkWriter& out, std::string_view chain) {
    Expressions e(out);
    e.verdict(NFT_JUMP, chain);
    e.close();
}

}  // namespace fwinterface
