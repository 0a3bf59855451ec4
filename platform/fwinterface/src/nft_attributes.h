#ifndef FWINTERFACE_NFT_ATTRIBUTES_H
#define FWINTERFACE_NFT_ATTRIBUTES_H

// Reading the attributes of the kernel's nf_tables messages: each accessor checks the
// attribute's length, so a short or missing one reads as 0 or "" rather than past its end.
#include <endian.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace fwinterface::attributes {

// The netlink message type of an nf_tables message (NFT_MSG_...).
constexpr std::uint16_t message_type(int nft_message) {
    return static_cast<std::uint16_t>(NFNL_SUBSYS_NFTABLES << 8 | nft_message);
}

// The attributes of one message or nest by type; types beyond the array are not read.
using Table = std::array<const nlattr*, 32>;

inline int keep(const nlattr* attribute, void* data) {
    auto& table = *static_cast<Table*>(data);
    if(const auto type = mnl_attr_get_type(attribute); type < table.size()) {
        table[type] = attribute;
    }
    return MNL_CB_OK;
}

inline Table of_nest(const nlattr* nest) {
    Table table{};
    if(nest != nullptr) {
        mnl_attr_parse_nested(nest, keep, &table);
    }
    return table;
}

inline Table of_message(const nlmsghdr* message) {
    Table table{};
    if(mnl_nlmsg_get_payload_len(message) >= sizeof(nfgenmsg)) {
        mnl_attr_parse(message, sizeof(nfgenmsg), keep, &table);
    }
    return table;
}

// Calls `visit` with each attribute inside `nest` until it returns false; false then.
template <typename Visit>
bool for_each_nested(const nlattr* nest, Visit&& visit) {
    const auto* at = static_cast<const nlattr*>(mnl_attr_get_payload(nest));
    int remaining = static_cast<int>(mnl_attr_get_payload_len(nest));
    for(; mnl_attr_ok(at, remaining); at = mnl_attr_next(at)) {
        remaining -= static_cast<int>(MNL_ALIGN(at->nla_len));
        if(!visit(at)) {
            return false;
        }
    }
    return true;
}

inline std::uint32_t u32(const nlattr* attribute) {
    return attribute != nullptr && mnl_attr_validate(attribute, MNL_TYPE_U32) >= 0 ? be32toh(mnl_attr_get_u32(attribute)) : 0;
}

inline std::uint64_t u64(const nlattr* attribute) {
    return attribute != nullptr && mnl_attr_validate(attribute, MNL_TYPE_U64) >= 0 ? be64toh(mnl_attr_get_u64(attribute)) : 0;
}

inline std::string text(const nlattr* attribute) {
    return attribute != nullptr && mnl_attr_validate(attribute, MNL_TYPE_NUL_STRING) >= 0 ? mnl_attr_get_str(attribute) : "";
}

inline std::span<const std::uint8_t> bytes(const nlattr* attribute) {
    if(attribute == nullptr) {
        return {};
    }
    return {static_cast<const std::uint8_t*>(mnl_attr_get_payload(attribute)), mnl_attr_get_payload_len(attribute)};
}

// NFTA_DATA_VALUE inside a data attribute (cmp, range, bitwise, set element keys).
inline std::span<const std::uint8_t> value(const nlattr* data) { return bytes(of_nest(data)[NFTA_DATA_VALUE]); }

}  // namespace fwinterface::attributes

#endif  // FWINTERFACE_NFT_ATTRIBUTES_H
