// Rule objects: lifecycle, setters and getters. Every setter checks its value before it
// touches the rule, so a refused value leaves the rule as it was.

#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include <fwrules/fw_rule.h>

#include "field_syntax.h"
#include "rule_fields.h"

namespace {

using fwrules::Family;
using fwrules::FixedText;
using fwrules::GivenTexts;

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

int set_name(fw_rule_t* rule, void (fwrules::RulePlace::*assign)(std::string_view), const char* text) {
    auto name = bounded(text, FW_RULE_NAME_MAX);
    if(rule == nullptr || !name || !fwrules::is_name(*name)) {
        return refused;
    }
    try {
        (rule->place.*assign)(*name);
    } catch(const std::exception&) {
        return refused;
    }
    return ok;
}

// The canonical text of a field's value; empty while it is not set.
template <typename Value, std::size_t N>
FixedText<N> canonical(const std::optional<Value>& value, FixedText<N> (*text_of)(const Value&)) {
    return value ? text_of(*value) : FixedText<N>{};
}

FixedText<fwrules::address_text_max> canonical(const std::optional<fwrules::Address>& value) {
    return canonical(value, fwrules::address_text);
}

FixedText<fwrules::mask_text_max> canonical(const std::optional<fwrules::Mask>& value) {
    return canonical(value, fwrules::mask_text);
}

FixedText<fwrules::mac_text_max> canonical(const std::optional<fwrules::Mac>& value) {
    return canonical(value, fwrules::mac_text);
}

// The rule's given texts, made from its values when it has none yet. Throws std::bad_alloc.
GivenTexts& given_texts(const fwrules::Fields& rule) {
    fwrules::OutOfLine& kept = rule.kept_out_of_line();
    if(!kept.given) {
        auto given = std::make_unique<GivenTexts>();
        given->source = canonical(rule.source);
        given->destination = canonical(rule.destination());
        given->mask = canonical(rule.mask);
        given->mac = canonical(rule.mac());
        kept.given = std::move(given);
    }
    return *kept.given;
}

// Where a text field's value is kept: in the rule itself, or among its rare matches, made
// when a value comes (std::bad_alloc when they cannot be); nullptr for a value cleared where
// there is none.
template <typename Value>
using Slot = std::optional<Value>* (*)(fw_rule_t& rule, bool making);

template <typename Value, std::optional<Value> fwrules::Fields::*field>
std::optional<Value>* own_slot(fw_rule_t& rule, bool /*making*/) {
    return &(rule.*field);
}

template <typename Value, std::optional<Value> fwrules::RareMatches::*field>
std::optional<Value>* rare_slot(fw_rule_t& rule, bool making) {
    if(making) {
        rule.kept_out_of_line();
    }
    return rule.out_of_line ? &(rule.out_of_line->rare.*field) : nullptr;
}

// Stores a text field's parsed value, and its text where the rule keeps given texts or where
// the text is not the canonical one. What may allocate comes first, so that a refusal leaves
// the value as it was (at most its rare matches made, still empty).
template <typename Value, std::size_t N>
int store(fw_rule_t* rule, Slot<Value> slot, FixedText<N> GivenTexts::*given, std::string_view text,
          const std::optional<Value>& value) {
    std::optional<Value>* kept = nullptr;
    try {
        kept = slot(*rule, value.has_value());
        if(rule->given() != nullptr || canonical(value).view() != text) {
            (given_texts(*rule).*given).assign(text);
        }
    } catch(const std::bad_alloc&) {
        return refused;
    }
    if(kept != nullptr) {
        *kept = value;
    }
    return ok;
}

// A text field's setter: NULL, too long, or not read by `parse` as a value is refused; ""
// clears the field.
template <typename Value, std::size_t N>
int set_text(fw_rule_t* rule, Slot<Value> slot, FixedText<N> GivenTexts::*given, const char* text,
             std::optional<Value> (*parse)(std::string_view)) {
    auto bounded_text = bounded(text, N);
    if(rule == nullptr || !bounded_text || bounded_text->size() > N) {
        return refused;
    }
    std::optional<Value> value;
    if(!bounded_text->empty()) {
        value = parse(*bounded_text);
        if(!value) {
            return refused;
        }
    }
    return store(rule, slot, given, *bounded_text, value);
}

template <std::size_t N>
const char* given_text(const fw_rule_t* rule, FixedText<N> GivenTexts::*given) {
    if(rule == nullptr) {
        return "";
    }
    try {
        return (given_texts(*rule).*given).c_str();
    } catch(const std::bad_alloc&) {
        return "";
    }
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

template <typename Field>
int set_number(fw_rule_t* rule, Field fwrules::Fields::*field, std::uint32_t value, std::uint32_t max) {
    if(rule == nullptr || value > max) {
        return refused;
    }
    rule->*field = static_cast<Field>(value);
    return ok;
}

int set_icmp(fw_rule_t* rule, std::int16_t fwrules::Fields::*field, std::int32_t value) {
    if(rule == nullptr || value < -1 || value > icmp_max) {
        return refused;
    }
    rule->*field = static_cast<std::int16_t>(value);
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
    return set_name(rule, &fwrules::RulePlace::assign_table, table);
}

int fw_rule_set_chain(fw_rule_t* rule, const char* chain) {
    return set_name(rule, &fwrules::RulePlace::assign_chain, chain);
}

int fw_rule_set_ipv4(fw_rule_t* rule, bool ipv4) { return set_family(rule, Family::ipv4, ipv4); }

int fw_rule_set_ipv6(fw_rule_t* rule, bool ipv6) { return set_family(rule, Family::ipv6, ipv6); }

int fw_rule_set_source(fw_rule_t* rule, const char* address) {
    return set_text(rule, own_slot<fwrules::Address, &fwrules::Fields::source>, &GivenTexts::source, address,
                    fwrules::parse_address);
}

int fw_rule_set_destination(fw_rule_t* rule, const char* address) {
    return set_text(rule, rare_slot<fwrules::Address, &fwrules::RareMatches::destination>, &GivenTexts::destination, address,
                    fwrules::parse_address);
}

int fw_rule_set_source_mask(fw_rule_t* rule, const char* mask) {
    return set_text(rule, own_slot<fwrules::Mask, &fwrules::Fields::mask>, &GivenTexts::mask, mask, fwrules::parse_mask);
}

int fw_rule_set_source_mac_address(fw_rule_t* rule, const char* mac) {
    return set_text(rule, rare_slot<fwrules::Mac, &fwrules::RareMatches::mac>, &GivenTexts::mac, mac, fwrules::parse_mac);
}

int fw_rule_set_protocol(fw_rule_t* rule, uint32_t protocol) {
    return set_number(rule, &fwrules::Fields::protocol, protocol, protocol_max);
}

int fw_rule_set_source_port(fw_rule_t* rule, uint32_t port) {
    return set_number(rule, &fwrules::Fields::source_port, port, port_max);
}

int fw_rule_set_source_port_range_max(fw_rule_t* rule, uint32_t port) {
    return set_number(rule, &fwrules::Fields::source_port_max, port, port_max);
}

int fw_rule_set_destination_port(fw_rule_t* rule, uint32_t port) {
    return set_number(rule, &fwrules::Fields::destination_port, port, port_max);
}

int fw_rule_set_destination_port_range_max(fw_rule_t* rule, uint32_t port) {
    return set_number(rule, &fwrules::Fields::destination_port_max, port, port_max);
}

int fw_rule_set_icmp_type(fw_rule_t* rule, int32_t type) { return set_icmp(rule, &fwrules::Fields::icmp_type, type); }

int fw_rule_set_filtered_icmp_code(fw_rule_t* rule, int32_t code) {
    return set_icmp(rule, &fwrules::Fields::icmp_code, code);
}

int fw_rule_set_target_policy(fw_rule_t* rule, fw_rule_policy_t policy) {
    // The enum may hold any int that a C caller casts into it: compare as unsigned.
    if(rule == nullptr || static_cast<unsigned>(policy) >= static_cast<unsigned>(FW_RULE_POLICY_LAST)) {
        return refused;
    }
    rule->policy = static_cast<std::uint8_t>(policy);
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
    return fields_of(rule).place.table();
}

const char* fw_rule_get_chain(const fw_rule_t* rule) {
    return fields_of(rule).place.chain();
}

bool fw_rule_get_ipv4(const fw_rule_t* rule) { return fields_of(rule).family == Family::ipv4; }

bool fw_rule_get_ipv6(const fw_rule_t* rule) { return fields_of(rule).family == Family::ipv6; }

const char* fw_rule_get_source(const fw_rule_t* rule) {
    return given_text(rule, &GivenTexts::source);
}

const char* fw_rule_get_source_mask(const fw_rule_t* rule) {
    return given_text(rule, &GivenTexts::mask);
}

const char* fw_rule_get_destination(const fw_rule_t* rule) {
    return given_text(rule, &GivenTexts::destination);
}

const char* fw_rule_get_source_mac_address(const fw_rule_t* rule) {
    return given_text(rule, &GivenTexts::mac);
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

fw_rule_policy_t fw_rule_get_target_policy(const fw_rule_t* rule) {
    return static_cast<fw_rule_policy_t>(fields_of(rule).policy);
}

bool fw_rule_get_enabled(const fw_rule_t* rule) { return fields_of(rule).enabled; }

}  // extern "C"
