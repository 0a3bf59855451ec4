#ifndef FWRULES_RULE_FIELDS_H
#define FWRULES_RULE_FIELDS_H

#include <cstdint>
#include <memory>
#include <optional>

#include <fwrules/fw_rule.h>

#include "field_syntax.h"
#include "fixed_text.h"
#include "rule_name.h"

namespace fwrules {

// The texts of the text fields as the caller wrote them, for the getters.
struct GivenTexts {
    FixedText<address_text_max> source;
    FixedText<address_text_max> destination;
    FixedText<mask_text_max> mask;
    FixedText<mac_text_max> mac;
};

// The matches few rules have (a module blocking sources sets neither), out of line.
struct RareMatches {
    std::optional<Address> destination;
    std::optional<Mac> mac;
};

// A rule holds its values parsed, in as few bytes as they need: a module keeps a rule per
// blocked source, tens of thousands of them (72 bytes, an 80-byte heap block). The texts the
// getters lend are kept only once a getter asks for one, or once a value was written in
// another form than the canonical text of its parsed value (an IPv6 address in capitals, a MAC
// address in upper case): the checks and the rule text need only the parsed values. The
// destination and the MAC address are kept out of line once one of them is set.
struct Fields {
    RuleName table;
    RuleName chain;
    mutable std::unique_ptr<GivenTexts> given;  // when kept, every text field's given text
    std::unique_ptr<RareMatches> rare;
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

    const std::optional<Address>& destination() const { return rare ? rare->destination : none.destination; }
    const std::optional<Mac>& mac() const { return rare ? rare->mac : none.mac; }

private:
    static inline const RareMatches none{};
};

// Consistency of a complete rule (see fw_rule_check).
fw_rule_error_t check(const Fields& rule);

}  // namespace fwrules

// The opaque C type is the field record itself.
struct fw_rule : fwrules::Fields {};

#endif  // FWRULES_RULE_FIELDS_H
