#include "ip_address.h"

#include <arpa/inet.h>

namespace nfttest {
namespace {

// The bits of byte `index` that a prefix of `length` bits covers.
std::uint8_t prefix_mask(std::size_t index, unsigned length) {
    const std::size_t first_bit = index * 8;
    if(length >= first_bit + 8) {
        return 0xff;
    }
    if(length <= first_bit) {
        return 0;
    }
    return static_cast<std::uint8_t>(0xff00U >> (length - first_bit));
}

}  // namespace

std::optional<IpAddress> parse_ip(std::string_view text, bool ipv6) {
    char buffer[INET6_ADDRSTRLEN] = {};
    if(text.size() >= sizeof(buffer)) {
        return std::nullopt;
    }
    text.copy(buffer, text.size());
    IpAddress address{ipv6, {}};
    if(inet_pton(ipv6 ? AF_INET6 : AF_INET, buffer, address.bytes.data()) != 1) {
        return std::nullopt;
    }
    return address;
}

std::string to_text(const IpAddress& address) {
    char buffer[INET6_ADDRSTRLEN] = {};
    inet_ntop(address.ipv6 ? AF_INET6 : AF_INET, address.bytes.data(), buffer, sizeof(buffer));
    return buffer;
}

IpAddress offset(IpAddress address, std::int64_t delta) {
    // Two's complement: adding the 128-bit sign extension of a negative delta subtracts it.
    const std::uint8_t extension = delta < 0 ? 0xff : 0;
    auto magnitude = static_cast<std::uint64_t>(delta);
    unsigned carry = 0;
    for(std::size_t i = address.size(); i-- > 0;) {
        const std::size_t from_end = address.size() - 1 - i;
        const unsigned add = from_end < 8 ? static_cast<unsigned>((magnitude >> (8 * from_end)) & 0xff) : extension;
        const unsigned sum = address.bytes[i] + add + carry;
        address.bytes[i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
    return address;
}

IpAddress prefix_first(IpAddress address, unsigned length) {
    for(std::size_t i = 0; i < address.size(); ++i) {
        address.bytes[i] &= prefix_mask(i, length);
    }
    return address;
}

IpAddress prefix_last(IpAddress address, unsigned length) {
    for(std::size_t i = 0; i < address.size(); ++i) {
        address.bytes[i] |= static_cast<std::uint8_t>(~prefix_mask(i, length));
    }
    return address;
}

bool in_prefix(const IpAddress& address, const IpAddress& network, unsigned length) {
    return address.ipv6 == network.ipv6 && prefix_first(address, length) == prefix_first(network, length);
}

}  // namespace nfttest
