// Rule objects: lifecycle, setters and getters. Every setter checks its value before it
// touches the rule, so a refused value leaves the rule as it was.

#include <cstring>
#include <new>
#include <string_view>

#include <fwrules/fw_rule.h>

#include "field_syntax.h"
#include "rule_fields.h"

namespace {

using fwrules::Family;

constexpr int ok = 0;
constexpr int refused = -1;
constexpr std::uint32_t protocol_max = 255;
constexpr std::uint32_t port_max = 65535;
constexpr std::int32_t icmp_max = 255;

// The text of a C argument, read no further than `limit + 1` characters: enough to see that
// it is too long without scanning a huge text to its end. nullopt for NULL.
std::optional<std::string_view> bounded(const char* text, std::size_t limit) {
    if(text == nullptr) {
        return std::nullopt;
    }
    return std::string_view(text, strnlen(text, limit + 1));
}

template <std::size_t N>
int set_name(fwrules::FixedText<N>& field, const char* text) {
    auto name = bounded(text, N);
    if(!name || !fwrules::is_name(*name)) {
        return refused;
    }
    field.assign(*name);
    return ok;
}

int set_address(fwrules::FixedText<fwrules::address_text_max>& text_field,
                std::optional<fwrules::Address>& parsed_field, const char* text) {
    auto address_text = bounded(text, fwrules::address_text_max);
    if(!address_text || address_text->size() > fwrules::address_text_max) {
        return refused;
    }
    std::optional<fwrules::Address> parsed;
    if(!address_text->empty()) {
        parsed = fwrules::parse_address(*address_text);
        if(!parsed) {
            return refused;
        }
    }
    text_field.assign(*address_text);
    parsed_field = parsed;
    return ok;
}

int set_family(fw_rule_t* rule, Family family, bool chosen) {
    if(rule == nullptr) {
        return refused;
    }
    if(chosen) {
        rule->family = family;
    } else if(rule->family == family) {
        rule->family = Family::none;
    }
    return ok;
}

int set_number(std::uint32_t& field, std::uint32_t value, std::uint32_t max) {
    if(value > max) {
        return refused;
    }
    field = value;
    return ok;
}

int set_icmp(std::int32_t& field, std::int32_t value) {
    if(value < -1 || value > icmp_max) {
        return refused;
    }
    field = value;
    return ok;
}

const fwrules::Fields defaults{};

const fwrules::Fields& fields_of(const fw_rule_t* rule) { return rule == nullptr ? defaults : *rule; }

}  // namespace

