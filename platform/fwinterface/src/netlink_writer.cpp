#include "netlink_writer.h"

#include <endian.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>

#include <cstring>

namespace fwinterface {
namespace {

constexpr std::size_t align(std::size_t size) { return (size + 3) & ~std::size_t{3}; }

}  // namespace

std::size_t NetlinkWriter::append(std::size_t size) {
    std::size_t at = buffer_.size();
    buffer_.resize(at + align(size));
    return at;
}

void NetlinkWriter::begin_message(std::uint16_t type, std::uint16_t flags, std::uint32_t seq, std::uint8_t family,
                                  std::uint16_t resource_id) {
    message_ = append(sizeof(nlmsghdr) + sizeof(nfgenmsg));
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = static_cast<std::uint16_t>(flags | NLM_F_REQUEST);
    header.nlmsg_seq = seq;
    nfgenmsg generic{};
    generic.nfgen_family = family;
    generic.version = NFNETLINK_V0;
    generic.res_id = htobe16(resource_id);
    std::memcpy(buffer_.data() + message_, &header, sizeof(header));
    std::memcpy(buffer_.data() + message_ + sizeof(header), &generic, sizeof(generic));
}

void NetlinkWriter::end_message() {
    auto length = static_cast<std::uint32_t>(buffer_.size() - message_);
    std::memcpy(buffer_.data() + message_ + offsetof(nlmsghdr, nlmsg_len), &length, sizeof(length));
}

void NetlinkWriter::put(std::uint16_t type, std::span<const std::uint8_t> data) {
    std::size_t at = append(NLA_HDRLEN + data.size());
    nlattr attribute{static_cast<std::uint16_t>(NLA_HDRLEN + data.size()), type};
    std::memcpy(buffer_.data() + at, &attribute, sizeof(attribute));
    if(!data.empty()) {
        std::memcpy(buffer_.data() + at + NLA_HDRLEN, data.data(), data.size());
    }
}

void NetlinkWriter::put_u8(std::uint16_t type, std::uint8_t value) { put(type, {&value, 1}); }

void NetlinkWriter::put_u32(std::uint16_t type, std::uint32_t value) {
    value = htobe32(value);
    put(type, {reinterpret_cast<const std::uint8_t*>(&value), sizeof(value)});
}

void NetlinkWriter::overwrite_u32(std::size_t at, std::uint32_t value) {
    value = htobe32(value);
    std::memcpy(buffer_.data() + at, &value, sizeof(value));
}

void NetlinkWriter::put_u64(std::uint16_t type, std::uint64_t value) {
    value = htobe64(value);
    put(type, {reinterpret_cast<const std::uint8_t*>(&value), sizeof(value)});
}

void NetlinkWriter::put_string(std::uint16_t type, std::string_view text) {
    std::size_t at = append(NLA_HDRLEN + text.size() + 1);
    nlattr attribute{static_cast<std::uint16_t>(NLA_HDRLEN + text.size() + 1), type};
    std::memcpy(buffer_.data() + at, &attribute, sizeof(attribute));
    std::memcpy(buffer_.data() + at + NLA_HDRLEN, text.data(), text.size());
}

void NetlinkWriter::begin_nest(std::uint16_t type) {
    std::size_t at = append(NLA_HDRLEN);
    nlattr attribute{0, static_cast<std::uint16_t>(type | NLA_F_NESTED)};
    std::memcpy(buffer_.data() + at, &attribute, sizeof(attribute));
    nests_.push_back(at);
}

void NetlinkWriter::end_nest() {
    std::size_t at = nests_.back();
    nests_.pop_back();
    auto length = static_cast<std::uint16_t>(buffer_.size() - at);
    std::memcpy(buffer_.data() + at + offsetof(nlattr, nla_len), &length, sizeof(length));
}

}  // namespace fwinterface
