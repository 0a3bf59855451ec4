#ifndef FWINTERFACE_RULE_WRITER_H
#define FWINTERFACE_RULE_WRITER_H

#include <string_view>

#include <fwrules/rule_text.hpp>

#include "rule_reader.h"

namespace fwinterface {

using RuleTextRoom = fwrules::TextRoom;

// The text fw_rule_to_text() writes for a rule of these matches, for a chain of the given
// family, in `room`: parse_rule_text() read backwards, through fwrules' own writer. A compiled
// chain keeps a rule as its matches and writes its text only when asked, instead of keeping
// every text twice; a text this gives differently from the one the rule came with (one no
// fw_rule_t writes) is kept as given.
std::string_view write_rule_text(const RuleSpec& spec, bool ipv6, RuleTextRoom& room);
// The same matches in fwrules' terms, which the text is written from.
fwrules::TextMatches text_matches(const RuleSpec& spec, bool ipv6);

}  // namespace fwinterface

#endif  // FWINTERFACE_RULE_WRITER_H
