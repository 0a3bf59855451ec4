#ifndef FWINTERFACE_RULE_WRITER_H
#define FWINTERFACE_RULE_WRITER_H

#include <array>
#include <string_view>

#include <fwrules/fw_rule.h>

#include "rule_reader.h"

namespace fwinterface {

// Room for the longest text a rule has.
using RuleTextRoom = std::array<char, FW_RULE_TEXT_MAX>;

// The text fw_rule_to_text() writes for a rule of these matches, for a chain of the given
// family, in `room`: parse_rule_text() read backwards. A compiled chain keeps a rule as its
// matches and writes its text only when asked, instead of keeping every text twice; a text
// this gives differently from the one the rule came with is kept as given, so a difference
// between the two writers costs memory, never a rule's identity.
std::string_view write_rule_text(const RuleSpec& spec, bool ipv6, RuleTextRoom& room);

}  // namespace fwinterface

#endif  // FWINTERFACE_RULE_WRITER_H
