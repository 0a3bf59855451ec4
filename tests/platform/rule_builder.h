#ifndef TESTS_PLATFORM_RULE_BUILDER_H
#define TESTS_PLATFORM_RULE_BUILDER_H

#include <memory>
#include <string>

#include <fwrules/fw_rule.h>

namespace fwtest {

struct RuleDelete {
    void operator()(fw_rule_t* rule) const { fw_rule_delete(&rule); }
};
using Rule = std::unique_ptr<fw_rule_t, RuleDelete>;

// A complete, enabled drop rule of table "filter" in the access-control chain of its family,
// with the given source ("" for any). Setters that refuse fail the calling test.
Rule make_rule(const char* source, bool ipv6 = false);

// fw_rule_to_text() as a string ("<invalid>" when it refuses).
std::string text_of(const fw_rule_t* rule);

}  // namespace fwtest

#endif  // TESTS_PLATFORM_RULE_BUILDER_H
