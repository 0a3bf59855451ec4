// Checks of a Rule's address values when they are written: a value that the firewall would
// refuse later, or that would add entries of its own to the IP lists (a comma), never gets in.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "accesscontrol/accesscontrol_dm.h"
#include "networkobject/networkobject_rule_check.h"

namespace {

constexpr const char* known_types[] = {"MACAddress", "HostName", "VendorClassID", "ClientID", "UserClassID",
                                       "IPAddress", "IPRange", "IPSubnet"};

bool is_known_type(std::string_view type) {
    for(const char* known : known_types) {
        if(type == known) {
            return true;
        }
    }
    return false;
}

// 4 or 6 for an address in its plain form (no zone, no prefix, no leading zeros), 0 otherwise.
int address_family(const std::string& text) {
    unsigned char buffer[sizeof(struct in6_addr)];
    if(inet_pton(AF_INET, text.c_str(), buffer) == 1) {
        return 4;
    }
    return inet_pton(AF_INET6, text.c_str(), buffer) == 1 ? 6 : 0;
}

uint32_t ipv4_number(const std::string& text) {
    struct in_addr addr {};
    inet_pton(AF_INET, text.c_str(), &addr);
    return ntohl(addr.s_addr);
}

// A prefix length of at most three digits, up to `max`; -1 when it is not one.
int prefix_length(std::string_view text, int max) {
    if(text.empty() || text.size() > 3) {
        return -1;
    }
    int value = 0;
    for(char c : text) {
        if(c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value <= max ? value : -1;
}

// The mask in front of the "/" must say what the prefix after it says: the module only uses
// the prefix, and a contradicting mask would block something else than what it reads as. Only
// IPv4 subnets have such a mask.
bool netmask_matches(const std::string& mask, int prefix, int family) {
    if(mask.empty()) {
        return true;
    }
    if(family == 6 || address_family(mask) != 4 || prefix > 32) {
        return false;
    }
    const uint32_t expected = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    return ipv4_number(mask) == expected;
}

} // namespace

std::string netobj_rule_refusal(const netobj_rule_values_t& rule) {
    if(!rule.type.empty() && !is_known_type(rule.type)) {
        return "Type " + rule.type + " is unknown";
    }
    const int family = rule.source_ip.empty() ? 0 : address_family(rule.source_ip);
    if(!rule.source_ip.empty() && family == 0) {
        return "SourceIP " + rule.source_ip + " is not an IP address";
    }
    const bool range = rule.type == "IPRange";
    if(range && family == 6) {
        return "SourceIP " + rule.source_ip + " is not an IPv4 address, as a range needs";
    }
    if(!rule.source_ip_range_max.empty()) {
        if(address_family(rule.source_ip_range_max) != 4) {
            return "SourceIPRangeMax " + rule.source_ip_range_max + " is not an IPv4 address";
        }
        if(family != 4) {
            return "SourceIPRangeMax needs an IPv4 SourceIP";
        }
        const uint32_t first = ipv4_number(rule.source_ip);
        const uint32_t last = ipv4_number(rule.source_ip_range_max);
        if(first > last) {
            return "range " + rule.source_ip + "-" + rule.source_ip_range_max + " ends before it starts";
        }
        if(last - first >= ACCESSCONTROL_MAX_RANGE_ADDRESSES) {
            return "range " + rule.source_ip + "-" + rule.source_ip_range_max + " holds more than " +
                   std::to_string(ACCESSCONTROL_MAX_RANGE_ADDRESSES) + " addresses";
        }
    }
    if(!rule.source_mask.empty()) {
        const size_t slash = rule.source_mask.find('/');
        const int prefix = slash == std::string::npos ?
            -1 : prefix_length(std::string_view(rule.source_mask).substr(slash + 1), family == 4 ? 32 : 128);
        if(prefix < 0 || !netmask_matches(rule.source_mask.substr(0, slash), prefix, family)) {
            return "SourceMask " + rule.source_mask + " is not /prefix-length, nor an IPv4 netmask/its prefix-length";
        }
    }
    return "";
}