extern "C" {

int fw_rule_new(fw_rule_t** rule) {
    if(rule == nullptr) {
        return refused;
    }
    *rule = new(std::nothrow) fw_rule_t{};
    return *rule == nullptr ? refused : ok;
}

int fw_rule_delete(fw_rule_t** rule) {
    if(rule != nullptr) {
        delete *rule;
        *rule = nullptr;
    }
    return ok;
}

int fw_rule_set_table(fw_rule_t* rule, const char* table) {
    return rule == nullptr ? refused : set_name(rule->table, table);
}

int fw_rule_set_chain(fw_rule_t* rule, const char* chain) {
    return rule == nullptr ? refused : set_name(rule->chain, chain);
}

int fw_rule_set_ipv4(fw_rule_t* rule, bool ipv4) { return set_family(rule, Family::ipv4, ipv4); }

int fw_rule_set_ipv6(fw_rule_t* rule, bool ipv6) { return set_family(rule, Family::ipv6, ipv6); }

int fw_rule_set_source(fw_rule_t* rule, const char* address) {
    return rule == nullptr ? refused : set_address(rule->source_text, rule->source, address);
}

int fw_rule_set_destination(fw_rule_t* rule, const char* address) {
    return rule == nullptr ? refused : set_address(rule->destination_text, rule->destination, address);
}

int fw_rule_set_source_mask(fw_rule_t* rule, const char* mask) {
    auto text = bounded(mask, fwrules::mask_text_max);
    if(rule == nullptr || !text || text->size() > fwrules::mask_text_max) {
        return refused;
    }
    std::optional<fwrules::Mask> parsed;
    if(!text->empty()) {
        parsed = fwrules::parse_mask(*text);
        if(!parsed) {
            return refused;
        }
    }
    rule->mask_text.assign(*text);
    rule->mask = parsed;
    return ok;
}

int fw_rule_set_source_mac_address(fw_rule_t* rule, const char* mac) {
    auto text = bounded(mac, fwrules::mac_text_max);
    if(rule == nullptr || !text || (!text->empty() && !fwrules::is_mac(*text))) {
        return refused;
    }
    rule->mac.assign(*text);
    return ok;
}

int fw_rule_set_protocol(fw_rule_t* rule, uint32_t protocol) {
    return rule == nullptr ? refused : set_number(rule->protocol, protocol, protocol_max);
}

int fw_rule_set_source_port(fw_rule_t* rule, uint32_t port) {
    return rule == nullptr ? refused : set_number(rule->source_port, port, port_max);
}

int fw_rule_set_source_port_range_max(fw_rule_t* rule, uint32_t port) {
    return rule == nullptr ? refused : set_number(rule->source_port_max, port, port_max);
}

int fw_rule_set_destination_port(fw_rule_t* rule, uint32_t port) {
    return rule == nullptr ? refused : set_number(rule->destination_port, port, port_max);
}

int fw_rule_set_destination_port_range_max(fw_rule_t* rule, uint32_t port) {
    return rule == nullptr ? refused : set_number(rule->destination_port_max, port, port_max);
}

int fw_rule_set_icmp_type(fw_rule_t* rule, int32_t type) {
    return rule == nullptr ? refused : set_icmp(rule->icmp_type, type);
}

int fw_rule_set_filtered_icmp_code(fw_rule_t* rule, int32_t code) {
    return rule == nullptr ? refused : set_icmp(rule->icmp_code, code);
}

int fw_rule_set_target_policy(fw_rule_t* rule, fw_rule_policy_t policy) {
    // The enum may hold any int that a C caller casts into it: compare as unsigned.
    if(rule == nullptr || static_cast<unsigned>(policy) >= static_cast<unsigned>(FW_RULE_POLICY_LAST)) {
        return refused;
    }
    rule->policy = policy;
    return ok;
}

int fw_rule_set_enabled(fw_rule_t* rule, bool enabled) {
    if(rule == nullptr) {
        return refused;
    }
    rule->enabled = enabled;
    return ok;
}

const char* fw_rule_get_table(const fw_rule_t* rule) {
    return fields_of(rule).table.c_str();
}

const char* fw_rule_get_chain(const fw_rule_t* rule) {
    return fields_of(rule).chain.c_str();
}

bool fw_rule_get_ipv4(const fw_rule_t* rule) { return fields_of(rule).family == Family::ipv4; }

bool fw_rule_get_ipv6(const fw_rule_t* rule) { return fields_of(rule).family == Family::ipv6; }

const char* fw_rule_get_source(const fw_rule_t* rule) {
    return fields_of(rule).source_text.c_str();
}

const char* fw_rule_get_source_mask(const fw_rule_t* rule) {
    return fields_of(rule).mask_text.c_str();
}

const char* fw_rule_get_destination(const fw_rule_t* rule) {
    return fields_of(rule).destination_text.c_str();
}

const char* fw_rule_get_source_mac_address(const fw_rule_t* rule) {
    return fields_of(rule).mac.c_str();
}

uint32_t fw_rule_get_protocol(const fw_rule_t* rule) { return fields_of(rule).protocol; }

uint32_t fw_rule_get_source_port(const fw_rule_t* rule) { return fields_of(rule).source_port; }

uint32_t fw_rule_get_source_port_range_max(const fw_rule_t* rule) { return fields_of(rule).source_port_max; }

uint32_t fw_rule_get_destination_port(const fw_rule_t* rule) { return fields_of(rule).destination_port; }

uint32_t fw_rule_get_destination_port_range_max(const fw_rule_t* rule) {
    return fields_of(rule).destination_port_max;
}

int32_t fw_rule_get_icmp_type(const fw_rule_t* rule) { return fields_of(rule).icmp_type; }

int32_t fw_rule_get_filtered_icmp_code(const fw_rule_t* rule) { return fields_of(rule).icmp_code; }

fw_rule_policy_t fw_rule_get_target_policy(const fw_rule_t* rule) { return fields_of(rule).policy; }

bool fw_rule_get_enabled(const fw_rule_t* rule) { return fields_of(rule).enabled; }

}  // extern "C"
