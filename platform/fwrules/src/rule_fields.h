#ifndef FWRULES_RULE_FIELDS_H
#define FWRULES_RULE_FIELDS_H

#include <cstdint>
#include <memory>
#include <optional>

#include <fwrules/fw_rule.h>

#include "field_syntax.h"
#include "fixed_text.h"
#include "rule_place.h"

namespace fwrules {

// The texts of the text fields as the caller wrote them, for the getters.
struct GivenTexts {
    FixedText<address_text_max> source;
    FixedText<address_text_max> destination;
    FixedText<mask_text_max> mask;
    FixedText<mac_text_max> mac;
};

// The matches few rules have (a module blocking sources sets neither).
struct RareMatches {
    std::optional<Address> destination;
    std::optional<Mac> mac;
};

// What a rule keeps out of line, in one block made when the first of them is needed.
struct OutOfLine {
    std::unique_ptr<GivenTexts> given;  // when kept, every text field's given text
    RareMatches rare;
};

// A rule holds its values parsed, in as few bytes as they need: a module keeps a rule per
// blocked source, tens of thousands of them (56 bytes, a 64-byte heap block). The texts the
// getters lend are kept only once a getter asks for one, or once a value was written in
// another form than the canonical text of its parsed value (an IPv6 address in capitals, a MAC
// address in upper case): the checks and the rule text need only the parsed values. Those texts,
// the destination and the MAC address are kept out of line once one of them is.
struct Fields {
    RulePlace place;
    mutable std::unique_ptr<OutOfLine> out_of_line;
    std::optional<Address> source;
    std::optional<Mask> mask;
    Family family = Family::none;
    std::uint8_t protocol = 0;
    std::uint8_t policy = FW_RULE_POLICY_LAST;  // a fw_rule_policy_t
    bool enabled = false;
    std::uint16_t source_port = 0;
    std::uint16_t source_port_max = 0;
    std::uint16_t destination_port = 0;
    std::uint16_t destination_port_max = 0;
    std::int16_t icmp_type = -1;
    std::int16_t icmp_code = -1;

    const std::optional<Address>& destination() const {
        return out_of_line ? out_of_line->rare.destination : none.destination;
    }
    const std::optional<Mac>& mac() const { return out_of_line ? out_of_line->rare.mac : none.mac; }
    const GivenTexts* given() const { return out_of_line ? out_of_line->given.get() : nullptr; }
    // The block, made when there is none yet. Throws std::bad_alloc.
    OutOfLine& kept_out_of_line() const {
        if(!out_of_line) {
            out_of_line = std::make_unique<OutOfLine>();
        }
        return *out_of_line;
    }

private:
    static inline const RareMatches none{};
};

// Consistency of a complete rule (see fw_rule_check).
fw_rule_error_t check(const Fields& rule);

}  // namespace fwrules

// The opaque C type is the field record itself.
struct fw_rule : fwrules::Fields {};
static_assert(sizeof(fw_rule) <= 56, "a rule per blocked source: keep it in a 64-byte heap block");

#endif  // FWRULES_RULE_FIELDS_H
