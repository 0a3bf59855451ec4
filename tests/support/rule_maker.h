#ifndef TESTS_SUPPORT_RULE_MAKER_H
#define TESTS_SUPPORT_RULE_MAKER_H

#include <memory>
#include <string>

#include <fwrules/fw_rule.h>

namespace fwtest {

struct RuleDelete {
    void operator()(fw_rule_t* rule) const { fw_rule_delete(&rule); }
};
using Rule = std::unique_ptr<fw_rule_t, RuleDelete>;

// Builds an enabled rule of table "filter", by default a drop rule in the access-control
// chain of its family. make() hands the rule out once; a setter that refused its value makes
// it return nullptr.
class RuleMaker {
public:
    explicit RuleMaker(bool ipv6 = false);

    RuleMaker& chain(const char* name);
    RuleMaker& source(const char* address, const char* mask = "");
    RuleMaker& destination(const char* address);
    RuleMaker& mac(const char* address);
    RuleMaker& protocol(uint32_t number);
    RuleMaker& source_ports(uint32_t first, uint32_t last = 0);
    RuleMaker& destination_ports(uint32_t first, uint32_t last = 0);
    RuleMaker& icmp(int32_t type, int32_t code = -1);
    RuleMaker& target(fw_rule_policy_t policy);

    Rule make();

private:
    RuleMaker& check(int result);

    Rule rule_;
    bool refused_ = false;
};

// fw_rule_to_text() of a rule ("<invalid>" when it refuses).
std::string text_of(const fw_rule_t* rule);

}  // namespace fwtest

#endif  // TESTS_SUPPORT_RULE_MAKER_H
